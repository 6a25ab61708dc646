// The listening socket both loopback peers of the benchmark start from.
#pragma once

#include <cstdint>

namespace bench {

// A TCP socket listening on 127.0.0.1 at a free port, stored in *port;
// throws when the system refuses.
int ListenOnLoopback(std::uint16_t* port);

}  // namespace bench
