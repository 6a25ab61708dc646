// The registry calls of platform/registry.h implemented over a Store. A
// backend supplies the snapshot that a key opened from a root should see;
// the key keeps its snapshot alive until it is closed.
#pragma once

#include <memory>

#include "platform/common/RegStore.h"
#include "platform/types.h"

namespace plat::reg {

using SnapshotProvider = std::shared_ptr<const Store> (*)();

long OpenKey(SnapshotProvider provider, Hkey root, const char* subKey, Hkey* result);
long CloseKey(Hkey key);
long EnumKey(Hkey key, std::uint32_t index, char* name, std::uint32_t nameSize);
long EnumValue(Hkey key, std::uint32_t index, char* valueName, std::uint32_t* valueNameSize,
               std::uint32_t* type, std::uint8_t* data, std::uint32_t* dataSize);
long QueryValue(Hkey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                std::uint32_t* dataSize);
long QueryInfoKey(Hkey key, std::uint32_t* subKeys, std::uint32_t* values);

// Number of keys open now (tests check that every opened key is closed).
std::size_t OpenKeyCount();

}  // namespace plat::reg
