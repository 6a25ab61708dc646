// CSvComUsb: choosing the interface type and naming the device, by vendor
// ID, product ID and serial number or by the name of an installed printer.
#include <cstdio>
#include <cstring>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/registry/CRegistry.h"
#include "comlayer/usb/CSvComUsb.h"
#include "comlayer/usb/UsbKeys.h"
#include "comlayer/usb/UsbNames.h"
#include "platform/registry.h"

namespace {

// Only the maker's own devices are accepted.
const char kMakerVendorId[] = "0f3c";

const char* Text(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

int CSvComUsb::InitInterface(int type) {
    const char* prefix = "CSvComUsb::InitInterface - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (opened) {
        logFile->Writef(prefix, LOG_ERROR, "Init failed: USB device already opened\n");
        return 301;
    }
    if (type < USB_INTERFACE_0 || type > USB_INTERFACE_SCANNER) {
        logFile->Writef(prefix, LOG_ERROR, "The interface type %d is not valid\n", type);
        return 307;
    }
    if (initialized && type != interfaceType) {
        std::memset(vid, 0, sizeof(vid));
        std::memset(pid, 0, sizeof(pid));
        std::memset(parentPrefixId, 0, sizeof(parentPrefixId));
        std::memset(serialNumber, 0, sizeof(serialNumber));
        byPrinterName = 0;
        initialized = 0;
    }
    interfaceType = type;
    logFile->Writef(prefix, LOG_INFO, "Interface type setted: %d \n", type);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::InitVidPidSerial(const char* vendorId, const char* productId, const char* serial) {
    const char* prefix = "CSvComUsb::InitVidPidSerial - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    int wasInitialized = initialized;
    initialized = 1;
    // The caller's texts are read no further than their fields hold: a text
    // without a terminator there is logged cut, then refused below.
    logFile->Writef(prefix, LOG_INFO,
                    "try to init USb device with parameters VID=%.5s ,PID=%.5s, Serial "
                    "Number=%.1023s \n",
                    Text(vendorId), Text(productId), Text(serial));
    if (opened) {
        initialized = wasInitialized;
        logFile->Writef(prefix, LOG_ERROR, "Init failed: USB device already opened\n");
        return 301;
    }
    if (vendorId == nullptr || !EqualNoCase(vendorId, kMakerVendorId)) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "VID %.5s not valid\n", Text(vendorId));
        return 303;
    }
    if (productId == nullptr || strnlen(productId, 5) != 4) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "VID %s or PID %.5s not valid\n", vendorId,
                        Text(productId));
        return 303;
    }
    // A serial number that would not fit the field is as unusable as an
    // empty one: refusing it keeps the object from naming a device it
    // could never find.
    std::size_t serialLength = serial != nullptr ? strnlen(serial, kTextSize) : 0;
    if (serialLength == 0 || serialLength >= kTextSize) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "Serial number not valid\n");
        return 303;
    }
    std::memset(vid, 0, sizeof(vid));
    std::memset(pid, 0, sizeof(pid));
    std::memset(serialNumber, 0, sizeof(serialNumber));
    std::memcpy(vid, vendorId, 4);
    std::memcpy(pid, productId, 4);
    // The registry names instances with underscores where the device
    // reports blanks, tabs, control or non-ASCII bytes, and the path
    // separators "#", "\\" and "/" (which would cut the device path or the
    // registry key apart), so the serial number as the device reports it
    // finds the instance as listed. The caller's text is read only: it may
    // be a literal.
    for (std::size_t i = 0; i < serialLength; ++i) {
        unsigned char c = static_cast<unsigned char>(serial[i]);
        bool separator = c == '#' || c == '\\' || c == '/';
        serialNumber[i] = c < 0x21 || c > 0x7e || separator ? '_' : serial[i];
    }
    byPrinterName = 0;
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::InitPrinter(const char* printerName) {
    const char* prefix = "CSvComUsb::InitPrinter - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    int wasInitialized = initialized;
    initialized = 1;
    logFile->Writef(prefix, LOG_ERROR, "Try to init USB printer with name %.1023s \n", printerName);
    if (opened) {
        initialized = wasInitialized;
        logFile->Writef(prefix, LOG_ERROR, "Init failed: USB device already opened\n");
        return 301;
    }
    if (interfaceType == USB_INTERFACE_SCANNER) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "A scanner can not be initalized from a printer name\n");
        return 306;
    }

    CRegistry registry;
    int printerCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, kPrintersKey);
    bool found = false;
    for (int i = 0; i < printerCount && !found; ++i) {
        plat::Hkey key = 0;
        long status =
            plat::RegOpenKeyExA(plat::kHkeyLocalMachine, kPrintersKey, 0, plat::kKeyRead, &key);
        if (status != 0) {
            lastSystemError = static_cast<int>(status);
            initialized = 0;
            logFile->Writef(prefix, LOG_ERROR, "Error opening registry key: %s \n", kPrintersKey);
            return 1;
        }
        char name[kTextSize] = {};
        if (plat::RegEnumKeyA(key, static_cast<std::uint32_t>(i), name, sizeof(name)) == 0) {
            found = std::strcmp(name, printerName) == 0;
        }
        plat::RegCloseKey(key);
    }
    if (!found) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR,
                        "A printer with the name %.1023s has not found in the registry %s \n",
                        printerName, kPrintersKey);
        return 302;
    }

    logFile->Writef(prefix, LOG_INFO, "Try to init printer %s\n", printerName);
    char prefixId[kTextSize] = {};
    if (!ExtractParentPrefixID(printerName, prefixId)) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR,
                        "Error extracting ParentPrefixID from DeviceInstanceID \n");
        return 325;
    }

    char hardwareId[kTextSize] = {};
    int result = FindHardwareIdOfPrefix(prefixId, hardwareId);
    if (result != 0) {
        initialized = 0;
        return result;
    }
    if (hardwareId[0] == '\0') {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR,
                        "Impossible to associate a VID and a PID to ParentPrefixID %s\n", prefixId);
        return 303;
    }
    if (std::strlen(hardwareId) < 17) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR,
                        "Impossible to extract VID and PID from registry name %s \n", hardwareId);
        return 303;
    }
    char foundVid[5] = {};
    char foundPid[5] = {};
    std::memcpy(foundVid, hardwareId + 4, 4);
    std::memcpy(foundPid, hardwareId + 13, 4);
    if (!EqualNoCase(foundVid, kMakerVendorId)) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "VID %s not valid\n", foundVid);
        return 303;
    }
    std::memcpy(vid, foundVid, sizeof(vid));
    std::memcpy(pid, foundPid, sizeof(pid));
    std::memset(parentPrefixId, 0, sizeof(parentPrefixId));
    std::memcpy(parentPrefixId, prefixId, std::strlen(prefixId));
    logFile->Writef(prefix, LOG_INFO, "VID=%s , PID=%s , ParentPrefixID= %s for printer %s\n", vid,
                    pid, parentPrefixId, printerName);
    byPrinterName = 1;
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

// The hardware-ID key under Enum\USB one of whose instances carries the
// prefix, into hardwareIdOut (left empty when none does). 0, or 1 when a
// key failed to open.
int CSvComUsb::FindHardwareIdOfPrefix(const char* prefixId, char* hardwareIdOut) {
    const char* prefix = "CSvComUsb::InitPrinter - ";
    CRegistry registry;
    int deviceCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, kUsbEnumKey);
    plat::Hkey enumKey = 0;
    long status =
        plat::RegOpenKeyExA(plat::kHkeyLocalMachine, kUsbEnumKey, 0, plat::kKeyRead, &enumKey);
    if (status != 0) {
        lastSystemError = static_cast<int>(status);
        logFile->Writef(prefix, LOG_ERROR, "Error opening registry key: %s \n", kUsbEnumKey);
        return 1;
    }
    for (int d = 0; d < deviceCount; ++d) {
        char hardwareId[kTextSize] = {};
        if (plat::RegEnumKeyA(enumKey, static_cast<std::uint32_t>(d), hardwareId,
                              sizeof(hardwareId)) != 0) {
            continue;
        }
        char devicePath[2 * kTextSize];
        std::snprintf(devicePath, sizeof(devicePath), "%s%s\\", kUsbEnumKey, hardwareId);
        int instanceCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, devicePath);
        plat::Hkey deviceKey = 0;
        status =
            plat::RegOpenKeyExA(plat::kHkeyLocalMachine, devicePath, 0, plat::kKeyRead, &deviceKey);
        if (status != 0) {
            lastSystemError = static_cast<int>(status);
            logFile->Writef(prefix, LOG_ERROR, "Error opening registry key: %s \n", devicePath);
            plat::RegCloseKey(enumKey);
            return 1;
        }
        bool found = false;
        for (int j = 0; j < instanceCount && !found; ++j) {
            char instance[kTextSize] = {};
            if (plat::RegEnumKeyA(deviceKey, static_cast<std::uint32_t>(j), instance,
                                  sizeof(instance)) != 0) {
                continue;
            }
            char instancePath[3 * kTextSize];
            std::snprintf(instancePath, sizeof(instancePath), "%s%s", devicePath, instance);
            char value[CRegistry::kValueSize] = {};
            found = registry.ReadString(plat::kHkeyLocalMachine, instancePath, "ParentIdPrefix",
                                        value) == 1 &&
                    EqualNoCase(value, prefixId);
        }
        plat::RegCloseKey(deviceKey);
        if (found) {
            std::memcpy(hardwareIdOut, hardwareId, std::strlen(hardwareId) + 1);
            break;
        }
    }
    plat::RegCloseKey(enumKey);
    return 0;
}
