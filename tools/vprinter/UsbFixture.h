// The sysfs description of one usblp printer, as the library's Linux
// backend reads it under $SORLINK_SYSFS_ROOT and $SORLINK_DEV_ROOT:
//   ROOT/sys/devices/virtual-usb/1-1/{idVendor,idProduct,serial,busnum,devnum}
//   ROOT/sys/devices/virtual-usb/1-1/1-1:1.0/bInterfaceNumber
//   ROOT/sys/class/usbmisc/lp0/device -> the interface
//   ROOT/dev/usb/lp0 -> the device node (here a pseudo-terminal)
#pragma once

#include <string>

namespace vprinter {

bool WriteUsbFixture(const std::string& root, const std::string& vendor, const std::string& product,
                     const std::string& serial, const std::string& deviceNode, std::string* error);

}  // namespace vprinter
