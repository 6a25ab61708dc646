// The fake's device calls: each can be made to fail through the fault table
// (fake::FailCall with the call's name); otherwise it is forwarded to the
// scripted serial or USB device behind the handle.
#include "platform/common/DeviceObject.h"
#include "platform/device.h"
#include "platform/system.h"
#include "tests/fake/fake_devices.h"
#include "tests/fake/fake_platform.h"

namespace plat {

Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t shareMode,
                   std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("CreateFileA", &error)) return kInvalidHandle;
    const common::DeviceOpener openers[] = {&fake::OpenUsbDevice, &fake::OpenSerialDevice};
    return common::OpenWith(openers, 2, path, access, shareMode, creationDisposition,
                            flagsAndAttributes);
}

bool CloseHandle(Handle handle) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("CloseHandle", &error)) {
        // A handle reported invalid is one the platform no longer knows:
        // it is gone from the table too, as it would be on Windows.
        if (error == kErrorInvalidHandle) {
            common::CloseDevice(handle);
            SetLastError(error);
        }
        return false;
    }
    return common::CloseDevice(handle);
}

#define FORWARD(handle, call, failure)                                         \
    std::uint32_t error = 0;                                                   \
    if (fake::ShouldFail(__func__, &error)) return failure;                    \
    std::shared_ptr<common::DeviceObject> object = common::FindDevice(handle); \
    if (!object) {                                                             \
        SetLastError(kErrorInvalidHandle);                                     \
        return failure;                                                        \
    }                                                                          \
    return object->call

bool ReadFile(Handle handle, void* buffer, std::uint32_t toRead, std::uint32_t* read,
              Overlapped* overlapped) {
    FORWARD(handle, Read(buffer, toRead, read, overlapped), false);
}
bool WriteFile(Handle handle, const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
               Overlapped* overlapped) {
    FORWARD(handle, Write(buffer, toWrite, written, overlapped), false);
}
std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
    FORWARD(handle, Wait(milliseconds), kWaitFailed);
}
bool GetOverlappedResult(Handle handle, Overlapped* overlapped, std::uint32_t* transferred,
                         bool wait) {
    FORWARD(handle, GetOverlappedResult(overlapped, transferred, wait), false);
}
bool CancelIo(Handle handle) {
    FORWARD(handle, CancelIo(), false);
}
bool DeviceIoControl(Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                     void* out, std::uint32_t outSize, std::uint32_t* returned) {
    FORWARD(handle, DeviceIoControl(code, in, inSize, out, outSize, returned), false);
}
bool GetCommState(Handle handle, Dcb* dcb) {
    FORWARD(handle, GetCommState(dcb), false);
}
bool SetCommState(Handle handle, const Dcb* dcb) {
    FORWARD(handle, SetCommState(dcb), false);
}
bool SetCommTimeouts(Handle handle, const CommTimeouts* timeouts) {
    FORWARD(handle, SetCommTimeouts(timeouts), false);
}
bool EscapeCommFunction(Handle handle, std::uint32_t function) {
    FORWARD(handle, EscapeCommFunction(function), false);
}
bool PurgeComm(Handle handle, std::uint32_t flags) {
    FORWARD(handle, PurgeComm(flags), false);
}

#undef FORWARD

std::uint32_t QueryDosDeviceA(const char* deviceName, char* targetPath, std::uint32_t max) {
    return fake::QueryDosDevice(deviceName, targetPath, max);
}
bool DefineDosDeviceA(std::uint32_t flags, const char* deviceName, const char* targetPath) {
    return fake::DefineDosDevice(flags, deviceName, targetPath);
}

}  // namespace plat
