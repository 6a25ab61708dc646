#include "jposbridge/ReadWait.h"

#include <algorithm>
#include <cstdint>

#include "jposbridge/LayerBinding.h"
#include "platform/thread.h"

namespace bridge {

namespace {

// Reads that come back at once (TCP) are repeated at first soon, for an
// answer to a command just sent, then less often.
constexpr std::uint32_t kFirstPollPeriodMs = 10;
constexpr std::uint32_t kLongestPollPeriodMs = 100;

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

bool ReadWithinTimeout(DeviceState& device, unsigned* count) {
    const unsigned long generation = device.generation;
    const std::uint32_t start = plat::TickCountMs();
    const std::uint32_t timeoutMs = static_cast<std::uint32_t>(device.readTimeoutMs);
    std::uint32_t periodMs = kFirstPollPeriodMs;
    for (;;) {
        // No port: the layer would act on another object's port.
        if (device.generation != generation || device.portId == 0 || device.readBuffer == nullptr) {
            return false;
        }
        std::uint32_t stepStart = plat::TickCountMs() - start;
        *count = 0;
        int code = -1;
        bool layerBusy = false;
        {
            // Another object's write or open may hold the layer for
            // seconds; the read waits for it no longer than it has left,
            // and a step at a time, so that a close of this object's
            // comes in between.
            std::uint32_t left = stepStart < timeoutMs ? timeoutMs - stepStart : 0;
            layer::Session session(device.portId, std::min(left, kLongestPollPeriodMs));
            layerBusy = !session.Obtained();
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
        std::uint32_t elapsed = plat::TickCountMs() - start;
        if ((!layerBusy && !NothingArrivedYet(device.busType, code)) || elapsed >= timeoutMs) {
            return false;
        }
        // The next read starts a period after this one did, and not after
        // the time-out.
        std::uint32_t next = std::min(timeoutMs, stepStart + periodMs);
        periodMs = std::min(periodMs * 2, kLongestPollPeriodMs);
        device.callLock.unlock();
        if (next > elapsed) plat::Sleep(next - elapsed);
        device.callLock.lock();
    }
}

}  // namespace bridge
