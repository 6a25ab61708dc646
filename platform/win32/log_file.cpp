// The log files on Windows, the layer's and the bridge's alike: CreateFileA,
// one WriteFile and CloseHandle per line or batch of lines.
#include "platform/log_file.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

#include "platform/win32/device_path.h"

namespace plat {

namespace {

// Opens the file for appending, creating it; *existed tells whether it was
// there before. Other ports and processes may read and append to the file
// at the same time, as the C library's fopen lets them. With
// FILE_APPEND_DATA as the only data right, every WriteFile goes to the end
// of the file as it is at that moment, also when another handle appended in
// between. A path that names a device is never opened; anything else but a
// disk file (a link to a device, a pipe) is closed again unused.
HANDLE OpenForAppending(const char* path, bool* existed) {
    if (NamesADevice(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    *existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

bool DefaultLayerLogPath(char* path, std::uint32_t size) {
    static const char kPath[] = "C:\\Sorlink.log";
    if (path == nullptr || size < sizeof kPath) return false;
    std::memcpy(path, kPath, sizeof kPath);
    return true;
}

LogFileState CreateLogFile(const char* path) {
    if (path == nullptr) return LogFileState::kUnusable;
    bool existed = false;
    HANDLE file = OpenForAppending(path, &existed);
    if (file == INVALID_HANDLE_VALUE) return LogFileState::kUnusable;
    ::CloseHandle(file);
    return existed ? LogFileState::kExisting : LogFileState::kCreated;
}

// The default file is opened like a named one, as it always was on Windows:
// making a symbolic link takes a privilege ordinary users do not hold.
bool AppendToLogFile(const char* path, LogPath /*kind*/, const char* text, std::uint32_t size) {
    if (path == nullptr || (text == nullptr && size != 0)) return false;
    // A text stream, as the C library writes one: each "\n" becomes CR LF.
    std::uint32_t lineFeeds = 0;
    for (std::uint32_t i = 0; i < size; ++i) lineFeeds += text[i] == '\n' ? 1 : 0;
    std::uint32_t total = size + lineFeeds;
    if (total < size) return false;
    // A single line (at most 300 bytes, 600 converted) takes no heap: the
    // last line, written while the process ends, may find a heap lock held
    // by a thread ExitProcess stopped. Only a batch of a byte dump's lines
    // needs more.
    char onStack[1024];
    std::unique_ptr<char[]> onHeap;
    char* converted = onStack;
    if (total > sizeof onStack) {
        onHeap.reset(new (std::nothrow) char[total]);
        if (!onHeap) return false;
        converted = onHeap.get();
    }
    char* out = converted;
    for (std::uint32_t i = 0; i < size; ++i) {
        if (text[i] == '\n') *out++ = '\r';
        *out++ = text[i];
    }

    bool existed = false;
    HANDLE file = OpenForAppending(path, &existed);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, converted, total, &written, nullptr) != 0 && written == total;
    ::CloseHandle(file);
    return ok;
}

// Opened as the layer's log is, so that a viewer reading the file with
// full sharing never costs the bridge a line.
bool AppendToFile(const char* path, const void* data, std::uint32_t size) {
    if (path == nullptr || (data == nullptr && size != 0)) return false;
    bool existed = false;
    HANDLE file = OpenForAppending(path, &existed);
    if (file == INVALID_HANDLE_VALUE) return false;
    const char* bytes = static_cast<const char*>(data);
    bool ok = true;
    std::uint32_t done = 0;
    while (ok && done < size) {
        DWORD written = 0;
        ok = ::WriteFile(file, bytes + done, size - done, &written, nullptr) != 0 && written > 0;
        done += written;
    }
    ::CloseHandle(file);
    return ok;
}

}  // namespace plat
