// Scripted serial ports and the DOS device names that lead to them.
#include "tests/fake/fake_serial.h"

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/device.h"
#include "platform/system.h"
#include "tests/fake/fake_devices.h"
#include "tests/fake/fake_platform.h"

namespace fake {
namespace {

struct PortState {
    SerialRecord record;
    std::deque<std::uint32_t> accepts;
    std::deque<std::string> reads;
};

struct SerialTables {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<PortState>> ports;
    std::map<std::string, std::string> dosDevices;
};

SerialTables& Tables() {
    static auto* tables = new SerialTables;
    return *tables;
}

std::shared_ptr<PortState> Find(const std::string& path) {
    std::lock_guard<std::mutex> guard(Tables().lock);
    auto it = Tables().ports.find(path);
    return it == Tables().ports.end() ? nullptr : it->second;
}

class FakeSerialPort : public plat::common::DeviceObject {
public:
    explicit FakeSerialPort(std::shared_ptr<PortState> state) : port(std::move(state)) {}

    bool Close() override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        port->record.open = false;
        return true;
    }
    bool Read(void* buffer, std::uint32_t toRead, std::uint32_t* read, plat::Overlapped*) override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        port->record.readAsks.push_back(toRead);
        *read = 0;
        if (port->reads.empty() || toRead == 0) return true;
        std::string& chunk = port->reads.front();
        std::uint32_t n = chunk.size() < toRead ? static_cast<std::uint32_t>(chunk.size()) : toRead;
        std::memcpy(buffer, chunk.data(), n);
        chunk.erase(0, n);
        if (chunk.empty()) port->reads.pop_front();
        *read = n;
        return true;
    }
    bool Write(const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
               plat::Overlapped*) override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        port->record.writeAsks.push_back(toWrite);
        std::uint32_t n = toWrite;
        if (!port->accepts.empty()) {
            if (port->accepts.front() < n) n = port->accepts.front();
            port->accepts.pop_front();
        }
        port->record.written.append(static_cast<const char*>(buffer), n);
        *written = n;
        return true;
    }
    bool GetCommState(plat::Dcb* dcb) override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        *dcb = port->record.state;
        return true;
    }
    bool SetCommState(const plat::Dcb* dcb) override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        port->record.state = *dcb;
        return true;
    }
    bool SetCommTimeouts(const plat::CommTimeouts* timeouts) override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        port->record.timeouts = *timeouts;
        return true;
    }
    bool EscapeCommFunction(std::uint32_t function) override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        port->record.escapes.push_back(function);
        return true;
    }
    bool PurgeComm(std::uint32_t flags) override {
        std::lock_guard<std::mutex> guard(Tables().lock);
        port->record.purges.push_back(flags);
        if ((flags & plat::kPurgeRxClear) != 0) port->reads.clear();
        return true;
    }

private:
    std::shared_ptr<PortState> port;
};

const char kDevicePrefix[] = "\\\\.\\";

}  // namespace

void ResetSerial() {
    std::lock_guard<std::mutex> guard(Tables().lock);
    Tables().ports.clear();
    Tables().dosDevices.clear();
}

void AddSerialPort(const std::string& devicePath) {
    auto state = std::make_shared<PortState>();
    plat::Dcb& dcb = state->record.state;
    dcb.DCBlength = plat::kDcbLength;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fDtrControl = plat::kDtrControlEnable;
    dcb.fRtsControl = plat::kRtsControlEnable;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    std::lock_guard<std::mutex> guard(Tables().lock);
    Tables().ports[devicePath] = state;
}

void SetSerialWriteAccepts(const std::string& devicePath, std::vector<std::uint32_t> accepts) {
    std::shared_ptr<PortState> port = Find(devicePath);
    std::lock_guard<std::mutex> guard(Tables().lock);
    if (port) port->accepts.assign(accepts.begin(), accepts.end());
}

void QueueSerialRead(const std::string& devicePath, const std::string& chunk) {
    std::shared_ptr<PortState> port = Find(devicePath);
    std::lock_guard<std::mutex> guard(Tables().lock);
    if (port) port->reads.push_back(chunk);
}

SerialRecord SerialPort(const std::string& devicePath) {
    std::shared_ptr<PortState> port = Find(devicePath);
    std::lock_guard<std::mutex> guard(Tables().lock);
    return port ? port->record : SerialRecord{};
}

std::string DosDeviceTarget(const std::string& name) {
    std::lock_guard<std::mutex> guard(Tables().lock);
    auto it = Tables().dosDevices.find(name);
    return it == Tables().dosDevices.end() ? std::string() : it->second;
}

void SetDosDevice(const std::string& name, const std::string& target) {
    std::lock_guard<std::mutex> guard(Tables().lock);
    Tables().dosDevices[name] = target;
}

// A "\\.\name" path is resolved through the DOS device names; any other
// path names a scripted port directly. Ports are opened for exclusive use.
std::unique_ptr<plat::common::DeviceObject> OpenSerialDevice(const char* path, std::uint32_t,
                                                             std::uint32_t shareMode, std::uint32_t,
                                                             std::uint32_t flags, bool* claimed) {
    std::string devicePath = path;
    if (devicePath.compare(0, 4, kDevicePrefix) == 0) {
        devicePath = DosDeviceTarget(devicePath.substr(4));
    }
    std::shared_ptr<PortState> port = Find(devicePath);
    *claimed = port != nullptr;
    if (!port) return nullptr;
    std::lock_guard<std::mutex> guard(Tables().lock);
    if (port->record.open) {
        plat::SetLastError(plat::kErrorAccessDenied);
        return nullptr;
    }
    port->record.open = true;
    ++port->record.opens;
    port->record.openFlags = flags;
    port->record.openShareMode = shareMode;
    return std::make_unique<FakeSerialPort>(port);
}

std::uint32_t QueryDosDevice(const char* deviceName, char* targetPath, std::uint32_t max) {
    std::uint32_t error = 0;
    if (ShouldFail("QueryDosDeviceA", &error)) return 0;
    std::string target = DosDeviceTarget(deviceName != nullptr ? deviceName : "");
    if (target.empty()) {
        plat::SetLastError(plat::kErrorFileNotFound);
        return 0;
    }
    // The result is a list of strings ended by an empty one.
    if (target.size() + 2 > max) {
        plat::SetLastError(plat::kErrorInsufficientBuffer);
        return 0;
    }
    std::memcpy(targetPath, target.c_str(), target.size() + 1);
    targetPath[target.size() + 1] = '\0';
    return static_cast<std::uint32_t>(target.size() + 2);
}

bool DefineDosDevice(std::uint32_t flags, const char* deviceName, const char* targetPath) {
    std::uint32_t error = 0;
    if (ShouldFail("DefineDosDeviceA", &error)) return false;
    if (deviceName == nullptr) {
        plat::SetLastError(plat::kErrorInvalidParameter);
        return false;
    }
    std::lock_guard<std::mutex> guard(Tables().lock);
    if ((flags & plat::kDddRemoveDefinition) != 0) {
        Tables().dosDevices.erase(deviceName);
    } else {
        Tables().dosDevices[deviceName] = targetPath != nullptr ? targetPath : "";
    }
    return true;
}

}  // namespace fake
