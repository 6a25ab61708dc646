// The fake's log file: real files in the test's own folders, opened with the
// meaning CreateFileA(OPEN_ALWAYS) has on Windows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/log_file.h"
#include "platform/system.h"
#include "tests/fake/fake_platform.h"

namespace fake {
namespace {

std::mutex lock;
std::string defaultLogPath;

}  // namespace

void ResetLogFile() {
    std::lock_guard<std::mutex> guard(lock);
    defaultLogPath.clear();
}

void SetDefaultLogPath(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock);
    defaultLogPath = path;
}

}  // namespace fake

namespace plat {

namespace {

// CreateFileA(OPEN_ALWAYS) sets the last error also when it succeeds:
// ERROR_ALREADY_EXISTS (183) for a file that was there, 0 for a new one
// (CreateFileA documentation). A folder, pipe or device is no disk file
// (GetFileType). The descriptor appends, as a handle opened with
// FILE_APPEND_DATA alone writes at the end of the file.
int OpenAlways(const char* call, const char* path, bool* existed) {
    std::uint32_t error = 0;
    if (fake::ShouldFail(call, &error)) return -1;
    struct stat info {};
    *existed = stat(path, &info) == 0;
    if (*existed && !S_ISREG(info.st_mode)) {
        SetLastError(kErrorAccessDenied);
        return -1;
    }
    int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetLastError(errno == ENOENT ? kErrorPathNotFound : kErrorAccessDenied);
        return -1;
    }
    SetLastError(*existed ? kErrorAlreadyExists : kErrorSuccess);
    return fd;
}

}  // namespace

bool DefaultLayerLogPath(char* path, std::uint32_t size) {
    std::lock_guard<std::mutex> guard(fake::lock);
    if (path == nullptr || fake::defaultLogPath.empty() || fake::defaultLogPath.size() >= size) {
        return false;
    }
    std::memcpy(path, fake::defaultLogPath.c_str(), fake::defaultLogPath.size() + 1);
    return true;
}

LogFileState CreateLogFile(const char* path) {
    bool existed = false;
    int fd = path == nullptr ? -1 : OpenAlways("CreateLogFile", path, &existed);
    if (fd < 0) return LogFileState::kUnusable;
    close(fd);
    return existed ? LogFileState::kExisting : LogFileState::kCreated;
}

// Line ends stay "\n": the unit tests read the files as the Linux build
// writes them.
bool AppendToLogFile(const char* path, LogPath, const char* text, std::uint32_t size) {
    bool existed = false;
    int fd = path == nullptr ? -1 : OpenAlways("AppendToLogFile", path, &existed);
    if (fd < 0) return false;
    ssize_t written = ::write(fd, text, size);
    close(fd);
    return written == static_cast<ssize_t>(size);
}

bool AppendToFile(const char*, const void*, std::uint32_t) {
    return false;
}

}  // namespace plat
