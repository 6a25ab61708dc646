// The file to send on Linux: a regular file only, opened without waiting
// (regular_file.h).
#include "platform/send_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/errors.h"
#include "platform/posix/regular_file.h"
#include "platform/system.h"

namespace plat {

std::FILE* OpenFileToSend(const char* path) {
    if (path == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    int fd = posix::OpenRegularFile(path, O_RDONLY, true);
    if (fd < 0) {
        // EINVAL: the path names no regular file, which Windows refuses
        // with access denied.
        if (errno == EINVAL) {
            SetLastError(kErrorAccessDenied);
        } else {
            posix::SetLastErrorFromErrno(errno);
        }
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
