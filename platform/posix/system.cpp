// Process-level calls on Linux.
#include "platform/system.h"

#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/posix/errors.h"

#ifndef SORLINK_VERSION_PARTS
#define SORLINK_VERSION_PARTS 1, 0, 0, 0
#endif

namespace plat {

namespace {
thread_local std::uint32_t lastError = 0;
}

// A byte dump takes the time of every line: the broken-down local time is
// worked out once per second of the clock (time zone changes fall on whole
// seconds) and reused within it.
void GetLocalTime(SystemTime* time) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    thread_local time_t cachedSeconds = -1;
    thread_local struct tm local {};
    if (now.tv_sec != cachedSeconds) {
        time_t seconds = now.tv_sec;
        localtime_r(&seconds, &local);
        cachedSeconds = seconds;
    }
    time->wYear = static_cast<std::uint16_t>(local.tm_year + 1900);
    time->wMonth = static_cast<std::uint16_t>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
    time->wDay = static_cast<std::uint16_t>(local.tm_mday);
    time->wHour = static_cast<std::uint16_t>(local.tm_hour);
    time->wMinute = static_cast<std::uint16_t>(local.tm_min);
    time->wSecond = static_cast<std::uint16_t>(local.tm_sec);
    time->wMilliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
}

// Linux has no debugger-output channel: such lines go to standard error, with
// what a debugger channel promises its caller: it never blocks and never
// kills. A line (at most a few hundred bytes, below PIPE_BUF) is written
// only when the descriptor takes it at once, so a full pipe drops it; a
// reader gone drops it too, and the SIGPIPE the write raises is taken back
// before this thread's signal mask is restored.
void OutputDebugStringA(const char* text) {
    if (text == nullptr) return;
    int savedErrno = errno;
    pollfd target{STDERR_FILENO, POLLOUT, 0};
    if (poll(&target, 1, 0) == 1 && (target.revents & POLLOUT) != 0) {
        sigset_t pipeSignal;
        sigset_t previous;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
        // A SIGPIPE already waiting for this thread belongs to someone else.
        sigset_t pending;
        sigpending(&pending);
        bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
        ssize_t written = 0;
        do {
            written = ::write(STDERR_FILENO, text, std::strlen(text));
        } while (written < 0 && errno == EINTR);
        if (written < 0 && errno == EPIPE && !alreadyPending) {
            struct timespec noWait {};
            while (sigtimedwait(&pipeSignal, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    errno = savedErrno;
}

std::uint32_t GetLastError() {
    return lastError;
}
void SetLastError(std::uint32_t error) {
    lastError = error;
}

// Linux has no DOS device names, so it reports itself as a system outside
// the NT family: the serial transport then opens the device directly.
bool GetVersionExA(OsVersionInfoEx* info) {
    if (info == nullptr || (info->dwOSVersionInfoSize != 156 && info->dwOSVersionInfoSize != 148)) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    std::uint32_t size = info->dwOSVersionInfoSize;
    std::memset(info, 0, sizeof *info);
    info->dwOSVersionInfoSize = size;
    info->dwPlatformId = 0;  // neither Windows 9x nor NT
    return true;
}

Module LoadLibraryA(const char* fileName) {
    if (fileName == nullptr) return nullptr;
    Module module = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) SetLastError(kErrorFileNotFound);
    return module;
}

void* GetProcAddress(Module module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return dlsym(module, name);
}

bool FreeLibrary(Module module) {
    return module != nullptr && dlclose(module) == 0;
}

// The loader records the name a library was found under, which may be
// relative to the working folder of that moment: resolve it.
bool GetOwnModuleFolder(char* path, std::uint32_t size) {
    Dl_info info{};
    if (path == nullptr || size == 0 ||
        dladdr(reinterpret_cast<void*>(&GetOwnModuleFolder), &info) == 0 ||
        info.dli_fname == nullptr) {
        return false;
    }
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) == nullptr) return false;
    char* lastSeparator = std::strrchr(resolved, '/');
    if (lastSeparator == nullptr) return false;
    std::size_t length = static_cast<std::size_t>(lastSeparator - resolved);
    if (length == 0) length = 1;  // a library in the root folder
    if (length >= size) return false;
    std::memcpy(path, resolved, length);
    path[length] = '\0';
    return true;
}

namespace {

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// XDG_DOCUMENTS_DIR of the user's user-dirs.dirs, where the desktop keeps
// the localised name of the documents folder ("$HOME/Dokumente"). Empty
// when the file or the entry is missing or malformed.
std::string UserDirsDocuments(const std::string& home) {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string config =
        configHome != nullptr && configHome[0] == '/' ? std::string(configHome) : home + "/.config";
    std::ifstream file(config + "/user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=\"";
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::size_t end = line.find('"', key.size());
        if (end == std::string::npos) return "";
        std::string value = line.substr(key.size(), end - key.size());
        if (value.compare(0, 6, "$HOME/") == 0) return home + value.substr(5);
        return value.size() > 1 && value[0] == '/' ? value : "";
    }
    return "";
}

// $XDG_DOCUMENTS_DIR, else the one named in the user's user-dirs.dirs when
// it exists, else $HOME/Documents when it exists, else $HOME itself. Empty
// without any of them.
std::string DocumentsFolder() {
    const char* xdg = std::getenv("XDG_DOCUMENTS_DIR");
    if (xdg != nullptr && xdg[0] != '\0') return xdg;
    const char* homeVariable = std::getenv("HOME");
    if (homeVariable == nullptr || homeVariable[0] == '\0') return "";
    std::string home = homeVariable;
    std::string configured = UserDirsDocuments(home);
    if (!configured.empty() && IsFolder(configured)) return configured;
    if (IsFolder(home + "/Documents")) return home + "/Documents";
    return home;
}

}  // namespace

bool GetDocumentsFolder(char* path, std::uint32_t size) {
    if (path == nullptr) return false;
    std::string folder = DocumentsFolder();
    if (folder.empty() || folder.size() >= size) return false;
    std::memcpy(path, folder.c_str(), folder.size() + 1);
    return true;
}

// Linux file systems keep one name per file.
bool GetShortPath(const char*, char*, std::uint32_t) {
    return false;
}

// The layer's default log is already in the user's own state folder.
bool GetFallbackLogFolder(char*, std::uint32_t) {
    return false;
}

// Names on Linux are UTF-8: the print spooler's queue names, sysfs and the
// registry file all hold it.
bool TextFromUtf16(const std::uint16_t* utf16, std::size_t length, std::string* text) {
    text->clear();
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t code = utf16[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[++i] - 0xDC00);
        } else if ((code >= 0xD800 && code <= 0xDFFF) || code == 0) {
            text->clear();
            return false;
        }
        if (code < 0x80) {
            *text += static_cast<char>(code);
        } else if (code < 0x800) {
            *text += static_cast<char>(0xC0 | (code >> 6));
            *text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *text += static_cast<char>(0xE0 | (code >> 12));
            *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *text += static_cast<char>(0xF0 | (code >> 18));
            *text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return true;
}

std::uint32_t GetFileAttributesA(const char* path) {
    struct stat info {};
    if (path == nullptr || stat(path, &info) != 0) {
        posix::SetLastErrorFromErrno(errno);
        return kInvalidFileAttributes;
    }
    return S_ISDIR(info.st_mode) ? 0x10u : 0x80u;
}

bool GetOwnFileVersion(std::uint16_t parts[4]) {
    const std::uint16_t version[4] = {SORLINK_VERSION_PARTS};
    for (int i = 0; i < 4; ++i) parts[i] = version[i];
    return true;
}

}  // namespace plat
