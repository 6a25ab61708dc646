// One communication port created through the library for the length of a
// command: the log options, the link options, and the checks that turn a
// failed entry point into a message and an exit status.
#pragma once

#include <string>
#include <vector>

#include "tools/common/Arguments.h"

namespace sorlink_tool {

enum ExitStatus { kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitNoData = 3 };

extern const std::vector<OptionRule> kLogOptions;
extern const std::vector<OptionRule> kLinkOptions;

struct LogSettings {
    int mode = 0;
    int mask = 0;
    std::string path;
};

// --log, --log-mode, --log-level. False with *error for a bad value.
bool ReadLogSettings(const Arguments& args, LogSettings* settings, std::string* error);

// Prints "sorlink: <message>" on standard error; returns kExitUsage.
int UsageError(const std::string& message);

// Prints "sorlink: <entry point> failed: result N (meaning)" for a non-zero
// result; true when the result is 0.
bool Check(const char* entryPoint, int result);

// Joins options lists for a subcommand's table.
std::vector<OptionRule> Options(std::initializer_list<std::vector<OptionRule>> groups);

class Session {
public:
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Creates a port of the link type and makes it current.
    bool Create(int linkType, const LogSettings& log);
    // Creates the port the link options name (--serial, --tcp, --udp,
    // --usb, --printer), initialises it and opens it. Returns an exit status.
    int OpenLink(const Arguments& args, const LogSettings& log);
    // Closes the link if it is open and deletes the port; an exit status.
    int Finish();

private:
    bool created = false;
    bool opened = false;
};

// Splits a "|"-joined list returned by the library.
std::vector<std::string> SplitList(const char* list);

}  // namespace sorlink_tool
