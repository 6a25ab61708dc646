// The file to send on Linux: a regular file only, opened without waiting
// (regular_file.h).
#include "platform/send_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/errors.h"
#include "platform/posix/regular_file.h"
#include "platform/system.h"

namespace plat {

namespace {

// Windows tells a missing file (2) from a missing folder on the way to it
// (3); open(2) says ENOENT for both. The folder part is looked at again to
// give the number Windows gives.
bool FolderIsMissing(const char* path) {
    std::string folder = path;
    std::size_t slash = folder.find_last_of('/');
    if (slash == std::string::npos) return false;  // the current folder exists
    folder.erase(slash == 0 ? 1 : slash);
    struct stat info {};
    return stat(folder.c_str(), &info) != 0;
}

}  // namespace

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
        } else if (errno == ENOENT && FolderIsMissing(path)) {
            SetLastError(kErrorPathNotFound);
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
