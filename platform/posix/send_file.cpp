// The file to send on Linux: open(2) with O_NONBLOCK, so that a FIFO without
// a writer returns at once instead of blocking, then fstat(2) on
// what was opened, so that nothing swapped in after a check is used.
#include "platform/send_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/errors.h"
#include "platform/system.h"

namespace plat {

std::FILE* OpenFileToSend(const char* path) {
    if (path == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    // Opening a terminal or a serial device changes its line state (it
    // raises DTR and RTS): what is known to be no regular file is not opened.
    struct stat info {};
    if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) {
        SetLastError(kErrorAccessDenied);
        return nullptr;
    }
    // O_NOCTTY: a terminal at the path must not become the controlling one.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        posix::SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        SetLastError(kErrorAccessDenied);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        posix::SetLastErrorFromErrno(errno);
        close(fd);
    }
    return file;
}

}  // namespace plat
