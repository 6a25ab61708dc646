#include "platform/posix/usblp.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

namespace plat::posix {

const Guid kUsbPrinterClassGuid = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};
const char kUsbPrinterClassGuidText[] = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

namespace {

std::string RootFrom(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::string root = value != nullptr && value[0] != '\0' ? value : fallback;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

// First line of a sysfs attribute, without its line end (and, unless
// asked to keep them, trailing blanks); "" when absent.
std::string ReadAttribute(const std::string& path, bool keepBlanks = false) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line)) return "";
    while (!line.empty() &&
           (line.back() == '\n' || line.back() == '\r' || (!keepBlanks && line.back() == ' '))) {
        line.pop_back();
    }
    return line;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool IsHexId(const std::string& text) {
    return text.size() == 4 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// An instance name may hold neither the path's separators nor blanks,
// control or non-ASCII bytes: each becomes an underscore, as Windows
// records them and as InitUsbVidPidSerial turns the caller's text. Nothing
// is trimmed, so "SN 123 " is SN_123_ both ways.
std::string InstanceName(const std::string& serial) {
    std::string instance = serial.substr(0, 255);
    for (char& c : instance) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '#' || c == '\\' || c == '/' || u < 0x21 || u > 0x7e) c = '_';
    }
    return instance;
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Every printer must have an instance of its own, and a name must never
// pass from one printer to another. A printer without a serial number is
// named after its USB port path (1-1.2). Printers sharing a VID, PID and
// serial number are each named by the serial number, "&" and their port
// path (0123456789&1-2): none keeps the bare serial number, which would
// otherwise move to whichever printer sorts first as printers come and
// go, and send a job meant for one to the other.
void MakeInstancesUnique(std::vector<UsbPrinterNode>* nodes) {
    std::vector<bool> shared(nodes->size(), false);
    for (std::size_t i = 0; i < nodes->size(); ++i) {
        const UsbPrinterNode& node = (*nodes)[i];
        for (std::size_t j = i + 1; j < nodes->size(); ++j) {
            const UsbPrinterNode& other = (*nodes)[j];
            if (!node.instance.empty() && other.vendorId == node.vendorId &&
                other.productId == node.productId &&
                strcasecmp(other.instance.c_str(), node.instance.c_str()) == 0) {
                shared[i] = shared[j] = true;
            }
        }
    }
    for (std::size_t i = 0; i < nodes->size(); ++i) {
        UsbPrinterNode& node = (*nodes)[i];
        if (node.instance.empty()) {
            node.instance = node.portPath;
        } else if (shared[i]) {
            node.instance += "&" + node.portPath;
        }
        node.interfacePath = "\\\\?\\usb#vid_" + node.vendorId + "&pid_" + node.productId + "#" +
                             node.instance + "#" + kUsbPrinterClassGuidText;
    }
}

// lp followed by digits only.
int NodeNumber(const std::string& name) {
    if (name.size() < 3 || name.size() > 8 || name.compare(0, 2, "lp") != 0) return -1;
    int number = 0;
    for (std::size_t i = 2; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

bool Describe(const std::string& classDir, const std::string& name, UsbPrinterNode* out) {
    char resolved[PATH_MAX];
    std::string link = classDir + "/" + name + "/device";
    if (realpath(link.c_str(), resolved) == nullptr) return false;
    // The link names the printer interface; its parent is the USB device.
    // A flattened tree that keeps the attributes beside the link is taken too.
    std::string interfaceDir = resolved;
    std::string deviceDir = interfaceDir.substr(0, interfaceDir.rfind('/'));
    if (!FileExists(deviceDir + "/idVendor")) deviceDir = interfaceDir;
    std::string vendor = Lower(ReadAttribute(deviceDir + "/idVendor"));
    std::string product = Lower(ReadAttribute(deviceDir + "/idProduct"));
    if (!IsHexId(vendor) || !IsHexId(product)) return false;
    out->name = name;
    out->vendorId = vendor;
    out->productId = product;
    out->instance = InstanceName(ReadAttribute(deviceDir + "/serial", true));
    out->portPath = BaseName(deviceDir);
    out->node = DevRoot() + "/usb/" + name;
    out->usbDevice = deviceDir;
    out->interfaceNumber = static_cast<int>(
        std::strtol(ReadAttribute(interfaceDir + "/bInterfaceNumber").c_str(), nullptr, 16));
    return true;
}

}  // namespace

std::string SysfsRoot() {
    return RootFrom("SORLINK_SYSFS_ROOT", "/sys");
}

std::string DevRoot() {
    return RootFrom("SORLINK_DEV_ROOT", "/dev");
}

std::vector<UsbPrinterNode> UsbPrinterNodes() {
    std::vector<std::pair<int, UsbPrinterNode>> found;
    std::string classDir = SysfsRoot() + "/class/usbmisc";
    DIR* dir = opendir(classDir.c_str());
    if (dir == nullptr) return {};
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        int number = NodeNumber(name);
        UsbPrinterNode node;
        if (number >= 0 && Describe(classDir, name, &node)) found.emplace_back(number, node);
    }
    closedir(dir);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<UsbPrinterNode> nodes;
    for (auto& item : found) nodes.push_back(std::move(item.second));
    MakeInstancesUnique(&nodes);
    return nodes;
}

}  // namespace plat::posix
