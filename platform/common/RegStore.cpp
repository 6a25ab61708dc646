#include "platform/common/RegStore.h"

#include <algorithm>
#include <cctype>

#include "platform/registry.h"

namespace plat::reg {

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

namespace {

std::string Fold(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

}  // namespace

template <typename T>
const T* NamedList<T>::At(std::size_t position) const {
    if (removed == 0) return position < slots.size() ? slots[position].get() : nullptr;
    for (const std::shared_ptr<T>& slot : slots) {
        if (slot && position-- == 0) return slot.get();
    }
    return nullptr;
}

template <typename T>
const T* NamedList<T>::Find(const std::string& name) const {
    auto it = index.find(Fold(name));
    return it == index.end() ? nullptr : slots[it->second].get();
}

template <typename T>
T* NamedList<T>::Own(std::size_t slot) {
    // Only this list's own copy holds the entry once the count is 1: the
    // lists that share it never hand it out for changing.
    if (slots[slot].use_count() > 1) slots[slot] = std::make_shared<T>(*slots[slot]);
    return slots[slot].get();
}

template <typename T>
T* NamedList<T>::Unshared(const std::string& name) {
    auto it = index.find(Fold(name));
    return it == index.end() ? nullptr : Own(it->second);
}

template <typename T>
T* NamedList<T>::UnsharedAt(std::size_t position) {
    Pack();
    return position < slots.size() ? Own(position) : nullptr;
}

template <typename T>
T* NamedList<T>::Put(std::shared_ptr<T> entry) {
    auto inserted = index.emplace(Fold(entry->name), slots.size());
    if (!inserted.second) {
        slots[inserted.first->second] = std::move(entry);
        return slots[inserted.first->second].get();
    }
    slots.push_back(std::move(entry));
    return slots.back().get();
}

template <typename T>
bool NamedList<T>::Remove(const std::string& name) {
    auto it = index.find(Fold(name));
    if (it == index.end()) return false;
    slots[it->second].reset();
    index.erase(it);
    ++removed;
    if (removed * 2 > slots.size()) Pack();
    return true;
}

template <typename T>
void NamedList<T>::Pack() {
    if (removed == 0) return;
    std::vector<std::shared_ptr<T>> packed;
    packed.reserve(slots.size() - removed);
    for (std::shared_ptr<T>& slot : slots) {
        if (!slot) continue;
        index[Fold(slot->name)] = packed.size();
        packed.push_back(std::move(slot));
    }
    slots = std::move(packed);
    removed = 0;
}

template class NamedList<Key>;
template class NamedList<Value>;

Key* Key::EnsureSubKey(const std::string& subKeyName) {
    if (Key* existing = EditSubKey(subKeyName)) return existing;
    auto key = std::make_shared<Key>();
    key->name = subKeyName;
    return subKeys.Put(std::move(key));
}

void Key::SetValue(Value value) {
    values.Put(std::make_shared<Value>(std::move(value)));
}

void Key::Pack() {
    subKeys.Pack();
    values.Pack();
    for (std::size_t i = 0; i < subKeys.Count(); ++i) subKeys.UnsharedAt(i)->Pack();
}

const Key* Store::Find(const std::string& rootName, const std::string& path) const {
    const Key* key = root.FindSubKey(rootName);
    for (const std::string& part : SplitPath(path)) {
        if (key == nullptr) return nullptr;
        key = key->FindSubKey(part);
    }
    return key;
}

Key* Store::Ensure(const std::string& rootName, const std::string& path) {
    std::vector<std::string> parts = SplitPath(path);
    if (parts.size() > kMaxKeyDepth) return nullptr;
    Key* key = root.EnsureSubKey(rootName);
    for (const std::string& part : parts) key = key->EnsureSubKey(part);
    return key;
}

Key* Store::Edit(const std::string& rootName, const std::string& path) {
    Key* key = root.EditSubKey(rootName);
    for (const std::string& part : SplitPath(path)) {
        if (key == nullptr) return nullptr;
        key = key->EditSubKey(part);
    }
    return key;
}

namespace {

const char* const kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                              "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

// UTF-16LE (after its byte-order mark) to 8-bit text: characters above 255
// cannot be named by the 8-bit registry calls and become '?'.
std::string NarrowUtf16(const std::string& bytes, std::size_t start) {
    std::string text;
    text.reserve((bytes.size() - start) / 2);
    for (std::size_t i = start; i + 1 < bytes.size(); i += 2) {
        unsigned code = static_cast<unsigned char>(bytes[i]) |
                        static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        text.push_back(code < 256 ? static_cast<char>(code) : '?');
    }
    return text;
}

std::string Decode(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        return NarrowUtf16(bytes, 2);
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    return bytes;
}

std::string TrimRight(const std::string& s) {
    std::size_t end = s.size();
    while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r')) --end;
    return s.substr(0, end);
}

std::string TrimLeft(const std::string& s) {
    std::size_t start = 0;
    while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
    return s.substr(start);
}

// Logical lines: physical lines joined where a value line ends in a backslash.
// One logical line and the number of the file's line it starts on.
struct NumberedLine {
    std::size_t number;
    std::string text;
};

std::vector<NumberedLine> LogicalLines(const std::string& text) {
    std::vector<NumberedLine> lines;
    std::size_t number = 0, first = 1;
    std::string current;
    bool continuing = false;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = TrimRight(text.substr(pos, end - pos));
        pos = end + 1;
        ++number;
        if (continuing) {
            current += TrimLeft(line);
        } else {
            current = line;
            first = number;
        }
        continuing =
            !current.empty() && current.back() == '\\' && current[0] != '[' && current[0] != ';';
        if (continuing) {
            current.pop_back();
        } else {
            lines.push_back({first, current});
        }
        if (end == text.size()) break;
    }
    if (continuing) lines.push_back({first, current});
    return lines;
}

// A quoted text starting at line[pos] == '"', with \\ and \" escapes.
bool ParseQuoted(const std::string& line, std::size_t& pos, std::string& out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"') return true;
        if (c == '\\' && pos < line.size()) c = line[pos++];
        out.push_back(c);
    }
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>& out) {
    out.clear();
    std::size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        if (pos >= text.size()) break;
        int high = HexDigit(text[pos]);
        int low = pos + 1 < text.size() ? HexDigit(text[pos + 1]) : -1;
        if (high < 0) return false;
        if (low < 0) {  // a single digit
            out.push_back(static_cast<std::uint8_t>(high));
            ++pos;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + low));
            pos += 2;
        }
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        if (pos < text.size()) {
            if (text[pos] != ',') return false;
            ++pos;
        }
    }
    return true;
}

bool ParseData(const std::string& text, bool unicodeStrings, Value& value) {
    if (!text.empty() && text[0] == '"') {
        std::size_t pos = 0;
        std::string s;
        if (!ParseQuoted(text, pos, s)) return false;
        if (!TrimLeft(text.substr(pos)).empty()) return false;
        value.type = kRegSz;
        value.data.assign(s.begin(), s.end());
        value.data.push_back(0);
        return true;
    }
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.compare(0, 6, "dword:") == 0) {
        std::string digits = TrimLeft(text.substr(6));
        if (digits.empty() || digits.size() > 8) return false;
        std::uint32_t number = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) return false;
            number = number * 16 + static_cast<std::uint32_t>(d);
        }
        value.type = kRegDword;
        value.data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                      static_cast<std::uint8_t>(number >> 16),
                      static_cast<std::uint8_t>(number >> 24)};
        return true;
    }
    if (lower.compare(0, 3, "hex") != 0) return false;
    std::size_t pos = 3;
    std::uint32_t type = kRegBinary;
    if (pos < lower.size() && lower[pos] == '(') {
        std::size_t close = lower.find(')', pos);
        if (close == std::string::npos || close == pos + 1 || close - pos > 9) return false;
        type = 0;
        for (std::size_t i = pos + 1; i < close; ++i) {
            int d = HexDigit(lower[i]);
            if (d < 0) return false;
            type = type * 16 + static_cast<std::uint32_t>(d);
        }
        pos = close + 1;
    }
    if (pos >= lower.size() || lower[pos] != ':') return false;
    std::vector<std::uint8_t> bytes;
    if (!ParseHexBytes(text.substr(pos + 1), bytes)) return false;
    value.type = type;
    if (unicodeStrings && (type == kRegSz || type == kRegExpandSz || type == kRegMultiSz)) {
        std::string raw(bytes.begin(), bytes.end());
        std::string narrow = NarrowUtf16(raw, 0);
        value.data.assign(narrow.begin(), narrow.end());
    } else {
        value.data = std::move(bytes);
    }
    return true;
}

}  // namespace

std::size_t ParseRegFile(const std::string& bytes, Store& store,
                         std::vector<std::size_t>* skippedLines) {
    if (bytes.size() > kMaxFileBytes) return 0;
    std::string text = Decode(bytes);
    // Version 5 files store hex(2) and hex(7) data as UTF-16LE; REGEDIT4
    // files as 8-bit text.
    bool unicodeStrings = false;
    std::size_t skipped = 0;
    Key* current = nullptr;

    for (const NumberedLine& numbered : LogicalLines(text)) {
        auto skip = [&] {
            ++skipped;
            if (skippedLines != nullptr) skippedLines->push_back(numbered.number);
        };
        std::string line = TrimLeft(numbered.text);
        if (line.empty() || line[0] == ';') continue;
        if (line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00") {
            unicodeStrings = line[0] == 'W';
            continue;
        }

        if (line[0] == '[') {
            current = nullptr;
            std::size_t close = line.rfind(']');
            if (close == std::string::npos) {
                skip();
                continue;
            }
            std::string path = line.substr(1, close - 1);
            bool remove = !path.empty() && path[0] == '-';
            if (remove) path.erase(0, 1);
            std::vector<std::string> parts = SplitPath(path);
            // A zero byte would cut the name short at the 8-bit calls, where
            // it could name another key (or, cut to nothing, the key itself).
            if (parts.empty() || parts.size() > kMaxKeyDepth + 1 ||
                path.find('\0') != std::string::npos) {
                skip();
                continue;
            }
            std::string rootName;
            for (const char* candidate : kRoots) {
                if (EqualsIgnoreCase(parts[0], candidate)) rootName = candidate;
            }
            if (rootName.empty()) {
                skip();
                continue;
            }
            std::string rest = path.substr(std::min(path.size(), parts[0].size() + 1));
            if (remove) {
                std::vector<std::string> restParts = SplitPath(rest);
                if (restParts.empty()) continue;
                std::string last = restParts.back();
                restParts.pop_back();
                std::string parentPath;
                for (const std::string& p : restParts) parentPath += p + "\\";
                if (Key* parent = store.Edit(rootName, parentPath)) parent->RemoveSubKey(last);
                continue;
            }
            current = store.Ensure(rootName, rest);
            if (current == nullptr) skip();
            continue;
        }

        if (current == nullptr) {
            skip();
            continue;
        }
        Value value;
        std::size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ParseQuoted(line, pos, value.name) ||
                   value.name.find('\0') != std::string::npos) {
            skip();
            continue;
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') {
            skip();
            continue;
        }
        std::string data = TrimLeft(line.substr(pos + 1));
        if (data == "-") {
            current->RemoveValue(value.name);
            continue;
        }
        if (!ParseData(data, unicodeStrings, value)) {
            skip();
            continue;
        }
        current->SetValue(std::move(value));
    }
    store.Pack();
    return skipped;
}

}  // namespace plat::reg
