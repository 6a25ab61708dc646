// sorlink: finds printers, proves a link works and shows what went over the
// wire, through the library's exported C interface only.
#include <cstdio>
#include <cstring>

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
    {"doctor", sorlink_tool::RunDoctor, "check what stands between this machine and its printers"},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: sorlink SUBCOMMAND [options]\n\nsubcommands:\n");
    for (const Subcommand& subcommand : kSubcommands) {
        std::fprintf(out, "  %-10s%s\n", subcommand.name, subcommand.summary);
    }
    std::fprintf(out,
                 "\nLinks: --serial PORT [--baud N --params 8N1 --flow none|hw|xon],\n"
                 "       --tcp HOST[:PORT], --udp HOST:PORT --local PORT,\n"
                 "       --usb VID:PID:SERIAL, --printer NAME.\n"
                 "Logging: --log PATH, --log-mode none|file|debugger, --log-level MASK.\n"
                 "Exit status: 0 success, 1 the library reported a failure (its result code\n"
                 "is printed with its meaning) or the doctor found a problem, 2 wrong usage,\n"
                 "3 nothing was received.\n"
                 "'sorlink SUBCOMMAND --help' describes each subcommand.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return sorlink_tool::kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        PrintUsage(stdout);
        return sorlink_tool::kExitOk;
    }
    for (const Subcommand& subcommand : kSubcommands) {
        if (std::strcmp(argv[1], subcommand.name) == 0) return subcommand.run(argc, argv);
    }
    std::fprintf(stderr, "sorlink: unknown subcommand %s\n\n", argv[1]);
    PrintUsage(stderr);
    return sorlink_tool::kExitUsage;
}
