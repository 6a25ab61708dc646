// Feeds arbitrary bytes to the .reg parser, then walks whatever tree came
// out through the registry calls the transports use, with buffers both too
// small and large enough. Every key opened must be closed again.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/common/RegStore.h"
#include "platform/common/RegistryCalls.h"
#include "platform/registry.h"

namespace {

std::shared_ptr<const plat::reg::Store> parsed;

std::shared_ptr<const plat::reg::Store> Parsed() {
    return parsed;
}

void ReadValues(plat::Hkey key) {
    std::uint32_t values = 0;
    if (plat::reg::QueryInfoKey(key, nullptr, &values) != 0) std::abort();
    for (std::uint32_t i = 0;; ++i) {
        char name[256];
        std::uint32_t nameSize = sizeof name;
        std::uint8_t data[1024];
        std::uint32_t dataSize = sizeof data;
        std::uint32_t type = 0;
        long status = plat::reg::EnumValue(key, i, name, &nameSize, &type, data, &dataSize);
        if (i == values) {
            if (status != static_cast<long>(plat::kErrorNoMoreItems)) std::abort();
            return;
        }
        if (status == static_cast<long>(plat::kErrorMoreData)) continue;
        if (status != 0) std::abort();
        // The same value by name, into a buffer too small for most data.
        std::uint8_t small[2];
        std::uint32_t smallSize = sizeof small;
        status = plat::reg::QueryValue(key, name, &type, small, &smallSize);
        if (status == static_cast<long>(plat::kErrorMoreData) && smallSize <= sizeof small)
            std::abort();
    }
}

void Walk(plat::Hkey key, int depth) {
    ReadValues(key);
    if (depth > static_cast<int>(plat::reg::kMaxKeyDepth) + 1) std::abort();
    char name[256];
    for (std::uint32_t i = 0;; ++i) {
        long status = plat::reg::EnumKey(key, i, name, sizeof name);
        if (status == static_cast<long>(plat::kErrorNoMoreItems)) return;
        if (status != 0) continue;
        plat::Hkey sub = 0;
        if (plat::reg::OpenKey(&Parsed, key, name, &sub) != 0) continue;
        Walk(sub, depth + 1);
        if (plat::reg::CloseKey(sub) != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto store = std::make_shared<plat::reg::Store>();
    plat::reg::ParseRegFile(std::string(reinterpret_cast<const char*>(data), size), *store);
    parsed = store;
    plat::Hkey root = 0;
    if (plat::reg::OpenKey(&Parsed, plat::kHkeyLocalMachine, "", &root) == 0) {
        Walk(root, 0);
        plat::reg::CloseKey(root);
    }
    parsed.reset();
    if (plat::reg::OpenKeyCount() != 0) std::abort();
    return 0;
}
