// The doctor's checks of a Linux machine: the registry file, device nodes
// under the same roots the library reads ($SORLINK_SYSFS_ROOT and
// $SORLINK_DEV_ROOT for /sys and /dev), and the default log's folder. Who
// may use a node is decided from its ownership and mode (Access.h), so the
// answer holds for the user checked for, not for whoever runs the doctor.
#include <dirent.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/log_file.h"
#include "platform/posix/cups_queues.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/usblp.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "tools/sorlink/doctor/Access.h"
#include "tools/sorlink/doctor/System.h"

namespace sorlink_tool::doctor {

namespace {

constexpr char kVendorId[] = "0f3c";
constexpr char kPrinterInterfaceClass[] = "07";
constexpr char kSerialMapKey[] = "Hardware\\Devicemap\\Serialcomm\\";

Identity& Who() {
    static Identity identity = ProcessIdentity();
    return identity;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

std::string Folder(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// First line of a sysfs attribute, without its line end.
std::string ReadAttribute(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    return line;
}

// What to do when the user may not use a node: join the group the node
// belongs to when that group may use it, else hand the node to a group.
std::string AccessFix(const std::string& path, int wanted, const std::string& usualGroup) {
    struct stat info {};
    stat(path.c_str(), &info);
    std::string group = GroupName(info.st_gid);
    bool groupMay = (static_cast<int>(info.st_mode >> 3) & wanted) == wanted;
    if (groupMay && info.st_gid != 0) {
        if (Who().isThisProcess && InGroup(Who().accountGroups, info.st_gid) &&
            !InGroup(Who().groups, info.st_gid)) {
            return "log out and in again: " + Who().name + " joined " + group +
                   " after this session started.";
        }
        return "sudo usermod -a -G " + group + " " + Who().name + ", then log in again.";
    }
    return "only " + UserName(info.st_uid) + " may use it: have it given to the " + usualGroup +
           " group (a udev rule with GROUP=\"" + usualGroup +
           "\", MODE=\"0660\"), then sudo usermod -a -G " + usualGroup + " " + Who().name + ".";
}

// The device a port name stands for, from the serial device map the
// library opens ports by; a port without a COM name is its device path.
std::string SerialDevice(const std::string& portName) {
    plat::Hkey key = 0;
    std::string device = portName;
    if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, kSerialMapKey, 0, plat::kKeyRead, &key) != 0) {
        return device;
    }
    for (std::uint32_t index = 0;; ++index) {
        char name[1024];
        std::uint8_t data[1024];
        std::uint32_t nameSize = sizeof name, dataSize = sizeof data, type = 0;
        if (plat::RegEnumValueA(key, index, name, &nameSize, &type, data, &dataSize) != 0) break;
        std::string port(reinterpret_cast<const char*>(data), dataSize);
        port = port.substr(0, port.find('\0'));
        if (type == plat::kRegSz && port == portName) {
            device = std::string(name, nameSize);
            break;
        }
    }
    plat::RegCloseKey(key);
    return device;
}

// The example registry file beside the installed program, if there is one.
std::string ExampleRegistryFile() {
    std::string program = RealPath("/proc/self/exe");
    std::string example = Folder(Folder(program)) + "/share/doc/sorlink/examples/registry.reg";
    return Exists(example) ? example : "the example registry.reg of the documentation";
}

// VID:PID:SERIAL with the IDs in lower case, as sysfs writes them.
std::string LowerIds(std::string entry) {
    std::string::size_type ids = std::min(entry.size(), entry.find(':', entry.find(':') + 1));
    std::transform(entry.begin(), entry.begin() + static_cast<long>(ids), entry.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return entry;
}

struct UsbDevice {
    std::string label;   // "0f3c:0101 serial A1B2C3"
    std::string folder;  // sysfs folder of the device
};

std::string UsbLabel(const std::string& product, const std::string& serial) {
    return std::string(kVendorId) + ":" + product +
           (serial.empty() ? " without serial number" : " serial " + serial);
}

std::string UsbfsNode(const std::string& deviceFolder) {
    char path[64];
    std::snprintf(path, sizeof path, "/bus/usb/%03d/%03d",
                  std::atoi(ReadAttribute(deviceFolder + "/busnum").c_str()),
                  std::atoi(ReadAttribute(deviceFolder + "/devnum").c_str()));
    return plat::posix::DevRoot() + path;
}

// Interface type 0 sends control requests through usbfs; the other types
// do not need it, so a node that cannot be written is only worth a note.
void CheckUsbfs(const UsbDevice& device, Findings* findings) {
    std::string node = UsbfsNode(device.folder);
    if (!Exists(node)) {
        findings->Note("usb",
                       device.label + ": its usbfs node " + node +
                           " is missing; interface type 0 cannot send control requests.",
                       "check that usbfs is mounted on /dev/bus/usb (udev does this).");
    } else if (!Allows(node, Who(), kMayRead | kMayWrite)) {
        struct stat info {};
        stat(node.c_str(), &info);
        std::string fix = GroupName(info.st_gid) == "lp"
                              ? AccessFix(node, kMayRead | kMayWrite, "lp")
                              : "install the udev rule 60-sorlink.rules of the package (group lp "
                                "for vendor 0f3c), then unplug and plug the printer.";
        findings->Note("usb",
                       device.label + ": " + Who().name + " may not write its usbfs node " + node +
                           " (" + DescribeOwnership(node) + "), which interface type 0 needs.",
                       fix);
    }
}

void CheckBoundPrinter(const plat::posix::UsbPrinterNode& printer,
                       const std::vector<std::string>& libraryDevices, Findings* findings) {
    // A printer without a serial number is known by its USB port path.
    std::string serial = printer.instance == printer.portPath ? "" : printer.instance;
    UsbDevice device{UsbLabel(printer.productId, serial) + " (" + printer.name + ")",
                     printer.usbDevice};
    const int readWrite = kMayRead | kMayWrite;
    std::string listed = printer.vendorId + ":" + printer.productId + ":" + printer.instance;
    bool libraryLists =
        std::any_of(libraryDevices.begin(), libraryDevices.end(),
                    [&](const std::string& entry) { return LowerIds(entry) == LowerIds(listed); });
    if (!Exists(printer.node)) {
        findings->Problem(
            "usb", device.label + ": usblp is bound, but its node " + printer.node + " is missing.",
            "unplug and plug the printer; if the node stays missing, check that "
            "udev runs.");
    } else if (!Allows(printer.node, Who(), readWrite)) {
        findings->Problem("usb",
                          device.label + ": " + Who().name + " may not write " + printer.node +
                              " (" + DescribeOwnership(printer.node) + ").",
                          AccessFix(printer.node, readWrite, "lp"));
    } else if (!libraryLists && Allows(printer.node, ProcessIdentity(), readWrite)) {
        // usblp lets a node be open once: the library's test open failed.
        findings->Problem("usb",
                          device.label + ": " + printer.node +
                              " is open in another program, so the library cannot use it.",
                          "stop the program that holds it (a print spooler's queue for this "
                          "printer), or remove that queue.");
    } else {
        findings->Ok("usb", device.label + ": usblp is bound and " + Who().name + " may write " +
                                printer.node + ".");
    }
    CheckUsbfs(device, findings);
}

// A device of the vendor that usblp has not taken: why, and what to do.
void CheckUnboundDevice(const std::string& name, const std::string& folder, Findings* findings) {
    std::string label =
        UsbLabel(ReadAttribute(folder + "/idProduct"), ReadAttribute(folder + "/serial"));
    DIR* directory = opendir(folder.c_str());
    std::string printerInterface;
    while (directory != nullptr && printerInterface.empty()) {
        struct dirent* entry = readdir(directory);
        if (entry == nullptr) break;
        std::string child = entry->d_name;
        if (child.compare(0, name.size() + 1, name + ":") == 0 &&
            ReadAttribute(folder + "/" + child + "/bInterfaceClass") == kPrinterInterfaceClass) {
            printerInterface = folder + "/" + child;
        }
    }
    if (directory != nullptr) closedir(directory);
    if (printerInterface.empty()) {
        findings->Ok("usb", label + ": not a printer (no printer interface).");
        return;
    }
    std::string driver = RealPath(printerInterface + "/driver");
    driver = driver.substr(driver.rfind('/') + 1);
    if (driver.empty()) {
        findings->Problem("usb",
                          label +
                              ": the usblp driver is not bound to it, so the library cannot "
                              "see it.",
                          "sudo modprobe usblp, then unplug and plug the printer (if a file in "
                          "/etc/modprobe.d says \"blacklist usblp\", remove that line first).");
    } else {
        findings->Problem("usb",
                          label + ": its printer interface is held by the " + driver +
                              " driver instead of usblp, so the library cannot see it.",
                          "stop the program that drives the printer directly (a print spooler's "
                          "USB backend), then unplug and plug the printer.");
    }
}

}  // namespace

bool SelectUser(const std::string& userName, std::string* error) {
    if (userName.empty()) return true;
    if (AccountIdentity(userName, &Who())) return true;
    *error = "there is no user " + userName;
    return false;
}

std::string DescribeUser() {
    return Who().name + " (uid " + std::to_string(Who().uid) + ")";
}

void CheckUser(Findings* findings) {
    if (Who().uid == 0) {
        findings->Note("user", "checking for root, who may open every device.",
                       "run sorlink doctor as the user of the point-of-sale application, or "
                       "add --user NAME.");
        return;
    }
    // The primary group is also among the supplementary ones of a process.
    std::string groups;
    std::set<gid_t> listed;
    for (gid_t group : Who().groups) {
        if (!listed.insert(group).second) continue;
        groups += (groups.empty() ? "" : ", ") + GroupName(group);
    }
    findings->Ok("user", Who().name + " is in the groups " + groups + ".");
}

void CheckRegistryFile(Findings* findings) {
    plat::RegistryFileReport report = plat::InspectRegistryFile();
    const char* named = std::getenv("SORLINK_REGISTRY");
    if (!report.present) {
        if (named != nullptr && named[0] != '\0') {
            findings->Problem("registry",
                              "SORLINK_REGISTRY names " + report.path + ", which is not a file.",
                              "create it, or unset SORLINK_REGISTRY to use "
                              "/etc/sorlink/registry.reg.");
        } else {
            findings->Problem("registry",
                              "there is no registry file " + report.path +
                                  ": no port has a COM name and no printer is installed by name.",
                              "copy " + ExampleRegistryFile() + " to " + report.path +
                                  " and fill in your ports and printers.");
        }
        return;
    }
    if (!Allows(report.path, Who(), kMayRead)) {
        findings->Problem("registry",
                          Who().name + " may not read " + report.path + " (" +
                              DescribeOwnership(report.path) + "), so the library finds it empty.",
                          "sudo chmod a+r " + report.path);
    } else if (report.tooLarge) {
        findings->Problem("registry",
                          report.path + " is larger than 16 MiB and is ignored as a whole.",
                          "keep only the keys the library reads (docs/api.md, \"The registry on "
                          "Linux\").");
    } else if (report.skippedLines > 0) {
        std::string count = std::to_string(report.skippedLines);
        // The first few line numbers tell where to look; a file of noise
        // would otherwise print thousands.
        std::string numbers;
        const std::size_t shown = 10;
        for (std::size_t i = 0; i < report.skippedLineNumbers.size() && i < shown; ++i) {
            numbers += (i == 0 ? "" : ", ") + std::to_string(report.skippedLineNumbers[i]);
        }
        if (report.skippedLineNumbers.size() > shown) numbers += ", ...";
        findings->Problem(
            "registry",
            count + (report.skippedLines == 1 ? " line" : " lines") + " of " + report.path +
                " could not be read and " + (report.skippedLines == 1 ? "is" : "are") +
                " ignored (line " + numbers + ").",
            "correct or remove those lines: the format is the registry editor's .reg export "
            "(docs/api.md, \"The registry on Linux\").");
    } else {
        findings->Ok("registry", report.path + " is read, no line skipped.");
    }
}

void CheckSerialPort(const std::string& portName, Findings* findings) {
    std::string device = SerialDevice(portName);
    std::string label = device == portName ? device : portName + " (" + device + ")";
    const int readWrite = kMayRead | kMayWrite;
    if (!Exists(device)) {
        findings->Problem("serial", label + ": the device does not exist.",
                          "plug the adapter in, or correct the device named for " + portName +
                              " in the registry file (Hardware\\Devicemap\\Serialcomm).");
    } else if (!Allows(device, Who(), readWrite)) {
        findings->Problem(
            "serial",
            label + ": " + Who().name + " may not open it (" + DescribeOwnership(device) + ").",
            AccessFix(device, readWrite, "dialout"));
    } else {
        findings->Ok("serial", label + ": " + Who().name + " may open it.");
    }
}

void CheckUsbDevices(const std::vector<std::string>& libraryDevices, Findings* findings) {
    std::set<std::string> bound;
    for (const plat::posix::UsbPrinterNode& printer : plat::posix::UsbPrinterNodes()) {
        if (printer.vendorId != kVendorId) continue;
        bound.insert(RealPath(printer.usbDevice));
        CheckBoundPrinter(printer, libraryDevices, findings);
    }
    std::size_t unbound = 0;
    std::string devices = plat::posix::SysfsRoot() + "/bus/usb/devices";
    DIR* directory = opendir(devices.c_str());
    while (struct dirent* entry = directory != nullptr ? readdir(directory) : nullptr) {
        const std::string name = entry->d_name;
        // Interfaces (1-1:1.0) and root hubs (usb1) are not devices to check.
        if (name[0] == '.' || name.find(':') != std::string::npos ||
            name.compare(0, 3, "usb") == 0) {
            continue;
        }
        std::string folder = RealPath(devices + "/" + name);
        if (folder.empty() || bound.count(folder) != 0 ||
            ReadAttribute(folder + "/idVendor") != kVendorId) {
            continue;
        }
        ++unbound;
        CheckUnboundDevice(name, folder, findings);
    }
    if (directory != nullptr) closedir(directory);
    if (bound.empty() && unbound == 0) {
        findings->Ok("usb",
                     std::string("no USB device of vendor ") + kVendorId + " is plugged in.");
    }
}

// The default log of the user checked: the library's own answer for this
// process; for another account, the place in its home folder (its session's
// XDG_STATE_HOME is not known here).
std::string DefaultLogPath() {
    if (!Who().isThisProcess) {
        const struct passwd* account = getpwnam(Who().name.c_str());
        if (account == nullptr || account->pw_dir == nullptr || account->pw_dir[0] != '/') {
            return "";
        }
        // A service account without a home folder (/nonexistent) has no
        // default log.
        if (!Exists(account->pw_dir)) return "";
        return std::string(account->pw_dir) + "/.local/state/sorlink/Sorlink.log";
    }
    char path[PATH_MAX];
    return plat::DefaultLayerLogPath(path, sizeof path) ? path : "";
}

void CheckPrintQueues(Findings* findings) {
    plat::posix::CupsQueueList cups = plat::posix::CupsQueues();
    if (!cups.schedulerExpected) {
        findings->Ok("cups", "no CUPS scheduler is set up: printers come from the registry file.");
        return;
    }
    if (!cups.libraryLoaded) {
        findings->Problem("cups",
                          "a CUPS scheduler is set up, but its client library libcups.so.2 is "
                          "missing: its queues are not seen.",
                          "sudo apt install libcups2");
        return;
    }
    // IPP status 0x0400 and above are errors (no scheduler answered).
    if (cups.lastError >= 0x0400 && cups.queues.empty()) {
        char status[16];
        std::snprintf(status, sizeof status, "0x%04x", static_cast<unsigned>(cups.lastError));
        const char* server = std::getenv("CUPS_SERVER");
        findings->Problem(
            "cups",
            std::string("the CUPS scheduler") +
                (server != nullptr ? std::string(" at ") + server : "") +
                (cups.timedOut ? " did not answer in time" : std::string(" did not answer")) +
                " (IPP status " + status + "): its queues are not seen.",
            "sudo systemctl start cups, or correct CUPS_SERVER.");
        return;
    }
    if (cups.queues.empty()) findings->Ok("cups", "the CUPS scheduler has no queue.");
    for (const plat::posix::CupsQueue& queue : cups.queues) {
        plat::posix::CupsDevice device = plat::posix::ParseDeviceUri(queue.deviceUri);
        if (!plat::posix::UsableQueueName(queue.name)) {
            findings->Problem("cups",
                              "queue " + queue.name +
                                  ": a \"|\" or \"\\\" in its name cannot stand in the "
                                  "library's printer lists, so the library leaves it out.",
                              "rename the queue (lpadmin -p NEWNAME -E -v " + queue.deviceUri +
                                  "; lpadmin -x " + queue.name + ").");
        } else if (device.kind == plat::posix::CupsDevice::kOther) {
            findings->Note("cups",
                           "queue " + queue.name + " (" + queue.deviceUri +
                               ") is no socket://, usb://?serial= or serial: queue: the library "
                               "does not use it.",
                           "");
        }
    }
}

void CheckLogFolder(Findings* findings) {
    std::string path = DefaultLogPath();
    if (path.empty()) {
        findings->Problem("log",
                          Who().name +
                              " has no home folder for the default log: ports created "
                              "without a log path log nothing.",
                          "give each port a log path.");
        return;
    }
    // The library uses only a regular file there and never follows a link
    // in its place: anything else takes no lines.
    struct stat found {};
    if (lstat(path.c_str(), &found) == 0 && !S_ISREG(found.st_mode)) {
        const char* what = S_ISLNK(found.st_mode)    ? "a symbolic link"
                           : S_ISDIR(found.st_mode)  ? "a folder"
                           : S_ISFIFO(found.st_mode) ? "a FIFO"
                                                     : "no regular file";
        std::string fix =
            S_ISDIR(found.st_mode) ? "sudo mv " + path + " " + path + ".old" : "sudo rm " + path;
        findings->Problem("log",
                          "The default log " + path + " is " + what +
                              ": the library writes only a regular file there, so ports "
                              "created without a log path log nothing.",
                          fix + " (the library creates the file), or give each port a log path.");
        return;
    }
    if (Exists(path)) {
        if (Allows(path, Who(), kMayWrite)) {
            findings->Ok("log", Who().name + " may write the default log " + path + ".");
        } else {
            findings->Problem("log",
                              Who().name + " may not write the default log " + path + " (" +
                                  DescribeOwnership(path) +
                                  "): ports created without a log path log nothing.",
                              "sudo rm " + path +
                                  " (the library creates it again), or give "
                                  "each port a log path.");
        }
        return;
    }
    // The library creates the missing folders: the nearest one that exists
    // must take them.
    std::string folder = Folder(path);
    while (!Exists(folder) && folder != "/") folder = Folder(folder);
    if (Allows(folder, Who(), kMayWrite | kMaySearch)) {
        findings->Ok("log", Who().name + " may create the default log " + path + ".");
    } else if (folder == "/") {
        // Nothing of the path exists: the account's home folder is missing
        // (a service account's /nonexistent), and "/" is no place for it.
        const struct passwd* account = getpwnam(Who().name.c_str());
        std::string home = account != nullptr && account->pw_dir != nullptr ? account->pw_dir : "";
        findings->Problem("log",
                          Who().name + " has no home folder" +
                              (home.empty() ? "" : " (" + home + " does not exist)") +
                              " for the default log " + path +
                              ": ports created without a log path log nothing.",
                          "give each port a log path.");
    } else {
        findings->Problem(
            "log",
            Who().name + " may not create the default log " + path + " in " + folder + " (" +
                DescribeOwnership(folder) + "): ports created without a log path log nothing.",
            "give each port a log path, or let " + Who().name + " write to " + folder + ".");
    }
}

}  // namespace sorlink_tool::doctor
