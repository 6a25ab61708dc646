// The system's ANSI code page as the 8-bit text of the layer and the
// bridge, converted from the UTF-16 that Windows and Java keep names in.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace plat {

// The text in the ANSI code page, without a character changed: false when
// one has no place there (no '?' and no look-alike stands in for it) or is
// U+0000, which would end the 8-bit text early.
bool WideToAnsi(const wchar_t* text, std::size_t length, std::string* ansi);

// A path the ANSI file calls open: the path itself when the code page holds
// it and it fits `size` bytes with its terminator, else its short (8.3)
// form, which names the same file. False when neither does: the volume
// keeps no short names, or the path does not exist.
bool AnsiPathOf(const wchar_t* path, char* out, std::uint32_t size);

}  // namespace plat
