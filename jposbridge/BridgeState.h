// What the bridge remembers between the Java calls. The Java side serves one
// device at a time and calls one method at a time, so this is one
// process-wide record without locks.
#pragma once

#include <cstdlib>
#include <memory>

namespace bridge {

constexpr int kBusSerial = 0;
constexpr int kBusEthernet = 1;
constexpr int kBusUsb = 2;
constexpr int kBusUnknown = -1;

struct FreeBytes {
    void operator()(char* bytes) const { std::free(bytes); }
};

struct DeviceState {
    int portId = 0;
    // Equals the layer's link type once a device bus was recognised; it
    // outlives closeDevice so time-outs set afterwards reach the right calls.
    int busType = kBusUnknown;
    int readTimeoutMs = 5000;
    int writeTimeoutMs = 5000;
    int readBufferSize = 2048;
    std::unique_ptr<char, FreeBytes> readBuffer;
    bool deviceOpened = false;
};

DeviceState& Device();

// Replaces the read buffer with a zeroed one of size bytes and records the
// size. When that much memory is not available the previous buffer and size
// stay and the result is false.
bool AllocateReadBuffer(int size);
void FreeReadBuffer();

}  // namespace bridge
