// A small check harness for the Windows test programs run under Wine: no
// test framework is linked into them, so failures are counted and printed
// with the expression that failed, and main returns their number.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace wine_check {

inline int& Failures() {
    static int failures = 0;
    return failures;
}

inline void Fail(const char* file, int line, const std::string& what) {
    ++Failures();
    std::printf("FAIL %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stdout);
}

inline void Section(const char* name) {
    std::printf("== %s\n", name);
    std::fflush(stdout);
}

// "key=value" arguments of the command line.
inline const char* Argument(int argc, char** argv, const char* key) {
    std::size_t length = std::strlen(key);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], key, length) == 0 && argv[i][length] == '=') {
            return argv[i] + length + 1;
        }
    }
    return nullptr;
}

inline std::string ReadWholeFile(const char* path) {
    std::string text;
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return text;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    std::fclose(file);
    return text;
}

}  // namespace wine_check

#define WCHECK(condition)                                                   \
    do {                                                                    \
        if (!(condition)) wine_check::Fail(__FILE__, __LINE__, #condition); \
    } while (0)

#define WCHECK_EQ(expected, actual)                                                     \
    do {                                                                                \
        long long wantValue = static_cast<long long>(expected);                         \
        long long gotValue = static_cast<long long>(actual);                            \
        if (wantValue != gotValue) {                                                    \
            wine_check::Fail(__FILE__, __LINE__,                                        \
                             std::string(#actual) + " is " + std::to_string(gotValue) + \
                                 ", expected " + std::to_string(wantValue));            \
        }                                                                               \
    } while (0)
