// Every installed printer, as the library reads it (the registry file and,
// on Linux, the CUPS queues): its port resolves, its device is there, and
// the mistakes people make when writing these keys by hand are named.
#include "tools/sorlink/doctor/Printers.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "sorlink.h"
#include "tools/sorlink/ResultCodes.h"
#include "tools/sorlink/Session.h"

namespace sorlink_tool::doctor {

namespace {

const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const char kPortsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";

// One value of a key; found is false when the key or a value of that type
// is missing.
struct RegValue {
    bool found = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    std::string Text() const {
        std::string text(data.begin(), data.end());
        return text.substr(0, text.find('\0'));
    }
    std::uint32_t Number() const {
        std::uint32_t number = 0;
        for (std::size_t i = 0; i < 4 && i < data.size(); ++i) number |= data[i] << (8 * i);
        return number;
    }
};

RegValue ReadValue(const std::string& keyPath, const char* name) {
    RegValue value;
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, keyPath.c_str(), 0, plat::kKeyRead, &key) !=
        0) {
        return value;
    }
    value.data.resize(1024);
    std::uint32_t size = static_cast<std::uint32_t>(value.data.size());
    value.found = plat::RegQueryValueExA(key, name, &value.type, value.data.data(), &size) == 0;
    value.data.resize(value.found ? size : 0);
    plat::RegCloseKey(key);
    return value;
}

bool KeyExists(const std::string& keyPath) {
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, keyPath.c_str(), 0, plat::kKeyRead, &key) !=
        0) {
        return false;
    }
    plat::RegCloseKey(key);
    return true;
}

std::vector<std::string> SubKeys(const std::string& keyPath) {
    std::vector<std::string> names;
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, keyPath.c_str(), 0, plat::kKeyRead, &key) !=
        0) {
        return names;
    }
    char name[1024];
    for (std::uint32_t index = 0; index < 100000; ++index) {
        if (plat::RegEnumKeyA(key, index, name, sizeof name) != 0) break;
        names.emplace_back(name);
    }
    plat::RegCloseKey(key);
    return names;
}

struct Printer {
    std::string name;
    std::string port;
    std::string deviceUri;  // set for a CUPS queue
    std::string Label() const {
        return deviceUri.empty() ? name : name + " (CUPS queue " + deviceUri + ")";
    }
    // Where its keys are mended.
    std::string Source() const {
        return deviceUri.empty() ? "the registry file" : "the CUPS queue (lpadmin -p " + name + ")";
    }
};

// "dword:9100" in a .reg file is hexadecimal: port 37120. A port number
// whose hexadecimal digits read as a usual printer port in decimal was
// almost certainly written in decimal.
bool LooksWrittenInDecimal(std::uint32_t number) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", number);
    std::string digits = hex;
    if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
    long decimal = std::stol(digits);
    return (decimal >= 9100 && decimal <= 9109) || decimal == 515 || decimal == 631 ||
           decimal == 4000;
}

void CheckTcpPrinter(const Printer& printer, bool connect, int connectTimeout, Findings* findings) {
    std::string portKey = kPortsKey + printer.port;
    RegValue number = ReadValue(portKey, "PortNumber");
    if (number.found && number.type == plat::kRegDword && LooksWrittenInDecimal(number.Number())) {
        char hex[16], decimal[16];
        std::snprintf(hex, sizeof hex, "%x", number.Number());
        std::snprintf(decimal, sizeof decimal, "%08x", static_cast<unsigned>(std::stol(hex)));
        findings->Problem("tcp",
                          printer.Label() + ": \"PortNumber\"=dword:" + hex +
                              " is hexadecimal, TCP port " + std::to_string(number.Number()) + ".",
                          std::string("for port ") + hex + " write \"PortNumber\"=dword:" +
                              decimal + " in " + printer.Source() + ".");
    }
    Session session;
    if (!session.Create(SORLINK_LINK_ETHERNET, LogSettings())) return;
    int result = InitEthTCPPrinter(printer.name.c_str());
    if (result != 0) {
        std::string fix =
            printer.deviceUri.empty()
                ? "correct the printer's port in the registry file (\"Port\" of the printer, "
                  "\"IpAddress\" or \"HostName\" and \"PortNumber\" of the port)."
                : "give the queue the printer's IPv4 address: sudo lpadmin -p " + printer.name +
                      " -v socket://ADDRESS:PORT (host names are not resolved).";
        findings->Problem("tcp",
                          printer.Label() + ": the library cannot use its settings: " +
                              DescribeResult(result, "InitEthTCPPrinter") + ".",
                          fix);
        return;
    }
    char address[64] = {};
    int port = 0;
    GetEthIpAndPort(address, &port);
    std::string where = printer.Label() + " at " + address + ":" + std::to_string(port);
    if (!connect) {
        findings->Ok("tcp", where + " (sorlink doctor --connect tries it).");
        return;
    }
    if (connectTimeout > 0) SetEthConnTimeout(connectTimeout);
    result = Open();
    if (result == 0) {
        findings->Ok("tcp", where + " accepts a connection.");
        Close();
        return;
    }
    findings->Problem("tcp", where + ": no connection: " + DescribeResult(result, "Open") + ".",
                      std::string("check that the printer is on and on the network, and that ") +
                          address + " port " + std::to_string(port) + " is its address and port.");
}

void CheckUsbPrinter(const Printer& printer, Findings* findings) {
    std::string instanceId =
        ReadValue(std::string(kPrintersKey) + printer.name + "\\PnPData", "DeviceInstanceId")
            .Text();
    if (instanceId.find('\\') == std::string::npos) {
        findings->Problem("usb",
                          printer.Label() + ": its DeviceInstanceId \"" + instanceId +
                              "\" has no backslash, so it names no device.",
                          "in a .reg file every backslash is written twice: "
                          "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\7&1A2B3C4D&0&USB001\".");
        return;
    }
    Session session;
    if (!session.Create(SORLINK_LINK_USB, LogSettings())) return;
    int result = InitUsbPrinter(printer.name.c_str());
    if (result == 303 || result == 325) {
        std::string fix =
            printer.deviceUri.empty()
                ? "plug the printer in; otherwise the ParentIdPrefix in its DeviceInstanceId "
                  "(the text between the last backslash and the last &) must be that of a "
                  "device under Enum\\USB: 'sorlink usb' lists the devices present."
                : "plug the printer in, or give the queue the serial number 'sorlink usb' "
                  "shows: sudo lpadmin -p " +
                      printer.name + " -v 'usb://MAKE/MODEL?serial=SERIAL'.";
        findings->Problem("usb",
                          printer.Label() + ": no present USB device belongs to it (" +
                              DescribeResult(result, "InitUsbPrinter") + ").",
                          fix);
        return;
    }
    if (result != 0) {
        findings->Problem("usb",
                          printer.Label() + ": " + DescribeResult(result, "InitUsbPrinter") + ".",
                          "sorlink codes " + std::to_string(result) + " explains it.");
        return;
    }
    char vendor[8] = {}, product[8] = {};
    GetUsbVidPid(vendor, product);
    result = Open();
    if (result != 0) {
        findings->Problem("usb",
                          printer.Label() + " (" + vendor + ":" + product +
                              "): the device does not open: " + DescribeResult(result, "Open") +
                              ".",
                          "see the usb lines above for the device's access.");
        return;
    }
    Close();
    findings->Ok("usb", printer.Label() + " on " + vendor + ":" + product + " opens.");
}

void CheckSerialPrinter(const Printer& printer, const std::vector<std::string>& ports,
                        Findings* findings) {
    std::string port = printer.port.substr(0, printer.port.size() - 1);
    bool mapped = false;
    for (const std::string& known : ports) mapped = mapped || known == port;
    if (!mapped) {
        // A queue's port is its device itself: it is missing, not unmapped.
        std::string fix =
            printer.deviceUri.empty()
                ? "map it in the registry file: \"/dev/ttyS0\"=\"" + port +
                      "\" under [HKEY_LOCAL_MACHINE\\Hardware\\Devicemap\\Serialcomm] "
                      "(the device it is on), or correct the printer's \"Port\"."
                : "connect the device, or give the queue the device it is on: sudo lpadmin -p " +
                      printer.name + " -v serial:/dev/ttyS0";
        findings->Problem(
            "serial", printer.Label() + " prints to " + port + ", which is mapped to no device.",
            fix);
        return;
    }
    Session session;
    if (!session.Create(SORLINK_LINK_SERIAL, LogSettings())) return;
    int result = InitSerialPrinter(printer.name.c_str());
    if (result != 0) {
        findings->Problem(
            "serial", printer.Label() + ": " + DescribeResult(result, "InitSerialPrinter") + ".",
            "sorlink codes " + std::to_string(result) + " explains it.");
        return;
    }
    findings->Ok("serial", printer.Label() + " on " + port +
                               " (the serial lines above tell whether it may be opened).");
}

}  // namespace

void CheckInstalledPrinters(const std::vector<std::string>& serialPorts, bool connect,
                            int connectTimeout, Findings* findings) {
    std::vector<std::string> names = SubKeys(kPrintersKey);
    if (names.empty()) findings->Ok("printers", "no printer is installed.");
    for (const std::string& name : names) {
        Printer printer;
        printer.name = name;
        std::string key = kPrintersKey + name;
        printer.port = ReadValue(key, "Port").Text();
        printer.deviceUri = ReadValue(key, "DeviceUri").Text();
        if (!printer.port.empty() && KeyExists(kPortsKey + printer.port)) {
            CheckTcpPrinter(printer, connect, connectTimeout, findings);
        } else if (KeyExists(key + "\\PnPData")) {
            CheckUsbPrinter(printer, findings);
        } else if (printer.port.size() > 1 && printer.port.back() == ':') {
            CheckSerialPrinter(printer, serialPorts, findings);
        } else {
            findings->Problem(
                "printers",
                printer.Label() + ": its port \"" + printer.port +
                    "\" is no serial port (COM1:), no Standard TCP/IP port, and it has no "
                    "PnPData key of a USB printer.",
                "for a TCP/IP printer the port's key must be spelled exactly "
                "[HKEY_LOCAL_MACHINE\\" +
                    std::string(kPortsKey) + printer.port +
                    "] (a misspelled key is not read); see docs/api.md, \"The registry on "
                    "Linux\".");
        }
    }
}

}  // namespace sorlink_tool::doctor
