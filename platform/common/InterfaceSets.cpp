#include "platform/common/InterfaceSets.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/common/LibraryObject.h"
#include "platform/system.h"

namespace plat::common {

namespace {

struct Sets {
    std::mutex lock;
    std::map<DevInfo, std::vector<std::string>> open;
    DevInfo next = 0x100;
};

LibraryObject<Sets> interfaceSets;

Sets& Get() {
    return interfaceSets.Get();
}

}  // namespace

DevInfo CreateInterfaceSet(std::vector<std::string> paths) {
    std::lock_guard<std::mutex> guard(Get().lock);
    DevInfo set = Get().next++;
    Get().open[set] = std::move(paths);
    return set;
}

bool EnumInterfaceSet(DevInfo set, const Guid* classGuid, std::uint32_t memberIndex,
                      DeviceInterfaceData* data) {
    std::lock_guard<std::mutex> guard(Get().lock);
    auto it = Get().open.find(set);
    if (it == Get().open.end() || classGuid == nullptr || data == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (memberIndex >= it->second.size()) {
        SetLastError(kErrorNoMoreItems);
        return false;
    }
    *data = DeviceInterfaceData{};
    data->InterfaceClassGuid = *classGuid;
    data->Reserved = memberIndex;  // which path the detail call gives
    return true;
}

bool InterfaceSetDetail(DevInfo set, const DeviceInterfaceData* data, char* devicePath,
                        std::uint32_t devicePathSize, std::uint32_t* requiredSize) {
    std::lock_guard<std::mutex> guard(Get().lock);
    auto it = Get().open.find(set);
    if (it == Get().open.end() || data == nullptr || data->Reserved >= it->second.size()) {
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
    std::memcpy(devicePath, path.c_str(), needed);
    return true;
}

bool DestroyInterfaceSet(DevInfo set) {
    std::lock_guard<std::mutex> guard(Get().lock);
    if (Get().open.erase(set) == 0) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    return true;
}

std::size_t OpenInterfaceSetCount() {
    std::lock_guard<std::mutex> guard(Get().lock);
    return Get().open.size();
}

}  // namespace plat::common
