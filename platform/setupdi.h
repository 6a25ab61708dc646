// The device-interface database: present devices exposing an interface class.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t kDigcfPresent = 0x2;
constexpr std::uint32_t kDigcfDeviceInterface = 0x10;

// kInvalidDevInfo on failure (GetLastError tells why).
DevInfo SetupDiGetClassDevsA(const Guid* classGuid, std::uint32_t flags);
// False with GetLastError kErrorNoMoreItems past the last member.
bool SetupDiEnumDeviceInterfaces(DevInfo set, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* data);
// Device path of one interface. With devicePath null (or too small) it fails
// with kErrorInsufficientBuffer and *requiredSize holds the bytes needed.
bool SetupDiGetDeviceInterfaceDetailA(DevInfo set, const DeviceInterfaceData* data,
                                      char* devicePath, std::uint32_t devicePathSize,
                                      std::uint32_t* requiredSize);
bool SetupDiDestroyDeviceInfoList(DevInfo set);

}  // namespace plat
