// USB printers bound to the kernel's usblp driver, as the rest of the
// backend presents them: each /dev/usb/lpN found through sysfs
// (/sys/class/usbmisc/lpN/device -> its USB interface and device) gets the
// device-interface path Windows would give it,
// \\?\usb#vid_XXXX&pid_YYYY#SERIAL#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}
// (see MakeInstancesUnique in usblp.cpp for printers without a serial
// number or with the serial number of another).
// $SORLINK_SYSFS_ROOT and $SORLINK_DEV_ROOT replace /sys and /dev.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

namespace plat::posix {

// The device-interface class of USB printing support.
extern const Guid kUsbPrinterClassGuid;
extern const char kUsbPrinterClassGuidText[];

struct UsbPrinterNode {
    std::string name;           // lp0
    std::string vendorId;       // 4 lower-case hexadecimal digits
    std::string productId;      // likewise
    std::string instance;       // the serial number, blanks as underscores, or the port path
    std::string portPath;       // the USB device's place on the bus: 1-1.2
    std::string interfacePath;  // \\?\usb#vid_...#{class}
    std::string node;           // /dev/usb/lp0
    std::string usbDevice;      // the USB device's sysfs folder
    int interfaceNumber = 0;    // the printer interface's bInterfaceNumber
};

// The usblp printers present now, in the order of their node numbers.
std::vector<UsbPrinterNode> UsbPrinterNodes();

std::string SysfsRoot();
std::string DevRoot();

}  // namespace plat::posix
