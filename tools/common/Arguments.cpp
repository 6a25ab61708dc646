#include "tools/common/Arguments.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace sorlink_tool {

namespace {

const OptionRule* FindRule(const std::vector<OptionRule>& rules, const std::string& name) {
    for (const OptionRule& rule : rules) {
        if (name == rule.name) return &rule;
    }
    return nullptr;
}

}  // namespace

bool Arguments::Parse(int argc, char** argv, int first, const std::vector<OptionRule>& rules,
                      std::string* error) {
    bool optionsEnded = false;
    for (int index = first; index < argc; ++index) {
        std::string word = argv[index];
        if (optionsEnded || word == "-" || word.size() < 2 || word[0] != '-') {
            positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "-h") word = "--help";
        if (word.compare(0, 2, "--") != 0) {
            *error = "unknown option " + word;
            return false;
        }
        std::string name = word.substr(2);
        std::string value;
        bool inlineValue = false;
        std::string::size_type equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            inlineValue = true;
        }
        const OptionRule* rule = FindRule(rules, name);
        if (rule == nullptr) {
            *error = "unknown option --" + name;
            return false;
        }
        if (rule->valueName == nullptr) {
            if (inlineValue) {
                *error = "option --" + name + " takes no value";
                return false;
            }
        } else if (!inlineValue) {
            if (index + 1 >= argc) {
                *error = "option --" + name + " needs a value (" + rule->valueName + ")";
                return false;
            }
            value = argv[++index];
        }
        given.emplace_back(name, value);
    }
    return true;
}

bool Arguments::Has(const std::string& name) const {
    for (const auto& option : given) {
        if (option.first == name) return true;
    }
    return false;
}

std::string Arguments::Value(const std::string& name, const std::string& fallback) const {
    std::string value = fallback;
    for (const auto& option : given) {
        if (option.first == name) value = option.second;
    }
    return value;
}

std::vector<std::string> Arguments::Values(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& option : given) {
        if (option.first == name) values.push_back(option.second);
    }
    return values;
}

void PrintOptions(const std::vector<OptionRule>& rules) {
    for (const OptionRule& rule : rules) {
        std::string left = std::string("  --") + rule.name;
        if (rule.valueName != nullptr) left += std::string(" ") + rule.valueName;
        if (left.size() < 28) {
            std::printf("%-28s%s\n", left.c_str(), rule.help);
        } else {
            std::printf("%s\n%-28s%s\n", left.c_str(), "", rule.help);
        }
    }
}

bool ParseInt(const std::string& text, int* value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

}  // namespace sorlink_tool
