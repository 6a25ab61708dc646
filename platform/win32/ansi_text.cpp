#include "platform/win32/ansi_text.h"

#include <cstring>
#include <cwchar>

namespace plat {

namespace {

// WC_ERR_INVALID_CHARS, declared only for Vista and later, the first
// systems whose ANSI code page can be UTF-8.
constexpr DWORD kErrInvalidChars = 0x80;

bool CopyIfFits(const std::string& text, char* out, std::uint32_t size) {
    if (text.empty() || text.size() >= size) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

bool WideToAnsi(const wchar_t* text, std::size_t length, std::string* ansi) {
    ansi->clear();
    if (length == 0) return true;
    if (length > 0x7FFFFFFF || std::wmemchr(text, L'\0', length) != nullptr) return false;
    // UTF-8 holds every character, and WideCharToMultiByte refuses both
    // WC_NO_BEST_FIT_CHARS and the used-default flag for it; only an
    // unpaired surrogate cannot convert there.
    bool utf8 = ::GetACP() == CP_UTF8;
    DWORD flags = utf8 ? kErrInvalidChars : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultFlag = utf8 ? nullptr : &usedDefault;
    int wideLength = static_cast<int>(length);
    int size = ::WideCharToMultiByte(CP_ACP, flags, text, wideLength, nullptr, 0, nullptr,
                                     usedDefaultFlag);
    if (size <= 0 || usedDefault) return false;
    ansi->resize(static_cast<std::size_t>(size));
    if (::WideCharToMultiByte(CP_ACP, flags, text, wideLength, &(*ansi)[0], size, nullptr,
                              usedDefaultFlag) != size ||
        usedDefault) {
        ansi->clear();
        return false;
    }
    return true;
}

bool AnsiPathOf(const wchar_t* path, char* out, std::uint32_t size) {
    if (path == nullptr || out == nullptr) return false;
    std::string ansi;
    if (WideToAnsi(path, std::wcslen(path), &ansi) && CopyIfFits(ansi, out, size)) return true;
    // Short names are made of the OEM code page's letters and digits, or
    // '_' for a character it lacks.
    wchar_t shortPath[MAX_PATH];
    DWORD length = ::GetShortPathNameW(path, shortPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    return WideToAnsi(shortPath, length, &ansi) && CopyIfFits(ansi, out, size);
}

}  // namespace plat
