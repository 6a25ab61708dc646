#include "tools/sorlink/Transfer.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "sorlink.h"
#include "tools/common/Bytes.h"
#include "tools/sorlink/Console.h"
#include "tools/sorlink/Progress.h"
#include "tools/sorlink/ResultCodes.h"
#include "tools/sorlink/Session.h"

namespace sorlink_tool {

namespace {

using Clock = std::chrono::steady_clock;

const std::vector<OptionRule> kSendOptions = {
    {"hex", "BYTES", "send these bytes, such as \"1b 40\""},
    {"text", "TEXT", "send this text; escapes \\n \\r \\t \\e \\0 \\\\ \\xHH"},
    {"writef", nullptr, "send the FILE with the library's own file sender (WriteF)"},
};

const std::vector<OptionRule> kReadOptions = {
    {"timeout", "MS", "how long to wait for the first byte (default 2000)"},
    {"idle", "MS", "stop after this long without a new byte (default 300)"},
    {"count", "N", "stop once N bytes have arrived"},
    {"show", "FORM", "hex (default), text or raw bytes on standard output"},
    {"out", "FILE", "also write the bytes received to FILE"},
};

// Files and standard input go out in pieces of this size so the progress
// bar moves; the library cuts each piece into its own packets.
constexpr std::size_t kSendPieceSize = 64 * 1024;

// The sample receipt shipped in tools/samples, as bytes.
const unsigned char kSampleReceipt[] = {
#include "SampleReceipt.inc"
};

// Where the bytes to send come from: the command line, a file or standard
// input.
class Payload {
public:
    // The built-in sample receipt, ended by a paper feed.
    void UseSampleReceipt() {
        Bytes receipt(sizeof kSampleReceipt + 3, '\n');
        std::memcpy(receipt.data(), kSampleReceipt, sizeof kSampleReceipt);
        commandLineBytes.swap(receipt);
        total = static_cast<long long>(commandLineBytes.size());
    }
    // Reads --hex, --text or the one positional FILE ("-": standard input).
    int Prepare(const Arguments& args) {
        int sources = (args.Has("hex") ? 1 : 0) + (args.Has("text") ? 1 : 0) +
                      static_cast<int>(args.Positional().size());
        if (sources != 1)
            return UsageError("give one of --hex, --text, FILE or - (standard input)");
        if (args.Has("hex") && !ParseHex(args.Value("hex"), &commandLineBytes)) {
            return UsageError("--hex needs pairs of hexadecimal digits");
        }
        if (args.Has("text") && !ParseEscapedText(args.Value("text"), &commandLineBytes)) {
            return UsageError("--text has an unknown escape");
        }
        if (args.Positional().empty()) {
            total = static_cast<long long>(commandLineBytes.size());
            return kExitOk;
        }
        path = args.Positional()[0];
        if (path == "-") {
            SetBinaryMode(stdin);
            stream = stdin;
            total = -1;
            return kExitOk;
        }
        stream = std::fopen(path.c_str(), "rb");
        if (stream == nullptr) {
            std::fprintf(stderr, "sorlink: cannot open %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return kExitFailure;
        }
        ownsStream = true;
        // A folder opens for reading on Linux and a device or FIFO would
        // block or never end: only a regular file is sent.
        struct stat info {};
        if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) {
            std::fprintf(stderr, "sorlink: %s is not a regular file\n", path.c_str());
            return kExitFailure;
        }
        total = static_cast<long long>(info.st_size);
        return kExitOk;
    }
    ~Payload() {
        if (ownsStream) std::fclose(stream);
    }

    bool IsFile() const { return ownsStream; }
    const std::string& Path() const { return path; }
    long long Total() const { return total; }
    // The next piece; empty at the end.
    Bytes Next() {
        if (stream == nullptr) {
            Bytes piece;
            piece.swap(commandLineBytes);
            return piece;
        }
        Bytes piece(kSendPieceSize);
        std::size_t got = std::fread(piece.data(), 1, piece.size(), stream);
        if (got < piece.size() && std::ferror(stream)) {
            readError = errno != 0 ? errno : EIO;
            got = 0;
        }
        piece.resize(got);
        return piece;
    }
    // The error number of a read that failed, 0 when the input ended.
    int ReadError() const { return readError; }

private:
    Bytes commandLineBytes;
    std::string path;
    std::FILE* stream = nullptr;
    bool ownsStream = false;
    long long total = -1;
    int readError = 0;
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void PrintThroughput(std::FILE* out, long long bytes, double seconds) {
    std::string rate = "-";
    if (seconds > 0) rate = FormatBytes(static_cast<double>(bytes) / seconds) + "/s";
    std::fprintf(out, "sent %lld bytes in %.3f s (%s)\n", bytes, seconds, rate.c_str());
    std::fflush(out);
}

// report: where the final line goes (standard error when the answer is to
// follow on standard output).
int Send(const Arguments& args, Payload& payload, std::FILE* report) {
    Clock::time_point start = Clock::now();
    if (args.Has("writef")) {
        if (!Check("WriteF", WriteF(payload.Path().c_str()))) return kExitFailure;
        PrintThroughput(report, payload.Total(), SecondsSince(start));
        return kExitOk;
    }
    Progress progress(payload.Total(), !payload.Path().empty());
    long long sent = 0;
    for (Bytes piece = payload.Next(); !piece.empty(); piece = payload.Next()) {
        if (!Check("Write", Write(piece.data(), static_cast<int>(piece.size())))) {
            progress.Finish();
            std::fprintf(stderr, "sorlink: %lld bytes had been sent\n", sent);
            return kExitFailure;
        }
        sent += static_cast<long long>(piece.size());
        progress.Update(sent);
    }
    progress.Finish();
    if (payload.ReadError() != 0) {
        std::fprintf(stderr, "sorlink: reading %s failed: %s; %lld bytes had been sent\n",
                     payload.Path() == "-" ? "standard input" : payload.Path().c_str(),
                     std::strerror(payload.ReadError()), sent);
        return kExitFailure;
    }
    PrintThroughput(report, sent, SecondsSince(start));
    return kExitOk;
}

bool IsQuietRead(int result) {
    // Nothing arrived within one read call: serial, Ethernet, USB.
    return result == 114 || result == 214 || result == 323;
}

bool ParseMilliseconds(const Arguments& args, const char* name, const char* fallback, int* value) {
    return ParseInt(args.Value(name, fallback), value) && *value >= 0;
}

struct ReadSettings {
    int timeoutMs = 0;
    int idleMs = 0;
    int count = 0;
    std::string show;
};

int PrepareRead(const Arguments& args, ReadSettings* settings) {
    if (!ParseMilliseconds(args, "timeout", "2000", &settings->timeoutMs) ||
        !ParseMilliseconds(args, "idle", "300", &settings->idleMs) ||
        !ParseMilliseconds(args, "count", "0", &settings->count)) {
        return UsageError("--timeout, --idle and --count need whole numbers");
    }
    settings->show = args.Value("show", "hex");
    if (settings->show != "hex" && settings->show != "text" && settings->show != "raw") {
        return UsageError("--show takes hex, text or raw");
    }
    return kExitOk;
}

int ReceiveAndShow(const Arguments& args, const ReadSettings& settings) {
    const int timeoutMs = settings.timeoutMs, idleMs = settings.idleMs, count = settings.count;
    const std::string& show = settings.show;
    Bytes received;
    Clock::time_point start = Clock::now();
    Clock::time_point lastByte = start;
    int lastResult = 0;
    bool closedByPeer = false;
    for (;;) {
        Clock::time_point now = Clock::now();
        if (received.empty() && now - start >= std::chrono::milliseconds(timeoutMs)) break;
        if (!received.empty() && now - lastByte >= std::chrono::milliseconds(idleMs)) break;
        if (count > 0 && received.size() >= static_cast<std::size_t>(count)) break;

        char buffer[4096];
        unsigned got = 0;
        lastResult = Read(buffer, sizeof buffer, &got);
        if (lastResult == 0) {
            if (got > sizeof buffer) got = sizeof buffer;
            received.insert(received.end(), buffer, buffer + got);
            if (got > 0) lastByte = Clock::now();
        } else if (lastResult == 213) {
            // The peer closed the connection: whatever it sent has arrived.
            closedByPeer = true;
            break;
        } else if (!IsQuietRead(lastResult)) {
            Check("Read", lastResult);
            return kExitFailure;
        }
    }

    if (args.Has("out")) {
        std::FILE* out = std::fopen(args.Value("out").c_str(), "wb");
        bool written = out != nullptr &&
                       std::fwrite(received.data(), 1, received.size(), out) == received.size();
        if (out != nullptr && std::fclose(out) != 0) written = false;
        if (!written) {
            std::fprintf(stderr, "sorlink: cannot write %s\n", args.Value("out").c_str());
            return kExitFailure;
        }
    }
    if (show == "raw") {
        SetBinaryMode(stdout);
        std::fwrite(received.data(), 1, received.size(), stdout);
    } else if (show == "text") {
        TextDump(stdout, received.data(), received.size());
    } else {
        HexDump(stdout, received.data(), received.size());
    }
    std::fflush(stdout);
    if (received.empty()) {
        std::string why = closedByPeer ? "the printer closed the connection"
                                       : "nothing arrived within " + std::to_string(timeoutMs) +
                                             " ms, last " + DescribeResult(lastResult, "Read");
        std::fprintf(stderr, "sorlink: no data: %s\n", why.c_str());
        return kExitNoData;
    }
    std::fprintf(stderr, "received %zu bytes\n", received.size());
    return kExitOk;
}

struct Command {
    const char* name;
    const char* synopsis;
    const char* summary;
    bool sends;
    bool reads;
    const char* example;
    bool samplePage = false;  // sends the built-in receipt, takes no bytes
};

void PrintHelp(const Command& command, const std::vector<OptionRule>& options) {
    std::printf("usage: sorlink %s %s\n\n%s\n\nexample:\n  %s\n\noptions:\n", command.name,
                command.synopsis, command.summary, command.example);
    PrintOptions(options);
}

int Run(const Command& command, int argc, char** argv) {
    std::vector<OptionRule> options =
        Options({kLinkOptions,
                 command.sends && !command.samplePage ? kSendOptions : std::vector<OptionRule>{},
                 command.reads ? kReadOptions : std::vector<OptionRule>{}, kLogOptions});
    Arguments args;
    std::string error;
    if (!args.Parse(argc, argv, 2, options, &error)) {
        return UsageError(error + " (see sorlink " + command.name + " --help)");
    }
    if (args.Has("help")) {
        PrintHelp(command, options);
        return kExitOk;
    }
    if ((!command.sends || command.samplePage) && !args.Positional().empty()) {
        return UsageError("unexpected argument " + args.Positional()[0]);
    }
    LogSettings log;
    if (!ReadLogSettings(args, &log, &error)) return UsageError(error);
    // Everything the user typed is checked before the printer is touched.
    Payload payload;
    ReadSettings reading;
    int status = kExitOk;
    if (command.samplePage) {
        payload.UseSampleReceipt();
    } else if (command.sends) {
        status = payload.Prepare(args);
        if (status != kExitOk) return status;
        if (args.Has("writef") && !payload.IsFile()) return UsageError("--writef needs a FILE");
    }
    if (command.reads && (status = PrepareRead(args, &reading)) != kExitOk) return status;

    Session session;
    status = session.OpenLink(args, log);
    if (status == kExitOk && command.sends)
        status = Send(args, payload, command.reads ? stderr : stdout);
    if (status == kExitOk && command.reads) status = ReceiveAndShow(args, reading);
    int closed = session.Finish();
    return status != kExitOk ? status : closed;
}

}  // namespace

int RunSend(int argc, char** argv) {
    static const Command command = {
        "send",
        "LINK [--hex BYTES | --text TEXT | FILE | -] [options]",
        "Opens the link, sends the bytes and closes it. A file or standard input goes out\n"
        "in pieces, with a progress bar on a terminal; the last line gives the bytes sent\n"
        "and the throughput.",
        true,
        false,
        "sorlink send --tcp 192.168.1.50:9100 receipt.txt"};
    return Run(command, argc, argv);
}

int RunRead(int argc, char** argv) {
    static const Command command = {
        "read",
        "LINK [--timeout MS] [--idle MS] [--count N] [options]",
        "Opens the link and shows what arrives: it waits up to --timeout for the first\n"
        "byte, then stops after --idle without a new one (or at --count bytes). Exit\n"
        "status 3 when nothing arrived.",
        false,
        true,
        "sorlink read --serial COM3 --baud 19200 --timeout 5000 --show text"};
    return Run(command, argc, argv);
}

int RunChat(int argc, char** argv) {
    static const Command command = {
        "chat",
        "LINK [--hex BYTES | --text TEXT | FILE | -] [read options] [options]",
        "Sends the bytes, then reads and shows the answer on the same connection.",
        true,
        true,
        "sorlink chat --printer Kitchen --hex \"10 04 01\"   (a status request)"};
    return Run(command, argc, argv);
}

int RunTestPage(int argc, char** argv) {
    static const Command command = {
        "test-page",
        "LINK [options]",
        "Prints the sample receipt that ships with the tool (a few lines of plain text)\n"
        "through the library: a quick proof that a printer is reached, without a file.",
        true,
        false,
        "sorlink test-page --printer Kitchen",
        true};
    return Run(command, argc, argv);
}

}  // namespace sorlink_tool
