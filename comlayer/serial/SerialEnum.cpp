// Listing the serial ports and the printers installed on them, as read
// from the registry.
#include <cstring>
#include <string>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/registry/CRegistry.h"
#include "comlayer/serial/CSvComSerial.h"
#include "comlayer/serial/SerialShared.h"
#include "platform/registry.h"
#include "platform/system.h"

using namespace serial_shared;

namespace {

// Every list is built in a 1024-byte working buffer: an item that would
// not fit, with its separator and the terminator, is left out.
constexpr std::size_t kListSize = 1024;

void AppendItem(std::string* list, const char* item, std::size_t length) {
    if (list->size() + length + 2 > kListSize) return;
    list->append(item, length);
    list->push_back('|');
}

// Copies the list without its final "|" when the caller's buffer holds it
// with its terminator; else 3. An empty list still needs the terminator's
// place: the caller reads the buffer as the list.
int CopyList(const std::string& list, char* out, unsigned size) {
    std::size_t length = list.empty() ? 0 : list.size() - 1;
    if (size < length + 1) return 3;
    std::memcpy(out, list.data(), length);
    out[length] = '\0';
    return 0;
}

}  // namespace

bool CSvComSerial::OpenRegistryKey(const char* prefix, const char* path, plat::Hkey* key) {
    long status = plat::RegOpenKeyExA(plat::kHkeyLocalMachine, path, 0, plat::kKeyRead, key);
    if (status == 0) return true;
    lastSystemError = static_cast<int>(status);
    logFile->Writef(prefix, LOG_ERROR, kOpenKeyFailed, path);
    return false;
}

int CSvComSerial::EnumPorts(char* out, unsigned size) {
    const char* prefix = "CSvComSerial::EnumPorts - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    logFile->Writef(prefix, LOG_INFO, "Searching for serial ports in registry key: %s \n",
                    kSerialCommKey);
    int count = CRegistry().GetValueCount(plat::kHkeyLocalMachine, kSerialCommKey);
    if (count == 0) logFile->Write(prefix, "No serial ports\n", LOG_INFO);
    std::string list;
    for (int index = 0; index < count; ++index) {
        plat::Hkey key = 0;
        if (!OpenRegistryKey(prefix, kSerialCommKey, &key)) return 1;
        // A value that cannot be read names no port: it is skipped.
        std::string devicePath;
        std::string port;
        if (ReadDeviceMapValue(key, static_cast<std::uint32_t>(index), &devicePath, &port) == 0) {
            AppendItem(&list, port.data(), port.size());
        }
        plat::RegCloseKey(key);
    }
    if (CopyList(list, out, size) != 0) {
        logFile->Write(prefix, "Buffer size parameter can not contain the result\n", LOG_ERROR);
        return 3;
    }
    if (count > 0) logFile->Writef(prefix, LOG_INFO, "Serial ports found: %s \n", out);
    logFile->Write("CSvComSerial::EnumPorts", "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::FindPrinters(const char* port, std::string* list) {
    const char* prefix = "CSvComSerial::FindPrinters - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    int count = CRegistry().GetSubKeyCount(plat::kHkeyLocalMachine, kPrintersKey);
    bool found = false;
    for (int index = 0; index < count; ++index) {
        plat::Hkey printers = 0;
        if (!OpenRegistryKey(prefix, kPrintersKey, &printers)) return 1;
        char name[1024] = {};
        long named =
            plat::RegEnumKeyA(printers, static_cast<std::uint32_t>(index), name, sizeof name);
        plat::RegCloseKey(printers);
        // A printer whose name cannot be read (on Windows, one with a
        // character outside the ANSI code page) names no key this listing
        // could open: it is passed over, as the Ethernet listing does, and
        // the other printers are still listed.
        if (named != 0) continue;

        std::string printerKey = std::string(kPrintersKey) + name;
        plat::Hkey printer = 0;
        if (!OpenRegistryKey(prefix, printerKey.c_str(), &printer)) return 1;
        char value[CRegistry::kValueSize] = {};
        if (CRegistry().ReadString(plat::kHkeyLocalMachine, printerKey.c_str(), "Port", value) ==
            0) {
            plat::RegCloseKey(printer);
            logFile->Write(prefix, "Error reading registry value\n", LOG_ERROR);
            return 2;
        }
        std::size_t length = std::strlen(value);
        if (length > 0) value[length - 1] = '\0';  // the colon of "COM1:"
        // A printer without a port name is on no port, not on port "".
        if (value[0] != '\0' && std::strcmp(value, port) == 0) {
            AppendItem(list, name, std::strlen(name));
            found = true;
        }
        plat::RegCloseKey(printer);
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return found ? 0 : -1;
}

int CSvComSerial::EnumPrinters(const char* port, char* out, unsigned size) {
    const char* prefix = "CSvComSerial::EnumPrinters - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    std::string list;
    bool found = false;
    if (port != nullptr) {
        logFile->Writef(prefix, LOG_INFO, "Searching printers for this serial port: %.1023s \n",
                        port);
        int result = FindPrinters(port, &list);
        if (result != 0 && result != -1) return result;
        found = result == 0;
    } else {
        logFile->Write(prefix, "Searching all serial printers\n", LOG_INFO);
        char ports[kListSize] = {};
        EnumPorts(ports, sizeof ports);
        for (const std::string& piece : SplitList(ports)) {
            if (piece.empty()) continue;  // no ports: no port name to match
            int result = FindPrinters(piece.c_str(), &list);
            if (result != 0 && result != -1) return result;
            if (result == 0) found = true;
        }
    }
    if (CopyList(list, out, size) != 0) {
        logFile->Write(prefix, "Buffer size parameter can not contain the result\n", LOG_ERROR);
        return 3;
    }
    if (found) {
        logFile->Writef(prefix, LOG_INFO, "Printers found: %s \n", out);
    } else {
        logFile->Write(prefix, "No printers found\n", LOG_INFO);
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}
