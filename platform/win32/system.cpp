// Process-level calls on Windows: forwarded, with the records copied
// between the platform layer's types and the Windows ones.
#include "platform/system.h"

#include <windows.h>

// After windows.h, which it needs.
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "platform/win32/ansi_text.h"

namespace plat {

void GetLocalTime(SystemTime* time) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    time->wYear = now.wYear;
    time->wMonth = now.wMonth;
    time->wDayOfWeek = now.wDayOfWeek;
    time->wDay = now.wDay;
    time->wHour = now.wHour;
    time->wMinute = now.wMinute;
    time->wSecond = now.wSecond;
    time->wMilliseconds = now.wMilliseconds;
}

void OutputDebugStringA(const char* text) {
    if (text != nullptr) ::OutputDebugStringA(text);
}

std::uint32_t GetLastError() {
    return ::GetLastError();
}
void SetLastError(std::uint32_t error) {
    ::SetLastError(error);
}

bool GetVersionExA(OsVersionInfoEx* info) {
    if (info == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    OSVERSIONINFOEXA version;
    std::memset(&version, 0, sizeof version);
    if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA);
    } else if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOA)) {
        version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    } else {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // GetVersionEx is deprecated but is the call whose answer the serial
    // transport's version table is written for.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) return false;
#pragma GCC diagnostic pop
    info->dwMajorVersion = version.dwMajorVersion;
    info->dwMinorVersion = version.dwMinorVersion;
    info->dwBuildNumber = version.dwBuildNumber;
    info->dwPlatformId = version.dwPlatformId;
    std::memcpy(info->szCSDVersion, version.szCSDVersion, sizeof info->szCSDVersion);
    if (version.dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
        info->wServicePackMajor = version.wServicePackMajor;
        info->wServicePackMinor = version.wServicePackMinor;
        info->wSuiteMask = version.wSuiteMask;
        info->wProductType = version.wProductType;
        info->wReserved = version.wReserved;
    }
    return true;
}

Module LoadLibraryA(const char* fileName) {
    if (fileName == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return reinterpret_cast<Module>(::LoadLibraryA(fileName));
}

void* GetProcAddress(Module module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

bool FreeLibrary(Module module) {
    return module != nullptr && ::FreeLibrary(static_cast<HMODULE>(module)) != 0;
}

bool GetDocumentsFolder(char* path, std::uint32_t size) {
    wchar_t folder[MAX_PATH];
    if (path == nullptr ||
        FAILED(::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, folder))) {
        return false;
    }
    return AnsiPathOf(folder, path, size);
}

bool GetShortPath(const char* path, char* shortPath, std::uint32_t size) {
    if (path == nullptr || shortPath == nullptr) return false;
    DWORD length = ::GetShortPathNameA(path, shortPath, size);
    return length > 0 && length < size;
}

bool GetFallbackLogFolder(char* path, std::uint32_t size) {
    wchar_t folder[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (path == nullptr || length == 0 || length > MAX_PATH) return false;
    // Without its final separator, as a folder is given to the bridge.
    if (length > 3 && folder[length - 1] == L'\\') folder[length - 1] = L'\0';
    return AnsiPathOf(folder, path, size);
}

bool TextFromUtf16(const std::uint16_t* utf16, std::size_t length, std::string* text) {
    static_assert(sizeof(wchar_t) == sizeof(std::uint16_t), "UTF-16 is wchar_t on Windows");
    return WideToAnsi(reinterpret_cast<const wchar_t*>(utf16), length, text);
}

std::uint32_t GetFileAttributesA(const char* path) {
    if (path == nullptr) return kInvalidFileAttributes;
    return ::GetFileAttributesA(path);
}

namespace {

// The file name of the DLL the platform layer is linked into (the layer or
// the bridge), found from the address of one of its own functions.
bool OwnModuleFileName(char* fileName, DWORD size) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&OwnModuleFileName), &module)) {
        return false;
    }
    DWORD length = ::GetModuleFileNameA(module, fileName, size);
    return length > 0 && length < size;
}

}  // namespace

// The bridge looks for the layer in its own folder first.
bool GetOwnModuleFolder(char* path, std::uint32_t size) {
    char fileName[MAX_PATH];
    if (path == nullptr || size == 0 || !OwnModuleFileName(fileName, MAX_PATH)) return false;
    const char* lastSeparator = std::strrchr(fileName, '\\');
    if (lastSeparator == nullptr) return false;
    std::size_t length = static_cast<std::size_t>(lastSeparator - fileName);
    if (length >= size) return false;
    std::memcpy(path, fileName, length);
    path[length] = '\0';
    return true;
}

bool GetOwnFileVersion(std::uint16_t parts[4]) {
    char fileName[MAX_PATH];
    if (!OwnModuleFileName(fileName, MAX_PATH)) return false;
    DWORD unused = 0;
    DWORD size = ::GetFileVersionInfoSizeA(fileName, &unused);
    if (size == 0) return false;
    std::vector<char> block(size);
    if (!::GetFileVersionInfoA(fileName, 0, size, block.data())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) ||
        fixed == nullptr || fixedSize < sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    parts[0] = HIWORD(fixed->dwFileVersionMS);
    parts[1] = LOWORD(fixed->dwFileVersionMS);
    parts[2] = HIWORD(fixed->dwFileVersionLS);
    parts[3] = LOWORD(fixed->dwFileVersionLS);
    return true;
}

}  // namespace plat
