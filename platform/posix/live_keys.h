// Keys that Linux builds from the running system and merges into the
// registry read from the file: the serial device map and the USB devices.
#pragma once

#include "platform/common/RegStore.h"

namespace plat::posix {

// HKLM\Hardware\Devicemap\Serialcomm: one value per serial device.
void AddSerialDeviceMap(reg::Store& store);
// HKLM\SYSTEM\CurrentControlSet\Enum\USB: one key per present USB device.
void AddUsbEnumeration(reg::Store& store);

}  // namespace plat::posix
