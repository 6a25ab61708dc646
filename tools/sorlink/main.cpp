// sorlink: finds printers, proves a link works and shows what went over the
// wire, through the library's exported C interface only.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/sorlink/Listing.h"
#include "tools/sorlink/Session.h"
#include "tools/sorlink/Transfer.h"
#include "tools/sorlink/doctor/Doctor.h"

namespace {

struct Subcommand {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

const Subcommand kSubcommands[] = {
    {"ports", sorlink_tool::RunPorts, "list the serial ports"},
    {"printers", sorlink_tool::RunPrinters, "list installed printers (--serial, --tcp, --usb)"},
    {"usb", sorlink_tool::RunUsb, "list the USB devices present"},
    {"send", sorlink_tool::RunSend, "send bytes, a file or standard input to a printer"},
    {"read", sorlink_tool::RunRead, "read and show what a printer sends (hex or text)"},
    {"chat", sorlink_tool::RunChat, "send, then read and show the answer"},
    {"codes", sorlink_tool::RunCodes, "explain a result code, or list them all"},
    {"test-page", sorlink_tool::RunTestPage, "print a sample receipt, to try a printer"},
    {"doctor", sorlink_tool::RunDoctor, "check what stands between this machine and its printers"},
};

#ifndef SORLINK_VERSION_TEXT
#define SORLINK_VERSION_TEXT "unknown"
#endif

// Letters to change, add or remove to turn one word into the other.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] =
                std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0u : 1u)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// The subcommand a mistyped word most likely meant; null when none is close.
const char* Suggestion(const std::string& typed) {
    const char* best = nullptr;
    std::size_t bestDistance = 3;
    for (const Subcommand& subcommand : kSubcommands) {
        std::string name = subcommand.name;
        std::size_t distance = EditDistance(typed, name);
        if (name.compare(0, typed.size(), typed) == 0 && !typed.empty()) distance = 1;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = subcommand.name;
        }
    }
    return best;
}

const Subcommand* Find(const char* name) {
    for (const Subcommand& subcommand : kSubcommands) {
        if (std::strcmp(name, subcommand.name) == 0) return &subcommand;
    }
    return nullptr;
}

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: sorlink SUBCOMMAND [options]\n\nsubcommands:\n");
    for (const Subcommand& subcommand : kSubcommands) {
        std::fprintf(out, "  %-10s%s\n", subcommand.name, subcommand.summary);
    }
    std::fprintf(
        out,
        "\nLinks: --serial PORT [--baud N --params 8N1 --flow none|hw|xon],\n"
        "       --tcp HOST[:PORT], --udp HOST:PORT --local PORT,\n"
        "       --usb VID:PID:SERIAL, --printer NAME.\n"
        "Logging: --log PATH, --log-mode none|file|debugger, --log-level MASK.\n"
        "Exit status: 0 success, 1 the library reported a failure (its result code\n"
        "is printed with its meaning) or the doctor found a problem, 2 wrong usage,\n"
        "3 nothing was received.\n"
        "'sorlink help SUBCOMMAND' describes each subcommand; 'sorlink --version'.\n"
        "\nexamples:\n"
        "  sorlink printers                          installed printers and their devices\n"
        "  sorlink test-page --printer Kitchen       print a sample receipt\n"
        "  sorlink send --tcp 192.168.1.50 FILE      send a file to a network printer\n"
        "  sorlink doctor                            check this machine's set-up\n");
}

int UnknownSubcommand(const char* typed) {
    std::fprintf(stderr, "sorlink: unknown subcommand %s\n", typed);
    if (const char* meant = Suggestion(typed)) {
        std::fprintf(stderr, "sorlink: did you mean 'sorlink %s'?\n", meant);
    }
    std::fprintf(stderr, "sorlink: 'sorlink --help' lists the subcommands\n");
    return sorlink_tool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return sorlink_tool::kExitUsage;
    }
    if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0) {
        std::printf("sorlink %s\n", SORLINK_VERSION_TEXT);
        return sorlink_tool::kExitOk;
    }
    if (std::strcmp(argv[1], "help") == 0 && argc > 2) {
        // "sorlink help send" is "sorlink send --help".
        const Subcommand* subcommand = Find(argv[2]);
        if (subcommand == nullptr) return UnknownSubcommand(argv[2]);
        char help[] = "--help";
        char* helpArgv[] = {argv[0], argv[2], help, nullptr};
        return subcommand->run(3, helpArgv);
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return sorlink_tool::kExitOk;
    }
    if (const Subcommand* subcommand = Find(argv[1])) return subcommand->run(argc, argv);
    return UnknownSubcommand(argv[1]);
}
