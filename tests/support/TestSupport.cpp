#include "tests/support/TestSupport.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/sorlink-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

ScopedEnv::ScopedEnv(const char* variable, const std::string& value) : name(variable) {
    const char* old = std::getenv(variable);
    hadValue = old != nullptr;
    if (hadValue) previous = old;
    setenv(variable, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadValue) {
        setenv(name, previous.c_str(), 1);
    } else {
        unsetenv(name);
    }
}

TempDir::~TempDir() {
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", path.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(path));
    std::string line;
    while (std::getline(text, line)) lines.push_back(line);
    return lines;
}

std::string WithoutStamp(const std::string& line) {
    return line.size() > 27 && line[0] == '[' ? line.substr(27) : line;
}

std::vector<std::string> LogBodies(const std::string& path) {
    std::vector<std::string> bodies;
    for (const std::string& line : ReadLines(path)) bodies.push_back(WithoutStamp(line));
    return bodies;
}

bool LogHas(const std::string& path, const std::string& body) {
    for (const std::string& line : LogBodies(path)) {
        if (line == body) return true;
    }
    return false;
}

std::string Utf16WithBom(const std::string& text) {
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    return bytes;
}

int RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& environment,
               std::string* output, int timeoutSeconds) {
    if (args.empty()) return -1;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return -1;
    }
    if (child == 0) {
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool timedOut = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd readable{pipeEnds[0], POLLIN, 0};
        if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[4096];
        ssize_t n = read(pipeEnds[0], chunk, sizeof chunk);
        if (n <= 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(pipeEnds[0]);
    if (timedOut) kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    if (output != nullptr) *output = text;
    if (timedOut || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::string SeededPattern(std::uint32_t seed, std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2166136261u ^ seed;
    for (char& byte : bytes) {
        state = state * 16777619u + 0x9e3779b9u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string StreamMismatch(const std::string& stream, const std::vector<SentJob>& jobs) {
    std::size_t at = 0;
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const std::string& bytes = jobs[j].bytes;
        if (jobs[j].reportedSent) {
            if (stream.compare(at, bytes.size(), bytes) != 0) {
                return "job " + std::to_string(j) +
                       " was reported sent, but the peer got it otherwise from byte " +
                       std::to_string(at) + " of " + std::to_string(stream.size());
            }
            at += bytes.size();
            continue;
        }
        std::size_t k = 0;
        while (at + k < stream.size() && k < bytes.size() && stream[at + k] == bytes[k]) ++k;
        at += k;
    }
    if (at != stream.size()) {
        return "the peer got " + std::to_string(stream.size() - at) +
               " bytes no job accounts for, from byte " + std::to_string(at);
    }
    return "";
}

}  // namespace testing_support
