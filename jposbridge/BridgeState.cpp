#include "jposbridge/BridgeState.h"

#include <new>
#include <utility>

namespace bridge {

DeviceState& Device() {
    static DeviceState state;
    return state;
}

bool AllocateReadBuffer(int size) {
    if (size < 1) return false;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]());
    if (buffer == nullptr) return false;
    DeviceState& device = Device();
    device.readBuffer = std::move(buffer);
    device.readBufferSize = size;
    return true;
}

void FreeReadBuffer() {
    Device().readBuffer.reset();
}

}  // namespace bridge
