// Small helpers the tests share: a temporary folder removed at the end of a
// test, whole-file reads, and splitting a log into its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path; }
    std::string File(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

// Sets an environment variable until the end of the scope, then puts back
// what was there (or nothing).
class ScopedEnv {
public:
    ScopedEnv(const char* variable, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name;
    bool hadValue = false;
    std::string previous;
};

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// Lines of a log file, each with its line feed removed.
std::vector<std::string> ReadLines(const std::string& path);
// A log line without its 26-character timestamp and the blank after it.
std::string WithoutStamp(const std::string& line);
// The log's lines without their timestamps.
std::vector<std::string> LogBodies(const std::string& path);
// True when some line of the log, without its stamp, equals body.
bool LogHas(const std::string& path, const std::string& body);

// The 8-bit text as UTF-16LE with a byte-order mark, as the Windows
// registry editor writes its exports.
std::string Utf16WithBom(const std::string& text);

// Bytes that differ from seed to seed and from one position to the next,
// so that a repeated or shifted run of them shows.
std::string SeededPattern(std::uint32_t seed, std::size_t size);

// One job as sent to a peer, and whether the library reported it sent.
struct SentJob {
    std::string bytes;
    bool reportedSent;
};

// Checks what a peer received over all its connections against the jobs
// sent in order: a job reported as sent is there whole, any other at most
// a beginning of it; nothing else, nothing twice. Empty when it holds,
// otherwise what is wrong.
std::string StreamMismatch(const std::string& stream, const std::vector<SentJob>& jobs);

// Runs a program (args[0] is its path) with extra "NAME=value" environment
// entries and returns its exit status, or -1 when it did not exit normally
// within timeoutSeconds (it is then killed). Its standard output goes to
// *output when output is not null.
int RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               std::string* output, int timeoutSeconds = 30);

}  // namespace testing_support
