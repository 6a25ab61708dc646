// What became of the registry file on Linux, for the tools that explain a
// machine's set-up: the same file, read the same way as the registry calls
// read it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plat {

struct RegistryFileReport {
    std::string path;              // $SORLINK_REGISTRY, else /etc/sorlink/registry.reg
    bool present = false;          // a regular file is there
    bool tooLarge = false;         // ignored as a whole
    std::size_t skippedLines = 0;  // lines that could not be understood
    std::vector<std::size_t> skippedLineNumbers;  // where each starts, from 1
};

RegistryFileReport InspectRegistryFile();

}  // namespace plat
