#include "tests/support/TestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace testing_support
