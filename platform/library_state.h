// What the platform layer keeps while the library is loaded.
#pragma once

namespace plat {

// Frees the tables and copies the backend keeps for the life of the loaded
// library (open handles, registry keys and device sets, the parsed registry
// file); called by the unload handler once the ports are gone. A later call
// into the backend makes them afresh.
void ReleaseLibraryState();

}  // namespace plat
