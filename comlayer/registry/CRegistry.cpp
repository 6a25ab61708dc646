#include "comlayer/registry/CRegistry.h"

#include <cstring>

#include "platform/registry.h"

std::uint32_t CRegistry::QueryValue(plat::Hkey root, const char* subKey, const char* valueName,
                                    unsigned char* buffer, std::uint32_t* length, bool* tooLong) {
    *tooLong = false;
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(root, subKey, 0, plat::kKeyRead, &key) != 0) return 0;
    std::uint32_t type = 0;
    *length = kValueSize;
    long status = plat::RegQueryValueExA(key, valueName, &type, buffer, length);
    plat::RegCloseKey(key);
    if (status == static_cast<long>(plat::kErrorMoreData)) {
        *tooLong = true;
        return type;
    }
    return status == 0 ? type : 0;
}

int CRegistry::KeyExists(plat::Hkey root, const char* subKey) {
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(root, subKey, 0, plat::kKeyRead, &key) != 0) return 0;
    plat::RegCloseKey(key);
    return 1;
}

int CRegistry::ReadString(plat::Hkey root, const char* subKey, const char* valueName, char* out) {
    unsigned char buffer[kValueSize + 1] = {};
    std::uint32_t length = 0;
    bool tooLong = false;
    if (out == nullptr) return 0;
    if (QueryValue(root, subKey, valueName, buffer, &length, &tooLong) != plat::kRegSz) return 0;
    if (tooLong) return 0;
    // The stored text may or may not carry its terminator; never read past
    // what was returned, and always terminate.
    std::size_t textLength = strnlen(reinterpret_cast<const char*>(buffer), length);
    if (textLength > kValueSize - 1) return 0;
    std::memcpy(out, buffer, textLength);
    out[textLength] = '\0';
    return 1;
}

int CRegistry::ReadDword(plat::Hkey root, const char* subKey, const char* valueName, int* out) {
    unsigned char buffer[kValueSize] = {};
    std::uint32_t length = 0;
    bool tooLong = false;
    if (out == nullptr) return 0;
    *out = 0;
    if (QueryValue(root, subKey, valueName, buffer, &length, &tooLong) != plat::kRegDword) return 0;
    if (tooLong || length < 4) return 0;
    *out = static_cast<int>(
        static_cast<std::uint32_t>(buffer[0]) | static_cast<std::uint32_t>(buffer[1]) << 8 |
        static_cast<std::uint32_t>(buffer[2]) << 16 | static_cast<std::uint32_t>(buffer[3]) << 24);
    return 1;
}

int CRegistry::GetSubKeyCount(plat::Hkey root, const char* subKey) {
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(root, subKey, 0, plat::kKeyRead, &key) != 0) return 0;
    std::uint32_t count = 0;
    long status = plat::RegQueryInfoKeyA(key, &count, nullptr);
    plat::RegCloseKey(key);
    return status == 0 ? static_cast<int>(count) : 0;
}

int CRegistry::GetValueCount(plat::Hkey root, const char* subKey) {
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(root, subKey, 0, plat::kKeyRead, &key) != 0) return 0;
    std::uint32_t count = 0;
    long status = plat::RegQueryInfoKeyA(key, nullptr, &count);
    plat::RegCloseKey(key);
    return status == 0 ? static_cast<int>(count) : 0;
}
