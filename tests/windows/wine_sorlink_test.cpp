// Run under Wine by run_wine_test.sh: loads Sorlink64.dll by name, as a POS
// application does, and drives it through its exported names.
//
// Arguments (key=value): log=<Windows path of a fresh log file>,
// exports=<Windows path of the list of exported names>.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "sorlink.h"
#include "tests/windows/WineCheck.h"

namespace {

HMODULE library = nullptr;

// Every call looks its export up by name, as the bridge does.
template <class Function>
Function Export(const char* name) {
    FARPROC address = GetProcAddress(library, name);
    if (address == nullptr) {
        wine_check::Fail(__FILE__, __LINE__, std::string("no export ") + name);
        std::exit(wine_check::Failures());
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}
#define SORLINK(name) Export<decltype(&::name)>(#name)

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

// "[YYYY/MM/DD hh:mm:ss:mmmm] " followed by the prefix and the message.
bool HasStamp(const std::string& line) {
    const char* shape = "[dddd/dd/dd dd:dd:dd:dddd] ";
    if (line.size() < std::strlen(shape)) return false;
    for (std::size_t i = 0; shape[i] != '\0'; ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                            : line[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

void ChecksEveryNameResolves(const char* exportsPath) {
    wine_check::Section("exports resolve by name");
    std::vector<std::string> names = Lines(wine_check::ReadWholeFile(exportsPath));
    WCHECK_EQ(92, names.size());
    for (std::string& name : names) {
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (GetProcAddress(library, name.c_str()) == nullptr) {
            wine_check::Fail(__FILE__, __LINE__, "GetProcAddress(\"" + name + "\") failed");
        }
    }
}

void ChecksPortsAndIds(const char* logPath) {
    wine_check::Section("ports and IDs");
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_SERIAL, LOG_MODE_FILE,
                                                  LOG_TRACE | LOG_INFO | LOG_ERROR, logPath, &id));
    WCHECK_EQ(1, id);
    WCHECK_EQ(0,
              SORLINK(VbCreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE,
                                                 LOG_TRACE | LOG_INFO | LOG_ERROR, logPath, &id));
    WCHECK_EQ(2, id);
    int current = 0;
    WCHECK_EQ(0, SORLINK(GetIDPort)(&current));
    WCHECK_EQ(2, current);
    int linkType = -1;
    WCHECK_EQ(0, SORLINK(GetLayerStatus)(&linkType));
    WCHECK_EQ(SORLINK_LINK_ETHERNET, linkType);

    WCHECK_EQ(0, SORLINK(SetCommunicationPort)(1));
    WCHECK_EQ(0, SORLINK(VbGetIDPort)(&current));
    WCHECK_EQ(1, current);
    WCHECK_EQ(4, SORLINK(SetCommunicationPort)(7));
    WCHECK_EQ(203, SORLINK(InitEthTCP)("127.0.0.1", 9100));

    WCHECK_EQ(0, SORLINK(DeleteCommunicationPort)(2));
    WCHECK_EQ(6, SORLINK(DeleteCommunicationPort)(2));
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
    WCHECK_EQ(5, SORLINK(GetIDPort)(&current));

    // IDs are never reused, not even after every port is gone.
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_USB, LOG_MODE_FILE,
                                                  LOG_TRACE | LOG_INFO | LOG_ERROR, logPath, &id));
    WCHECK_EQ(3, id);
    WCHECK_EQ(0, SORLINK(VbDeleteAllLayerItems)());
}

void ChecksTheLogFile(const char* logPath) {
    wine_check::Section("log file");
    std::string text = wine_check::ReadWholeFile(logPath);
    WCHECK(!text.empty());
    std::vector<std::string> lines = Lines(text);
    // The log is a text stream: on Windows each line feed of a message
    // reaches the file as CR LF.
    for (const std::string& line : lines) {
        if (!HasStamp(line)) wine_check::Fail(__FILE__, __LINE__, "line without stamp: " + line);
        if (line.empty() || line.back() != '\r') {
            wine_check::Fail(__FILE__, __LINE__, "line without CR LF: " + line);
        }
    }
    auto has = [&](const std::string& tail) {
        for (std::string line : lines) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() >= 27 && line.compare(27, std::string::npos, tail) == 0) return true;
        }
        wine_check::Fail(__FILE__, __LINE__, "no log line \"" + tail + "\"");
        return false;
    };
    has(" =====================Log file succesfully created=====================");
    has("CreateCommunicationPort-  START");
    has("CreateCommunicationPort -  END");
    has("SetCommunicationPort -  ID not found");
    has("InitEthTCP -  Ethernet function failed: a different com type has been setted");
    has("DeleteCommunicationPort Deleting object with ID 2 ");
    has("DeleteAllLayerItems -  Destroying all the communication ports and items associated...");

    // The stamp is the local time of the line.
    SYSTEMTIME now;
    GetLocalTime(&now);
    char year[8];
    std::snprintf(year, sizeof year, "[%04d/", now.wYear);
    WCHECK(lines.empty() || lines.back().compare(0, 6, year) == 0);
}

}  // namespace

int main(int argc, char** argv) {
    const char* logPath = wine_check::Argument(argc, argv, "log");
    const char* exportsPath = wine_check::Argument(argc, argv, "exports");
    if (logPath == nullptr || exportsPath == nullptr) {
        std::printf("usage: %s log=<path> exports=<path>\n", argv[0]);
        return 2;
    }
    library = LoadLibraryA("Sorlink64.dll");
    if (library == nullptr) {
        std::printf("FAIL: LoadLibraryA(\"Sorlink64.dll\") failed with error %lu\n",
                    GetLastError());
        return 1;
    }

    ChecksEveryNameResolves(exportsPath);
    ChecksPortsAndIds(logPath);
    ChecksTheLogFile(logPath);

    FreeLibrary(library);
    std::printf("%s: %d failure(s)\n", argv[0], wine_check::Failures());
    return wine_check::Failures() == 0 ? 0 : 1;
}
