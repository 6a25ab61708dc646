// The fake device-interface database: a set is a snapshot of the present
// devices of one class taken when it is created. Every call can be made to
// fail through the fault table.
#include <map>
#include <mutex>

#include "platform/setupdi.h"
#include "platform/system.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_usb.h"
#include "tests/fake/fake_usb_state.h"

namespace fake::usb {
namespace {
struct Sets {
    std::mutex lock;
    std::map<plat::DevInfo, std::vector<std::string>> open;
    plat::DevInfo next = 0x5000;
};
Sets& Get() {
    static auto* sets = new Sets;
    return *sets;
}
}  // namespace

int OpenSetCount() {
    std::lock_guard<std::mutex> guard(Get().lock);
    return static_cast<int>(Get().open.size());
}

}  // namespace fake::usb

namespace plat {

using fake::usb::Get;

DevInfo SetupDiGetClassDevsA(const Guid* classGuid, std::uint32_t /*flags*/) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("SetupDiGetClassDevsA", &error)) return kInvalidDevInfo;
    std::vector<std::string> paths = fake::usb::PresentInterfaces(*classGuid);
    std::lock_guard<std::mutex> guard(Get().lock);
    DevInfo set = Get().next++;
    Get().open[set] = std::move(paths);
    return set;
}

bool SetupDiEnumDeviceInterfaces(DevInfo set, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* data) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("SetupDiEnumDeviceInterfaces", &error)) return false;
    std::lock_guard<std::mutex> guard(Get().lock);
    auto it = Get().open.find(set);
    if (it == Get().open.end()) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (memberIndex >= it->second.size()) {
        SetLastError(kErrorNoMoreItems);
        return false;
    }
    *data = DeviceInterfaceData{};
    data->InterfaceClassGuid = *classGuid;
    data->Reserved = memberIndex;
    return true;
}

bool SetupDiGetDeviceInterfaceDetailA(DevInfo set, const DeviceInterfaceData* data,
                                      char* devicePath, std::uint32_t devicePathSize,
                                      std::uint32_t* requiredSize) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("SetupDiGetDeviceInterfaceDetailA", &error)) return false;
    std::lock_guard<std::mutex> guard(Get().lock);
    auto it = Get().open.find(set);
    if (it == Get().open.end() || data->Reserved >= it->second.size()) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    const std::string& path = it->second[data->Reserved];
    std::uint32_t needed = static_cast<std::uint32_t>(path.size() + 1);
    if (requiredSize != nullptr) *requiredSize = needed;
    if (devicePath == nullptr || devicePathSize < needed) {
        SetLastError(kErrorInsufficientBuffer);
        return false;
    }
    path.copy(devicePath, path.size());
    devicePath[path.size()] = '\0';
    return true;
}

bool SetupDiDestroyDeviceInfoList(DevInfo set) {
    std::uint32_t error = 0;
    std::lock_guard<std::mutex> guard(Get().lock);
    if (Get().open.erase(set) == 0) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    // The set is gone even when the call is made to report a failure.
    return !fake::ShouldFail("SetupDiDestroyDeviceInfoList", &error);
}

}  // namespace plat
