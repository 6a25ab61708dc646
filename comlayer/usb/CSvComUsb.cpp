// CSvComUsb: the object's data, the choice of interface type, naming the
// device, opening and closing it, and the settings accessors.
#include "comlayer/usb/CSvComUsb.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/registry/CRegistry.h"
#include "comlayer/usb/UsbKeys.h"
#include "comlayer/usb/UsbNames.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace {

const char kPrinterClassGuidText[] = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const char kVendorClassGuidText[] = "{3c9e4a17-b2d5-4f80-9a6e-71d0c5e8b243}";
const char kScannerClassGuidText[] = "{8f21d6b0-4e7a-4c39-b5d2-0a6f93e1c7d4}";
const char kMakerVendorId[] = "0f3c";

// A transfer buffer is writePacketSize + 100 bytes: sizes above this are
// refused so that the sum neither wraps nor asks for memory no pipe write
// would ever use.
constexpr std::uint32_t kMaxPacketSize = 16u * 1024u * 1024u;

const char* Text(const char* text) {
    return text != nullptr ? text : "";
}

// Closes a handle the object no longer wants, whatever the outcome.
void Release(plat::Handle* handle) {
    if (*handle != plat::kInvalidHandle) plat::CloseHandle(*handle);
    *handle = plat::kInvalidHandle;
}

}  // namespace

CSvComUsb::CSvComUsb() {
    ParseGuidText(kPrinterClassGuidText, &printerClassGuid);
    ParseGuidText(kVendorClassGuidText, &vendorClassGuid);
    ParseGuidText(kScannerClassGuidText, &scannerClassGuid);
    transferBuffer = new unsigned char[writePacketSize + 100]();
    controlBuffer = new unsigned char[kTextSize]();
}

CSvComUsb::~CSvComUsb() {
    // A port deleted while its device is open must not keep the device busy.
    Release(&writeHandle);
    Release(&readHandle);
    Release(&controlHandle);
    delete[] transferBuffer;
    delete[] controlBuffer;
}

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
    logFile->Writef(prefix, LOG_INFO,
                    "try to init USb device with parameters VID=%s ,PID=%s, Serial Number=%s \n",
                    Text(vendorId), Text(productId), Text(serial));
    if (opened) {
        initialized = wasInitialized;
        logFile->Writef(prefix, LOG_ERROR, "Init failed: USB device already opened\n");
        return 301;
    }
    if (vendorId == nullptr || !EqualNoCase(vendorId, kMakerVendorId)) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "VID %s not valid\n", Text(vendorId));
        return 303;
    }
    if (productId == nullptr || strnlen(productId, 5) != 4) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "VID %s or PID %s not valid\n", vendorId,
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
    // reports blanks. The caller's text is read only: it may be a literal.
    for (std::size_t i = 0; i < serialLength; ++i) {
        serialNumber[i] = serial[i] == ' ' ? '_' : serial[i];
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
    logFile->Writef(prefix, LOG_ERROR, "Try to init USB printer with name %s \n", printerName);
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
                        "A printer with the name %s has not found in the registry %s \n",
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

int CSvComUsb::OpenUsb() {
    const char* prefix = "CSvComUsb::OpenUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!initialized) {
        logFile->Writef(prefix, LOG_ERROR, "USB device not initialized\n");
        return 304;
    }
    if (opened) {
        logFile->Writef(prefix, LOG_ERROR, "USB device is already opened\n");
        return 305;
    }
    logFile->Writef(prefix, LOG_INFO, "Open on interface type: %d\n", interfaceType);

    char path[kTextSize] = {};
    if (byPrinterName) {
        if (FindSymbolicLinkFromName(path, vid, pid, parentPrefixId) == 0) {
            logFile->Writef(prefix, LOG_ERROR,
                            "Impossible to find and open a USB plugged device with VID=%s, PID=%s, "
                            "PrefixID=%s\n",
                            vid, pid, parentPrefixId);
            return 315;
        }
    } else if (FindSymbolicLinkFromSerial(path, vid, pid, serialNumber) == 0) {
        logFile->Writef(prefix, LOG_ERROR,
                        "Impossible to find and open a USB plugged device with VID=%s, PID=%s, "
                        "SerialNumber=%s\n",
                        vid, pid, serialNumber);
        return 316;
    }
    std::memcpy(deviceLink, path, sizeof(deviceLink));

    bool failed = false;
    if (interfaceType == USB_INTERFACE_0) {
        controlHandle =
            plat::CreateFileA(deviceLink, plat::kGenericRead | plat::kGenericWrite,
                              plat::kFileShareRead | plat::kFileShareWrite, plat::kOpenExisting, 0);
        if (controlHandle == plat::kInvalidHandle) {
            lastSystemError = static_cast<int>(plat::GetLastError());
            failed = true;
        }
    } else {
        char pipe01[kTextSize + 16];
        char pipe00[kTextSize + 16];
        std::snprintf(pipe01, sizeof(pipe01), "%s\\PIPE01\\", deviceLink);
        std::snprintf(pipe00, sizeof(pipe00), "%s\\PIPE00\\", deviceLink);
        bool scanner = interfaceType == USB_INTERFACE_SCANNER;
        writeHandle =
            plat::CreateFileA(scanner ? pipe00 : pipe01, plat::kGenericWrite, plat::kFileShareWrite,
                              plat::kOpenExisting, plat::kFileFlagOverlapped);
        if (writeHandle == plat::kInvalidHandle) {
            lastSystemError = static_cast<int>(plat::GetLastError());
            failed = true;
        }
        readHandle =
            plat::CreateFileA(scanner ? pipe01 : pipe00, plat::kGenericRead, plat::kFileShareRead,
                              plat::kOpenExisting, plat::kFileFlagOverlapped);
        if (readHandle == plat::kInvalidHandle) {
            if (!failed) lastSystemError = static_cast<int>(plat::GetLastError());
            failed = true;
        }
        if (failed) {
            Release(&writeHandle);
            Release(&readHandle);
        }
    }
    if (failed) {
        logFile->Writef(prefix, LOG_ERROR, "Invalid handle returned opening the USB device\n");
        return 308;
    }
    opened = 1;
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::CloseUsb() {
    const char* prefix = "CSvComUsb::CloseUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!opened) {
        logFile->Writef(prefix, LOG_ERROR,
                        "Usb device not opened: imposible to perform operation\n");
        return 309;
    }
    if (interfaceType == USB_INTERFACE_0) {
        std::memset(controlBuffer, 0, kTextSize);
        controlCount = 0;
        if (controlHandle == plat::kInvalidHandle) {
            logFile->Writef(prefix, LOG_ERROR, "Close failed: invalid handle to close\n");
            opened = 0;
            return 320;
        }
        if (!plat::CloseHandle(controlHandle)) {
            lastSystemError = static_cast<int>(plat::GetLastError());
            logFile->Writef(prefix, LOG_ERROR, "Error closing interface 0 handle for USB\n");
            return 319;
        }
        controlHandle = plat::kInvalidHandle;
    } else {
        if (writeHandle == plat::kInvalidHandle || readHandle == plat::kInvalidHandle) {
            // Only an earlier close that failed half-way leaves one pipe
            // behind; it is released now so the device is not kept busy.
            Release(&writeHandle);
            Release(&readHandle);
            opened = 0;
            logFile->Writef(prefix, LOG_ERROR, "Close failed: invalid handle to close\n");
            return 320;
        }
        if (!plat::CloseHandle(writeHandle)) {
            lastSystemError = static_cast<int>(plat::GetLastError());
            logFile->Writef(prefix, LOG_ERROR, "Error closing write handle for USB\n");
            return 317;
        }
        writeHandle = plat::kInvalidHandle;
        if (!plat::CloseHandle(readHandle)) {
            lastSystemError = static_cast<int>(plat::GetLastError());
            logFile->Writef(prefix, LOG_ERROR, "Error closing read handle for USB\n");
            return 318;
        }
        readHandle = plat::kInvalidHandle;
    }
    opened = 0;
    logFile->Writef(prefix, LOG_INFO, "Close handle : success\n");
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::GetVidPid(char* vendorId, char* productId) {
    const char* prefix = "CSvComUsb::GetVidPid - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (!initialized) {
        logFile->Writef(prefix, LOG_ERROR, "USB device not initialized\n");
        return 304;
    }
    std::memcpy(vendorId, vid, sizeof(vid));
    std::memcpy(productId, pid, sizeof(pid));
    logFile->Writef(prefix, LOG_INFO,
                    "Get VID and PID of the printer initialized: Vid: %s, Pid: %s\n", vid, pid);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::SetTimeout(int sendMs, int receiveMs) {
    const char* prefix = "CSvComUsb::SetTimeout - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (sendMs == 0 || receiveMs == 0) {
        logFile->Writef(prefix, LOG_ERROR, "Timeout values can not be=0\n");
        return 310;
    }
    sendTimeout = static_cast<std::uint32_t>(sendMs);
    receiveTimeout = static_cast<std::uint32_t>(receiveMs);
    logFile->Writef("CSvComUsb::SetTimeout", LOG_INFO,
                    "Timeout values for USB communication setted to: [send timeout, receive "
                    "timeout] = [%d , %d ]\n",
                    sendMs, receiveMs);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::GetTimeout(int* sendMs, int* receiveMs) {
    const char* prefix = "CSvComUsb::GetTimeout - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    *sendMs = static_cast<int>(sendTimeout);
    *receiveMs = static_cast<int>(receiveTimeout);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::SetPacketUsb(int writeSize, int readSize) {
    const char* prefix = "CSvComUsb::SetPacketUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    if (writeSize == 0 || readSize == 0) {
        logFile->Writef(prefix, LOG_ERROR, "Packet size can't be = 0\n");
        return 9;
    }
    std::uint32_t newWrite = static_cast<std::uint32_t>(writeSize);
    std::uint32_t newRead = static_cast<std::uint32_t>(readSize);
    unsigned char* buffer = nullptr;
    if (newWrite <= kMaxPacketSize && newRead <= kMaxPacketSize) {
        buffer = new (std::nothrow) unsigned char[newWrite + 100]();
    }
    if (buffer == nullptr) {
        logFile->Writef(prefix, LOG_ERROR,
                        "Packet size not valid; WRITE = %d bytes, READ = %d bytes \n", writeSize,
                        readSize);
        return 9;
    }
    delete[] transferBuffer;
    transferBuffer = buffer;
    writePacketSize = newWrite;
    readPacketSize = newRead;
    logFile->Writef(prefix, LOG_INFO, "Packets size setted; WRITE = %d bytes, READ = %d bytes \n",
                    writeSize, readSize);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::GetPacketUsb(int* writeSize, int* readSize) {
    const char* prefix = "CSvComUsb::GetPacketUsb - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    *writeSize = static_cast<int>(writePacketSize);
    *readSize = static_cast<int>(readPacketSize);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::GetUsbError(int* error) {
    const char* prefix = "CSvComUsb::GetUsbError - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    *error = lastSystemError;
    logFile->Writef(prefix, LOG_INFO, "Last system error: %d\n", lastSystemError);
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}

int CSvComUsb::ResetUsbError() {
    const char* prefix = "CSvComUsb::ResetUsbError - ";
    logFile->Writef(prefix, LOG_TRACE, "START\n");
    lastSystemError = 0;
    logFile->Writef(prefix, LOG_TRACE, "END\n");
    return 0;
}
