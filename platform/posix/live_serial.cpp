// The serial device map on Linux: the system's serial devices as found in
// sysfs, each a value named after its device path whose data is the port
// name. A device the registry file already maps keeps the file's port
// name; any other device is known by its device path.
#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/live_keys.h"
#include "platform/registry.h"

namespace plat::posix {

namespace {

// Tests point this at a made-up sysfs tree.
std::string SysfsRoot() {
    const char* root = std::getenv("SORLINK_SYSFS_ROOT");
    return root != nullptr && root[0] != '\0' ? root : "/sys";
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Every ttyS line exists whether or not a UART stands behind it; the
// driver reports the UART type, 0 meaning none.
bool HasUart(const std::string& ttyDirectory) {
    std::ifstream type(ttyDirectory + "/type");
    long value = 0;
    return static_cast<bool>(type >> value) && value != 0;
}

// Serial lines that exist only with a device behind them: USB adapters
// (ttyUSB, ttyACM, and the Exar and Moxa drivers' ttyXRUSB, ttyMXUSB),
// Bluetooth serial links (rfcomm) and the UARTs of ARM boards (ttyAMA,
// i.MX ttymxc, Tegra ttyTHS).
bool IsSerialName(const std::string& name) {
    static const char* const kKinds[] = {"ttyUSB", "ttyACM", "ttyXRUSB", "ttyMXUSB",
                                         "rfcomm", "ttyAMA", "ttymxc",   "ttyTHS"};
    for (const char* kind : kKinds) {
        std::size_t length = std::char_traits<char>::length(kind);
        if (name.size() > length && StartsWith(name, kind) &&
            std::isdigit(static_cast<unsigned char>(name[length]))) {
            return true;
        }
    }
    return false;
}

// ttyS2 before ttyS10: by kind, then by number.
bool DeviceOrder(const std::string& a, const std::string& b) {
    std::size_t digitsA = a.find_first_of("0123456789");
    std::size_t digitsB = b.find_first_of("0123456789");
    std::string kindA = a.substr(0, digitsA);
    std::string kindB = b.substr(0, digitsB);
    if (kindA != kindB) return kindA < kindB;
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::vector<std::string> SerialDevices() {
    std::string classDirectory = SysfsRoot() + "/class/tty";
    std::vector<std::string> names;
    DIR* directory = opendir(classDirectory.c_str());
    if (directory == nullptr) return names;
    while (struct dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (IsSerialName(name) ||
            (StartsWith(name, "ttyS") && HasUart(classDirectory + "/" + name))) {
            names.push_back(name);
        }
    }
    closedir(directory);
    std::sort(names.begin(), names.end(), DeviceOrder);
    return names;
}

}  // namespace

void AddSerialDeviceMap(reg::Store& store) {
    reg::Key* map = store.Ensure("HKEY_LOCAL_MACHINE", "HARDWARE\\DEVICEMAP\\SERIALCOMM");
    for (const std::string& name : SerialDevices()) {
        std::string devicePath = "/dev/" + name;
        if (map->FindValue(devicePath) != nullptr) continue;
        reg::Value value;
        value.name = devicePath;
        value.type = kRegSz;
        value.data.assign(devicePath.begin(), devicePath.end());
        value.data.push_back(0);
        map->SetValue(std::move(value));
    }
}

}  // namespace plat::posix
