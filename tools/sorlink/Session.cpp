#include "tools/sorlink/Session.h"

#include <cstdio>
#include <cstring>

#include "sorlink.h"
#include "tools/sorlink/HostAddress.h"
#include "tools/sorlink/ResultCodes.h"

namespace sorlink_tool {

const std::vector<OptionRule> kLogOptions = {
    {"log", "PATH", "log file of the library (turns file logging on)"},
    {"log-mode", "MODE", "none, file or debugger (standard error); default none, file with --log"},
    {"log-level", "MASK",
     "levels to log: a number or names joined by commas: data,trace,info,error,all "
     "(default trace,info,error)"},
};

const std::vector<OptionRule> kLinkOptions = {
    {"serial", "PORT", "serial port by name, such as COM3"},
    {"baud", "RATE", "serial baud rate (default 9600)"},
    {"params", "8N1", "serial byte size, parity (N, O, E) and stop bits (default 8N1)"},
    {"flow", "KIND", "serial flow control: none, hw or xon (default none)"},
    {"tcp", "HOST[:PORT]",
     "TCP printer by IPv4 address or host name, resolved to IPv4 (default port 9100)"},
    {"connect-timeout", "MS", "TCP connection time-out (default 3000)"},
    {"udp", "HOST:PORT", "UDP datagrams to this address (or host name) and port"},
    {"local", "PORT", "UDP port that answers are received on (with --udp)"},
    {"usb", "VID:PID:SERIAL", "USB device by vendor ID, product ID and serial number"},
    {"interface", "N", "USB interface type: 0 control, 1 printer (default), 2 vendor, 3 scanner"},
    {"printer", "NAME", "installed printer by name (serial, TCP/IP or USB)"},
    {"packet-size", "W[:R]", "largest piece of one platform write (and read) call"},
};

namespace {

const char* const kLinkKinds[] = {"serial", "tcp", "udp", "usb", "printer"};

// Read calls must come back quickly so the tool's own time-out governs how
// long a read waits; these are the per-call waits in milliseconds.
constexpr int kSerialReadConstantMs = 100;
constexpr int kReceiveTimeoutMs = 100;
constexpr int kSendTimeoutMs = 10000;

int ParseLevelMask(const std::string& text, bool* ok) {
    int mask = 0;
    if (ParseInt(text, &mask)) {
        *ok = mask >= 0 && mask <= 15;
        return mask;
    }
    *ok = true;
    std::string::size_type start = 0;
    while (start <= text.size()) {
        std::string::size_type end = text.find_first_of(",|+", start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        if (name == "data") {
            mask |= LOG_DATA;
        } else if (name == "trace") {
            mask |= LOG_TRACE;
        } else if (name == "info") {
            mask |= LOG_INFO;
        } else if (name == "error") {
            mask |= LOG_ERROR;
        } else if (name == "all") {
            mask |= LOG_DATA | LOG_TRACE | LOG_INFO | LOG_ERROR;
        } else {
            *ok = false;
        }
        start = end + 1;
    }
    return mask;
}

bool SplitHostPort(const std::string& text, std::string* host, int* port, bool portRequired) {
    std::string::size_type colon = text.rfind(':');
    *host = text.substr(0, colon);
    if (colon != std::string::npos) {
        if (!ParseInt(text.substr(colon + 1), port) || *port < 0 || *port > 65535) return false;
    } else if (portRequired) {
        return false;
    }
    return !host->empty();
}

// The library takes dotted IPv4 addresses only: a host name is resolved
// here, an address goes on as typed. kExitOk, or the exit status of a name
// that does not resolve.
int ToLibraryAddress(const char* option, std::string* host) {
    if (LooksNumeric(*host)) return kExitOk;
    std::string address, error;
    if (!ResolveIpv4(*host, &address, &error)) {
        std::fprintf(stderr, "sorlink: --%s: %s has no IPv4 address: %s\n", option, host->c_str(),
                     error.c_str());
        return kExitFailure;
    }
    *host = address;
    return kExitOk;
}

// "8N1" to the library's byte size, parity and stop-bit codes. Letters and
// digits the library refuses are passed on so that its result names them.
bool ParseLineParams(const std::string& text, int* byteSize, int* parity, int* stopBits) {
    if (text.size() < 3 || text[0] < '0' || text[0] > '9') return false;
    *byteSize = text[0] - '0';
    switch (text[1]) {
        case 'N':
        case 'n':
            *parity = 0;
            break;
        case 'O':
        case 'o':
            *parity = 1;
            break;
        case 'E':
        case 'e':
            *parity = 2;
            break;
        case 'M':
        case 'm':
            *parity = 3;
            break;
        case 'S':
        case 's':
            *parity = 4;
            break;
        default:
            return false;
    }
    std::string stop = text.substr(2);
    if (stop == "1") {
        *stopBits = 0;
    } else if (stop == "1.5") {
        *stopBits = 1;
    } else if (stop == "2") {
        *stopBits = 2;
    } else {
        return false;
    }
    return true;
}

int InitSerial(const Arguments& args) {
    int baud = 0, byteSize = 0, parity = 0, stopBits = 0, flow = 2;
    if (!ParseInt(args.Value("baud", "9600"), &baud)) return UsageError("--baud needs a number");
    if (!ParseLineParams(args.Value("params", "8N1"), &byteSize, &parity, &stopBits)) {
        return UsageError("--params needs a byte size, a parity and stop bits, such as 8N1 or 7E2");
    }
    std::string flowName = args.Value("flow", "none");
    if (flowName == "hw") {
        flow = 0;
    } else if (flowName == "xon") {
        flow = 1;
    } else if (flowName != "none") {
        return UsageError("--flow takes none, hw or xon");
    }
    std::string port = args.Value("serial");
    if (!Check("InitSerialPort",
               InitSerialPort(port.c_str(), baud, parity, byteSize, stopBits, flow))) {
        return kExitFailure;
    }
    // Read interval 20 ms, total 100 ms per call; the library's write
    // time-outs (1000 ms + 100 ms a byte) stay.
    if (!Check("SetSerialTimeout", SetSerialTimeout(20, kSerialReadConstantMs, 0, 1000, 100))) {
        return kExitFailure;
    }
    return kExitOk;
}

int InitTcp(const Arguments& args) {
    std::string host;
    int port = 9100, connectTimeout = 0;
    if (!SplitHostPort(args.Value("tcp"), &host, &port, false)) {
        return UsageError("--tcp needs HOST or HOST:PORT");
    }
    int status = ToLibraryAddress("tcp", &host);
    if (status != kExitOk) return status;
    if (!ParseInt(args.Value("connect-timeout", "3000"), &connectTimeout)) {
        return UsageError("--connect-timeout needs a number of milliseconds");
    }
    if (!Check("InitEthTCP", InitEthTCP(host.c_str(), port))) return kExitFailure;
    if (!Check("SetEthConnTimeout", SetEthConnTimeout(connectTimeout))) return kExitFailure;
    if (!Check("SetEthTimeout", SetEthTimeout(kSendTimeoutMs, kReceiveTimeoutMs))) {
        return kExitFailure;
    }
    return kExitOk;
}

int InitUdp(const Arguments& args) {
    std::string host;
    int remotePort = 0, localPort = 0;
    if (!SplitHostPort(args.Value("udp"), &host, &remotePort, true)) {
        return UsageError("--udp needs HOST:PORT");
    }
    int status = ToLibraryAddress("udp", &host);
    if (status != kExitOk) return status;
    if (!ParseInt(args.Value("local", "0"), &localPort) || localPort < 0 || localPort > 65535) {
        return UsageError("--local needs a port number");
    }
    if (!Check("InitEthUDP", InitEthUDP(host.c_str(), remotePort, localPort))) {
        return kExitFailure;
    }
    if (!Check("SetEthTimeout", SetEthTimeout(kSendTimeoutMs, kReceiveTimeoutMs))) {
        return kExitFailure;
    }
    return kExitOk;
}

int InitUsbInterfaceOption(const Arguments& args) {
    if (!args.Has("interface")) return kExitOk;
    int type = 0;
    if (!ParseInt(args.Value("interface"), &type)) return UsageError("--interface needs 0 to 3");
    return Check("InitUsbInterface", InitUsbInterface(type)) ? kExitOk : kExitFailure;
}

int InitUsb(const Arguments& args) {
    std::string text = args.Value("usb");
    std::string::size_type first = text.find(':');
    std::string::size_type second =
        first == std::string::npos ? std::string::npos : text.find(':', first + 1);
    if (second == std::string::npos) return UsageError("--usb needs VID:PID:SERIAL");
    std::string vendor = text.substr(0, first);
    std::string product = text.substr(first + 1, second - first - 1);
    // The library rewrites blanks of the serial number in place.
    std::vector<char> serial(text.begin() + static_cast<long>(second) + 1, text.end());
    serial.push_back('\0');
    int status = InitUsbInterfaceOption(args);
    if (status != kExitOk) return status;
    if (!Check("InitUsbVidPidSerial",
               InitUsbVidPidSerial(vendor.c_str(), product.c_str(), serial.data()))) {
        return kExitFailure;
    }
    return Check("SetUsbTimeout", SetUsbTimeout(kSendTimeoutMs, kReceiveTimeoutMs)) ? kExitOk
                                                                                    : kExitFailure;
}

// The link type of the installed printer of that name, from the library's
// three printer lists; -1 when none lists it.
int FindInstalledPrinter(const std::string& name, const LogSettings& log) {
    const int linkTypes[] = {SORLINK_LINK_SERIAL, SORLINK_LINK_ETHERNET, SORLINK_LINK_USB};
    for (int linkType : linkTypes) {
        int portId = 0;
        if (CreateCommunicationPort(linkType, log.mode, log.mask, log.path.c_str(), &portId) != 0) {
            continue;
        }
        char list[4096] = {};
        int result = linkType == SORLINK_LINK_SERIAL
                         ? SerialEnumPrinters(nullptr, list, sizeof list)
                     : linkType == SORLINK_LINK_ETHERNET ? EthEnumPrinters(list, sizeof list)
                                                         : UsbEnumPrinters(list, sizeof list);
        DeleteCommunicationPort(portId);
        if (result != 0) continue;
        for (const std::string& entry : SplitList(list)) {
            if (entry == name) return linkType;
        }
    }
    return -1;
}

int InitPrinter(const Arguments& args, int linkType) {
    std::string name = args.Value("printer");
    switch (linkType) {
        case SORLINK_LINK_SERIAL:
            if (!Check("InitSerialPrinter", InitSerialPrinter(name.c_str()))) return kExitFailure;
            return Check("SetSerialTimeout",
                         SetSerialTimeout(20, kSerialReadConstantMs, 0, 1000, 100))
                       ? kExitOk
                       : kExitFailure;
        case SORLINK_LINK_ETHERNET:
            if (!Check("InitEthTCPPrinter", InitEthTCPPrinter(name.c_str()))) return kExitFailure;
            return Check("SetEthTimeout", SetEthTimeout(kSendTimeoutMs, kReceiveTimeoutMs))
                       ? kExitOk
                       : kExitFailure;
        default: {
            int status = InitUsbInterfaceOption(args);
            if (status != kExitOk) return status;
            if (!Check("InitUsbPrinter", InitUsbPrinter(name.c_str()))) return kExitFailure;
            return Check("SetUsbTimeout", SetUsbTimeout(kSendTimeoutMs, kReceiveTimeoutMs))
                       ? kExitOk
                       : kExitFailure;
        }
    }
}

int ApplyPacketSize(const Arguments& args) {
    if (!args.Has("packet-size")) return kExitOk;
    std::string text = args.Value("packet-size");
    std::string::size_type colon = text.find(':');
    int writeSize = 0, readSize = 0;
    bool ok = ParseInt(text.substr(0, colon), &writeSize);
    if (colon == std::string::npos) {
        readSize = writeSize;
    } else {
        ok = ok && ParseInt(text.substr(colon + 1), &readSize);
    }
    if (!ok || writeSize < 0 || readSize < 0) return UsageError("--packet-size needs W or W:R");
    return Check("SetPacketSize", SetPacketSize(writeSize, readSize)) ? kExitOk : kExitFailure;
}

}  // namespace

bool LooksNumeric(const std::string& host) {
    return host.find_first_not_of("0123456789.") == std::string::npos;
}

bool ReadLogSettings(const Arguments& args, LogSettings* settings, std::string* error) {
    settings->path = args.Value("log");
    std::string mode = args.Value("log-mode", settings->path.empty() ? "none" : "file");
    if (mode == "none" || mode == "0") {
        settings->mode = LOG_MODE_NONE;
    } else if (mode == "file" || mode == "1") {
        settings->mode = LOG_MODE_FILE;
    } else if (mode == "debugger" || mode == "2") {
        settings->mode = LOG_MODE_DEBUGGER;
    } else {
        *error = "--log-mode takes none, file or debugger";
        return false;
    }
    bool ok = true;
    settings->mask = ParseLevelMask(args.Value("log-level", "trace,info,error"), &ok);
    if (!ok) {
        *error = "--log-level takes 0 to 15 or names among data,trace,info,error,all";
        return false;
    }
    return true;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "sorlink: %s\n", message.c_str());
    return kExitUsage;
}

bool Check(const char* entryPoint, int result) {
    if (result == 0) return true;
    std::string text = DescribeResult(result, entryPoint);
    // The platform's own reason, recorded by the failing call (no current
    // port leaves it at 0).
    int systemError = 0;
    if (GetLastErrorComm(&systemError) != 0) systemError = 0;
    if (systemError != 0) {
        const char* reason = SystemErrorText(systemError);
        text += ": " + std::string(reason != nullptr ? reason : "system error") + " (" +
                std::to_string(systemError) + ")";
    }
    std::fprintf(stderr, "sorlink: %s failed: %s\n", entryPoint, text.c_str());
    if (IsSetUpCause(result, systemError)) {
        std::fprintf(stderr,
                     "sorlink: 'sorlink doctor' checks this machine's printers and access\n");
    }
    return false;
}

std::vector<OptionRule> Options(std::initializer_list<std::vector<OptionRule>> groups) {
    std::vector<OptionRule> all;
    for (const auto& group : groups) all.insert(all.end(), group.begin(), group.end());
    all.push_back({"help", nullptr, "show this help"});
    return all;
}

std::vector<std::string> SplitList(const char* list) {
    std::vector<std::string> entries;
    if (list == nullptr || list[0] == '\0') return entries;
    const char* start = list;
    for (const char* c = list;; ++c) {
        if (*c == '|' || *c == '\0') {
            entries.emplace_back(start, static_cast<std::size_t>(c - start));
            if (*c == '\0') break;
            start = c + 1;
        }
    }
    return entries;
}

Session::~Session() {
    if (created) Finish();
}

bool Session::Create(int linkType, const LogSettings& log) {
    int portId = 0;
    if (!Check("CreateCommunicationPort",
               CreateCommunicationPort(linkType, log.mode, log.mask, log.path.c_str(), &portId))) {
        return false;
    }
    created = true;
    return true;
}

int Session::OpenLink(const Arguments& args, const LogSettings& log) {
    const char* kind = nullptr;
    for (const char* candidate : kLinkKinds) {
        if (!args.Has(candidate)) continue;
        if (kind != nullptr) {
            return UsageError(std::string("--") + kind + " and --" + candidate + " name two links");
        }
        kind = candidate;
    }
    if (kind == nullptr)
        return UsageError("name a link: --serial, --tcp, --udp, --usb or --printer");

    int linkType = SORLINK_LINK_SERIAL;
    if (std::strcmp(kind, "tcp") == 0 || std::strcmp(kind, "udp") == 0) {
        linkType = SORLINK_LINK_ETHERNET;
    } else if (std::strcmp(kind, "usb") == 0) {
        linkType = SORLINK_LINK_USB;
    } else if (std::strcmp(kind, "printer") == 0) {
        linkType = FindInstalledPrinter(args.Value("printer"), log);
        if (linkType < 0) {
            std::fprintf(stderr,
                         "sorlink: no installed printer is named \"%s\"\n"
                         "sorlink: 'sorlink printers' lists them; 'sorlink doctor' checks each "
                         "one\n",
                         args.Value("printer").c_str());
            return kExitFailure;
        }
    }
    if (!Create(linkType, log)) return kExitFailure;

    int status = kExitOk;
    if (std::strcmp(kind, "serial") == 0) {
        status = InitSerial(args);
    } else if (std::strcmp(kind, "tcp") == 0) {
        status = InitTcp(args);
    } else if (std::strcmp(kind, "udp") == 0) {
        status = InitUdp(args);
    } else if (std::strcmp(kind, "usb") == 0) {
        status = InitUsb(args);
    } else {
        status = InitPrinter(args, linkType);
    }
    if (status != kExitOk) return status;
    status = ApplyPacketSize(args);
    if (status != kExitOk) return status;
    // The reason printed for a failed open is the open's own, not one left
    // by a look-up before it.
    ResetLastErrorComm();
    if (!Check("Open", Open())) return kExitFailure;
    opened = true;
    return kExitOk;
}

int Session::Finish() {
    int status = kExitOk;
    if (opened && !Check("Close", Close())) status = kExitFailure;
    opened = false;
    if (created) DeleteAllLayerItems();
    created = false;
    return status;
}

}  // namespace sorlink_tool
