// sorlink doctor: the library's own lists (serial ports, USB devices,
// installed TCP/IP printers), each checked further against the system
// (System.h), and one line with a fix for every problem found.
#include "tools/sorlink/doctor/Doctor.h"

#include <cstdio>
#include <string>
#include <vector>

#include "sorlink.h"
#include "tools/common/Arguments.h"
#include "tools/sorlink/ResultCodes.h"
#include "tools/sorlink/Session.h"
#include "tools/sorlink/doctor/Findings.h"
#include "tools/sorlink/doctor/Printers.h"
#include "tools/sorlink/doctor/System.h"

namespace sorlink_tool {

namespace {

using doctor::Findings;

// The library's lists are built in 1024 bytes; this holds any of them.
constexpr unsigned kListSize = 4096;

// One of the library's lists, fetched with a port of the link type
// current; false with a problem line when the library refuses, unless the
// refusal is one the caller reads as an empty list (accepted).
template <typename Fetch>
bool FetchList(int linkType, const char* area, const char* entryPoint, Fetch fetch,
               std::vector<std::string>* entries, Findings* findings, int accepted = 0) {
    Session session;
    char list[kListSize] = {};
    int result = session.Create(linkType, LogSettings()) ? fetch(list, kListSize) : -1;
    if (result != 0 && result != accepted) {
        findings->Problem(area,
                          std::string("the library could not list them: ") + entryPoint + " gave " +
                              DescribeResult(result, entryPoint) + ".",
                          "sorlink codes " + std::to_string(result) +
                              " explains the result; the registry file is the usual cause.");
        return false;
    }
    *entries = SplitList(list);
    return true;
}

std::vector<std::string> CheckSerialPorts(Findings* findings) {
    std::vector<std::string> ports;
    if (!FetchList(
            SORLINK_LINK_SERIAL, "serial", "SerialEnumPorts",
            [](char* list, unsigned size) { return SerialEnumPorts(list, size); }, &ports,
            findings)) {
        return ports;
    }
    if (ports.empty()) findings->Ok("serial", "no serial port found.");
    for (const std::string& port : ports) doctor::CheckSerialPort(port, findings);
    return ports;
}

void CheckUsb(Findings* findings) {
    std::vector<std::string> entries;
    if (!FetchList(
            SORLINK_LINK_USB, "usb", "UsbEnumDevices",
            [](char* list, unsigned size) { return UsbEnumDevices(list, size); }, &entries,
            findings)) {
        return;
    }
    // The list gives vendor ID, product ID and serial number as three entries.
    std::vector<std::string> devices;
    for (std::size_t first = 0; first + 2 < entries.size(); first += 3) {
        devices.push_back(entries[first] + ":" + entries[first + 1] + ":" + entries[first + 2]);
    }
    doctor::CheckUsbDevices(devices, findings);
}

}  // namespace

int RunDoctor(int argc, char** argv) {
    const std::vector<OptionRule> options = {
        {"connect", nullptr, "try a connection to each installed TCP/IP printer"},
        {"connect-timeout", "MS",
         "with --connect: the connection time-out (default the library's)"},
        {"user", "NAME", "check for this user instead of the one running the command"},
        {"json", nullptr, "print the findings as JSON"},
        {"help", nullptr, "show this help"},
    };
    Arguments args;
    std::string error;
    if (!args.Parse(argc, argv, 2, options, &error) || !args.Positional().empty()) {
        if (error.empty()) error = "unexpected argument " + args.Positional()[0];
        return UsageError(error + " (see sorlink doctor --help)");
    }
    if (args.Has("help")) {
        std::printf(
            "usage: sorlink doctor [--connect] [--json] [--user NAME]\n\n"
            "Checks what stands between this machine and its printers: the registry file,\n"
            "access to the serial ports and USB printers, every installed printer (from the\n"
            "registry file and, on Linux, the CUPS queues: its port, its device) and the\n"
            "default log. Prints one line with a fix for each problem; exit status 0 when\n"
            "nothing is wrong, 1 otherwise.\n\n"
            "example: sudo sorlink doctor --user pos --connect\n\noptions:\n");
        PrintOptions(options);
        return kExitOk;
    }
    int connectTimeout = 0;
    if (args.Has("connect-timeout") &&
        (!ParseInt(args.Value("connect-timeout"), &connectTimeout) || connectTimeout <= 0)) {
        return UsageError("--connect-timeout needs a number of milliseconds");
    }
    if (!doctor::SelectUser(args.Value("user"), &error)) return UsageError(error);

    Findings findings;
    doctor::CheckUser(&findings);
    doctor::CheckRegistryFile(&findings);
    std::vector<std::string> serialPorts = CheckSerialPorts(&findings);
    CheckUsb(&findings);
    doctor::CheckPrintQueues(&findings);
    doctor::CheckInstalledPrinters(serialPorts, args.Has("connect"), connectTimeout, &findings);
    doctor::CheckLogFolder(&findings);

    if (args.Has("json")) {
        findings.PrintJson(stdout, doctor::DescribeUser());
    } else {
        findings.PrintText(stdout, doctor::DescribeUser());
    }
    return findings.ProblemCount() == 0 ? kExitOk : kExitFailure;
}

}  // namespace sorlink_tool
