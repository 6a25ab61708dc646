#include "jposbridge/BridgeLog.h"

#include <cstdarg>
#include <cstdio>

#include "platform/log_file.h"
#include "platform/system.h"

namespace bridge {

namespace {

constexpr int kMessageSize = 1024;
constexpr const char* kLogFolders[] = {"Sorvane", "JavaPos", "Log"};

std::string Child(const std::string& folder, const char* name) {
    std::string path = folder;
    if (path.empty() || path.back() != plat::kPathSeparator) path += plat::kPathSeparator;
    return path + name;
}

// The folder is made one level at a time, and each level is checked
// before anything is made inside it. Empty when a level cannot be used.
std::string PrepareLogFolder(const char* documents) {
    std::string folder = documents;
    for (const char* name : kLogFolders) {
        folder = Child(folder, name);
        if (!plat::PrepareLogFolder(folder.c_str())) return "";
    }
    return folder;
}

}  // namespace

void BridgeLog::Configure(int level) {
    logLevel = level;
    bridgeLogPath.clear();
    layerLogPath.clear();
    if (level == 0) return;
    // Without a documents folder there is nowhere sensible to log: the
    // bridge's lines are dropped and the layer keeps its default path.
    char documents[260] = {};
    if (!plat::SHGetSpecialFolderPathA(documents, plat::kCsidlPersonal, false)) return;
    // A log folder that is not the user's own would let whoever owns it
    // choose which file the bridge and the layer append to: no log then.
    if (!plat::UsableDocumentsFolder(documents)) return;
    std::string folder = PrepareLogFolder(documents);
    if (folder.empty()) return;
    bridgeLogPath = Child(folder, "Sorjni.log");
    layerLogPath = Child(folder, "Sorlink.log");
    // The layer opens the path it is given through links; the file is made
    // here first, as the bridge's own is, and a file of another user's that
    // is there already keeps the layer at its default path.
    if (!plat::PrepareLogFile(layerLogPath.c_str())) layerLogPath.clear();
}

void BridgeLog::Write(int level, const char* prefix, const char* format, ...) const {
    if (level > logLevel || bridgeLogPath.empty()) return;
    char line[32 + kMessageSize + 2];
    plat::SystemTime now{};
    plat::GetLocalTime(&now);
    int stampLength = std::snprintf(line, 32, "[%04d/%02d/%02d %02d:%02d:%02d]", now.wYear,
                                    now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (stampLength < 0 || stampLength >= 32) return;

    char* message = line + stampLength;
    int prefixLength = std::snprintf(message, kMessageSize, "%s: ", prefix);
    if (prefixLength < 0) return;
    if (prefixLength < kMessageSize) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(message + prefixLength, kMessageSize - prefixLength, format, args);
        va_end(args);
    }
    std::size_t length = stampLength + std::char_traits<char>::length(message);
    line[length++] = '\r';
    line[length++] = '\n';
    plat::AppendToFile(bridgeLogPath.c_str(), line, static_cast<std::uint32_t>(length));
}

std::string VersionText() {
    std::uint16_t parts[4] = {};
    if (!plat::GetOwnFileVersion(parts)) return "0.00";
    char text[10];
    std::snprintf(text, sizeof text, "%0d.%02d", parts[1] & 0xFF, parts[3] & 0xFF);
    return text;
}

}  // namespace bridge
