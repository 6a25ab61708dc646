// What fake_usb.cpp and fake_setupdi.cpp share: the present devices.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace fake::usb {

// Paths of the present devices exposing the class, in the order added.
std::vector<std::string> PresentInterfaces(const plat::Guid& classGuid);

}  // namespace fake::usb
