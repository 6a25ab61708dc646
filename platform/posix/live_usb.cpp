// HKLM\SYSTEM\CurrentControlSet\Enum\USB on Linux: one instance key per
// present usblp printer, so that naming a device by serial number finds it.
// Keys and values the registry file already holds are kept as they are:
// a file exported from Windows knows the real ParentIdPrefix, which is
// what links an installed printer's PnPData to its device.
#include <cctype>

#include "platform/posix/live_keys.h"
#include "platform/posix/usblp.h"
#include "platform/registry.h"

namespace plat::posix {

void AddUsbEnumeration(reg::Store& store) {
    for (const UsbPrinterNode& node : UsbPrinterNodes()) {
        std::string hardwareId = "VID_" + node.vendorId + "&PID_" + node.productId;
        for (char& c : hardwareId)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        reg::Key* key =
            store.Ensure("HKEY_LOCAL_MACHINE", "SYSTEM\\CurrentControlSet\\Enum\\USB\\" +
                                                   hardwareId + "\\" + node.instance);
        if (key == nullptr || key->FindValue("ParentIdPrefix") != nullptr) continue;
        // The prefix the children of this device would carry on Windows;
        // any text unique to the device serves.
        std::string prefix = "9&" + node.name + "&0";
        reg::Value value;
        value.name = "ParentIdPrefix";
        value.type = kRegSz;
        value.data.assign(prefix.begin(), prefix.end());
        value.data.push_back(0);
        key->SetValue(std::move(value));
    }
}

}  // namespace plat::posix
