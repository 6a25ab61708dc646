// Printers installed on Standard TCP/IP ports: listing them, initialising
// the transport by a printer's name, and reading back the address in use.
#include <cstring>
#include <string>

#include "comlayer/ethernet/CSvComEth.h"
#include "comlayer/log/CSvLogFile.h"
#include "comlayer/registry/CRegistry.h"
#include "platform/registry.h"

namespace {
const char kPrintersKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const char kPortsKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
constexpr std::uint32_t kNameSize = 1024;
// The address found for a printer goes through a 16-byte buffer.
constexpr std::size_t kPrinterAddressSize = 16;

bool EqualIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

// The name of the sub-key at index; false (and an empty text) when it cannot
// be read. Such an entry is skipped: its empty name would match every
// printer whose Port value is missing or empty.
bool SubKeyName(plat::Hkey key, std::uint32_t index, char (&name)[kNameSize]) {
    name[0] = '\0';
    if (plat::RegEnumKeyA(key, index, name, kNameSize) == 0) return true;
    name[0] = '\0';
    return false;
}

// Opens a key for reading; 0 on success, otherwise the registry's error.
long OpenKey(const std::string& path, plat::Hkey* key) {
    return plat::RegOpenKeyExA(plat::kHkeyLocalMachine, path.c_str(), 0, plat::kKeyRead, key);
}
}  // namespace

// The registry reports its error as the result, not as the last error.
int CSvComEth::KeyNotOpened(const char* prefix, const char* path, long status) {
    lastSystemError = static_cast<int>(status);
    logFile->Writef(prefix, LOG_ERROR, "Error opening registry key: %s \n", path);
    return 1;
}

int CSvComEth::EnumEthernet(char* out, unsigned size) {
    const char* prefix = "CSvComEth::EnumEthernet - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (out == nullptr) return Error(prefix, "Null argument\n", 5);
    CRegistry registry;
    // Not cut at 1024 bytes: the caller's size alone decides whether it fits.
    std::string list;
    int portCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, kPortsKey);
    plat::Hkey portsKey = 0;
    long status = OpenKey(kPortsKey, &portsKey);
    if (status != 0) return KeyNotOpened(prefix, kPortsKey, status);
    for (int portIndex = 0; portIndex < portCount; ++portIndex) {
        char portName[kNameSize];
        if (!SubKeyName(portsKey, static_cast<std::uint32_t>(portIndex), portName)) continue;
        int printerCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, kPrintersKey);
        plat::Hkey printersKey = 0;
        status = OpenKey(kPrintersKey, &printersKey);
        if (status != 0) {
            lastSystemError = static_cast<int>(status);
            continue;
        }
        for (int printerIndex = 0; printerIndex < printerCount; ++printerIndex) {
            char printerName[kNameSize];
            if (!SubKeyName(printersKey, static_cast<std::uint32_t>(printerIndex), printerName)) {
                continue;
            }
            char port[CRegistry::kValueSize] = {};
            std::string printerPath = std::string(kPrintersKey) + printerName;
            if (registry.ReadString(plat::kHkeyLocalMachine, printerPath.c_str(), "Port", port) ==
                0) {
                port[0] = '\0';
            }
            if (EqualIgnoringCase(port, portName)) {
                list += printerName;
                list += '|';
                logFile->Writef(prefix, LOG_INFO, "Ethernet printer found:%s\n", printerName);
                break;
            }
        }
        plat::RegCloseKey(printersKey);
    }
    plat::RegCloseKey(portsKey);

    if (list.empty()) logFile->Write(prefix, "Ethernet printers list is empty\n", LOG_INFO);
    // The last "|" counts as the place of the terminator; an empty list still
    // needs one byte for it.
    if (list.size() > size || size == 0) {
        return Error(prefix, "Buffer size parameter can not contain the result\n", 3);
    }
    if (!list.empty()) list.pop_back();
    std::memcpy(out, list.c_str(), list.size() + 1);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::InitTCPPrinter(const char* printerName) {
    const char* prefix = "CSvComEth::InitTCPPrinter - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (connected == 1) {
        return Error(prefix, "Init failed: a TCP connection is already active\n", 200);
    }
    if (printerName == nullptr) return Error(prefix, "Null argument\n", 5);
    CRegistry registry;
    int printerCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, kPrintersKey);
    for (int index = 0; index < printerCount; ++index) {
        plat::Hkey printersKey = 0;
        long status = OpenKey(kPrintersKey, &printersKey);
        if (status != 0) {
            mode = kModeNone;
            return KeyNotOpened(prefix, kPrintersKey, status);
        }
        char name[kNameSize];
        bool named = SubKeyName(printersKey, static_cast<std::uint32_t>(index), name);
        plat::RegCloseKey(printersKey);
        if (!named || std::strcmp(name, printerName) != 0) continue;

        logFile->Writef(prefix, LOG_INFO, "Try to init printer %s\n", name);
        std::string printerPath = std::string(kPrintersKey) + name;
        plat::Hkey printerKey = 0;
        status = OpenKey(printerPath, &printerKey);
        if (status != 0) {
            mode = kModeNone;
            return KeyNotOpened(prefix, printerPath.c_str(), status);
        }
        plat::RegCloseKey(printerKey);
        char port[CRegistry::kValueSize] = {};
        if (registry.ReadString(plat::kHkeyLocalMachine, printerPath.c_str(), "Port", port) == 0) {
            mode = kModeNone;
            return Error(prefix, "Error reading registry value\n", 2);
        }
        if (port[0] == '\0') {
            mode = kModeNone;
            return Error(prefix, "The port name of the printer to init is not valid\n", 219);
        }
        char address[kPrinterAddressSize] = {};
        unsigned tcpPortNumber = 0;
        int result = ExtractIpAndTCPPort(port, address, &tcpPortNumber);
        if (result != 0) {
            mode = kModeNone;
            return result;
        }
        logFile->Writef(prefix, LOG_INFO, "Printer name:%s, IP:%s, Port:%d\n", name, address,
                        static_cast<int>(tcpPortNumber));
        result = InitTCPIp(address, static_cast<int>(tcpPortNumber));
        if (result == 0) logFile->Write(prefix, "END\n", LOG_TRACE);
        return result;
    }
    logFile->Writef(prefix, LOG_ERROR,
                    "Impossibile to find an installed TCP printer with the name %.1023s\n",
                    printerName);
    mode = kModeNone;
    return 218;
}

// address receives at most 15 characters: a longer "IpAddress" or
// "HostName" is refused (205) rather than cut into another address.
int CSvComEth::ExtractIpAndTCPPort(const char* portName, char* address, unsigned* port) {
    const char* prefix = "CSvComEth::ExtractIpAndTCPPort - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    CRegistry registry;
    int portCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, kPortsKey);
    char name[kNameSize] = {};
    for (int index = 0;; ++index) {
        if (index >= portCount) {
            logFile->Writef(prefix, LOG_ERROR,
                            "Impossibile to find a valid port name %s for the TCP printer\n",
                            portName);
            return 220;
        }
        plat::Hkey portsKey = 0;
        long status = OpenKey(kPortsKey, &portsKey);
        if (status != 0) return KeyNotOpened(prefix, kPortsKey, status);
        bool named = SubKeyName(portsKey, static_cast<std::uint32_t>(index), name);
        plat::RegCloseKey(portsKey);
        if (named && std::strcmp(name, portName) == 0) break;
    }

    std::string portPath = std::string(kPortsKey) + name;
    plat::Hkey portKey = 0;
    long status = OpenKey(portPath, &portKey);
    if (status != 0) {
        mode = kModeNone;
        return KeyNotOpened(prefix, portPath.c_str(), status);
    }
    plat::RegCloseKey(portKey);

    char text[CRegistry::kValueSize] = {};
    if (registry.ReadString(plat::kHkeyLocalMachine, portPath.c_str(), "IpAddress", text) == 0 ||
        text[0] == '\0') {
        if (registry.ReadString(plat::kHkeyLocalMachine, portPath.c_str(), "HostName", text) == 0 ||
            text[0] == '\0') {
            return Error(prefix, "Error reading Ip address of TCP printer from registry\n", 2);
        }
    }
    if (std::strlen(text) >= kPrinterAddressSize) {
        return Error(prefix, "Init failed: IP format not correct \n", 205);
    }
    int number = 0;
    if (registry.ReadDword(plat::kHkeyLocalMachine, portPath.c_str(), "PortNumber", &number) == 0) {
        return Error(prefix, "Error reading TCP port number of TCP printer from registry\n", 2);
    }
    std::strcpy(address, text);
    *port = static_cast<unsigned>(number);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::GetIpAndPort(char* address, int* port) {
    const char* prefix = "CSvComEth::GetIpAndPort - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (address == nullptr || port == nullptr) return Error(prefix, "Null argument\n", 5);
    if (mode != kModeTcp) return Error(prefix, "Open ethernet failed: no init was done\n", 201);
    std::strcpy(address, ipAddress);
    *port = tcpPort;
    logFile->Writef(prefix, LOG_INFO, "IP: %s , Port:%d \n", ipAddress, tcpPort);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}
