#include "platform/win32/device_path.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>

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

}  // namespace

bool NamesADevice(const char* path) {
    if (path == nullptr || path[0] == '\0') return true;
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

}  // namespace plat
