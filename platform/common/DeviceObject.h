// What stands behind a device Handle in a backend that is not Windows (the
// POSIX backend and the test fake): a table from Handle to object, and the
// device calls forwarded to the object. Each backend's serial and USB parts
// provide one kind of object and claim the paths that are theirs.
#pragma once

#include <memory>

#include "platform/types.h"

namespace plat::common {

class DeviceObject {
public:
    virtual ~DeviceObject() = default;

    // Releases the device. False (with the last error set) leaves it open.
    virtual bool Close() = 0;

    // Each call below fails with kErrorInvalidHandle unless the kind of
    // device supports it.
    virtual bool Read(void* buffer, std::uint32_t toRead, std::uint32_t* read,
                      Overlapped* overlapped);
    virtual bool Write(const void* buffer, std::uint32_t toWrite, std::uint32_t* written,
                       Overlapped* overlapped);
    virtual std::uint32_t Wait(std::uint32_t milliseconds);
    virtual bool GetOverlappedResult(Overlapped* overlapped, std::uint32_t* transferred, bool wait);
    virtual bool CancelIo();
    virtual bool DeviceIoControl(std::uint32_t code, const void* in, std::uint32_t inSize,
                                 void* out, std::uint32_t outSize, std::uint32_t* returned);
    virtual bool GetCommState(Dcb* dcb);
    virtual bool SetCommState(const Dcb* dcb);
    virtual bool SetCommTimeouts(const CommTimeouts* timeouts);
    virtual bool EscapeCommFunction(std::uint32_t function);
    virtual bool PurgeComm(std::uint32_t flags);
};

// An opener claims the paths of its kind. It returns the opened object, or
// null: with *claimed true the path was its own and the open failed (the
// last error says why); with *claimed false another opener is asked.
using DeviceOpener = std::unique_ptr<DeviceObject> (*)(const char* path, std::uint32_t access,
                                                       std::uint32_t shareMode,
                                                       std::uint32_t creationDisposition,
                                                       std::uint32_t flags, bool* claimed);

// Keeps opened objects behind handles. CreateFile asks the openers in order.
Handle OpenWith(const DeviceOpener* openers, int count, const char* path, std::uint32_t access,
                std::uint32_t shareMode, std::uint32_t creationDisposition, std::uint32_t flags);
std::shared_ptr<DeviceObject> FindDevice(Handle handle);
// Closes the object and forgets the handle; false leaves both as they were.
bool CloseDevice(Handle handle);
std::size_t OpenDeviceCount();

}  // namespace plat::common
