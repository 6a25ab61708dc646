// CSvComUsb: the object's data, opening and closing the device, and the
// settings accessors.
#include "comlayer/usb/CSvComUsb.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/transfer/PacketBuffer.h"
#include "comlayer/usb/UsbNames.h"
#include "platform/device.h"
#include "platform/system.h"

namespace {

const char kPrinterClassGuidText[] = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const char kVendorClassGuidText[] = "{3c9e4a17-b2d5-4f80-9a6e-71d0c5e8b243}";
const char kScannerClassGuidText[] = "{8f21d6b0-4e7a-4c39-b5d2-0a6f93e1c7d4}";

// A transfer buffer is writePacketSize + 100 bytes: sizes above this are
// refused so that the sum neither wraps nor asks for memory no pipe write
// would ever use.

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
    transferBuffer.reset(new unsigned char[writePacketSize + 100]());
    controlBuffer = new unsigned char[kTextSize]();
}

CSvComUsb::~CSvComUsb() {
    // A port deleted while its device is open must not keep the device busy.
    Release(&writeHandle);
    Release(&readHandle);
    Release(&controlHandle);
    delete[] controlBuffer;
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
        int found = FindSymbolicLinkFromName(path, vid, pid, parentPrefixId);
        if (found == kFoundButRefused) {
            logFile->Writef(prefix, LOG_ERROR,
                            "USB device with VID=%s, PID=%s, PrefixID=%s is present but can not "
                            "be opened (error %d)\n",
                            vid, pid, parentPrefixId, lastSystemError);
            return 308;
        }
        if (found != 1) {
            logFile->Writef(prefix, LOG_ERROR,
                            "Impossible to find and open a USB plugged device with VID=%s, PID=%s, "
                            "PrefixID=%s\n",
                            vid, pid, parentPrefixId);
            return 315;
        }
    } else if (int found = FindSymbolicLinkFromSerial(path, vid, pid, serialNumber); found != 1) {
        if (found == kFoundButRefused) {
            logFile->Writef(prefix, LOG_ERROR,
                            "USB device with VID=%s, PID=%s, SerialNumber=%s is present but can "
                            "not be opened (error %d)\n",
                            vid, pid, serialNumber, lastSystemError);
            return 308;
        }
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
    if (!opened) return NotOpen(prefix);
    if (interfaceType == USB_INTERFACE_0) {
        EmptyControlStore();
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
        // A handle that failed to close is not tried again: the system no
        // longer knows it, and another close would only fail the same way.
        bool writeClosed = plat::CloseHandle(writeHandle);
        writeHandle = plat::kInvalidHandle;
        if (!writeClosed) {
            lastSystemError = static_cast<int>(plat::GetLastError());
            logFile->Writef(prefix, LOG_ERROR, "Error closing write handle for USB\n");
            return 317;
        }
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
    int result = ApplyPacketSizes(logFile, prefix, writeSize, readSize, &writePacketSize,
                                  &readPacketSize, &transferBuffer);
    if (result != 0) return result;
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
