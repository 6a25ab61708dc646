// The fake registry: a store built from .reg text; every call can be made
// to fail through the fault table.
#include <mutex>

#include "platform/common/RegistryCalls.h"
#include "platform/registry.h"
#include "tests/fake/fake_platform.h"

namespace fake {
namespace {
std::shared_ptr<plat::reg::Store>& Current() {
    static auto* store =
        new std::shared_ptr<plat::reg::Store>(std::make_shared<plat::reg::Store>());
    return *store;
}
std::shared_ptr<const plat::reg::Store> Snapshot() {
    return Current();
}
}  // namespace

void ResetRegistry() {
    Current() = std::make_shared<plat::reg::Store>();
}

void SetRegistry(const std::string& regText) {
    auto store = std::make_shared<plat::reg::Store>();
    plat::reg::ParseRegFile(regText, *store);
    Current() = store;
}

plat::reg::Store& Registry() {
    return *Current();
}

}  // namespace fake

namespace plat {

long RegOpenKeyExA(Hkey root, const char* subKey, std::uint32_t, std::uint32_t, Hkey* result) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("RegOpenKeyExA", &error)) return static_cast<long>(error);
    return reg::OpenKey(&fake::Snapshot, root, subKey, result);
}
long RegCloseKey(Hkey key) {
    std::uint32_t error = 0;
    long status = reg::CloseKey(key);
    if (fake::ShouldFail("RegCloseKey", &error)) return static_cast<long>(error);
    return status;
}
long RegEnumKeyA(Hkey key, std::uint32_t index, char* name, std::uint32_t nameSize) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("RegEnumKeyA", &error)) return static_cast<long>(error);
    return reg::EnumKey(key, index, name, nameSize);
}
long RegEnumValueA(Hkey key, std::uint32_t index, char* valueName, std::uint32_t* valueNameSize,
                   std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("RegEnumValueA", &error)) return static_cast<long>(error);
    return reg::EnumValue(key, index, valueName, valueNameSize, type, data, dataSize);
}
long RegQueryValueExA(Hkey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("RegQueryValueExA", &error)) return static_cast<long>(error);
    return reg::QueryValue(key, valueName, type, data, dataSize);
}
long RegQueryInfoKeyA(Hkey key, std::uint32_t* subKeys, std::uint32_t* values) {
    std::uint32_t error = 0;
    if (fake::ShouldFail("RegQueryInfoKeyA", &error)) return static_cast<long>(error);
    return reg::QueryInfoKey(key, subKeys, values);
}

}  // namespace plat
