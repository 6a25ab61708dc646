#include "comlayer/log/CSvLogFile.h"

#include <cstdarg>
#include <cstring>

#include "platform/system.h"

CSvLogFile::CSvLogFile() : levelMask(0), file(nullptr), mode(LOG_MODE_NONE), path{} {
    std::snprintf(path, sizeof path, "%s", plat::DefaultLayerLogPath());
}

CSvLogFile::~CSvLogFile() = default;

void CSvLogFile::Configure(int newMode, int newLevelMask) {
    mode = newMode;
    levelMask = newLevelMask;
}

int CSvLogFile::OpenFile(const char* newPath) {
    if (mode != LOG_MODE_FILE) return 1;
    if (newPath == nullptr || newPath[0] == '\0') return 0;
    // Read no further than the field holds: a path without a terminator
    // there is refused like one that is too long.
    std::size_t length = strnlen(newPath, sizeof path);
    if (length >= sizeof path) return 0;
    std::memset(path, 0, sizeof path);
    std::memcpy(path, newPath, length);

    file = std::fopen(path, "r");
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
        return 1;
    }
    file = std::fopen(path, "w");
    if (file == nullptr) return 0;
    std::fclose(file);
    file = nullptr;
    Write("", "=====================Log file succesfully created=====================\n", LOG_INFO);
    return 1;
}

void CSvLogFile::Write(const char* prefix, const char* message, int level) {
    if (!Enabled(level)) return;
    if (prefix == nullptr) prefix = "";
    if (message == nullptr) message = "";

    plat::SystemTime now{};
    plat::GetLocalTime(&now);
    char line[kLineSize];
    int stamp = std::snprintf(line, sizeof line, "[%04d/%02d/%02d %02d:%02d:%02d:%04d] %s %s",
                              now.wYear % 10000, now.wMonth % 100, now.wDay % 100, now.wHour % 100,
                              now.wMinute % 100, now.wSecond % 100, now.wMilliseconds % 10000,
                              prefix, message);
    std::size_t length = stamp < 0 ? 0 : static_cast<std::size_t>(stamp);
    if (length >= sizeof line) {
        // Cut to the buffer, but keep the message's line end so the next
        // line still starts on a line of its own.
        length = sizeof line - 1;
        std::size_t messageLength = std::strlen(message);
        if (messageLength > 0 && message[messageLength - 1] == '\n') line[length - 1] = '\n';
    }

    if (mode == LOG_MODE_FILE) {
        file = std::fopen(path, "a");
        if (file == nullptr) return;
        std::fwrite(line, 1, length, file);
        std::fclose(file);
        file = nullptr;
    } else if (mode == LOG_MODE_DEBUGGER) {
        plat::OutputDebugStringA(line);
    }
}

void CSvLogFile::Writef(const char* prefix, int level, const char* format, ...) {
    if (!Enabled(level)) return;
    char message[kMessageSize];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    // A message cut to the buffer keeps its line end, as Write does for a
    // cut line, so that the next line does not run on after it.
    std::size_t formatLength = std::strlen(format);
    if (length >= static_cast<int>(sizeof message) && formatLength > 0 &&
        format[formatLength - 1] == '\n') {
        message[sizeof message - 2] = '\n';
    }
    Write(prefix, message, level);
}

void CSvLogFile::DumpBytes(const char* prefix, const char* label, const unsigned char* data,
                           std::uint32_t count, std::uint32_t firstIndex) {
    if (!Enabled(LOG_DATA) || data == nullptr) return;
    for (std::uint32_t i = 0; i < count; ++i) {
        Writef(prefix, LOG_DATA, "%s[0x%02x]=0x%02x \n", label, firstIndex + i,
               static_cast<unsigned>(data[i]));
    }
}
