// Process-level platform calls: clock, debugger output, last error, system
// version, library loading and the few file-system calls of the bridge log.
#pragma once

#include "platform/types.h"

namespace plat {

void GetLocalTime(SystemTime* time);
void OutputDebugStringA(const char* text);

// The calling thread's last platform error number (Windows numbering).
std::uint32_t GetLastError();
void SetLastError(std::uint32_t error);

// Fills the record whose dwOSVersionInfoSize is 156 or 148.
bool GetVersionExA(OsVersionInfoEx* info);

// Library loading by file name and export look-up by name.
Module LoadLibraryA(const char* fileName);
void* GetProcAddress(Module module, const char* name);
bool FreeLibrary(Module module);

// File name of the communication layer, which the bridge binds at run time
// by name: the 64-bit layer, except in the 32-bit bridge, whose process (a
// 32-bit JVM) can load only the 32-bit one.
#if defined(_WIN64)
constexpr const char* kLayerLibraryFileName = "Sorlink64.dll";
#elif defined(_WIN32)
constexpr const char* kLayerLibraryFileName = "Sorlink.dll";
#else
constexpr const char* kLayerLibraryFileName = "libSorlink64.so";
#endif

// Folder of the module that contains this function (the library it is
// linked into), without a trailing separator. False when it cannot be told.
bool GetOwnModuleFolder(char* path, std::uint32_t size);

// Separator between a folder and the names inside it.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The user's documents folder (CSIDL_PERSONAL), never created here.
constexpr int kCsidlPersonal = 5;
bool SHGetSpecialFolderPathA(char* path, int csidl, bool create);
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
std::uint32_t GetFileAttributesA(const char* path);
bool CreateDirectoryA(const char* path);

// File version of the module that contains this function, as the four
// 16-bit parts of its version resource. False when it cannot be read.
bool GetOwnFileVersion(std::uint16_t parts[4]);

}  // namespace plat
