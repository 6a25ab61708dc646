#include "jposbridge/BridgeState.h"

#include <utility>

namespace bridge {

bool DeviceState::AllocateReadBuffer(int size) {
    if (size < 1) return false;
    // calloc gets large blocks already zeroed from the system, so a generous
    // read size costs only the pages a read actually fills.
    std::unique_ptr<char, FreeBytes> buffer(
        static_cast<char*>(std::calloc(static_cast<std::size_t>(size), 1)));
    if (buffer == nullptr) return false;
    readBuffer = std::move(buffer);
    readBufferSize = size;
    return true;
}

}  // namespace bridge
