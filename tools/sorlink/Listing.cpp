#include "tools/sorlink/Listing.h"

#include <cstdio>
#include <functional>
#include <string>

#include "sorlink.h"
#include "tools/common/Arguments.h"
#include "tools/sorlink/ResultCodes.h"
#include "tools/sorlink/Session.h"

namespace sorlink_tool {

namespace {

// The library's lists are built in 1024 bytes; this holds any of them.
constexpr unsigned kListSize = 4096;

struct Listing {
    const char* title;  // heading when several lists are printed
    int linkType;
    const char* entryPoint;  // for the failure message
    std::function<int(char*, unsigned)> fetch;
    // Entries per item: the device list gives vendor ID, product ID and
    // serial number as three entries, shown as VID:PID:SERIAL.
    std::size_t group = 1;
    // For printers: the device the printer of that name reaches, as the
    // library resolves it; null for the other lists.
    std::function<std::string(const std::string&)> describe;
};

std::string Failure(int result) {
    return "(" + DescribeResult(result, nullptr) + ")";
}

// Each describer initialises the port by the printer's name (which opens
// nothing) and reads back what the library found.
std::string DescribeSerialPrinter(const std::string& name) {
    int result = InitSerialPrinter(name.c_str());
    if (result != 0) return Failure(result);
    char port[1024] = {};
    result = GetSerialPort(port);
    return result != 0 ? Failure(result) : std::string(port);
}

std::string DescribeTcpPrinter(const std::string& name) {
    int result = InitEthTCPPrinter(name.c_str());
    if (result != 0) return Failure(result);
    char address[32] = {};
    int port = 0;
    result = GetEthIpAndPort(address, &port);
    return result != 0 ? Failure(result) : std::string(address) + ":" + std::to_string(port);
}

std::string DescribeUsbPrinter(const std::string& name) {
    int result = InitUsbPrinter(name.c_str());
    if (result != 0) return Failure(result);
    char vendor[8] = {}, product[8] = {};
    result = GetUsbVidPid(vendor, product);
    return result != 0 ? Failure(result) : std::string(vendor) + ":" + product;
}

// Parses the options common to the listings; returns -1 to go on, else an
// exit status (help printed or a usage error).
int ParseListingArgs(int argc, char** argv, const char* name, const char* synopsis,
                     const char* summary, const std::vector<OptionRule>& own, Arguments* args,
                     LogSettings* log) {
    std::vector<OptionRule> options = Options({own, kLogOptions});
    std::string error;
    if (!args->Parse(argc, argv, 2, options, &error) || !args->Positional().empty()) {
        if (error.empty()) error = "unexpected argument " + args->Positional()[0];
        return UsageError(error + " (see sorlink " + name + " --help)");
    }
    if (args->Has("help")) {
        std::printf("usage: sorlink %s %s\n\n%s\n\noptions:\n", name, synopsis, summary);
        PrintOptions(options);
        return kExitOk;
    }
    if (!ReadLogSettings(*args, log, &error)) return UsageError(error);
    return -1;
}

// Prints each list, one entry a line, under its title when there are
// several; an empty list prints "(none)".
int PrintListings(const std::vector<Listing>& listings, const LogSettings& log, int usbInterface) {
    int status = kExitOk;
    for (const Listing& listing : listings) {
        Session session;
        if (!session.Create(listing.linkType, log)) return kExitFailure;
        if (listing.linkType == SORLINK_LINK_USB && usbInterface >= 0 &&
            !Check("InitUsbInterface", InitUsbInterface(usbInterface))) {
            return kExitFailure;
        }
        char list[kListSize] = {};
        int result = listing.fetch(list, kListSize);
        if (listings.size() > 1) std::printf("%s:\n", listing.title);
        if (!Check(listing.entryPoint, result)) {
            status = kExitFailure;
            continue;
        }
        std::vector<std::string> entries = SplitList(list);
        const char* indent = listings.size() > 1 ? "  " : "";
        if (entries.empty()) std::printf("%s(none)\n", indent);
        for (std::size_t first = 0; first < entries.size(); first += listing.group) {
            std::string item = entries[first];
            for (std::size_t i = first + 1; i < first + listing.group && i < entries.size(); ++i) {
                item += ":" + entries[i];
            }
            if (listing.describe) item += "  " + listing.describe(entries[first]);
            std::printf("%s%s\n", indent, item.c_str());
        }
    }
    return status;
}

const std::vector<OptionRule> kInterfaceOption = {
    {"interface", "N", "USB interface type: 0 control, 1 printer (default), 2 vendor, 3 scanner"},
};

// --interface, or -1 when it is not given; false after a usage message.
bool ReadInterface(const Arguments& args, int* type) {
    *type = -1;
    if (!args.Has("interface") || ParseInt(args.Value("interface"), type)) return true;
    UsageError("--interface needs 0 to 3");
    return false;
}

}  // namespace

int RunPorts(int argc, char** argv) {
    Arguments args;
    LogSettings log;
    int status = ParseListingArgs(
        argc, argv, "ports", "[options]",
        "Lists the serial ports the system knows.\n\nexample: sorlink ports", {}, &args, &log);
    if (status >= 0) return status;
    return PrintListings(
        {{"serial ports", SORLINK_LINK_SERIAL, "SerialEnumPorts",
          [](char* list, unsigned size) { return SerialEnumPorts(list, size); }, 1, nullptr}},
        log, -1);
}

int RunPrinters(int argc, char** argv) {
    const std::vector<OptionRule> own = {
        {"serial", nullptr, "printers on serial ports"},
        {"port", "PORT", "with --serial: only the printers on this port"},
        {"tcp", nullptr, "printers on TCP/IP printer ports"},
        {"usb", nullptr, "printers on USB"},
        kInterfaceOption[0],
    };
    Arguments args;
    LogSettings log;
    int status = ParseListingArgs(
        argc, argv, "printers", "[--serial [--port PORT]] [--tcp] [--usb] [options]",
        "Lists the installed printers by link, each with the device it reaches; all three\n"
        "lists without a link option. Printers come from the registry file and, on\n"
        "Linux, from the CUPS queues.\n\n"
        "example: sorlink printers --tcp",
        own, &args, &log);
    if (status >= 0) return status;
    int usbInterface = -1;
    if (!ReadInterface(args, &usbInterface)) return kExitUsage;

    bool all = !args.Has("serial") && !args.Has("tcp") && !args.Has("usb");
    std::string port = args.Value("port");
    std::vector<Listing> listings;
    if (all || args.Has("serial")) {
        listings.push_back({"serial printers", SORLINK_LINK_SERIAL, "SerialEnumPrinters",
                            [port](char* list, unsigned size) {
                                return SerialEnumPrinters(port.empty() ? nullptr : port.c_str(),
                                                          list, size);
                            },
                            1, DescribeSerialPrinter});
    }
    if (all || args.Has("tcp")) {
        listings.push_back({"TCP/IP printers", SORLINK_LINK_ETHERNET, "EthEnumPrinters",
                            [](char* list, unsigned size) { return EthEnumPrinters(list, size); },
                            1, DescribeTcpPrinter});
    }
    if (all || args.Has("usb")) {
        listings.push_back({"USB printers", SORLINK_LINK_USB, "UsbEnumPrinters",
                            [](char* list, unsigned size) { return UsbEnumPrinters(list, size); },
                            1, DescribeUsbPrinter});
    }
    return PrintListings(listings, log, usbInterface);
}

int RunUsb(int argc, char** argv) {
    Arguments args;
    LogSettings log;
    int status = ParseListingArgs(
        argc, argv, "usb", "[--interface N] [options]",
        "Lists the USB devices present for an interface type, as VID:PID:SERIAL.\n\n"
        "example: sorlink usb --interface 2",
        kInterfaceOption, &args, &log);
    if (status >= 0) return status;
    int usbInterface = -1;
    if (!ReadInterface(args, &usbInterface)) return kExitUsage;
    return PrintListings(
        {{"USB devices", SORLINK_LINK_USB, "UsbEnumDevices",
          [](char* list, unsigned size) { return UsbEnumDevices(list, size); }, 3, nullptr}},
        log, usbInterface);
}

int RunCodes(int argc, char** argv) {
    const std::vector<OptionRule> options = {
        {"markdown", nullptr, "print the table of docs/api.md"},
        {"help", nullptr, "show this help"},
    };
    Arguments args;
    std::string error;
    if (!args.Parse(argc, argv, 2, options, &error) || args.Positional().size() > 1) {
        if (error.empty()) error = "give at most one CODE";
        return UsageError(error + " (see sorlink codes --help)");
    }
    if (args.Has("help")) {
        std::printf(
            "usage: sorlink codes [CODE] [--markdown]\n\nPrints the meaning of a result code, "
            "or the table of all of them.\n\nexample: sorlink codes 215\n\noptions:\n");
        PrintOptions(options);
        return kExitOk;
    }
    if (args.Positional().size() == 1) {
        int code = 0;
        if (!ParseInt(args.Positional()[0], &code)) {
            return UsageError(args.Positional()[0] + " is not a number");
        }
        std::printf("%s\n", DescribeResult(code, nullptr).c_str());
        return ResultMeaning(code) != nullptr ? kExitOk : kExitFailure;
    }
    PrintResultTable(stdout, args.Has("markdown"));
    return kExitOk;
}

}  // namespace sorlink_tool
