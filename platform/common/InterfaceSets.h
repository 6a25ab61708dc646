// Device-information sets for the backends that are not Windows: a set is
// the list of device-interface paths of one class taken when it is made,
// and the SetupDi calls answer from it with their Windows meanings.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace plat::common {

DevInfo CreateInterfaceSet(std::vector<std::string> paths);
bool EnumInterfaceSet(DevInfo set, const Guid* classGuid, std::uint32_t memberIndex,
                      DeviceInterfaceData* data);
bool InterfaceSetDetail(DevInfo set, const DeviceInterfaceData* data, char* devicePath,
                        std::uint32_t devicePathSize, std::uint32_t* requiredSize);
bool DestroyInterfaceSet(DevInfo set);
std::size_t OpenInterfaceSetCount();

}  // namespace plat::common
