// The log files on Linux. The layer's default file lives in the user's own
// state folder, where no other user can plant a link or a FIFO in its
// place; a file the caller names is the caller's choice and is opened
// through links as given. The bridge's logs live in a folder it makes the
// user's alone and are opened like the default file.
#include "platform/log_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/errors.h"
#include "platform/posix/regular_file.h"

namespace plat {

namespace {

// A log line leaves errno as it found it, like the platform's last error.
class ErrnoKept {
public:
    ErrnoKept() : saved(errno) {}
    ~ErrnoKept() { errno = saved; }
    ErrnoKept(const ErrnoKept&) = delete;
    ErrnoKept& operator=(const ErrnoKept&) = delete;

private:
    int saved;
};

// $HOME, else the home folder the password database gives the user (a
// service started without HOME in its environment).
std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        return "";
    }
    return found->pw_dir;
}

// The folders above the file that are missing, readable by the user alone
// (0700, as the XDG base directory rules ask of the folders they create).
void CreateFoldersAbove(const char* path) {
    std::string folder(path);
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        folder[slash] = '\0';
        mkdir(folder.c_str(), 0700);  // EEXIST for the folders already there
        folder[slash] = '/';
    }
}

// Opens the log file for appending, creating it; anything but a regular
// file is left unopened. The default file is never reached through a link,
// and its missing folders are made. -1 when the file cannot be used.
int OpenForAppending(const char* path, LogPath kind) {
    bool isDefault = kind == LogPath::kDefault;
    const int flags = O_WRONLY | O_APPEND | O_CREAT;
    int fd = posix::OpenRegularFile(path, flags, !isDefault);
    if (fd < 0 && errno == ENOENT && isDefault) {
        CreateFoldersAbove(path);
        fd = posix::OpenRegularFile(path, flags, false);
    }
    return fd;
}

// What one write call does not take (a signal, a full disk) is offered again.
bool WriteWhole(int fd, const void* data, std::uint32_t size) {
    const char* bytes = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    return done == size;
}

}  // namespace

// $XDG_STATE_HOME/sorlink/Sorlink.log, else ~/.local/state/sorlink/Sorlink.log.
// Windows keeps its log at the root of the system drive; the nearest Linux
// place, a folder every user may write to (/tmp), would let another user
// plant a link there and choose which file a service running as root
// appends to.
bool DefaultLayerLogPath(char* path, std::uint32_t size) {
    if (path == nullptr) return false;
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    std::string folder;
    if (stateHome != nullptr && stateHome[0] == '/') {
        folder = stateHome;
    } else {
        std::string home = HomeFolder();
        if (home.empty()) return false;
        folder = home + "/.local/state";
    }
    std::string file = folder + "/sorlink/Sorlink.log";
    if (file.size() >= size) return false;
    std::memcpy(path, file.c_str(), file.size() + 1);
    return true;
}

LogFileState CreateLogFile(const char* path) {
    if (path == nullptr) return LogFileState::kUnusable;
    ErrnoKept kept;
    struct stat info {};
    if (stat(path, &info) == 0) {
        return S_ISREG(info.st_mode) ? LogFileState::kExisting : LogFileState::kUnusable;
    }
    int fd = OpenForAppending(path, LogPath::kNamed);
    if (fd < 0) return LogFileState::kUnusable;
    close(fd);
    return LogFileState::kCreated;
}

bool AppendToLogFile(const char* path, LogPath kind, const char* text, std::uint32_t size) {
    if (path == nullptr || (text == nullptr && size != 0)) return false;
    ErrnoKept kept;
    int fd = OpenForAppending(path, kind);
    if (fd < 0) return false;
    // One write in append mode: the kernel puts the whole text at the end of
    // the file at once, so lines of other writers never fall inside it.
    bool written = WriteWhole(fd, text, size);
    close(fd);
    return written;
}

// The bridge's files are opened like the default layer log (never through
// a link, without waiting, a regular file only: a FIFO or a device would
// hold up the device's open for ever), and only when they are the user's
// own: a file another user made in the folder before it was the user's
// alone is not written. Nor is a file with a second name: a hard link
// planted then to a file of the user's elsewhere (root's, for a service
// running as root) passes the owner check.
namespace {
int OpenPrivateFile(const char* path) {
    int fd = posix::OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, false, 0600);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || info.st_uid != geteuid() || info.st_nlink != 1)) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}
}  // namespace

bool AppendToFile(const char* path, const void* data, std::uint32_t size) {
    if (path == nullptr || (data == nullptr && size != 0)) return false;
    int fd = OpenPrivateFile(path);
    if (fd < 0) {
        posix::SetLastErrorFromErrno(errno);
        return false;
    }
    bool written = WriteWhole(fd, data, size);
    close(fd);
    return written;
}

bool PrepareLogFile(const char* path) {
    if (path == nullptr) return false;
    ErrnoKept kept;
    int fd = OpenPrivateFile(path);
    if (fd < 0) return false;
    close(fd);
    return true;
}

// Links above it are the user's choice of documents folder, so stat follows
// them; what matters is who may change the folder's entries.
bool UsableDocumentsFolder(const char* path) {
    if (path == nullptr) return false;
    ErrnoKept kept;
    struct stat info {};
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    if (info.st_uid != geteuid() && info.st_uid != 0) return false;
    if ((info.st_mode & S_ISVTX) != 0) return true;
    bool othersWrite = (info.st_mode & S_IWOTH) != 0;
    bool foreignGroupWrite = (info.st_mode & S_IWGRP) != 0 && info.st_gid != getegid();
    return !othersWrite && !foreignGroupWrite;
}

// Checked with lstat, so a link is seen as a link. Nobody else can swap the
// folder between the check and its use: its parent is the user's alone.
bool PrepareLogFolder(const char* path) {
    if (path == nullptr) return false;
    ErrnoKept kept;
    struct stat info {};
    if (lstat(path, &info) != 0) {
        if (errno != ENOENT || (mkdir(path, 0700) != 0 && errno != EEXIST) ||
            lstat(path, &info) != 0) {
            return false;
        }
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid()) return false;
    mode_t othersWrite = S_IWGRP | S_IWOTH;
    if ((info.st_mode & othersWrite) != 0 &&
        chmod(path, info.st_mode & 07777 & ~othersWrite) != 0) {
        return false;
    }
    return true;
}

}  // namespace plat
