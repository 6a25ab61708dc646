// Placeholder: replaced by the setupdi implementation.
#include "platform/setupdi.h"

#include "platform/system.h"

namespace plat {

DevInfo SetupDiGetClassDevsA(const Guid* /*classGuid*/, std::uint32_t /*flags*/) {
    SetLastError(kErrorNotSupported);
    return kInvalidDevInfo;
}

bool SetupDiEnumDeviceInterfaces(DevInfo /*set*/, const Guid* /*classGuid*/,
                                 std::uint32_t /*memberIndex*/, DeviceInterfaceData* /*data*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool SetupDiGetDeviceInterfaceDetailA(DevInfo /*set*/, const DeviceInterfaceData* /*data*/,
                                      char* /*devicePath*/, std::uint32_t /*devicePathSize*/,
                                      std::uint32_t* /*requiredSize*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool SetupDiDestroyDeviceInfoList(DevInfo /*set*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

}  // namespace plat
