// Device calls on Windows: forwarded, with the DCB's bit fields and the
// opaque overlapped storage translated to the Windows records.
#include "platform/device.h"

#include <windows.h>

#include "platform/system.h"

namespace plat {

static_assert(sizeof(OVERLAPPED) <= sizeof(Overlapped::storage),
              "the opaque overlapped storage holds a Windows OVERLAPPED");
static_assert(alignof(OVERLAPPED) <= alignof(Overlapped), "and is aligned for it");

namespace {

HANDLE ToWindows(Handle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// The caller zeroes the storage, so a request carries no event and the
// device handle itself is what is waited on.
OVERLAPPED* ToWindows(Overlapped* overlapped) {
    return overlapped == nullptr ? nullptr : reinterpret_cast<OVERLAPPED*>(overlapped->storage);
}

// DCB and Dcb carry the same field names (Windows packs the flags into bit
// fields), so one copy serves both directions.
template <class From, class To>
void CopyLineState(const From& from, To* to) {
    to->BaudRate = from.BaudRate;
    to->fBinary = from.fBinary;
    to->fParity = from.fParity;
    to->fOutxCtsFlow = from.fOutxCtsFlow;
    to->fOutxDsrFlow = from.fOutxDsrFlow;
    to->fDtrControl = from.fDtrControl;
    to->fDsrSensitivity = from.fDsrSensitivity;
    to->fTXContinueOnXoff = from.fTXContinueOnXoff;
    to->fOutX = from.fOutX;
    to->fInX = from.fInX;
    to->fErrorChar = from.fErrorChar;
    to->fNull = from.fNull;
    to->fRtsControl = from.fRtsControl;
    to->fAbortOnError = from.fAbortOnError;
    to->XonLim = from.XonLim;
    to->XoffLim = from.XoffLim;
    to->ByteSize = from.ByteSize;
    to->Parity = from.Parity;
    to->StopBits = from.StopBits;
    to->XonChar = from.XonChar;
    to->XoffChar = from.XoffChar;
    to->ErrorChar = from.ErrorChar;
    to->EofChar = from.EofChar;
    to->EvtChar = from.EvtChar;
}

}  // namespace

Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    if (path == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalidHandle;
    }
    HANDLE handle = ::CreateFileA(path, access, shareMode, nullptr, creationDisposition,
                                  flagsAndAttributes, nullptr);
    return reinterpret_cast<Handle>(handle);
}

bool CloseHandle(Handle handle) {
    return ::CloseHandle(ToWindows(handle)) != 0;
}

// Windows sets the count only when the request completes at once; an
// overlapped request's count is collected by GetOverlappedResult, so the
// local copy is never written after the call returns.
bool ReadFile(Handle handle, void* buffer, std::uint32_t toRead, std::uint32_t* read,
              Overlapped* overlapped) {
    DWORD count = 0;
    BOOL ok = ::ReadFile(ToWindows(handle), buffer, toRead, &count, ToWindows(overlapped));
    if (read != nullptr) *read = count;
    return ok != 0;
}

bool WriteFile(Handle handle, const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
               Overlapped* overlapped) {
    DWORD count = 0;
    BOOL ok = ::WriteFile(ToWindows(handle), buffer, toWrite, &count, ToWindows(overlapped));
    if (written != nullptr) *written = count;
    return ok != 0;
}

std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(ToWindows(handle), milliseconds);
}

bool GetOverlappedResult(Handle handle, Overlapped* overlapped, std::uint32_t* transferred,
                         bool wait) {
    if (overlapped == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DWORD count = 0;
    BOOL ok = ::GetOverlappedResult(ToWindows(handle), ToWindows(overlapped), &count,
                                    wait ? TRUE : FALSE);
    if (transferred != nullptr) *transferred = count;
    return ok != 0;
}

bool CancelIo(Handle handle) {
    return ::CancelIo(ToWindows(handle)) != 0;
}

bool DeviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                     void* out, std::uint32_t outSize, std::uint32_t* returned) {
    DWORD count = 0;
    BOOL ok = ::DeviceIoControl(ToWindows(handle), code, const_cast<void*>(in), inSize, out,
                                outSize, &count, nullptr);
    if (returned != nullptr) *returned = count;
    return ok != 0;
}

bool GetCommState(Handle handle, Dcb* dcb) {
    if (dcb == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DCB state = {};
    state.DCBlength = sizeof state;
    if (!::GetCommState(ToWindows(handle), &state)) return false;
    CopyLineState(state, dcb);
    dcb->DCBlength = kDcbLength;
    return true;
}

bool SetCommState(Handle handle, const Dcb* dcb) {
    if (dcb == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DCB state = {};
    state.DCBlength = sizeof state;
    CopyLineState(*dcb, &state);
    return ::SetCommState(ToWindows(handle), &state) != 0;
}

bool SetCommTimeouts(Handle handle, const CommTimeouts* timeouts) {
    if (timeouts == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    COMMTIMEOUTS values;
    values.ReadIntervalTimeout = timeouts->ReadIntervalTimeout;
    values.ReadTotalTimeoutMultiplier = timeouts->ReadTotalTimeoutMultiplier;
    values.ReadTotalTimeoutConstant = timeouts->ReadTotalTimeoutConstant;
    values.WriteTotalTimeoutMultiplier = timeouts->WriteTotalTimeoutMultiplier;
    values.WriteTotalTimeoutConstant = timeouts->WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(ToWindows(handle), &values) != 0;
}

bool EscapeCommFunction(Handle handle, std::uint32_t function) {
    return ::EscapeCommFunction(ToWindows(handle), function) != 0;
}

bool PurgeComm(Handle handle, std::uint32_t flags) {
    return ::PurgeComm(ToWindows(handle), flags) != 0;
}

std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath, std::uint32_t max) {
    return ::QueryDosDeviceA(deviceName, targetPath, max);
}

bool DefineDosDeviceA(std::uint32_t flags, const char* deviceName, const char* targetPath) {
    return ::DefineDosDeviceA(flags, deviceName, targetPath) != 0;
}

}  // namespace plat
