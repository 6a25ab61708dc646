// An in-memory registry tree and the parser of the Windows registry editor's
// export format (.reg). Used by the POSIX backend (read from a file) and by
// the test fake (built from text), so both serve the same keys the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace plat::reg {

struct Value {
    std::string name;  // "" is the default value (@)
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

// Named entries in insertion order, found by name without regard to ASCII
// letter case. A hash index keeps lookups constant-time, so a file with a
// great many entries in one key parses in linear time; removed entries leave
// an empty slot until half of the slots are empty, then the list is packed.
// A copy of a list shares its entries: an entry is cloned before it is
// changed (Unshared) when another list still holds it.
template <typename T>
class NamedList {
public:
    std::size_t Count() const { return slots.size() - removed; }
    const T* At(std::size_t index) const;
    const T* Find(const std::string& name) const;
    // The entry, made this list's own so that it may be changed; null when
    // there is none.
    T* Unshared(const std::string& name);
    T* UnsharedAt(std::size_t index);
    // Appends the entry, or replaces the one of the same name in its place.
    T* Put(std::shared_ptr<T> entry);
    bool Remove(const std::string& name);
    void Pack();

private:
    T* Own(std::size_t slot);

    std::vector<std::shared_ptr<T>> slots;
    std::unordered_map<std::string, std::size_t> index;  // folded name -> slot
    std::size_t removed = 0;
};

// A key: copying one is cheap (its sub-keys and values are shared with the
// original until either side changes them).
class Key {
public:
    std::string name;

    // Sub-keys and values in file order.
    std::size_t SubKeyCount() const { return subKeys.Count(); }
    const Key* SubKeyAt(std::size_t index) const { return subKeys.At(index); }
    std::size_t ValueCount() const { return values.Count(); }
    const Value* ValueAt(std::size_t index) const { return values.At(index); }

    // Names compare without regard to ASCII letter case, as on Windows.
    const Key* FindSubKey(const std::string& subKeyName) const { return subKeys.Find(subKeyName); }
    const Value* FindValue(const std::string& valueName) const { return values.Find(valueName); }
    // The sub-key, created when missing, ready to be changed.
    Key* EnsureSubKey(const std::string& subKeyName);
    // The sub-key ready to be changed; null when missing.
    Key* EditSubKey(const std::string& subKeyName) { return subKeys.Unshared(subKeyName); }
    // Replaces a value of the same name, or appends it.
    void SetValue(Value value);
    bool RemoveValue(const std::string& valueName) { return values.Remove(valueName); }
    bool RemoveSubKey(const std::string& subKeyName) { return subKeys.Remove(subKeyName); }
    // Packs the lists of this key and of every key below it.
    void Pack();

private:
    NamedList<Key> subKeys;
    NamedList<Value> values;
};

// The whole tree: the roots (HKEY_LOCAL_MACHINE, ...) are the sub-keys of
// root. A copy shares the tree with the original and takes its own copy of
// a key only along the paths it changes (Ensure, Edit), so a backend can lay
// live keys over a large parsed file without copying the file.
class Store {
public:
    // Path components are separated by backslashes; empty components (a
    // trailing backslash, doubled separators) are ignored. Null when missing.
    const Key* Find(const std::string& rootName, const std::string& path) const;
    // The key ready to be changed, created with its parents when missing.
    Key* Ensure(const std::string& rootName, const std::string& path);
    // The key ready to be changed; null when missing.
    Key* Edit(const std::string& rootName, const std::string& path);
    const Key& Root() const { return root; }
    // Packs away the slots that removals left, in every key.
    void Pack() { root.Pack(); }

private:
    Key root;
};

// Limits that keep a hostile file from exhausting memory.
constexpr std::size_t kMaxFileBytes = 16u * 1024u * 1024u;
constexpr std::size_t kMaxKeyDepth = 64;

// Parses .reg text ("REGEDIT4" or "Windows Registry Editor Version 5.00",
// 8-bit or UTF-16LE with a byte-order mark) into the store. Lines that
// cannot be understood are skipped; returns how many were skipped. Input
// larger than kMaxFileBytes is ignored as a whole. skippedLines, when given,
// receives the number (from 1) of the file's line where each skipped
// entry starts.
std::size_t ParseRegFile(const std::string& bytes, Store& store,
                         std::vector<std::size_t>* skippedLines = nullptr);

// Text helpers shared by the backends.
bool EqualsIgnoreCase(const std::string& a, const std::string& b);
std::vector<std::string> SplitPath(const std::string& path);

}  // namespace plat::reg
