#include "comlayer/serial/SerialShared.h"

#include <cstring>

#include "platform/registry.h"

namespace serial_shared {

std::vector<std::string> SplitList(const std::string& list) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = list.find('|', start);
        if (end == std::string::npos) {
            pieces.push_back(list.substr(start));
            return pieces;
        }
        pieces.push_back(list.substr(start, end - start));
        start = end + 1;
    }
}

// Whole names are compared: a name cut to a fixed width could match
// another port or printer. An empty name names nothing, so it matches no
// piece (an empty list still splits into one empty piece).
bool ListContains(const std::string& list, const char* name) {
    if (name[0] == '\0') return false;
    for (const std::string& piece : SplitList(list)) {
        // Bounded by the piece: a name without a terminator within the
        // list's size is never read past it.
        if (std::strncmp(piece.c_str(), name, piece.size() + 1) == 0) return true;
    }
    return false;
}

long ReadDeviceMapValue(plat::Hkey key, std::uint32_t index, std::string* devicePath,
                        std::string* portName) {
    char valueName[1024] = {};
    unsigned char data[1024] = {};
    std::uint32_t valueNameSize = sizeof valueName;
    std::uint32_t dataSize = sizeof data;
    std::uint32_t type = 0;
    long status =
        plat::RegEnumValueA(key, index, valueName, &valueNameSize, &type, data, &dataSize);
    if (status != 0) return status;
    // Neither text need carry its terminator within the returned size.
    devicePath->assign(valueName, strnlen(valueName, sizeof valueName));
    const char* text = reinterpret_cast<const char*>(data);
    portName->assign(text, strnlen(text, dataSize < sizeof data ? dataSize : sizeof data));
    return 0;
}

}  // namespace serial_shared
