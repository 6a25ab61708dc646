#include "tools/common/Bytes.h"

namespace sorlink_tool {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsPrintable(unsigned char c) {
    return c >= 0x20 && c < 0x7f;
}

}  // namespace

bool ParseHex(const std::string& text, Bytes* bytes) {
    Bytes parsed;
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool prefix = c == '0' && high < 0 && i + 1 < text.size() &&
                      (text[i + 1] == 'x' || text[i + 1] == 'X');
        if (prefix) {
            ++i;
            continue;
        }
        int digit = HexDigit(c);
        if (digit < 0) {
            // Separators may only fall between whole bytes.
            if ((c == ' ' || c == ',' || c == ':' || c == '\t') && high < 0) continue;
            return false;
        }
        if (high < 0) {
            high = digit;
        } else {
            parsed.push_back(static_cast<unsigned char>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) return false;
    bytes->insert(bytes->end(), parsed.begin(), parsed.end());
    return true;
}

bool ParseEscapedText(const std::string& text, Bytes* bytes) {
    Bytes parsed;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '\\') {
            parsed.push_back(c);
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case 'n':
                parsed.push_back('\n');
                break;
            case 'r':
                parsed.push_back('\r');
                break;
            case 't':
                parsed.push_back('\t');
                break;
            case 'e':
                parsed.push_back(0x1b);
                break;
            case '0':
                parsed.push_back(0);
                break;
            case '\\':
                parsed.push_back('\\');
                break;
            case 'x': {
                int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (high < 0 || low < 0) return false;
                parsed.push_back(static_cast<unsigned char>(high * 16 + low));
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    bytes->insert(bytes->end(), parsed.begin(), parsed.end());
    return true;
}

void HexDump(std::FILE* out, const unsigned char* data, std::size_t size) {
    for (std::size_t line = 0; line < size; line += 16) {
        std::fprintf(out, "%08zx ", line);
        for (std::size_t i = line; i < line + 16; ++i) {
            if (i % 8 == 0) std::fputc(' ', out);
            if (i < size) {
                std::fprintf(out, "%02x ", data[i]);
            } else {
                std::fputs("   ", out);
            }
        }
        std::fputs(" |", out);
        for (std::size_t i = line; i < line + 16 && i < size; ++i) {
            std::fputc(IsPrintable(data[i]) ? data[i] : '.', out);
        }
        std::fputs("|\n", out);
    }
}

void TextDump(std::FILE* out, const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        unsigned char c = data[i];
        if (IsPrintable(c) || c == '\n' || c == '\t') {
            std::fputc(c, out);
        } else {
            std::fprintf(out, "\\x%02x", c);
        }
    }
    if (size > 0 && data[size - 1] != '\n') std::fputc('\n', out);
}

}  // namespace sorlink_tool
