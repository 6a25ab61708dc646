// sorlink_vprinter: plays a printer for demos and tests. It listens on a
// loopback TCP port and/or a UDP port and/or a pseudo-terminal, records every
// byte it receives, answers configured requests, closes or resets
// connections on request, and stops by itself after a time limit.
#include <cstdio>
#include <string>

#include "tools/common/Arguments.h"
#include "tools/common/Bytes.h"
#include "tools/vprinter/Printer.h"

namespace {

using sorlink_tool::Arguments;
using sorlink_tool::OptionRule;
using sorlink_tool::ParseInt;

const std::vector<OptionRule> kOptions = {
    {"tcp", "PORT", "listen for TCP connections on 127.0.0.1:PORT (0: any free port)"},
    {"udp", "PORT", "receive datagrams on 127.0.0.1:PORT (0: any free port)"},
    {"answer-port", "PORT", "send UDP answers to this port of 127.0.0.1, not to the sender's"},
    {"pty", nullptr, "create a pseudo-terminal and play a serial printer on it"},
    {"usb", "VID:PID:SERIAL", "play a USB printer with these IDs (needs --usb-root)"},
    {"usb-root", "DIR",
     "with --usb: where to describe it (DIR/sys and DIR/dev, for "
     "SORLINK_SYSFS_ROOT and SORLINK_DEV_ROOT)"},
    {"registry", "FILE",
     "with --pty: write a registry file naming the terminal (SORLINK_REGISTRY)"},
    {"com", "NAME", "with --registry: the serial port name to give it (default COM9)"},
    {"record", "FILE", "write every byte received to FILE"},
    {"reply", "REQ=REPLY", "answer the bytes REQ with the bytes REPLY, in hex (repeatable)"},
    {"close-on", "HEX", "close the TCP connection when these bytes arrive"},
    {"reset-on", "HEX", "reset the TCP connection when these bytes arrive"},
    {"close-after", "N", "close a TCP connection once it has sent N bytes"},
    {"reset-after", "N", "reset a TCP connection once it has sent N bytes"},
    {"time-limit", "SECONDS", "stop after this many seconds (default 30)"},
    {"info", "FILE", "also write the addresses to FILE, one \"kind value\" line each"},
    {"help", nullptr, "show this help"},
};

int Usage(const std::string& message) {
    std::fprintf(stderr, "sorlink_vprinter: %s (see --help)\n", message.c_str());
    return 2;
}

bool ParsePort(const Arguments& args, const char* name, int* port) {
    return ParseInt(args.Value(name), port) && *port >= 0 && *port <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    std::string error;
    if (!args.Parse(argc, argv, 1, kOptions, &error)) return Usage(error);
    if (!args.Positional().empty()) return Usage("unexpected argument " + args.Positional()[0]);
    if (args.Has("help")) {
        std::printf(
            "usage: sorlink_vprinter [--tcp PORT] [--udp PORT] [--pty [--registry FILE]] "
            "[options]\n\n"
            "Plays a printer: records what it receives, answers configured requests and\n"
            "stops by itself. It prints one line per link (\"tcp 127.0.0.1 PORT\",\n"
            "\"udp 127.0.0.1 PORT\", \"pty PATH\"), then \"ready\".\n\noptions:\n");
        sorlink_tool::PrintOptions(kOptions);
        return 0;
    }

    vprinter::PrinterConfig config;
    if (args.Has("tcp") && !ParsePort(args, "tcp", &config.tcpPort)) {
        return Usage("--tcp needs a port number");
    }
    if (args.Has("udp") && !ParsePort(args, "udp", &config.udpPort)) {
        return Usage("--udp needs a port number");
    }
    if (args.Has("answer-port") && !ParsePort(args, "answer-port", &config.udpAnswerPort)) {
        return Usage("--answer-port needs a port number");
    }
    config.pty = args.Has("pty");
    if (args.Has("usb") != args.Has("usb-root")) return Usage("--usb and --usb-root go together");
    if (args.Has("usb")) {
        std::string ids = args.Value("usb");
        std::string::size_type first = ids.find(':');
        std::string::size_type second =
            first == std::string::npos ? std::string::npos : ids.find(':', first + 1);
        if (second == std::string::npos || first != 4 || second != 9) {
            return Usage("--usb needs VID:PID:SERIAL with four-digit IDs");
        }
        config.usbVendor = ids.substr(0, 4);
        config.usbProduct = ids.substr(5, 4);
        config.usbSerial = ids.substr(10);
        config.usbRoot = args.Value("usb-root");
        if (config.usbRoot.empty() || config.usbRoot[0] != '/') {
            return Usage("--usb-root needs an absolute path");
        }
    }
    if (config.tcpPort < 0 && config.udpPort < 0 && !config.pty && config.usbRoot.empty()) {
        return Usage("give at least one of --tcp, --udp, --pty and --usb");
    }
    if (args.Has("registry") && !config.pty) return Usage("--registry needs --pty");
    config.registryFile = args.Value("registry");
    config.comName = args.Value("com", "COM9");
    config.recordFile = args.Value("record");
    config.infoFile = args.Value("info");

    for (const std::string& text : args.Values("reply")) {
        vprinter::Rule rule;
        if (!vprinter::ParseReplyRule(text, &rule)) return Usage("--reply needs HEX=HEX");
        config.responder.rules.push_back(rule);
    }
    const struct {
        const char* option;
        vprinter::ActionKind kind;
    } sequenceOptions[] = {{"close-on", vprinter::ActionKind::kClose},
                           {"reset-on", vprinter::ActionKind::kReset}};
    for (const auto& option : sequenceOptions) {
        for (const std::string& text : args.Values(option.option)) {
            vprinter::Rule rule{{}, option.kind, {}};
            if (!sorlink_tool::ParseHex(text, &rule.request) || rule.request.empty()) {
                return Usage(std::string("--") + option.option + " needs hex bytes");
            }
            config.responder.rules.push_back(rule);
        }
    }
    int count = 0;
    if (args.Has("close-after")) {
        if (!ParseInt(args.Value("close-after"), &count) || count < 0) {
            return Usage("--close-after needs a byte count");
        }
        config.responder.closeAfter = count;
    }
    if (args.Has("reset-after")) {
        if (!ParseInt(args.Value("reset-after"), &count) || count < 0) {
            return Usage("--reset-after needs a byte count");
        }
        config.responder.resetAfter = count;
    }
    int seconds = 30;
    if (!ParseInt(args.Value("time-limit", "30"), &seconds) || seconds <= 0) {
        return Usage("--time-limit needs a positive number of seconds");
    }
    config.timeLimitSeconds = seconds;

    vprinter::Printer printer(config);
    if (!printer.Start()) return 1;
    return printer.Run();
}
