#include "jposbridge/ReadWait.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "jposbridge/LayerBinding.h"

namespace bridge {

namespace {

using Clock = std::chrono::steady_clock;

// Reads that come back at once (TCP) are repeated at first soon, for an
// answer to a command just sent, then less often.
constexpr int kFirstPollPeriodMs = 10;
constexpr int kLongestPollPeriodMs = 100;

// The layer's results that say only that nothing arrived in the time its
// read waited: serial 114 (nothing read), Ethernet 214 (the receive call
// failed or timed out, which is what a TCP read with nothing to read does),
// USB 323 (read time-out).
bool NothingArrivedYet(int busType, int code) {
    switch (busType) {
        case kBusSerial:
            return code == 114;
        case kBusEthernet:
            return code == 214;
        case kBusUsb:
            return code == 323;
        default:
            return false;
    }
}

}  // namespace

bool ReadWithinTimeout(DeviceState& device, std::unique_lock<FairMutex>& hold, unsigned* count) {
    const unsigned long generation = device.generation;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(device.readTimeoutMs);
    int periodMs = kFirstPollPeriodMs;
    for (;;) {
        // No port: the layer would act on another object's port.
        if (device.generation != generation || device.portId == 0 || device.readBuffer == nullptr) {
            return false;
        }
        Clock::time_point started = Clock::now();
        *count = 0;
        int code = -1;
        {
            layer::Session session(device.portId);
            if (session.Selected()) {
                code = layer::Read(device.readBuffer.get(), device.readBufferSize, count);
            }
        }
        if (code == 0) {
            // The layer never reports more than the buffer holds; a count
            // beyond it must still not copy past the buffer.
            *count = std::min<unsigned>(*count, static_cast<unsigned>(device.readBufferSize));
            return true;
        }
        if (!NothingArrivedYet(device.busType, code) || Clock::now() >= deadline) return false;
        Clock::time_point next = std::min(deadline, started + std::chrono::milliseconds(periodMs));
        periodMs = std::min(periodMs * 2, kLongestPollPeriodMs);
        hold.unlock();
        std::this_thread::sleep_until(next);
        hold.lock();
    }
}

}  // namespace bridge
