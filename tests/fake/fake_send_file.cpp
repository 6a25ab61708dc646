// The fake's file to send: real files in the test's own folders, opened with
// the meaning CreateFileA(OPEN_EXISTING) and GetFileType have on Windows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/send_file.h"
#include "platform/system.h"

namespace plat {

// CreateFileA(OPEN_EXISTING) fails with ERROR_FILE_NOT_FOUND for a missing
// file and ERROR_PATH_NOT_FOUND for a path through a file; a pipe, a
// console or a device is no FILE_TYPE_DISK (GetFileType), and opening a pipe
// never waits for its other end (the open is non-blocking here).
std::FILE* OpenFileToSend(const char* path) {
    int fd = path == nullptr ? -1 : open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(path == nullptr    ? kErrorInvalidParameter
                     : errno == ENOENT  ? kErrorFileNotFound
                     : errno == ENOTDIR ? kErrorPathNotFound
                                        : kErrorAccessDenied);
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        SetLastError(kErrorAccessDenied);
        return nullptr;
    }
    return fdopen(fd, "rb");
}

}  // namespace plat
