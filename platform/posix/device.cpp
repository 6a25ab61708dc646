// Placeholder: replaced by the device implementation.
#include "platform/device.h"
#include "platform/system.h"

namespace plat {

Handle CreateFileA(const char* /*path*/, std::uint32_t /*access*/, std::uint32_t /*shareMode*/, std::uint32_t /*creationDisposition*/, std::uint32_t /*flagsAndAttributes*/) {
    SetLastError(kErrorNotSupported);
    return kInvalidHandle;
}

bool CloseHandle(Handle /*handle*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool ReadFile(Handle /*handle*/, void* /*buffer*/, std::uint32_t /*toRead*/, std::uint32_t* /*read*/, Overlapped* /*overlapped*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool WriteFile(Handle /*handle*/, const void* /*buffer*/, std::uint32_t /*toWrite*/, std::uint32_t* /*written*/, Overlapped* /*overlapped*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

std::uint32_t WaitForSingleObject(Handle /*handle*/, std::uint32_t /*milliseconds*/) {
    SetLastError(kErrorNotSupported);
    return 0;
}

bool GetOverlappedResult(Handle /*handle*/, Overlapped* /*overlapped*/, std::uint32_t* /*transferred*/, bool /*wait*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool CancelIo(Handle /*handle*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool DeviceIoControl(Handle /*handle*/, std::uint32_t /*code*/, const void* /*in*/, std::uint32_t /*inSize*/, void* /*out*/, std::uint32_t /*outSize*/, std::uint32_t* /*returned*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool GetCommState(Handle /*handle*/, Dcb* /*dcb*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool SetCommState(Handle /*handle*/, const Dcb* /*dcb*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool SetCommTimeouts(Handle /*handle*/, const CommTimeouts* /*timeouts*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool EscapeCommFunction(Handle /*handle*/, std::uint32_t /*function*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

bool PurgeComm(Handle /*handle*/, std::uint32_t /*flags*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

std::uint32_t QueryDosDeviceA(const char* /*deviceName*/, char* /*targetPath*/, std::uint32_t /*max*/) {
    SetLastError(kErrorNotSupported);
    return 0;
}

bool DefineDosDeviceA(std::uint32_t /*flags*/, const char* /*deviceName*/, const char* /*targetPath*/) {
    SetLastError(kErrorNotSupported);
    return false;
}

}  // namespace plat
