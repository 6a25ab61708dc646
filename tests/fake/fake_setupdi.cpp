// The fake device-interface database: a set is a snapshot of the present
// devices of one class taken when it is made. Every call can be made to
// fail through the fault table.
#include "platform/common/InterfaceSets.h"
#include "platform/setupdi.h"
#include "platform/system.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_usb.h"
#include "tests/fake/fake_usb_state.h"

namespace fake::usb {

int OpenSetCount() {
    return static_cast<int>(plat::common::OpenInterfaceSetCount());
}

}  // namespace fake::usb

namespace plat {

DevInfo SetupDiGetClassDevsA(const Guid* classGuid, std::uint32_t /*flags*/) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("SetupDiGetClassDevsA", &error)) return kInvalidDevInfo;
    return common::CreateInterfaceSet(fake::usb::PresentInterfaces(*classGuid));
}

bool SetupDiEnumDeviceInterfaces(DevInfo set, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* data) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("SetupDiEnumDeviceInterfaces", &error)) return false;
    return common::EnumInterfaceSet(set, classGuid, memberIndex, data);
}

bool SetupDiGetDeviceInterfaceDetailA(DevInfo set, const DeviceInterfaceData* data,
                                      char* devicePath, std::uint32_t devicePathSize,
                                      std::uint32_t* requiredSize) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("SetupDiGetDeviceInterfaceDetailA", &error)) return false;
    return common::InterfaceSetDetail(set, data, devicePath, devicePathSize, requiredSize);
}

bool SetupDiDestroyDeviceInfoList(DevInfo set) {
    std::uint32_t error = 0;
    bool destroyed = common::DestroyInterfaceSet(set);
    // The set is gone even when the call is made to report a failure.
    return destroyed && !fake::ShouldFail("SetupDiDestroyDeviceInfoList", &error);
}

}  // namespace plat
