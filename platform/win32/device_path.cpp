#include "platform/win32/device_path.h"

#include <windows.h>
#include <winioctl.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/win32/ansi_text.h"

namespace plat {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "\\X\" or "\XX\" with the given characters in place of the X.
bool HasPrefix(const char* path, const char* shape) {
    for (int i = 0; i < 4; ++i) {
        if (path[i] == '\0') return false;
        if (shape[i] == '\\' ? !IsSeparator(path[i]) : path[i] != shape[i]) return false;
    }
    return true;
}

// CreateFile takes these two as console buffers, wherever they stand.
bool IsConsoleName(const char* path) {
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c) {
        if (IsSeparator(*c) || *c == ':') name = c + 1;
    }
    return _stricmp(name, "CONIN$") == 0 || _stricmp(name, "CONOUT$") == 0;
}

// After "\\" or "\\?\UNC\": a server and its "pipe" or "mailslot" share,
// which the redirector hands to that machine's named pipes and mailslots,
// this machine's too ("\\localhost\pipe\name"): no file system.
bool NamesAPipeShare(const char* server) {
    const char* share = server;
    while (*share != '\0' && !IsSeparator(*share)) ++share;
    if (share == server || *share == '\0') return false;
    ++share;
    std::size_t length = 0;
    while (share[length] != '\0' && !IsSeparator(share[length])) ++length;
    return (length == 4 && _strnicmp(share, "pipe", 4) == 0) ||
           (length == 8 && _strnicmp(share, "mailslot", 8) == 0);
}

// The path by its text alone: true for the names above and those the
// system's path rules turn into a device.
bool NamesADeviceByName(const char* path) {
    // Win32 passes an NT object path on unchanged.
    if (HasPrefix(path, "\\??\\")) return true;
    // "\\?\" hands the rest to the object manager without the Win32 rules:
    // only a drive ("\\?\C:\") or a share ("\\?\UNC\") is a file system.
    if (HasPrefix(path, "\\\\?\\")) {
        const char* rest = path + 4;
        bool drive = std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':' &&
                     IsSeparator(rest[2]);
        bool share = _strnicmp(rest, "UNC", 3) == 0 && IsSeparator(rest[3]);
        return !(drive || share) || (share && NamesAPipeShare(rest + 4));
    }
    if (IsConsoleName(path)) return true;
    // The rules CreateFile applies, on the running system: a reserved name,
    // with or without a folder and an extension, becomes "\\.\NAME".
    std::string full(MAX_PATH, '\0');
    DWORD length = ::GetFullPathNameA(path, MAX_PATH, &full[0], nullptr);
    if (length >= MAX_PATH) {
        full.assign(length, '\0');
        length = ::GetFullPathNameA(path, length, &full[0], nullptr);
        if (length >= full.size()) return true;
    }
    if (length == 0) return true;
    if (HasPrefix(full.c_str(), "\\\\.\\") || HasPrefix(full.c_str(), "\\\\?\\")) return true;
    return IsSeparator(full[0]) && IsSeparator(full[1]) && NamesAPipeShare(&full[2]);
}

// Windows follows at most 63 reparse points in one open; a chain this long
// is refused before.
constexpr int kMostLinks = 31;

// The path's last name as a symbolic link or a junction: CreateFile follows
// it, so what it leads to is what would be opened. The link is opened as
// itself (FILE_FLAG_OPEN_REPARSE_POINT reaches its file system, never the
// target) and its target read. Other reparse points, such as cloud and
// deduplicated files, are files of their own file system. False when the
// path is no such link; true with an empty target when the target cannot
// be read or has no 8-bit form.
bool LinkTarget(const char* path, std::string* target) {
    target->clear();
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return true;
    ::FindClose(search);
    if (found.dwReserved0 != IO_REPARSE_TAG_SYMLINK &&
        found.dwReserved0 != IO_REPARSE_TAG_MOUNT_POINT) {
        return false;
    }
    HANDLE link = ::CreateFileA(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE) return true;
    std::unique_ptr<unsigned char[]> data(
        new (std::nothrow) unsigned char[MAXIMUM_REPARSE_DATA_BUFFER_SIZE]);
    DWORD size = 0;
    bool read = data && ::DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.get(),
                                          MAXIMUM_REPARSE_DATA_BUFFER_SIZE, &size, nullptr) != 0;
    ::CloseHandle(link);
    if (read) ReparseTarget(data.get(), size, path, target);
    return true;
}

bool NamesADeviceThroughLinks(const char* path, int links) {
    if (path == nullptr || path[0] == '\0' || NamesADeviceByName(path)) return true;
    std::string target;
    if (!LinkTarget(path, &target)) return false;
    return links >= kMostLinks || target.empty() ||
           NamesADeviceThroughLinks(target.c_str(), links + 1);
}

}  // namespace

bool ReparseTarget(const unsigned char* data, std::uint32_t size, const char* linkPath,
                   std::string* target) {
    target->clear();
    // REPARSE_DATA_BUFFER: the tag, the data's length and a reserved word,
    // then the offset and length in bytes of the substitute name and of the
    // print name; a symbolic link has a flags word more. The names follow.
    auto word = [data](std::uint32_t at) {
        return static_cast<std::uint32_t>(data[at] | data[at + 1] << 8);
    };
    if (data == nullptr || size < 16) return false;
    std::uint32_t tag = word(0) | word(2) << 16;
    std::uint32_t names = 0;
    bool relative = false;
    if (tag == IO_REPARSE_TAG_SYMLINK && size >= 20) {
        names = 20;
        relative = (data[16] & 1) != 0;  // SYMLINK_FLAG_RELATIVE
    } else if (tag == IO_REPARSE_TAG_MOUNT_POINT) {
        names = 16;
    } else {
        return false;
    }
    std::uint32_t offset = word(8);
    std::uint32_t length = word(10);
    if (length == 0 || length % 2 != 0 || names + offset + length > size) return false;
    std::wstring wide(length / 2, L'\0');
    std::memcpy(&wide[0], data + names + offset, length);
    // An NT path: "\??\" is the Win32 "\\?\", which the rules above read.
    if (wide.compare(0, 4, L"\\??\\") == 0) wide[1] = L'\\';
    std::string ansi;
    if (!WideToAnsi(wide.c_str(), wide.size(), &ansi)) return false;
    if (relative) {
        // From the link's folder, or from the root of its drive for "\...".
        std::string folder = linkPath != nullptr ? linkPath : "";
        std::size_t end = IsSeparator(ansi[0]) ? (folder.size() >= 2 && folder[1] == ':' ? 2 : 0)
                                               : folder.find_last_of("\\/") + 1;
        folder.erase(end);
        ansi = folder + ansi;
    }
    *target = ansi;
    return true;
}

bool NamesADevice(const char* path) {
    return NamesADeviceThroughLinks(path, 0);
}

}  // namespace plat
