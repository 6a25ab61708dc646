// readData's wait: as long as the object's read time-out says, on every
// transport, without holding the layer or the object for that long.
#pragma once

#include "jposbridge/BridgeState.h"
#include "platform/thread.h"

namespace bridge {

// Reads into the object's read buffer; true with *count bytes in it. The
// layer is asked in short reads (a TCP read of the layer waits 5 ms, a
// serial or USB read kReadStepMs) until bytes arrive, the read time-out
// has passed or the layer reports a failure. Called with the object's
// callLock held, which it gives up between two reads, so a write or a close
// from another thread takes its turn; a close or a new open in that time
// ends the read with false.
bool ReadWithinTimeout(DeviceState& device, unsigned* count);

}  // namespace bridge
