// Win32-shaped types shared by every backend of the platform layer.
//
// The layer above calls the platform with the meanings the calls have on
// Windows. These types mirror the Windows records field for field (with
// fixed-width integers), so the Win32 backend only copies between them and
// the real ones, and the other backends can fill them without <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// Handles of devices, files and overlapped-capable pipes.
using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

// Registry keys. Predefined roots have the Windows values.
using Hkey = std::intptr_t;
constexpr Hkey kHkeyLocalMachine = static_cast<Hkey>(0x80000002);

// Device-information sets of the device-interface database.
using DevInfo = std::intptr_t;
constexpr DevInfo kInvalidDevInfo = -1;

// Sockets: the Windows SOCKET (an unsigned pointer-sized integer).
using Socket = std::uintptr_t;
constexpr Socket kInvalidSocket = ~static_cast<Socket>(0);
constexpr int kSocketError = -1;

// Loaded libraries.
using Module = void*;

// Windows error numbers the layer relies on.
constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorFileTooLarge = 223;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorOperationAborted = 995;
constexpr std::uint32_t kErrorIoIncomplete = 996;
constexpr std::uint32_t kErrorIoPending = 997;
constexpr std::uint32_t kErrorNoUnicodeTranslation = 1113;
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;
constexpr std::uint32_t kErrorTimeout = 1460;

struct SystemTime {
    std::uint16_t wYear;
    std::uint16_t wMonth;
    std::uint16_t wDayOfWeek;
    std::uint16_t wDay;
    std::uint16_t wHour;
    std::uint16_t wMinute;
    std::uint16_t wSecond;
    std::uint16_t wMilliseconds;
};

// OSVERSIONINFOEXA. dwOSVersionInfoSize selects the record asked for:
// 156 (extended) or 148 (basic).
constexpr std::uint32_t kVerPlatformWin32Windows = 1;
constexpr std::uint32_t kVerPlatformWin32Nt = 2;
struct OsVersionInfoEx {
    std::uint32_t dwOSVersionInfoSize;
    std::uint32_t dwMajorVersion;
    std::uint32_t dwMinorVersion;
    std::uint32_t dwBuildNumber;
    std::uint32_t dwPlatformId;
    char szCSDVersion[128];
    std::uint16_t wServicePackMajor;
    std::uint16_t wServicePackMinor;
    std::uint16_t wSuiteMask;
    std::uint8_t wProductType;
    std::uint8_t wReserved;
};

// DCB, with the bit fields spelled out as separate members.
constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kMarkParity = 3;
constexpr std::uint8_t kSpaceParity = 4;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kOne5StopBits = 1;
constexpr std::uint8_t kTwoStopBits = 2;
constexpr std::uint32_t kDtrControlDisable = 0;
constexpr std::uint32_t kDtrControlEnable = 1;
constexpr std::uint32_t kDtrControlHandshake = 2;
constexpr std::uint32_t kRtsControlDisable = 0;
constexpr std::uint32_t kRtsControlEnable = 1;
constexpr std::uint32_t kRtsControlHandshake = 2;
constexpr std::uint32_t kRtsControlToggle = 3;
struct Dcb {
    std::uint32_t DCBlength;
    std::uint32_t BaudRate;
    std::uint32_t fBinary;
    std::uint32_t fParity;
    std::uint32_t fOutxCtsFlow;
    std::uint32_t fOutxDsrFlow;
    std::uint32_t fDtrControl;
    std::uint32_t fDsrSensitivity;
    std::uint32_t fTXContinueOnXoff;
    std::uint32_t fOutX;
    std::uint32_t fInX;
    std::uint32_t fErrorChar;
    std::uint32_t fNull;
    std::uint32_t fRtsControl;
    std::uint32_t fAbortOnError;
    std::uint16_t XonLim;
    std::uint16_t XoffLim;
    std::uint8_t ByteSize;
    std::uint8_t Parity;
    std::uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
};
constexpr std::uint32_t kDcbLength = 28;  // sizeof(DCB) on Windows

struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};

// OVERLAPPED: opaque storage large enough for the Windows record on 32 and
// 64 bits. It must stay at one address from the request until its
// completion is collected or cancelled, as on Windows.
struct Overlapped {
    alignas(8) unsigned char storage[40];
};

struct Guid {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

// SP_DEVICE_INTERFACE_DATA without its size field.
struct DeviceInterfaceData {
    Guid InterfaceClassGuid;
    std::uint32_t Flags;
    std::uintptr_t Reserved;
};

// sockaddr_in: 16 bytes, port and address in network byte order.
struct SockAddrIn {
    std::uint16_t sin_family;
    std::uint16_t sin_port;
    std::uint32_t sin_addr;
    char sin_zero[8];
};
static_assert(sizeof(SockAddrIn) == 16, "sockaddr_in is 16 bytes");

}  // namespace plat
