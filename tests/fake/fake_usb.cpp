// Scripted USB devices. A handle opened on a device path or on one of its
// pipes issues overlapped requests as Windows does: queued (pending) and
// completed by the device whole or short, as scripted, or never when the
// pipe stalls; refused at once with access denied once the device is
// unplugged. A wait that Windows would never end is counted, not answered.
#include "tests/fake/fake_usb.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "platform/device.h"
#include "platform/system.h"
#include "tests/fake/fake_devices.h"
#include "tests/fake/fake_usb_state.h"

namespace fake::usb {
namespace {

constexpr std::uint32_t kGetCommandIoctl = 0x22003C;
constexpr std::uint32_t kErrorInvalidFunction = 1;

struct Pipe {
    std::deque<std::uint32_t> writeCompletions;
    bool stalled = false;
    std::string toRead;
    std::string written;
    std::vector<std::uint32_t> writeRequests;
    std::size_t actionAfter = 0;
    std::function<void()> whenWritten;
};

struct Device {
    std::string classGuid;
    bool heldElsewhere = false;
    bool present = true;
    int unplugAtRequest = 0;  // counts down requests; the device leaves at 1
    std::map<std::string, Pipe> pipes;
    std::deque<std::string> answers;
    std::vector<std::string> controlRequests;
};

struct State {
    std::mutex lock;
    std::vector<std::string> order;  // paths in the order added
    std::map<std::string, Device> devices;
};

State& Get() {
    static auto* state = new State;
    return *state;
}

// Waits that Windows would never end, or end only by their time-out
// without any request to wait for.
int& HangingWaitCount() {
    static int count = 0;
    return count;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Device paths compare without regard to case, as on Windows.
Device& DeviceAt(const std::string& path) {
    return Get().devices[Lower(path)];
}

bool GuidFromText(const std::string& text, plat::Guid* guid) {
    unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
    int n = std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3,
                        &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]);
    if (n != 11) return false;
    guid->Data1 = d1;
    guid->Data2 = static_cast<std::uint16_t>(d2);
    guid->Data3 = static_cast<std::uint16_t>(d3);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<std::uint8_t>(b[i]);
    return true;
}

// A handle's last overlapped request, one at a time as the layer makes them.
enum class RequestState { None, Refused, Pending, Completed, Cancelled };

struct Request {
    RequestState state = RequestState::None;
    bool isWrite = false;
    std::string data;            // what a write carries
    void* readBuffer = nullptr;  // where a read delivers
    std::uint32_t size = 0;      // what a read asks for
    std::uint32_t transferred = 0;
};

class FakeUsbHandle : public plat::common::DeviceObject {
public:
    FakeUsbHandle(std::string devicePath, std::string pipeName)
        : path(std::move(devicePath)), pipe(std::move(pipeName)) {}

    bool Close() override { return true; }

    // WriteFile: a bulk transfer is queued to the host controller, so an
    // overlapped write returns FALSE with ERROR_IO_PENDING and completes
    // later (WriteFile documentation, asynchronous I/O).
    bool Write(const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
               plat::Overlapped*) override {
        std::lock_guard<std::mutex> guard(Get().lock);
        if (written != nullptr) *written = 0;
        if (!Issue()) return false;
        DeviceAt(path).pipes[pipe].writeRequests.push_back(toWrite);
        request.isWrite = true;
        request.data.assign(static_cast<const char*>(buffer), toWrite);
        return GoPending();
    }

    // ReadFile: an overlapped read may complete at once and return TRUE
    // (ReadFile documentation); here it does when bytes are waiting.
    bool Read(void* buffer, std::uint32_t toRead, std::uint32_t* read, plat::Overlapped*) override {
        std::lock_guard<std::mutex> guard(Get().lock);
        if (read != nullptr) *read = 0;
        if (!Issue()) return false;
        request.readBuffer = buffer;
        request.size = toRead;
        if (!TryComplete()) return GoPending();
        if (read != nullptr) *read = request.transferred;
        return true;
    }

    // A handle is signalled when its pending request completes. Nothing
    // signals it after a request that was refused at once: Windows then
    // waits out the whole time-out. Waits never sleep here: a request still
    // pending has timed out.
    std::uint32_t Wait(std::uint32_t) override {
        std::lock_guard<std::mutex> guard(Get().lock);
        switch (request.state) {
            case RequestState::None:
            case RequestState::Refused:
                ++HangingWaitCount();
                return plat::kWaitTimeout;
            case RequestState::Pending:
                return TryComplete() ? plat::kWaitObject0 : plat::kWaitTimeout;
            default:
                return plat::kWaitObject0;
        }
    }

    // GetOverlappedResult: without waiting, an unfinished request gives
    // ERROR_IO_INCOMPLETE; with bWait TRUE the call returns only when the
    // request completes, so on a request that never went pending, or one
    // that never ends and was not cancelled, it never returns.
    bool GetOverlappedResult(plat::Overlapped*, std::uint32_t* transferred, bool wait) override {
        std::lock_guard<std::mutex> guard(Get().lock);
        bool finished = request.state == RequestState::Completed ||
                        request.state == RequestState::Cancelled ||
                        (request.state == RequestState::Pending && TryComplete());
        if (!finished) {
            if (wait) ++HangingWaitCount();
            return Fail(plat::kErrorIoIncomplete);
        }
        // CancelIo: the cancelled request ends with ERROR_OPERATION_ABORTED.
        if (request.state == RequestState::Cancelled) return Fail(plat::kErrorOperationAborted);
        *transferred = request.transferred;
        return true;
    }

    bool CancelIo() override {
        std::lock_guard<std::mutex> guard(Get().lock);
        if (request.state == RequestState::Pending) request.state = RequestState::Cancelled;
        return true;
    }

    bool DeviceIoControl(std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                         std::uint32_t outSize, std::uint32_t* returned) override {
        std::lock_guard<std::mutex> guard(Get().lock);
        Device& device = DeviceAt(path);
        if (!device.present) return Fail(plat::kErrorAccessDenied);
        if (code != kGetCommandIoctl || !pipe.empty()) return Fail(kErrorInvalidFunction);
        device.controlRequests.emplace_back(static_cast<const char*>(in), inSize);
        std::string answer;
        if (!device.answers.empty()) {
            answer = device.answers.front();
            device.answers.pop_front();
        }
        if (answer.size() > outSize) return Fail(plat::kErrorInsufficientBuffer);
        std::memcpy(out, answer.data(), answer.size());
        *returned = static_cast<std::uint32_t>(answer.size());
        return true;
    }

private:
    bool Fail(std::uint32_t error) {
        plat::SetLastError(error);
        return false;
    }

    // Starts a new request. An unplugged device refuses it at once with
    // access denied; it never goes pending.
    bool Issue() {
        request = Request{};
        Device& device = DeviceAt(path);
        if (device.unplugAtRequest > 0 && --device.unplugAtRequest == 0) device.present = false;
        if (device.present) return true;
        request.state = RequestState::Refused;
        return Fail(plat::kErrorAccessDenied);
    }

    bool GoPending() {
        request.state = RequestState::Pending;
        return Fail(plat::kErrorIoPending);
    }

    // The device's side of a queued request: a write completes whole or as
    // scripted unless the pipe stalls; a read completes when bytes wait.
    bool TryComplete() {
        Pipe& p = DeviceAt(path).pipes[pipe];
        std::uint32_t count = 0;
        if (request.isWrite) {
            if (p.stalled) return false;
            count = static_cast<std::uint32_t>(request.data.size());
            if (!p.writeCompletions.empty()) {
                count = std::min(count, p.writeCompletions.front());
                p.writeCompletions.pop_front();
            }
            p.written.append(request.data, 0, count);
            if (p.whenWritten && p.written.size() >= p.actionAfter) {
                std::function<void()> action;
                std::swap(action, p.whenWritten);
                action();
            }
        } else {
            if (p.toRead.empty()) return false;
            count =
                std::min<std::uint32_t>(request.size, static_cast<std::uint32_t>(p.toRead.size()));
            std::memcpy(request.readBuffer, p.toRead.data(), count);
            p.toRead.erase(0, count);
        }
        request.state = RequestState::Completed;
        request.transferred = count;
        return true;
    }

    std::string path;
    std::string pipe;
    Request request;
};

// Splits "<device path>\PIPE0n\" into the device path and "PIPE0n".
void SplitPipe(const std::string& full, std::string* device, std::string* pipe) {
    *device = full;
    pipe->clear();
    for (const char* name : {"PIPE00", "PIPE01"}) {
        std::string suffix = std::string("\\") + name + "\\";
        if (full.size() > suffix.size() &&
            Lower(full.substr(full.size() - suffix.size())) == Lower(suffix)) {
            *device = full.substr(0, full.size() - suffix.size());
            *pipe = name;
        }
    }
}

}  // namespace

void Reset() {
    std::lock_guard<std::mutex> guard(Get().lock);
    Get().order.clear();
    Get().devices.clear();
    HangingWaitCount() = 0;
}

void AddInterface(const std::string& classGuid, const std::string& path, bool heldElsewhere) {
    std::lock_guard<std::mutex> guard(Get().lock);
    Device& device = DeviceAt(path);
    device.classGuid = Lower(classGuid);
    device.heldElsewhere = heldElsewhere;
    device.present = true;
    // A device plugged in again keeps its place.
    if (std::find(Get().order.begin(), Get().order.end(), path) == Get().order.end()) {
        Get().order.push_back(path);
    }
}

void Unplug(const std::string& path) {
    std::lock_guard<std::mutex> guard(Get().lock);
    DeviceAt(path).present = false;
}

void UnplugAtRequest(const std::string& path, int request) {
    std::lock_guard<std::mutex> guard(Get().lock);
    DeviceAt(path).unplugAtRequest = request;
}

int HangingWaits() {
    std::lock_guard<std::mutex> guard(Get().lock);
    return HangingWaitCount();
}

void QueueWriteCompletion(const std::string& path, const std::string& pipe, std::uint32_t count) {
    std::lock_guard<std::mutex> guard(Get().lock);
    DeviceAt(path).pipes[pipe].writeCompletions.push_back(count);
}

void WhenWritten(const std::string& path, const std::string& pipe, std::size_t bytes,
                 std::function<void()> action) {
    std::lock_guard<std::mutex> guard(Get().lock);
    Pipe& p = DeviceAt(path).pipes[pipe];
    p.actionAfter = bytes;
    p.whenWritten = std::move(action);
}

void StallWrites(const std::string& path, const std::string& pipe) {
    std::lock_guard<std::mutex> guard(Get().lock);
    DeviceAt(path).pipes[pipe].stalled = true;
}

void FeedRead(const std::string& path, const std::string& pipe, const std::string& bytes) {
    std::lock_guard<std::mutex> guard(Get().lock);
    DeviceAt(path).pipes[pipe].toRead += bytes;
}

std::string Written(const std::string& path, const std::string& pipe) {
    std::lock_guard<std::mutex> guard(Get().lock);
    return DeviceAt(path).pipes[pipe].written;
}

std::vector<std::uint32_t> WriteRequests(const std::string& path, const std::string& pipe) {
    std::lock_guard<std::mutex> guard(Get().lock);
    return DeviceAt(path).pipes[pipe].writeRequests;
}

void QueueControlAnswer(const std::string& path, const std::string& answer) {
    std::lock_guard<std::mutex> guard(Get().lock);
    DeviceAt(path).answers.push_back(answer);
}

std::vector<std::string> ControlRequests(const std::string& path) {
    std::lock_guard<std::mutex> guard(Get().lock);
    return DeviceAt(path).controlRequests;
}

std::vector<std::string> PresentInterfaces(const plat::Guid& classGuid) {
    std::lock_guard<std::mutex> guard(Get().lock);
    std::vector<std::string> paths;
    for (const std::string& path : Get().order) {
        const Device& device = DeviceAt(path);
        plat::Guid guid{};
        if (device.present && GuidFromText(device.classGuid, &guid) &&
            std::memcmp(&guid, &classGuid, sizeof(guid)) == 0) {
            paths.push_back(path);
        }
    }
    return paths;
}

}  // namespace fake::usb

namespace fake {

std::unique_ptr<plat::common::DeviceObject> OpenUsbDevice(const char* path, std::uint32_t,
                                                          std::uint32_t, std::uint32_t,
                                                          std::uint32_t, bool* claimed) {
    *claimed = std::strncmp(path, "\\\\?\\", 4) == 0;
    if (!*claimed) return nullptr;
    std::string device;
    std::string pipe;
    usb::SplitPipe(path, &device, &pipe);
    std::lock_guard<std::mutex> guard(usb::Get().lock);
    auto it = usb::Get().devices.find(usb::Lower(device));
    if (it == usb::Get().devices.end() || !it->second.present) {
        plat::SetLastError(plat::kErrorFileNotFound);
        return nullptr;
    }
    if (it->second.heldElsewhere) {
        plat::SetLastError(plat::kErrorSharingViolation);
        return nullptr;
    }
    return std::make_unique<usb::FakeUsbHandle>(device, pipe);
}

}  // namespace fake
