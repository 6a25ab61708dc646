// The device-interface database on Windows: forwarded, with the interface
// record and the detail record translated.
#include "platform/setupdi.h"

#include <windows.h>

// After windows.h, which it needs.
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace plat {

namespace {

HDEVINFO ToWindows(DevInfo set) {
    return reinterpret_cast<HDEVINFO>(set);
}

const GUID* ToWindows(const Guid* guid) {
    static_assert(sizeof(Guid) == sizeof(GUID), "GUID layout");
    return reinterpret_cast<const GUID*>(guid);
}

// Offset of the path in SP_DEVICE_INTERFACE_DETAIL_DATA_A: the platform
// layer speaks of the path alone.
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

}  // namespace

DevInfo SetupDiGetClassDevsA(const Guid* classGuid, std::uint32_t flags) {
    HDEVINFO set = ::SetupDiGetClassDevsA(ToWindows(classGuid), nullptr, nullptr, flags);
    return reinterpret_cast<DevInfo>(set);
}

bool SetupDiEnumDeviceInterfaces(DevInfo set, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* data) {
    if (data == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SP_DEVICE_INTERFACE_DATA found = {};
    found.cbSize = sizeof found;
    if (!::SetupDiEnumDeviceInterfaces(ToWindows(set), nullptr, ToWindows(classGuid), memberIndex,
                                       &found)) {
        return false;
    }
    std::memcpy(&data->InterfaceClassGuid, &found.InterfaceClassGuid, sizeof(Guid));
    data->Flags = found.Flags;
    data->Reserved = found.Reserved;
    return true;
}

bool SetupDiGetDeviceInterfaceDetailA(DevInfo set, const DeviceInterfaceData* data,
                                      char* devicePath, std::uint32_t devicePathSize,
                                      std::uint32_t* requiredSize) {
    if (data == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    SP_DEVICE_INTERFACE_DATA member = {};
    member.cbSize = sizeof member;
    std::memcpy(&member.InterfaceClassGuid, &data->InterfaceClassGuid, sizeof(GUID));
    member.Flags = data->Flags;
    member.Reserved = data->Reserved;

    std::vector<unsigned char> detail;
    if (devicePath != nullptr && devicePathSize > 0) {
        detail.assign(kPathOffset + devicePathSize, 0);
        reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.data())->cbSize =
            sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    }
    auto* record = detail.empty()
                       ? nullptr
                       : reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.data());
    DWORD needed = 0;
    BOOL ok = ::SetupDiGetDeviceInterfaceDetailA(
        ToWindows(set), &member, record, static_cast<DWORD>(detail.size()), &needed, nullptr);
    if (requiredSize != nullptr) {
        *requiredSize = needed > kPathOffset ? static_cast<std::uint32_t>(needed - kPathOffset) : 0;
    }
    if (!ok) return false;
    std::memcpy(devicePath, record->DevicePath, devicePathSize);
    devicePath[devicePathSize - 1] = '\0';
    return true;
}

bool SetupDiDestroyDeviceInfoList(DevInfo set) {
    return ::SetupDiDestroyDeviceInfoList(ToWindows(set)) != 0;
}

}  // namespace plat
