// The file to send on Windows: CreateFileA, which never waits for a pipe's
// other end (a busy pipe fails with ERROR_PIPE_BUSY), and GetFileType to
// keep disk files only. The handle then becomes a C stream.
#include "platform/send_file.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>

#include "platform/win32/device_path.h"

namespace plat {

std::FILE* OpenFileToSend(const char* path) {
    if (path == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A device is refused before it is opened: opening a serial port
    // changes its lines and takes it from the port that uses it.
    if (NamesADevice(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // The sharing the C library's fopen grants: others may read and write.
    HANDLE handle = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (file == nullptr) {
        _close(fd);  // closes the handle too
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return file;
}

}  // namespace plat
