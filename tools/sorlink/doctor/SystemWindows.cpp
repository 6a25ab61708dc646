// The doctor's checks on Windows. The registry is the system's own and any
// user may open a serial port or a printer that no other program holds, so
// what is left to check beside the library's lists is the default log,
// which sits in the root of the system drive.
#include <cstdio>

#include "platform/log_file.h"
#include "tools/sorlink/doctor/Printers.h"
#include "tools/sorlink/doctor/System.h"

namespace sorlink_tool::doctor {

bool SelectUser(const std::string& userName, std::string* error) {
    if (userName.empty()) return true;
    *error = "--user is for Linux; on Windows run sorlink doctor as that user";
    return false;
}

std::string DescribeUser() {
    return "this user";
}

void CheckUser(Findings* /*findings*/) {}

void CheckRegistryFile(Findings* /*findings*/) {}

// The spooler's printers are all in the registry on Windows.
void CheckPrintQueues(Findings* /*findings*/) {}

void CheckSerialPort(const std::string& portName, Findings* findings) {
    findings->Ok("serial", portName + " is listed.");
}

void CheckUsbDevices(const std::vector<std::string>& libraryDevices, Findings* findings) {
    for (const std::string& device : libraryDevices) findings->Ok("usb", device + " is present.");
    if (libraryDevices.empty()) findings->Ok("usb", "no USB printer is present.");
}

// Whether this user may write the file is learnt by trying: appending
// changes nothing, and a file created for the test is removed again.
void CheckLogFolder(Findings* findings) {
    char defaultPath[260];
    if (!plat::DefaultLayerLogPath(defaultPath, sizeof defaultPath)) defaultPath[0] = '\0';
    std::string path = defaultPath;
    std::FILE* existing = std::fopen(path.c_str(), "rb");
    if (existing != nullptr) std::fclose(existing);
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) {
        findings->Problem("log",
                          "this user may not write the default log " + path +
                              ": ports created without a log path log nothing.",
                          "give each port a log path in a folder the user may write to.");
        return;
    }
    std::fclose(file);
    if (existing == nullptr) std::remove(path.c_str());
    findings->Ok("log", "this user may write the default log " + path + ".");
}

}  // namespace sorlink_tool::doctor
