// An in-memory registry tree and the parser of the Windows registry editor's
// export format (.reg). Used by the POSIX backend (read from a file) and by
// the test fake (built from text), so both serve the same keys the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat::reg {

struct Value {
    std::string name;  // "" is the default value (@)
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct Key {
    std::string name;
    std::vector<std::unique_ptr<Key>> subKeys;  // in file order
    std::vector<Value> values;                  // in file order

    // Names compare without regard to ASCII letter case, as on Windows.
    Key* FindSubKey(const std::string& subKeyName) const;
    Key* EnsureSubKey(const std::string& subKeyName);
    const Value* FindValue(const std::string& valueName) const;
    // Replaces a value of the same name, or appends it.
    void SetValue(Value value);
    bool RemoveValue(const std::string& valueName);
    bool RemoveSubKey(const std::string& subKeyName);
};

// The whole tree: the roots (HKEY_LOCAL_MACHINE, ...) are the sub-keys of root.
class Store {
public:
    // Path components are separated by backslashes; empty components (a
    // trailing backslash, doubled separators) are ignored. Null when missing.
    Key* Find(const std::string& rootName, const std::string& path) const;
    Key* Ensure(const std::string& rootName, const std::string& path);
    Key& Root() { return root; }
    const Key& Root() const { return root; }

private:
    Key root;
};

// Limits that keep a hostile file from exhausting memory.
constexpr std::size_t kMaxFileBytes = 16u * 1024u * 1024u;
constexpr std::size_t kMaxKeyDepth = 64;

// Parses .reg text ("REGEDIT4" or "Windows Registry Editor Version 5.00",
// 8-bit or UTF-16LE with a byte-order mark) into the store. Lines that
// cannot be understood are skipped; returns how many were skipped. Input
// larger than kMaxFileBytes is ignored as a whole.
std::size_t ParseRegFile(const std::string& bytes, Store& store);

// Text helpers shared by the backends.
bool EqualsIgnoreCase(const std::string& a, const std::string& b);
std::vector<std::string> SplitPath(const std::string& path);

}  // namespace plat::reg
