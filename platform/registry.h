// Read-only registry calls (8-bit text variants) with their Windows meanings:
// results are Windows error numbers, 0 for success.
#pragma once

#include "platform/types.h"

namespace plat {

constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

long RegOpenKeyExA(Hkey root, const char* subKey, std::uint32_t options, std::uint32_t samDesired,
                   Hkey* result);
long RegCloseKey(Hkey key);
// Name of the sub-key at index, into name (nameSize bytes with terminator).
long RegEnumKeyA(Hkey key, std::uint32_t index, char* name, std::uint32_t nameSize);
// Name and data of the value at index. *valueNameSize is the buffer size in
// characters on entry, the name's length on return; *dataSize likewise in bytes.
long RegEnumValueA(Hkey key, std::uint32_t index, char* valueName, std::uint32_t* valueNameSize,
                   std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize);
// Value by name (null or "" for the default value). kErrorMoreData when the
// buffer is too small; *dataSize then holds the size needed.
long RegQueryValueExA(Hkey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize);
// Number of immediate sub-keys and of values; either pointer may be null.
long RegQueryInfoKeyA(Hkey key, std::uint32_t* subKeys, std::uint32_t* values);

}  // namespace plat
