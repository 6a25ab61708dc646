// Bytes typed on the command line, and bytes shown to the user.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace sorlink_tool {

using Bytes = std::vector<unsigned char>;

// "1b 40", "1B40", "0x1b,0x40", "1b:40": pairs of hexadecimal digits, with
// blanks, commas, colons and 0x prefixes between them. False for an odd
// digit count or any other character.
bool ParseHex(const std::string& text, Bytes* bytes);

// Text with C escapes: \n \r \t \e (ESC) \0 \\ and \xHH. False for an
// unknown or unfinished escape.
bool ParseEscapedText(const std::string& text, Bytes* bytes);

// 16 bytes a line: offset, hexadecimal bytes, and the printable characters.
void HexDump(std::FILE* out, const unsigned char* data, std::size_t size);

// The bytes as text: printable characters and line ends as they are, any
// other byte as \xHH.
void TextDump(std::FILE* out, const unsigned char* data, std::size_t size);

}  // namespace sorlink_tool
