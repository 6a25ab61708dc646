#include "comlayer/log/CSvLogFile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/log_file.h"
#include "platform/system.h"

namespace {

const char kCreated[] = "=====================Log file succesfully created=====================\n";

// Logging changes nothing a caller can read: the transports read the
// platform's last error after logging around the call that failed, and on
// Windows opening an existing file sets it (ERROR_ALREADY_EXISTS).
class LastErrorKept {
public:
    LastErrorKept() : saved(plat::GetLastError()) {}
    ~LastErrorKept() { plat::SetLastError(saved); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

private:
    std::uint32_t saved;
};

char* PutDecimal(char* out, unsigned value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

// Lower-case hexadecimal with at least minDigits digits, as "%02x" writes it.
char* PutHex(char* out, std::uint32_t value, int minDigits) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count < minDigits) digits[count++] = '0';
    while (count > 0) *out++ = digits[--count];
    return out;
}

// "[%04d/%02d/%02d %02d:%02d:%02d:%04d]" (kStampLength characters) written
// digit by digit: every line of a dump takes one.
void PutStamp(char* out, const plat::SystemTime& now) {
    *out++ = '[';
    out = PutDecimal(out, now.wYear % 10000u, 4);
    *out++ = '/';
    out = PutDecimal(out, now.wMonth % 100u, 2);
    *out++ = '/';
    out = PutDecimal(out, now.wDay % 100u, 2);
    *out++ = ' ';
    out = PutDecimal(out, now.wHour % 100u, 2);
    *out++ = ':';
    out = PutDecimal(out, now.wMinute % 100u, 2);
    *out++ = ':';
    out = PutDecimal(out, now.wSecond % 100u, 2);
    *out++ = ':';
    out = PutDecimal(out, now.wMilliseconds % 10000u, 4);
    *out = ']';
}

// "<label>[0x%02x]=0x%02x \n" into a kMessageSize buffer; returns its length.
// A label too long for the buffer is cut before the index.
std::size_t DumpMessage(char* message, const char* label, std::uint32_t index, unsigned byte) {
    constexpr std::size_t kTailSize = sizeof "[0x12345678]=0x12 \n";
    std::size_t labelLength = strnlen(label, CSvLogFile::kMessageSize - kTailSize);
    std::memcpy(message, label, labelLength);
    char* out = message + labelLength;
    std::memcpy(out, "[0x", 3);
    out = PutHex(out + 3, index, 2);
    std::memcpy(out, "]=0x", 4);
    out = PutHex(out + 4, byte & 0xFFu, 2);
    *out++ = ' ';
    *out++ = '\n';
    *out = '\0';
    return static_cast<std::size_t>(out - message);
}

}  // namespace

CSvLogFile::CSvLogFile()
    : levelMask(0), mode(LOG_MODE_NONE), path{}, defaultPath(true), defaultAsked(false) {}

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
    defaultPath = false;

    LastErrorKept kept;
    switch (plat::CreateLogFile(path)) {
        case plat::LogFileState::kExisting:
            return 1;
        case plat::LogFileState::kCreated:
            Write("", kCreated, LOG_INFO);
            return 1;
        case plat::LogFileState::kUnusable:
            break;
    }
    return 0;
}

std::size_t CSvLogFile::ComposeLine(char* line, const plat::SystemTime& now, const char* prefix,
                                    const char* message, std::size_t messageLength) {
    std::size_t used = 0;
    auto put = [&](const char* text, std::size_t length) {
        std::size_t room = kLineSize - 1 - used;
        if (length > room) length = room;
        std::memcpy(line + used, text, length);
        used += length;
    };
    char stamp[kStampLength];
    PutStamp(stamp, now);
    std::size_t prefixLength = strnlen(prefix, kLineSize);
    put(stamp, kStampLength);
    put(" ", 1);
    put(prefix, prefixLength);
    put(" ", 1);
    put(message, messageLength);
    std::size_t whole = kStampLength + 1 + prefixLength + 1 + messageLength;
    if (whole >= kLineSize && messageLength > 0 && message[messageLength - 1] == '\n') {
        // Cut to the buffer, but keep the message's line end so the next
        // line still starts on a line of its own.
        line[used - 1] = '\n';
    }
    line[used] = '\0';
    return used;
}

// The platform's default is asked for when the first line needs it, so a
// port that logs elsewhere or not at all never touches the default's folder.
void CSvLogFile::Append(const char* text, std::size_t length) {
    if (defaultPath && !defaultAsked) {
        defaultAsked = true;
        if (!plat::DefaultLayerLogPath(path, sizeof path)) path[0] = '\0';
    }
    if (path[0] == '\0') return;
    plat::AppendToLogFile(path, defaultPath ? plat::LogPath::kDefault : plat::LogPath::kNamed, text,
                          static_cast<std::uint32_t>(length));
}

void CSvLogFile::Output(const char* line, std::size_t length) {
    if (mode == LOG_MODE_FILE) {
        Append(line, length);
    } else if (mode == LOG_MODE_DEBUGGER) {
        plat::OutputDebugStringA(line);
    }
}

void CSvLogFile::Write(const char* prefix, const char* message, int level) {
    if (!Enabled(level)) return;
    if (prefix == nullptr) prefix = "";
    if (message == nullptr) message = "";
    LastErrorKept kept;
    plat::SystemTime now{};
    plat::GetLocalTime(&now);
    char line[kLineSize];
    Output(line, ComposeLine(line, now, prefix, message, std::strlen(message)));
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

// In a file, the lines of a dump are gathered into whole-line batches, each
// appended with one open, write and close instead of one per byte. The
// debugger channel takes one line per call, as for any other line.
void CSvLogFile::DumpBytes(const char* prefix, const char* label, const unsigned char* data,
                           std::uint32_t count, std::uint32_t firstIndex) {
    if (!Enabled(LOG_DATA) || data == nullptr || count == 0) return;
    if (prefix == nullptr) prefix = "";
    if (label == nullptr) label = "";
    LastErrorKept kept;
    if (mode == LOG_MODE_FILE && !batch) batch.reset(new (std::nothrow) char[kBatchSize]);
    char* gathered = mode == LOG_MODE_FILE ? batch.get() : nullptr;
    std::size_t used = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        char message[kMessageSize];
        std::size_t messageLength = DumpMessage(message, label, firstIndex + i, data[i]);
        plat::SystemTime now{};
        plat::GetLocalTime(&now);
        if (gathered == nullptr) {
            char line[kLineSize];
            Output(line, ComposeLine(line, now, prefix, message, messageLength));
            continue;
        }
        used += ComposeLine(gathered + used, now, prefix, message, messageLength);
        if (kBatchSize - used < kLineSize) {
            Append(gathered, used);
            used = 0;
        }
    }
    if (used > 0) Append(gathered, used);
}
