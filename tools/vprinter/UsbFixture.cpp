#include "tools/vprinter/UsbFixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vprinter {

namespace {

bool MakeDirectories(const std::string& path) {
    for (std::string::size_type slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    bool written = std::fputs(text.c_str(), file) >= 0;
    return std::fclose(file) == 0 && written;
}

// A link left by an earlier run is replaced.
bool Link(const std::string& target, const std::string& link) {
    unlink(link.c_str());
    return symlink(target.c_str(), link.c_str()) == 0;
}

}  // namespace

bool WriteUsbFixture(const std::string& root, const std::string& vendor, const std::string& product,
                     const std::string& serial, const std::string& deviceNode, std::string* error) {
    const std::string device = root + "/sys/devices/virtual-usb/1-1";
    const std::string interface = device + "/1-1:1.0";
    const std::string classEntry = root + "/sys/class/usbmisc/lp0";
    bool ok = MakeDirectories(interface) && MakeDirectories(classEntry) &&
              MakeDirectories(root + "/dev/usb") &&
              WriteText(device + "/idVendor", vendor + "\n") &&
              WriteText(device + "/idProduct", product + "\n") &&
              WriteText(device + "/serial", serial + "\n") &&
              WriteText(device + "/busnum", "1\n") && WriteText(device + "/devnum", "2\n") &&
              WriteText(interface + "/bInterfaceNumber", "00\n") &&
              Link(interface, classEntry + "/device") && Link(deviceNode, root + "/dev/usb/lp0");
    if (!ok)
        *error = "cannot write the USB description under " + root + ": " + std::strerror(errno);
    return ok;
}

}  // namespace vprinter
