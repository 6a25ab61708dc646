#include "platform/posix/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace plat::posix {

int OpenRegularFile(const char* path, int flags, bool followLinks, int mode) {
    struct stat info {};
    int found = followLinks ? stat(path, &info) : lstat(path, &info);
    if (found == 0 && !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    // O_NONBLOCK: a FIFO put in place after the check fails the open (a
    // writer without a reader) or opens at once and is refused below.
    flags |= O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (!followLinks) flags |= O_NOFOLLOW;
    int fd = open(path, flags, static_cast<mode_t>(mode));
    if (fd < 0) return -1;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

}  // namespace plat::posix
