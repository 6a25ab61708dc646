#include "platform/common/RegistryCalls.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/common/LibraryObject.h"
#include "platform/registry.h"

namespace plat::reg {

namespace {

struct OpenedKey {
    std::shared_ptr<const Store> snapshot;
    const Key* key;
};

struct OpenedKeys {
    std::mutex lock;  // guards keys
    std::map<Hkey, OpenedKey> keys;
};

common::LibraryObject<OpenedKeys> openedKeys;

std::mutex& TableLock() {
    return openedKeys.Get().lock;
}

std::map<Hkey, OpenedKey>& Table() {
    return openedKeys.Get().keys;
}

Hkey nextHandle = 0x1000;

const char* RootName(Hkey root) {
    switch (static_cast<std::uint32_t>(root)) {
        case 0x80000000u:
            return "HKEY_CLASSES_ROOT";
        case 0x80000001u:
            return "HKEY_CURRENT_USER";
        case 0x80000002u:
            return "HKEY_LOCAL_MACHINE";
        case 0x80000003u:
            return "HKEY_USERS";
        case 0x80000005u:
            return "HKEY_CURRENT_CONFIG";
        default:
            return nullptr;
    }
}

bool Lookup(Hkey key, OpenedKey* out) {
    std::lock_guard<std::mutex> guard(TableLock());
    auto it = Table().find(key);
    if (it == Table().end()) return false;
    *out = it->second;
    return true;
}

}  // namespace

long OpenKey(SnapshotProvider provider, Hkey root, const char* subKey, Hkey* result) {
    if (result == nullptr) return static_cast<long>(kErrorInvalidParameter);
    std::string path = subKey != nullptr ? subKey : "";
    OpenedKey parent{};
    const Key* key = nullptr;
    if (const char* rootName = RootName(root)) {
        parent.snapshot = provider();
        if (!parent.snapshot) return static_cast<long>(kErrorFileNotFound);
        key = parent.snapshot->Find(rootName, path);
    } else {
        if (!Lookup(root, &parent)) return static_cast<long>(kErrorInvalidHandle);
        key = parent.key;
        for (const std::string& part : SplitPath(path)) {
            if (key == nullptr) break;
            key = key->FindSubKey(part);
        }
    }
    if (key == nullptr) return static_cast<long>(kErrorFileNotFound);
    std::lock_guard<std::mutex> guard(TableLock());
    Hkey handle = nextHandle++;
    Table()[handle] = OpenedKey{parent.snapshot, key};
    *result = handle;
    return 0;
}

long CloseKey(Hkey key) {
    std::lock_guard<std::mutex> guard(TableLock());
    return Table().erase(key) == 1 ? 0 : static_cast<long>(kErrorInvalidHandle);
}

long EnumKey(Hkey key, std::uint32_t index, char* name, std::uint32_t nameSize) {
    OpenedKey opened{};
    if (!Lookup(key, &opened)) return static_cast<long>(kErrorInvalidHandle);
    const Key* subKey = opened.key->SubKeyAt(index);
    if (subKey == nullptr) return static_cast<long>(kErrorNoMoreItems);
    const std::string& subKeyName = subKey->name;
    if (name == nullptr || nameSize <= subKeyName.size()) return static_cast<long>(kErrorMoreData);
    std::memcpy(name, subKeyName.c_str(), subKeyName.size() + 1);
    return 0;
}

// Copies data into a caller's buffer of *size bytes; kErrorMoreData with
// the size needed when it does not fit. A null data pointer asks the size.
static long CopyData(const std::vector<std::uint8_t>& source, std::uint8_t* data,
                     std::uint32_t* size) {
    if (size == nullptr) return data == nullptr ? 0 : static_cast<long>(kErrorInvalidParameter);
    std::uint32_t needed = static_cast<std::uint32_t>(source.size());
    if (data == nullptr) {
        *size = needed;
        return 0;
    }
    if (*size < needed) {
        *size = needed;
        return static_cast<long>(kErrorMoreData);
    }
    if (needed > 0) std::memcpy(data, source.data(), needed);
    *size = needed;
    return 0;
}

long EnumValue(Hkey key, std::uint32_t index, char* valueName, std::uint32_t* valueNameSize,
               std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize) {
    OpenedKey opened{};
    if (!Lookup(key, &opened)) return static_cast<long>(kErrorInvalidHandle);
    const Value* found = opened.key->ValueAt(index);
    if (found == nullptr) return static_cast<long>(kErrorNoMoreItems);
    const Value& value = *found;
    if (valueName == nullptr || valueNameSize == nullptr || *valueNameSize <= value.name.size())
        return static_cast<long>(kErrorMoreData);
    std::memcpy(valueName, value.name.c_str(), value.name.size() + 1);
    *valueNameSize = static_cast<std::uint32_t>(value.name.size());
    if (type != nullptr) *type = value.type;
    return CopyData(value.data, data, dataSize);
}

long QueryValue(Hkey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                std::uint32_t* dataSize) {
    OpenedKey opened{};
    if (!Lookup(key, &opened)) return static_cast<long>(kErrorInvalidHandle);
    const Value* value = opened.key->FindValue(valueName != nullptr ? valueName : "");
    if (value == nullptr) return static_cast<long>(kErrorFileNotFound);
    if (type != nullptr) *type = value->type;
    return CopyData(value->data, data, dataSize);
}

long QueryInfoKey(Hkey key, std::uint32_t* subKeys, std::uint32_t* values) {
    OpenedKey opened{};
    if (!Lookup(key, &opened)) return static_cast<long>(kErrorInvalidHandle);
    if (subKeys != nullptr) *subKeys = static_cast<std::uint32_t>(opened.key->SubKeyCount());
    if (values != nullptr) *values = static_cast<std::uint32_t>(opened.key->ValueCount());
    return 0;
}

std::size_t OpenKeyCount() {
    std::lock_guard<std::mutex> guard(TableLock());
    return Table().size();
}

}  // namespace plat::reg
