// Process-level platform calls: clock, debugger output, last error, system
// version, library loading and the few file-system calls of the bridge log.
#pragma once

#include <cstddef>
#include <string>

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

constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
std::uint32_t GetFileAttributesA(const char* path);

// The user's documents folder as a path the 8-bit file calls open, at most
// size bytes with its terminator. On Windows the folder is asked for in
// UTF-16 and given in the ANSI code page, or in its short (8.3) form when a
// character of its name has no place in the code page. False when there is
// no such folder or no such form of it.
bool GetDocumentsFolder(char* path, std::uint32_t size);

// The short (8.3) form of an existing path, naming the same file, for a
// path too long for its reader. False where the file system keeps no short
// names (and on systems that have none).
bool GetShortPath(const char* path, char* shortPath, std::uint32_t size);

// A folder the user may write to, for a log that has no place in the
// documents folder (its path too long even in short form): the user's
// temporary folder on Windows. False where the layer's own default log path
// is already the user's (Linux).
bool GetFallbackLogFolder(char* path, std::uint32_t size);

// Text that Java keeps in UTF-16 as the layer's 8-bit text: the ANSI code
// page on Windows (as the layer's registry and file calls read text), UTF-8
// elsewhere. False, with *text empty, when a character has no place in it,
// an unpaired surrogate among them, or is U+0000.
bool TextFromUtf16(const std::uint16_t* utf16, std::size_t length, std::string* text);

// File version of the module that contains this function, as the four
// 16-bit parts of its version resource. False when it cannot be read.
bool GetOwnFileVersion(std::uint16_t parts[4]);

}  // namespace plat
