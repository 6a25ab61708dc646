// The bridge's own log file, the path it hands to the layer for the layer's
// log, and the version text the open methods report.
#pragma once

#include <string>

namespace bridge {

// Message levels of the bridge log: a message is written when its level is
// at most the level the object's last open asked for (0: no log at all).
constexpr int kLevelFailure = 1;
constexpr int kLevelStep = 2;
constexpr int kLevelStartEnd = 3;
constexpr int kLevelValue = 5;

// The log settings of one WinPortComm object. Objects of one process share
// the file; each line reaches it with a single append, so lines of several
// objects and threads never mix.
class BridgeLog {
public:
    // Sets the level and works out both log paths, creating the log folder
    // when logging is on. Level 0 clears the paths.
    void Configure(int level);
    int Level() const { return logLevel; }
    const std::string& BridgeLogPath() const { return bridgeLogPath; }
    // Empty while logging is off.
    const std::string& LayerLogPath() const { return layerLogPath; }

    // One line: "[YYYY/MM/DD hh:mm:ss]" + prefix + ": " + message + CR LF.
    // Nothing is formatted when the level is off; a file that cannot be
    // opened loses the line.
    void Write(int level, const char* prefix, const char* format, ...) const
        __attribute__((format(printf, 4, 5)));

private:
    int logLevel = 0;
    std::string bridgeLogPath;
    std::string layerLogPath;
};

// The bridge's version as "minor.revision" of its file version ("1.01" for
// 0.1.1.1).
std::string VersionText();

}  // namespace bridge
