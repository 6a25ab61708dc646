#include "comlayer/usb/UsbNames.h"

#include <cctype>
#include <cstring>

namespace {

// Reads `digits` hexadecimal digits at text; false on any other character.
bool ReadHex(const char* text, int digits, unsigned long long* value) {
    *value = 0;
    for (int i = 0; i < digits; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isxdigit(c)) return false;
        int digit = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
        *value = (*value << 4) | static_cast<unsigned>(digit);
    }
    return true;
}

void CopySegment(const char* from, std::size_t length, char* to, std::size_t toSize) {
    if (length >= toSize) length = toSize - 1;
    std::memcpy(to, from, length);
    to[length] = '\0';
}

}  // namespace

bool ParseGuidText(const char* text, plat::Guid* guid) {
    *guid = plat::Guid{};
    if (text == nullptr || std::strlen(text) != 38 || text[0] != '{' || text[37] != '}' ||
        text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return false;
    }
    unsigned long long value = 0;
    plat::Guid parsed{};
    if (!ReadHex(text + 1, 8, &value)) return false;
    parsed.Data1 = static_cast<std::uint32_t>(value);
    if (!ReadHex(text + 10, 4, &value)) return false;
    parsed.Data2 = static_cast<std::uint16_t>(value);
    if (!ReadHex(text + 15, 4, &value)) return false;
    parsed.Data3 = static_cast<std::uint16_t>(value);
    // The fourth group and the last group are eight bytes in text order.
    const char* byteText[8] = {text + 20, text + 22, text + 25, text + 27,
                               text + 29, text + 31, text + 33, text + 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(byteText[i], 2, &value)) return false;
        parsed.Data4[i] = static_cast<std::uint8_t>(value);
    }
    *guid = parsed;
    return true;
}

void CutDevicePath(const char* path, UsbPathParts* parts) {
    std::memset(parts, 0, sizeof(*parts));
    std::size_t length = std::strlen(path);
    if (length <= 8) return;
    const char* hardware = path + 8;
    const char* hash = std::strchr(hardware, '#');
    std::size_t hardwareLength =
        hash != nullptr ? static_cast<std::size_t>(hash - hardware) : std::strlen(hardware);
    CopySegment(hardware, hardwareLength, parts->hardwareId, sizeof(parts->hardwareId));
    if (hash != nullptr) {
        const char* instance = hash + 1;
        const char* end = std::strchr(instance, '#');
        std::size_t instanceLength =
            end != nullptr ? static_cast<std::size_t>(end - instance) : std::strlen(instance);
        CopySegment(instance, instanceLength, parts->instance, sizeof(parts->instance));
    }
    std::size_t idLength = std::strlen(parts->hardwareId);
    if (idLength > 4) CopySegment(parts->hardwareId + 4, idLength - 4, parts->vendorId, 5);
    if (idLength > 13) CopySegment(parts->hardwareId + 13, idLength - 13, parts->productId, 5);
}

void PointAtFunctionZero(UsbPathParts* parts) {
    std::size_t h = std::strlen(parts->hardwareId);
    if (h > 0) parts->hardwareId[h - 1] = '0';
    std::size_t i = std::strlen(parts->instance);
    if (i > 0) parts->instance[i - 1] = '0';
}

bool AppendListEntry(char* list, std::size_t listSize, const char* entry) {
    std::size_t used = std::strlen(list);
    std::size_t length = std::strlen(entry);
    if (used + length >= listSize) return false;
    std::memcpy(list + used, entry, length + 1);
    return true;
}

bool EqualNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = std::tolower(static_cast<unsigned char>(*a));
        int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}
