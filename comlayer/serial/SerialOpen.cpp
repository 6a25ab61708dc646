// Opening a serial port: the system version, the DOS device link that NT
// systems open the port through, the device's line state and time-outs;
// and closing it again.
#include <cstdio>
#include <cstring>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/serial/CSvComSerial.h"
#include "comlayer/serial/SerialShared.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "platform/system.h"

using namespace serial_shared;

namespace {

constexpr std::uint32_t kNt4 = 0x4E5400;

struct VersionRow {
    std::uint32_t code;
    const char* text;
};

VersionRow VersionOf(const plat::OsVersionInfoEx& info) {
    std::uint32_t major = info.dwMajorVersion;
    std::uint32_t minor = info.dwMinorVersion;
    if (info.dwPlatformId == plat::kVerPlatformWin32Windows) {
        if (major == 4 && (minor == 0 || minor == 10)) return {0x5F, nullptr};
        if (major == 4 && minor == 90) return {0x4D45, nullptr};
        return {0, nullptr};
    }
    if (info.dwPlatformId != plat::kVerPlatformWin32Nt) return {0, nullptr};
    if (major <= 4) return {kNt4, "Microsoft Windows NT"};
    if (major == 5 && minor == 0) return {0x7D000, "Microsoft Windows 2000"};
    if (major == 5 && minor == 1) return {0x585000, "Microsoft Windows XP"};
    if (major == 5 && minor == 2) return {0x482000, "Microsoft Windows 2003"};
    if (major == 6 && minor == 0) return {0x3F2, "Microsoft Windows Vista"};
    if (major == 6 && minor == 1) return {0x12B6, "Microsoft Windows 7"};
    if (major == 6 && minor == 2) return {0x206A, "Microsoft Windows 8"};
    return {0xFFFFFFFFu, "Microsoft Windows NEW"};
}

bool IsNtCode(std::uint32_t code) {
    switch (code) {
        case kNt4:
        case 0x7D000:
        case 0x585000:
        case 0x482000:
        case 0x3F2:
        case 0x12B6:
        case 0x206A:
        case 0xFFFFFFFFu:
            return true;
        default:
            return false;
    }
}

// The flow-control columns of the line state: hardware, Xon/Xoff, none.
void ApplyFlowControl(int flowControl, plat::Dcb* dcb) {
    static const std::uint32_t kLineControl[] = {plat::kDtrControlHandshake,
                                                 plat::kDtrControlEnable, plat::kDtrControlDisable};
    bool xonXoff = flowControl == 1;
    // Only the hardware handshake waits for CTS: with Xon/Xoff on a
    // three-wire cable CTS is never raised and nothing would be sent.
    dcb->fOutxCtsFlow = flowControl == 0 ? 1 : 0;
    dcb->fOutxDsrFlow = 0;
    dcb->fDtrControl = kLineControl[flowControl];
    dcb->fRtsControl = kLineControl[flowControl];
    dcb->fOutX = xonXoff ? 1 : 0;
    dcb->fInX = xonXoff ? 1 : 0;
    dcb->XonChar = xonXoff ? 0x11 : 0;
    dcb->XoffChar = xonXoff ? 0x13 : 0;
}

// Opens a serial device for exclusive use, as every open of the port does.
plat::Handle OpenComDevice(const char* path) {
    plat::SetLastError(0);
    return plat::CreateFileA(path, plat::kGenericRead | plat::kGenericWrite, 0, plat::kOpenExisting,
                             plat::kFileFlagWriteThrough | plat::kFileFlagNoBuffering);
}

}  // namespace

int CSvComSerial::GetSystemVersion(std::uint32_t* outCode, char* outText, int* outError) {
    const char* prefix = "CSvComSerial::GetSystemVersion - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    *outCode = 0;
    plat::OsVersionInfoEx info{};
    info.dwOSVersionInfoSize = 156;
    if (!plat::GetVersionExA(&info)) {
        info = plat::OsVersionInfoEx{};
        info.dwOSVersionInfoSize = 148;
        if (!plat::GetVersionExA(&info)) {
            RecordError();
            *outError = lastSystemError;
            return 0;
        }
    }
    VersionRow row = VersionOf(info);
    *outCode = row.code;
    if (outText != nullptr && row.text != nullptr) std::snprintf(outText, 500, "%s", row.text);
    *outError = 0;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 1;
}

int CSvComSerial::GetTheLinkPathName(const char* name, char* outDevicePath) {
    const char* prefix = "CSvComSerial::GetTheLinkPathName - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    plat::Hkey key = 0;
    if (!OpenRegistryKey(prefix, kSerialCommKey, &key)) return 0;
    std::uint32_t valueCount = 0;
    plat::RegQueryInfoKeyA(key, nullptr, &valueCount);
    // Bounded by the value count as well, so that a registry that keeps
    // failing an index cannot keep the loop going.
    for (std::uint32_t index = 0; index <= valueCount; ++index) {
        std::string devicePath;
        std::string port;
        long status = ReadDeviceMapValue(key, index, &devicePath, &port);
        if (status == static_cast<long>(plat::kErrorNoMoreItems)) break;
        if (status != 0 || port != name) continue;
        std::snprintf(outDevicePath, 1024, "%s", devicePath.c_str());
        plat::RegCloseKey(key);
        logFile->Write(prefix, "END\n", LOG_TRACE);
        return 1;
    }
    logFile->Writef(prefix, LOG_ERROR, "Link device not found in registry for port %s \n", name);
    plat::RegCloseKey(key);
    return 0;
}

int CSvComSerial::CreateComPortLink(const char* name, std::uint32_t versionCode, char* outLink) {
    const char* prefix = "CSvComSerial::CreateComPortLink - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    char devicePath[1024] = {};
    if (GetTheLinkPathName(name, devicePath) == 0) return 0;

    // The link and the "\\.\" path to it live in 20-character buffers: a
    // name that does not fit is refused instead of being cut, since a cut
    // name could be the link of another port.
    const char* suffix = std::strlen(name) > 3 ? name + 3 : "";
    char link[sizeof linkName];
    char path[20];
    int linkLength = std::snprintf(link, sizeof link, "LinkToSerial%s", suffix);
    int pathLength = std::snprintf(path, sizeof path, "\\\\.\\%s", link);
    if (linkLength >= static_cast<int>(sizeof link) ||
        pathLength >= static_cast<int>(sizeof path)) {
        logFile->Writef(prefix, LOG_ERROR, "Link name too long for port %s\n", name);
        return 0;
    }
    char target[1100];
    std::snprintf(target, sizeof target, versionCode == kNt4 ? "\\Device\\%s" : "%s", devicePath);
    std::memcpy(linkName, link, sizeof linkName);

    char existing[1024] = {};
    if (plat::QueryDosDeviceA(linkName, existing, sizeof existing) == 0) {
        if (plat::GetLastError() != plat::kErrorFileNotFound) {
            RecordError();
            logFile->Write(prefix,
                           "Error querying dos device: link not found and can not create it\n",
                           LOG_ERROR);
            return 0;
        }
        // A name the query did not find but the definition finds taken (as
        // Wine answers for a link defined earlier) is there: it is used as
        // an existing definition would be.
        if (!plat::DefineDosDeviceA(plat::kDddRawTargetPath, linkName, target) &&
            plat::GetLastError() != plat::kErrorAlreadyExists) {
            RecordError();
            logFile->Write(prefix, "Symbolic link not exists: error creating it\n", LOG_ERROR);
            return 0;
        }
    }
    std::memcpy(outLink, path, sizeof path);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 1;
}

int CSvComSerial::OpenSerial() {
    const char* prefix = "CSvComSerial::OpenSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (initialized == 0) {
        logFile->Write(prefix, kNotInitialised, LOG_ERROR);
        return 101;
    }
    if (opened != 0) {
        logFile->Write(prefix, "Serial device already opened\n", LOG_ERROR);
        return 102;
    }
    std::uint32_t version = 0;
    char versionText[500] = {};
    int versionError = 0;
    if (GetSystemVersion(&version, versionText, &versionError) == 0) {
        logFile->Write(prefix, "Impossibile to identify the system\n", LOG_ERROR);
        return 104;
    }
    logFile->Writef(prefix, LOG_INFO, "System version: 0x%08x (%s)\n", version, versionText);

    // Outside the NT family there are no DOS device names: the device the
    // serial device map gives for the port is opened directly (nothing, and
    // so a failed open, when the map does not name the port).
    char link[1024] = {};
    if (IsNtCode(version)) {
        if (CreateComPortLink(portName, version, link) == 0) {
            logFile->Write(prefix, "Error during creation of symbolic link\n", LOG_ERROR);
            return 105;
        }
    } else {
        GetTheLinkPathName(portName, link);
    }
    logFile->Writef(prefix, LOG_INFO, "Serial link: %s\n", link);

    portHandle = OpenComDevice(link);
    // Some NT implementations (Wine) report DefineDosDevice as done without
    // making a name that opens. NT names every serial port as a DOS device
    // of its own, so the port is then opened by that name before giving up.
    if (portHandle == plat::kInvalidHandle && IsNtCode(version)) {
        char ownName[sizeof portName + 4];
        std::snprintf(ownName, sizeof ownName, "\\\\.\\%s", portName);
        logFile->Writef(prefix, LOG_INFO, "Serial link: %s\n", ownName);
        portHandle = OpenComDevice(ownName);
    }
    if (portHandle == plat::kInvalidHandle) {
        RecordError();
        logFile->Writef(prefix, LOG_ERROR, "Open failed: invalid handle returned(Error 0x%08x)\n",
                        static_cast<unsigned>(lastSystemError));
        return 106;
    }

    lineState.DCBlength = plat::kDcbLength;
    plat::GetCommState(portHandle, &lineState);
    if (explicitSettings != 0) {
        lineState.BaudRate = static_cast<std::uint32_t>(baudRate);
        lineState.Parity = static_cast<std::uint8_t>(parity);
        lineState.ByteSize = static_cast<std::uint8_t>(byteSize);
        lineState.StopBits = static_cast<std::uint8_t>(stopBits);
        ApplyFlowControl(flowControl, &lineState);
        lineState.fBinary = 1;
        lineState.fTXContinueOnXoff = 1;
        lineState.fDsrSensitivity = 0;
        lineState.fErrorChar = 0;
        lineState.fNull = 0;
        lineState.fAbortOnError = 0;
        lineState.EofChar = 0;
        lineState.EvtChar = 0x0A;
        lineState.XonLim = 2048;
        lineState.XoffLim = 512;
    }
    if (!plat::SetCommState(portHandle, &lineState)) {
        RecordError();
        logFile->Write(prefix, "Open failed: error during SetCommState \n", LOG_ERROR);
        CloseAfterFailedOpen();
        return 108;
    }
    if (!plat::SetCommTimeouts(portHandle, &timeouts)) {
        RecordError();
        logFile->Write(prefix, "Open failed: error during SetCommTimeouts \n", LOG_ERROR);
        CloseAfterFailedOpen();
        return 107;
    }
    opened = 1;
    logFile->Write(prefix, "Com port succesfully opened\n", LOG_INFO);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// A port that could not be set up is not open: its handle is released so
// that the device is free for the next OpenSerial and nothing leaks.
void CSvComSerial::CloseAfterFailedOpen() {
    plat::CloseHandle(portHandle);
    portHandle = plat::kInvalidHandle;
}

int CSvComSerial::CloseSerial() {
    const char* prefix = "CSvComSerial::CloseSerial - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened == 0) {
        logFile->Write(prefix, kNotOpen, LOG_ERROR);
        return 103;
    }
    if (portHandle == plat::kInvalidHandle) {
        logFile->Write(prefix, "Close failed: invalid handle to close\n", LOG_ERROR);
        return 109;
    }
    if (!plat::CloseHandle(portHandle)) {
        RecordError();
        // A handle the platform no longer knows cannot be closed later
        // either: forget it, so that the port can be opened again.
        if (plat::GetLastError() == plat::kErrorInvalidHandle) {
            portHandle = plat::kInvalidHandle;
            opened = 0;
            logFile->Write(prefix, "Close failed: invalid handle to close\n", LOG_ERROR);
            return 109;
        }
        logFile->Write(prefix, "CloseHandle() failed, impossible to close handle \n", LOG_ERROR);
        return 110;
    }
    portHandle = plat::kInvalidHandle;
    if (linkName[0] != '\0') {
        plat::DefineDosDeviceA(plat::kDddRemoveDefinition, linkName, nullptr);
        std::memset(linkName, 0, sizeof linkName);
    }
    opened = 0;
    logFile->Write(prefix, "Close handle : success\n", LOG_INFO);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}
