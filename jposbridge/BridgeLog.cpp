#include "jposbridge/BridgeLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/log_file.h"
#include "platform/system.h"

namespace bridge {

namespace {

constexpr int kMessageSize = 1024;
// What a path of the bridge's holds, terminator included, and what the
// layer keeps of its log path.
constexpr std::size_t kPathSize = 260;
constexpr std::size_t kLayerPathSize = 200;
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
    char documents[kPathSize] = {};
    if (!plat::GetDocumentsFolder(documents, sizeof documents)) return;
    // A log folder that is not the user's own would let whoever owns it
    // choose which file the bridge and the layer append to: no log then.
    if (!plat::UsableDocumentsFolder(documents)) return;
    // A long documents folder still has a short form that fits both logs.
    // It is taken before the three folders are made, which would otherwise
    // not be made at all where the long form leaves them too long for the
    // 8-bit calls (248 characters for a folder): then no log could be
    // written. Sorvane, JavaPos and Log are short names already.
    std::string folderOfLogs = documents;
    for (const char* name : kLogFolders) folderOfLogs = Child(folderOfLogs, name);
    char shorter[kPathSize];
    if (Child(folderOfLogs, "Sorlink.log").size() >= kLayerPathSize &&
        plat::GetShortPath(documents, shorter, sizeof shorter)) {
        std::memcpy(documents, shorter, std::strlen(shorter) + 1);
    }
    std::string folder = PrepareLogFolder(documents);
    if (folder.empty()) return;
    std::string bridgeLog = Child(folder, "Sorjni.log");
    if (bridgeLog.size() < kPathSize) bridgeLogPath = bridgeLog;
    layerLogPath = Child(folder, "Sorlink.log");
    // Where the layer would refuse the path, its lines would go to its
    // default, on Windows the root of the system drive, which a standard
    // user may not write to; the user's own temporary folder serves instead.
    if (layerLogPath.size() >= kLayerPathSize) {
        char fallback[kPathSize];
        layerLogPath.clear();
        if (plat::GetFallbackLogFolder(fallback, sizeof fallback)) {
            std::string inFallback = Child(fallback, "Sorlink.log");
            if (inFallback.size() < kLayerPathSize) layerLogPath = inFallback;
        }
    }
    // The layer opens the path it is given through links; the file is made
    // here first, as the bridge's own is, and a file of another user's that
    // is there already keeps the layer at its default path.
    if (!layerLogPath.empty() && !plat::PrepareLogFile(layerLogPath.c_str())) layerLogPath.clear();
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
