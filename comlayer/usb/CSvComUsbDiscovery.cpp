// CSvComUsb: finding present devices through the device-interface database
// and the registry's USB enumeration, and listing devices and printers.
#include <cstdio>
#include <cstring>
#include <vector>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/registry/CRegistry.h"
#include "comlayer/usb/CSvComUsb.h"
#include "comlayer/usb/UsbKeys.h"
#include "comlayer/usb/UsbNames.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "platform/setupdi.h"
#include "platform/system.h"

namespace {

// Only this many interfaces of a class are examined.
constexpr std::uint32_t kMaxInterfaces = 128;

// "Enum\USB\<hardware ID>\<instance>\".
void InstanceKeyPath(const char* hardwareId, const char* instance, char* out, std::size_t size) {
    std::snprintf(out, size, "%s%s\\%s\\", kUsbEnumKey, hardwareId, instance);
}

}  // namespace

const plat::Guid& CSvComUsb::ClassGuid() const {
    if (interfaceType == USB_INTERFACE_VENDOR) return vendorClassGuid;
    if (interfaceType == USB_INTERFACE_SCANNER) return scannerClassGuid;
    return printerClassGuid;
}

void CSvComUsb::WalkInterfaces(const std::function<bool(const char* path)>& visit,
                               const std::function<void(const char* path, int error)>& refused) {
    const plat::Guid& guid = ClassGuid();
    plat::DevInfo set =
        plat::SetupDiGetClassDevsA(&guid, plat::kDigcfPresent | plat::kDigcfDeviceInterface);
    if (set == plat::kInvalidDevInfo) {
        lastSystemError = static_cast<int>(plat::GetLastError());
        return;
    }
    for (std::uint32_t index = 0; index < kMaxInterfaces; ++index) {
        plat::DeviceInterfaceData data{};
        if (!plat::SetupDiEnumDeviceInterfaces(set, &guid, index, &data)) {
            lastSystemError = static_cast<int>(plat::GetLastError());
            if (lastSystemError == static_cast<int>(plat::kErrorNoMoreItems)) break;
            continue;
        }
        char path[kTextSize] = {};
        plat::Handle handle = OpenInterface(set, &data, path);
        if (handle == plat::kInvalidHandle) {
            // A printer the user may not open, or one another program
            // holds, is there all the same: the commonest set-up fault,
            // which must not pass for an absent device.
            if (path[0] != '\0' &&
                (lastSystemError == static_cast<int>(plat::kErrorAccessDenied) ||
                 lastSystemError == static_cast<int>(plat::kErrorSharingViolation))) {
                logFile->Writef("CSvComUsb::OpenInterface - ", LOG_ERROR,
                                "Device %s is present but can not be opened (error %d)\n", path,
                                lastSystemError);
                if (refused) refused(path, lastSystemError);
            }
            continue;
        }
        bool stop = path[0] != '\0' && visit(path);
        plat::CloseHandle(handle);
        if (stop) break;
    }
    plat::SetupDiDestroyDeviceInfoList(set);
}

plat::Handle CSvComUsb::OpenInterface(plat::DevInfo set, const plat::DeviceInterfaceData* data,
                                      char* pathOut) {
    std::uint32_t required = 0;
    plat::SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required);
    std::vector<char> detail(required > 0 ? required : 1, '\0');
    if (required == 0 ||
        !plat::SetupDiGetDeviceInterfaceDetailA(set, data, detail.data(), required, &required)) {
        lastSystemError = static_cast<int>(plat::GetLastError());
        return plat::kInvalidHandle;
    }
    std::size_t length = strnlen(detail.data(), detail.size());
    if (length >= kTextSize) {
        // A cut path would name another device, or none.
        lastSystemError = static_cast<int>(plat::kErrorInsufficientBuffer);
        return plat::kInvalidHandle;
    }
    std::memcpy(pathOut, detail.data(), length);
    pathOut[length] = '\0';
    plat::Handle handle =
        plat::CreateFileA(pathOut, plat::kGenericRead | plat::kGenericWrite,
                          plat::kFileShareRead | plat::kFileShareWrite, plat::kOpenExisting, 0);
    if (handle == plat::kInvalidHandle) lastSystemError = static_cast<int>(plat::GetLastError());
    return handle;
}

bool CSvComUsb::ExtractParentPrefixID(const char* printerName, char* prefixOut) {
    const char* prefix = "CSvComUsb::ExtractParentPrefixID - ";
    char keyPath[3 * kTextSize];
    std::snprintf(keyPath, sizeof(keyPath), "%s\\%s\\PnPData", kPrintersKey, printerName);
    plat::Hkey key = 0;
    long status = plat::RegOpenKeyExA(plat::kHkeyLocalMachine, keyPath, 0, plat::kKeyRead, &key);
    if (status != 0) {
        lastSystemError = static_cast<int>(status);
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "Error opening registry key: %s \n", keyPath);
        return false;
    }
    char value[CRegistry::kValueSize] = {};
    bool read =
        CRegistry().ReadString(plat::kHkeyLocalMachine, keyPath, "DeviceInstanceId", value) == 1;
    plat::RegCloseKey(key);
    if (!read) {
        logFile->Writef(prefix, LOG_ERROR, "Error reading registry value\n");
        return false;
    }
    // USBPRINT\MODEL\7&1A2B3C4D&0&USB001 -> 7&1A2B3C4D&0
    const char* last = std::strrchr(value, '\\');
    const char* start = last != nullptr ? last + 1 : value;
    const char* end = std::strrchr(start, '&');
    std::size_t length =
        end != nullptr ? static_cast<std::size_t>(end - start) : std::strlen(start);
    std::memcpy(prefixOut, start, length);
    prefixOut[length] = '\0';
    return true;
}

bool CSvComUsb::ReadParentPrefix(const char* prefix, const char* keyPath, char* prefixOut) {
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, keyPath, 0, plat::kKeyRead, &key) != 0) {
        if (prefix != nullptr) {
            logFile->Writef(prefix, LOG_ERROR, "Error opening registry key: %s \n", keyPath);
        }
        return false;
    }
    bool read =
        CRegistry().ReadString(plat::kHkeyLocalMachine, keyPath, "ParentIdPrefix", prefixOut) == 1;
    plat::RegCloseKey(key);
    if (!read && prefix != nullptr) {
        logFile->Writef(prefix, LOG_ERROR, "Error reading registry value\n");
    }
    return read;
}

int CSvComUsb::FindSymbolicLinkFromName(char* linkOut, const char* vendorId, const char* productId,
                                        const char* parentPrefix) {
    const char* prefix = "CSvComUsb::FindSymbolicLinkFromName - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    int found = 0;
    int refusal = 0;
    auto sameDevice = [&](const char* path) {
        UsbPathParts parts;
        CutDevicePath(path, &parts);
        if (!EqualNoCase(parts.vendorId, vendorId) || !EqualNoCase(parts.productId, productId)) {
            return false;
        }
        // A composite device's printer prefix is recorded on its function 0.
        if (interfaceType == USB_INTERFACE_VENDOR) PointAtFunctionZero(&parts);
        char keyPath[3 * kTextSize];
        InstanceKeyPath(parts.hardwareId, parts.instance, keyPath, sizeof(keyPath));
        char value[CRegistry::kValueSize] = {};
        return ReadParentPrefix(prefix, keyPath, value) && EqualNoCase(value, parentPrefix);
    };
    WalkInterfaces(
        [&](const char* path) {
            if (!sameDevice(path)) return false;
            std::memcpy(linkOut, path, std::strlen(path) + 1);
            found = 1;
            return true;
        },
        [&](const char* path, int error) {
            if (sameDevice(path)) refusal = error;
        });
    if (found == 0 && refusal != 0) {
        // The end of the walk overwrote the refusal's error.
        lastSystemError = refusal;
        found = kFoundButRefused;
    }
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return found;
}

int CSvComUsb::FindSymbolicLinkFromSerial(char* linkOut, const char* vendorId,
                                          const char* productId, const char* serial) {
    const char* prefix = "CSvComUsb::FindSymbolicLinkFromSerial - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    char hardwareId[20];
    std::snprintf(hardwareId, sizeof(hardwareId), "Vid_%s&Pid_%s", vendorId, productId);
    char keyPath[3 * kTextSize];
    InstanceKeyPath(hardwareId, serial, keyPath, sizeof(keyPath));
    CRegistry registry;
    if (registry.KeyExists(plat::kHkeyLocalMachine, keyPath) != 1) {
        logFile->Writef(prefix, LOG_ERROR, "Serial number %s not found in the registry\n", serial);
        return 0;
    }
    char expected[CRegistry::kValueSize] = {};
    if (interfaceType == USB_INTERFACE_SCANNER) {
        plat::Hkey key = 0;
        if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, keyPath, 0, plat::kKeyRead, &key) != 0) {
            logFile->Writef(prefix, LOG_ERROR, "Error opening registry key: %s \n", keyPath);
            return 0;
        }
        plat::RegCloseKey(key);
    } else if (!ReadParentPrefix(prefix, keyPath, expected)) {
        return 0;
    }

    int found = 0;
    int refusal = 0;
    auto sameDevice = [&](const UsbPathParts& parts) {
        return EqualNoCase(parts.vendorId, vendorId) && EqualNoCase(parts.productId, productId) &&
               EqualNoCase(parts.hardwareId, hardwareId) && EqualNoCase(parts.instance, serial);
    };
    auto refusedDevice = [&](const char* path, int error) {
        UsbPathParts parts;
        CutDevicePath(path, &parts);
        if (sameDevice(parts)) refusal = error;
    };
    WalkInterfaces(
        [&](const char* path) {
            UsbPathParts parts;
            CutDevicePath(path, &parts);
            if (!EqualNoCase(parts.vendorId, vendorId) ||
                !EqualNoCase(parts.productId, productId)) {
                return false;
            }
            bool match = false;
            if (interfaceType != USB_INTERFACE_VENDOR) {
                match = EqualNoCase(parts.hardwareId, hardwareId) &&
                        EqualNoCase(parts.instance, serial);
            }
            if (!match && interfaceType != USB_INTERFACE_SCANNER) {
                // One function of the composite device whose instance is serial:
                // its instance is the parent's prefix and "&" plus four digits.
                char functionKey[3 * kTextSize];
                InstanceKeyPath(parts.hardwareId, parts.instance, functionKey, sizeof(functionKey));
                char functionPrefix[UsbPathParts::kSegmentSize] = {};
                if (registry.KeyExists(plat::kHkeyLocalMachine, functionKey) == 1) {
                    std::size_t length = std::strlen(parts.instance);
                    length = length > 5 ? length - 5 : 0;
                    std::memcpy(functionPrefix, parts.instance, length);
                }
                match = EqualNoCase(functionPrefix, expected);
            }
            if (!match) return false;
            std::memset(linkOut, 0, kTextSize);
            std::memcpy(linkOut, path, std::strlen(path) + 1);
            found = 1;
            return true;
        },
        refusedDevice);
    if (found == 0 && refusal != 0) {
        // The end of the walk overwrote the refusal's error.
        lastSystemError = refusal;
        found = kFoundButRefused;
    }
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return found;
}

int CSvComUsb::CheckList(int printers, char* list) {
    const char* prefix = "CSvComUsb::CheckList - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    // Looking up a printer's prefix clears the initialisation when the
    // printer has no PnPData; a listing must not undo an earlier Init.
    int wasInitialized = initialized;
    WalkInterfaces([&](const char* path) {
        UsbPathParts parts;
        CutDevicePath(path, &parts);
        if (printers) {
            ListPrinterOf(parts.hardwareId, parts.instance, list);
        } else {
            ListDeviceOf(parts.vendorId, parts.productId, parts.instance, list);
        }
        return false;
    });
    initialized = wasInitialized;
    return list[0] != '\0' ? 1 : 0;
}

bool CSvComUsb::ListPrinterOf(const char* hardwareId, const char* instance, char* list) {
    const char* prefix = "CSvComUsb::CheckList - ";
    UsbPathParts parts{};
    std::memcpy(parts.hardwareId, hardwareId, std::strlen(hardwareId) + 1);
    std::memcpy(parts.instance, instance, std::strlen(instance) + 1);
    if (interfaceType == USB_INTERFACE_VENDOR) PointAtFunctionZero(&parts);
    char keyPath[3 * kTextSize];
    InstanceKeyPath(parts.hardwareId, parts.instance, keyPath, sizeof(keyPath));

    int printerCount = CRegistry().GetSubKeyCount(plat::kHkeyLocalMachine, kPrintersKey);
    for (int j = 0; j < printerCount; ++j) {
        plat::Hkey key = 0;
        if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, kPrintersKey, 0, plat::kKeyRead, &key) !=
            0) {
            continue;
        }
        char name[kTextSize] = {};
        long status = plat::RegEnumKeyA(key, static_cast<std::uint32_t>(j), name, sizeof(name));
        char printerPrefix[kTextSize] = {};
        bool havePrefix = status == 0 && ExtractParentPrefixID(name, printerPrefix);
        plat::RegCloseKey(key);
        if (!havePrefix) continue;
        char devicePrefix[CRegistry::kValueSize] = {};
        // The printer listing passes over a device without its records
        // silently.
        if (!ReadParentPrefix(nullptr, keyPath, devicePrefix)) continue;
        if (!EqualNoCase(devicePrefix, printerPrefix)) continue;
        char entry[kTextSize + 2];
        std::snprintf(entry, sizeof(entry), "%s|", name);
        if (AppendListEntry(list, kTextSize, entry)) {
            logFile->Writef(prefix, LOG_INFO, "USB printer found: %s \n", name);
        }
        return true;
    }
    return false;
}

bool CSvComUsb::ListDeviceOf(const char* vendorId, const char* productId, const char* instance,
                             char* list) {
    const char* prefix = "CSvComUsb::CheckList - ";
    char functionPrefix[UsbPathParts::kSegmentSize] = {};
    std::size_t length = std::strlen(instance);
    std::memcpy(functionPrefix, instance, length > 5 ? length - 5 : 0);
    char deviceKey[kTextSize];
    std::snprintf(deviceKey, sizeof(deviceKey), "%sVid_%s&Pid_%s\\", kUsbEnumKey, vendorId,
                  productId);
    CRegistry registry;
    int instanceCount = registry.GetSubKeyCount(plat::kHkeyLocalMachine, deviceKey);
    for (int a = 0; a < instanceCount; ++a) {
        plat::Hkey key = 0;
        if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, deviceKey, 0, plat::kKeyRead, &key) != 0) {
            continue;
        }
        char name[kTextSize] = {};
        bool match = false;
        if (plat::RegEnumKeyA(key, static_cast<std::uint32_t>(a), name, sizeof(name)) == 0) {
            match = EqualNoCase(name, instance);
            if (!match) {
                char instancePath[2 * kTextSize + 2];
                std::snprintf(instancePath, sizeof(instancePath), "%s%s", deviceKey, name);
                char value[CRegistry::kValueSize] = {};
                match = registry.ReadString(plat::kHkeyLocalMachine, instancePath, "ParentIdPrefix",
                                            value) == 1 &&
                        EqualNoCase(value, functionPrefix);
            }
        }
        plat::RegCloseKey(key);
        if (!match) continue;
        char entry[3 * kTextSize];
        std::snprintf(entry, sizeof(entry), "%s|%s|%s|", vendorId, productId, name);
        if (AppendListEntry(list, kTextSize, entry)) {
            logFile->Writef(prefix, LOG_INFO,
                            "USB device found with VID=%s, PID=%s ,SerialNumber=%s \n", vendorId,
                            productId, name);
        }
        return true;
    }
    return false;
}

int CSvComUsb::CopyList(const char* prefix, const char* list, char* out, unsigned size) {
    std::size_t length = std::strlen(list);
    // The list loses its final "|" and gains a terminator: length bytes in
    // all, and an empty list still needs room for its terminator.
    std::size_t needed = length > 0 ? length : 1;
    if (size < needed) {
        logFile->Writef(prefix, LOG_ERROR, "Buffer size parameter can not contain the result\n");
        return 3;
    }
    std::size_t copied = length > 0 ? length - 1 : 0;
    std::memcpy(out, list, copied);
    out[copied] = '\0';
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::EnumDevices(char* out, unsigned size) {
    const char* prefix = "CSvComUsb::EnumDevices - ";
    logFile->Writef("CSvComUsb::EnumDevices- ", LOG_TRACE, "START\n");
    char list[kTextSize] = {};
    if (CheckList(0, list) == 0) logFile->Writef(prefix, LOG_INFO, "USB list devices is empty \n");
    return CopyList(prefix, list, out, size);
}

int CSvComUsb::EnumPrinters(char* out, unsigned size) {
    const char* prefix = "CSvComUsb::EnumPrinters - ";
    logFile->Writef("CSvComUsb::EnumPrinters- ", LOG_TRACE, "START\n");
    if (interfaceType == USB_INTERFACE_SCANNER) {
        logFile->Writef("CSvComUsb::EnumPrint - ", LOG_ERROR,
                        "Impossible to list printers: interface scanner is enabled\n");
        return 329;
    }
    char list[kTextSize] = {};
    if (CheckList(1, list) == 0) {
        logFile->Writef("CSvComUsb::EnumPrint - ", LOG_INFO, "USB list printers is empty \n");
    }
    return CopyList(prefix, list, out, size);
}

int CSvComUsb::UsbIsAvailable() {
    const char* prefix = "CSvComUsb::UsbIsAvailable - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!opened) return NotOpen(prefix);
    bool present = false;
    WalkInterfaces([&](const char* path) {
        present = EqualNoCase(path, deviceLink);
        return present;
    });
    if (!present) {
        logFile->Writef(prefix, LOG_ERROR, "Device with link %s is not available\n", deviceLink);
        return 330;
    }
    logFile->Writef(prefix, LOG_INFO, "The USB device with link %s is plugged \n", deviceLink);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}
