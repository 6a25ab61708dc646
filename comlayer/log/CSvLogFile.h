// The per-port log: one timestamped line per event, filtered by a level
// mask, appended to a file (opened and closed for every line, or for every
// batch of a byte dump's lines) or sent to the debugger-output channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/types.h"

constexpr int LOG_DATA = 1;
constexpr int LOG_TRACE = 2;
constexpr int LOG_INFO = 4;
constexpr int LOG_ERROR = 8;

constexpr int LOG_MODE_NONE = 0;
constexpr int LOG_MODE_FILE = 1;
constexpr int LOG_MODE_DEBUGGER = 2;

class CSvLogFile {
public:
    static constexpr int kPathSize = 200;     // path and its terminator
    static constexpr int kLineSize = 300;     // one line and its terminator
    static constexpr int kMessageSize = 500;  // one formatted message
    static constexpr int kStampLength = 26;
    // The lines of one byte dump are gathered up to this many bytes and
    // appended with one open, write and close.
    static constexpr std::size_t kBatchSize = 64 * 1024;

    CSvLogFile();
    virtual ~CSvLogFile();
    CSvLogFile(const CSvLogFile&) = delete;
    CSvLogFile& operator=(const CSvLogFile&) = delete;

    void Configure(int mode, int levelMask);
    // 1 when the file exists afterwards (or the mode is not a file mode).
    // A path of kPathSize characters or more is refused (0) rather than cut,
    // so that lines never go to a file the caller did not name.
    int OpenFile(const char* path);
    // The message is written as it stands: a percent sign is just a character.
    // A line longer than kLineSize - 1 is cut, keeping its final line feed.
    void Write(const char* prefix, const char* message, int level);

    // printf-style message into a kMessageSize buffer, then Write. Nothing
    // is formatted when the level is off.
    void Writef(const char* prefix, int level, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;
    // One "<label>[0x%02x]=0x%02x \n" line per byte at LOG_DATA, indexes
    // counted from firstIndex, each line with its own time stamp. Costs one
    // test when LOG_DATA is off.
    void DumpBytes(const char* prefix, const char* label, const unsigned char* data,
                   std::uint32_t count, std::uint32_t firstIndex);

    bool Enabled(int level) const {
        return mode != LOG_MODE_NONE && (level & levelMask) != 0;
    }
    int Mode() const {
        return mode;
    }

    // Read directly by the transports before they format byte dumps.
    int levelMask;

private:
    // Time stamp, blank, prefix, blank, message into line (kLineSize bytes,
    // terminated); returns the line's length.
    static std::size_t ComposeLine(char* line, const plat::SystemTime& now, const char* prefix,
                                   const char* message, std::size_t messageLength);
    // One line or a batch of whole lines to the file, or one line to the
    // debugger-output channel.
    void Append(const char* text, std::size_t length);
    void Output(const char* line, std::size_t length);

    int mode;
    // Empty until the caller names a file or the first line asks the
    // platform for its default; empty for good when there is no default.
    char path[kPathSize];
    bool defaultPath;
    bool defaultAsked;
    // Allocated at the first dump written to a file.
    std::unique_ptr<char[]> batch;
};
