// The bridge's own log file, the path it hands to the layer for the layer's
// log, and the version text the open methods report.
#pragma once

#include <string>

namespace bridge {

// Message levels of the bridge log: a message is written when its level is
// at most the level the last open asked for (0: no log at all).
constexpr int kLevelFailure = 1;
constexpr int kLevelStep = 2;
constexpr int kLevelStartEnd = 3;
constexpr int kLevelValue = 5;

class BridgeLog {
public:
    // Sets the level and works out both log paths, creating the log folder
    // when logging is on. Level 0 clears the paths.
    static void Configure(int level);
    static int Level();
    static const std::string& BridgeLogPath();
    // Empty while logging is off.
    static const std::string& LayerLogPath();

    // One line: "[YYYY/MM/DD hh:mm:ss]" + prefix + ": " + message + CR LF.
    // Nothing is formatted when the level is off; a file that cannot be
    // opened loses the line.
    static void Write(int level, const char* prefix, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
};

// The bridge's version as "minor.revision" of its file version ("1.01" for
// 0.1.1.1).
std::string VersionText();

}  // namespace bridge
