// What `sorlink doctor` found: one finding per thing checked, each with the
// fix when something is wrong, printed as lines of text or as JSON.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace sorlink_tool::doctor {

enum class Status {
    kOk,
    kNote,     // worth knowing, not in the way of printing
    kProblem,  // stands between this machine and a printer
};

struct Finding {
    std::string area;  // registry, serial, usb, tcp, log, user
    Status status;
    std::string message;
    std::string fix;  // what to do; empty when nothing is to be done
};

class Findings {
public:
    void Ok(const std::string& area, const std::string& message);
    void Note(const std::string& area, const std::string& message, const std::string& fix);
    void Problem(const std::string& area, const std::string& message, const std::string& fix);

    std::size_t ProblemCount() const;
    // "problem serial: COM1 (/dev/ttyS0): ... Fix: ...", one line each, and a
    // closing count.
    void PrintText(std::FILE* out, const std::string& user) const;
    void PrintJson(std::FILE* out, const std::string& user) const;

private:
    std::vector<Finding> findings;
};

}  // namespace sorlink_tool::doctor
