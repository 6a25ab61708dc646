// The device-interface database on Linux: the printer class holds the
// usblp printers present when the set is made; other classes are empty.
#include "platform/setupdi.h"

#include <cstring>

#include "platform/common/InterfaceSets.h"
#include "platform/posix/usblp.h"
#include "platform/system.h"

namespace plat {

DevInfo SetupDiGetClassDevsA(const Guid* classGuid, std::uint32_t /*flags*/) {
    if (classGuid == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return kInvalidDevInfo;
    }
    std::vector<std::string> paths;
    if (std::memcmp(classGuid, &posix::kUsbPrinterClassGuid, sizeof(Guid)) == 0) {
        for (const posix::UsbPrinterNode& node : posix::UsbPrinterNodes()) {
            paths.push_back(node.interfacePath);
        }
    }
    return common::CreateInterfaceSet(std::move(paths));
}

bool SetupDiEnumDeviceInterfaces(DevInfo set, const Guid* classGuid, std::uint32_t memberIndex,
                                 DeviceInterfaceData* data) {
    return common::EnumInterfaceSet(set, classGuid, memberIndex, data);
}

bool SetupDiGetDeviceInterfaceDetailA(DevInfo set, const DeviceInterfaceData* data,
                                      char* devicePath, std::uint32_t devicePathSize,
                                      std::uint32_t* requiredSize) {
    return common::InterfaceSetDetail(set, data, devicePath, devicePathSize, requiredSize);
}

bool SetupDiDestroyDeviceInfoList(DevInfo set) {
    return common::DestroyInterfaceSet(set);
}

}  // namespace plat
