// Reads one key of HKEY_LOCAL_MACHINE through the Linux backend (the file of
// $SORLINK_REGISTRY) and prints its sub-keys and values in order:
//   key <name>
//   value <name> <type> <data bytes in hex>
//   open keys <count still open at the end>
// Usage: registry_probe <key path>; exit status 1 when the key is missing.
#include <cstdio>

#include "platform/common/RegistryCalls.h"
#include "platform/registry.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: registry_probe <key path>\n");
        return 2;
    }
    plat::Hkey key = 0;
    if (plat::RegOpenKeyExA(plat::kHkeyLocalMachine, argv[1], 0, plat::kKeyRead, &key) != 0) {
        std::printf("missing\n");
        return 1;
    }
    char name[256];
    for (std::uint32_t i = 0; i < 10000; ++i) {
        if (plat::RegEnumKeyA(key, i, name, sizeof name) != 0) break;
        std::printf("key %s\n", name);
    }
    for (std::uint32_t i = 0; i < 10000; ++i) {
        std::uint32_t nameSize = sizeof name;
        std::uint8_t data[1024];
        std::uint32_t dataSize = sizeof data;
        std::uint32_t type = 0;
        if (plat::RegEnumValueA(key, i, name, &nameSize, &type, data, &dataSize) != 0) break;
        std::printf("value %s %u ", name, static_cast<unsigned>(type));
        for (std::uint32_t b = 0; b < dataSize; ++b) std::printf("%02x", data[b]);
        std::printf("\n");
    }
    plat::RegCloseKey(key);
    std::printf("open keys %zu\n", plat::reg::OpenKeyCount());
    return 0;
}
