// The handle table and the default answers of a device object.
#include "platform/common/DeviceObject.h"

#include <map>
#include <mutex>

#include "platform/common/LibraryObject.h"
#include "platform/device.h"
#include "platform/system.h"

namespace plat::common {

bool DeviceObject::Read(void*, std::uint32_t, std::uint32_t*, Overlapped*) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::Write(const void*, std::uint32_t, std::uint32_t*, Overlapped*) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
std::uint32_t DeviceObject::Wait(std::uint32_t) {
    SetLastError(kErrorInvalidHandle);
    return kWaitFailed;
}
bool DeviceObject::GetOverlappedResult(Overlapped*, std::uint32_t*, bool) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::CancelIo() {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::DeviceIoControl(std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                                   std::uint32_t*) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::GetCommState(Dcb*) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::SetCommState(const Dcb*) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::SetCommTimeouts(const CommTimeouts*) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::EscapeCommFunction(std::uint32_t) {
    SetLastError(kErrorInvalidHandle);
    return false;
}
bool DeviceObject::PurgeComm(std::uint32_t) {
    SetLastError(kErrorInvalidHandle);
    return false;
}

namespace {

struct HandleTable {
    std::mutex lock;
    std::map<Handle, std::shared_ptr<DeviceObject>> objects;
    Handle next = 0x100;
};

LibraryObject<HandleTable> handleTable;

HandleTable& Table() {
    return handleTable.Get();
}

}  // namespace

Handle OpenWith(const DeviceOpener* openers, int count, const char* path, std::uint32_t access,
                std::uint32_t shareMode, std::uint32_t creationDisposition, std::uint32_t flags) {
    if (path == nullptr || path[0] == '\0') {
        SetLastError(kErrorFileNotFound);
        return kInvalidHandle;
    }
    for (int i = 0; i < count; ++i) {
        bool claimed = false;
        std::unique_ptr<DeviceObject> object =
            openers[i](path, access, shareMode, creationDisposition, flags, &claimed);
        if (object) {
            std::lock_guard<std::mutex> guard(Table().lock);
            Handle handle = Table().next++;
            Table().objects[handle] = std::move(object);
            return handle;
        }
        if (claimed) return kInvalidHandle;
    }
    SetLastError(kErrorFileNotFound);
    return kInvalidHandle;
}

std::shared_ptr<DeviceObject> FindDevice(Handle handle) {
    std::lock_guard<std::mutex> guard(Table().lock);
    auto it = Table().objects.find(handle);
    if (it == Table().objects.end()) return nullptr;
    return it->second;
}

bool CloseDevice(Handle handle) {
    std::shared_ptr<DeviceObject> object = FindDevice(handle);
    if (!object) {
        SetLastError(kErrorInvalidHandle);
        return false;
    }
    if (!object->Close()) return false;
    std::lock_guard<std::mutex> guard(Table().lock);
    Table().objects.erase(handle);
    return true;
}

std::size_t OpenDeviceCount() {
    std::lock_guard<std::mutex> guard(Table().lock);
    return Table().objects.size();
}

}  // namespace plat::common
