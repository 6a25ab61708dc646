// Registry calls on Windows: forwarded.
#include "platform/registry.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/win32/ansi_text.h"

namespace plat {

namespace {

// The platform layer's root value is the 32-bit constant; on 64-bit Windows
// the predefined key is that constant sign-extended, so it is mapped here.
HKEY ToWindows(Hkey key) {
    if (key == kHkeyLocalMachine) return HKEY_LOCAL_MACHINE;
    return reinterpret_cast<HKEY>(key);
}

}  // namespace

long RegOpenKeyExA(Hkey root, const char* subKey, std::uint32_t options, std::uint32_t samDesired,
                   Hkey* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    HKEY opened = nullptr;
    LONG status = ::RegOpenKeyExA(ToWindows(root), subKey, options, samDesired, &opened);
    *result = status == ERROR_SUCCESS ? reinterpret_cast<Hkey>(opened) : 0;
    return status;
}

long RegCloseKey(Hkey key) {
    return ::RegCloseKey(ToWindows(key));
}

// RegEnumKeyA gives a name outside the ANSI code page with '?' or a
// look-alike in place of each such character: a name no key has, which
// fails to open, or worse, another printer's. The name is read in UTF-16
// and converted without substitutes; one that does not convert is reported
// as ERROR_NO_UNICODE_TRANSLATION, so callers skip that key.
long RegEnumKeyA(Hkey key, std::uint32_t index, char* name, std::uint32_t nameSize) {
    if (name == nullptr || nameSize == 0) return ERROR_INVALID_PARAMETER;
    // Key names are at most 255 characters.
    wchar_t wide[256];
    DWORD wideLength = sizeof wide / sizeof wide[0];
    LONG status = ::RegEnumKeyExW(ToWindows(key), index, wide, &wideLength, nullptr, nullptr,
                                  nullptr, nullptr);
    if (status != ERROR_SUCCESS) return status;
    std::string ansi;
    if (!WideToAnsi(wide, wideLength, &ansi)) return ERROR_NO_UNICODE_TRANSLATION;
    if (ansi.size() >= nameSize) return ERROR_MORE_DATA;
    std::memcpy(name, ansi.c_str(), ansi.size() + 1);
    return ERROR_SUCCESS;
}

long RegEnumValueA(Hkey key, std::uint32_t index, char* valueName, std::uint32_t* valueNameSize,
                   std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) {
    DWORD nameLength = valueNameSize != nullptr ? *valueNameSize : 0;
    DWORD valueType = 0;
    DWORD dataLength = dataSize != nullptr ? *dataSize : 0;
    LONG status = ::RegEnumValueA(ToWindows(key), index, valueName, &nameLength, nullptr,
                                  &valueType, data, dataSize != nullptr ? &dataLength : nullptr);
    if (valueNameSize != nullptr) *valueNameSize = nameLength;
    if (type != nullptr) *type = valueType;
    if (dataSize != nullptr) *dataSize = dataLength;
    return status;
}

long RegQueryValueExA(Hkey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize) {
    DWORD valueType = 0;
    DWORD dataLength = dataSize != nullptr ? *dataSize : 0;
    LONG status = ::RegQueryValueExA(ToWindows(key), valueName, nullptr, &valueType, data,
                                     dataSize != nullptr ? &dataLength : nullptr);
    if (type != nullptr) *type = valueType;
    if (dataSize != nullptr) *dataSize = dataLength;
    return status;
}

long RegQueryInfoKeyA(Hkey key, std::uint32_t* subKeys, std::uint32_t* values) {
    DWORD subKeyCount = 0;
    DWORD valueCount = 0;
    LONG status =
        ::RegQueryInfoKeyA(ToWindows(key), nullptr, nullptr, nullptr, &subKeyCount, nullptr,
                           nullptr, &valueCount, nullptr, nullptr, nullptr, nullptr);
    if (subKeys != nullptr) *subKeys = subKeyCount;
    if (values != nullptr) *values = valueCount;
    return status;
}

}  // namespace plat
