// Command-line options of one subcommand: "--name value", "--name=value",
// flags, and positional arguments ("-" is a positional argument; "--" ends
// the options).
#pragma once

#include <string>
#include <vector>

namespace sorlink_tool {

struct OptionRule {
    const char* name;       // without the leading "--"
    const char* valueName;  // null for a flag
    const char* help;
};

class Arguments {
public:
    // Reads argv[first..argc-1]; false with *error set for an unknown
    // option or a missing value. "-h" is read as "--help".
    bool Parse(int argc, char** argv, int first, const std::vector<OptionRule>& rules,
               std::string* error);

    bool Has(const std::string& name) const;
    // The last value given for the option, or fallback.
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    // Every value given for a repeatable option, in order.
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return positional; }

private:
    std::vector<std::pair<std::string, std::string>> given;
    std::vector<std::string> positional;
};

// Prints the options, one per line, aligned, for --help.
void PrintOptions(const std::vector<OptionRule>& rules);

// Parses a decimal integer that fits in an int; false for anything else.
bool ParseInt(const std::string& text, int* value);

}  // namespace sorlink_tool
