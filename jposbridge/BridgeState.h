// What the bridge remembers of one WinPortComm object between its calls.
// A JavaPOS service may keep several objects in one JVM (a printer, a
// scanner, a display) and call each from several threads (a status thread
// beside the one that prints, close() from the application), so each
// object has a state of its own, guarded by its own lock.
#pragma once

#include <cstdlib>
#include <memory>

#include "jposbridge/BridgeLog.h"
#include "platform/thread.h"

namespace bridge {

constexpr int kBusSerial = 0;
constexpr int kBusEthernet = 1;
constexpr int kBusUsb = 2;
constexpr int kBusUnknown = -1;

struct FreeBytes {
    void operator()(char* bytes) const { std::free(bytes); }
};

struct DeviceState {
    // Serialises the object's calls: each holds it for its whole length,
    // except a read, which gives it up while it waits between two short
    // reads of the layer. Guards every field below.
    plat::TurnLock callLock;

    // The object's port in the layer; 0 when it has none.
    int portId = 0;
    // Equals the layer's link type once a device bus was recognised; it
    // outlives closeDevice so time-outs set afterwards reach the right calls.
    int busType = kBusUnknown;
    int readTimeoutMs = 5000;
    int writeTimeoutMs = 5000;
    int readBufferSize = 2048;
    std::unique_ptr<char, FreeBytes> readBuffer;
    bool deviceOpened = false;
    // Counted among the layer's holders (layer::Hold) since an open loaded it.
    bool holdsLayer = false;
    // Changes at every open and close: a read that gave up callLock while it
    // waited finds out that the device it was reading is gone.
    unsigned long generation = 0;
    BridgeLog log;

    // Replaces the read buffer with a zeroed one of size bytes and records
    // the size. When that much memory is not available the previous buffer
    // and size stay and the result is false.
    bool AllocateReadBuffer(int size);
    void FreeReadBuffer() { readBuffer.reset(); }
};

}  // namespace bridge
