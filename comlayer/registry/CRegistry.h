// Stateless read-only registry queries used by the transports' discovery
// code. Each query opens its key, asks one thing and closes the key again.
#pragma once

#include "platform/types.h"

class CRegistry {
public:
    static constexpr unsigned kValueSize = 1024;

    CRegistry() = default;
    virtual ~CRegistry() = default;

    int KeyExists(plat::Hkey root, const char* subKey);
    // 1 when the value exists and is a plain string; its text (at most 1023
    // characters) goes to out, a 1024-byte buffer. A string that does not
    // fit gives 0 rather than a cut text. 0 otherwise, out untouched.
    int ReadString(plat::Hkey root, const char* subKey, const char* valueName, char* out);
    // 1 when the value is a 32-bit number, stored in out; otherwise 0 and out = 0.
    int ReadDword(plat::Hkey root, const char* subKey, const char* valueName, int* out);
    int GetSubKeyCount(plat::Hkey root, const char* subKey);
    int GetValueCount(plat::Hkey root, const char* subKey);

private:
    // The value's type, or 0 when the key or the value cannot be read. A
    // value longer than the buffer still reports its type; *tooLong tells.
    std::uint32_t QueryValue(plat::Hkey root, const char* subKey, const char* valueName,
                             unsigned char* buffer, std::uint32_t* length, bool* tooLong);
};
