// A 256 KiB TCP Write with every log level on (mask 15: one dump line per
// byte) against a raw baseline in the same run: the same bytes sent in the
// same pieces, and the same log lines formatted with the local time of each
// line and appended with one open-append-close per 1,024 lines. The raw
// dump lines are formatted from the data, one line at a time, so comparing
// the two logs (stamps aside) also checks the layer's dump line for line.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "bench/Loopback.h"
#include "bench/LoopbackSink.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kTotalBytes = 256 * 1024;
constexpr int kPieceBytes = 1024;
constexpr int kLinesPerBatch = 1024;
constexpr int kStampLength = 26;
const char kDumpPrefix[] = "CSvComEth::WriteTCP -  ";
const std::string kDumpBody = std::string(kDumpPrefix) + "SendBuffer[";

std::vector<std::string> LogBodies(const std::string& path) {
    std::vector<std::string> bodies;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        bodies.push_back(line.size() > kStampLength ? line.substr(kStampLength + 1) : line);
    }
    return bodies;
}

// Lines formatted one at a time, each with its own local time, appended to
// the file with one open-append-close per kLinesPerBatch lines.
class RawLog {
public:
    explicit RawLog(std::string path) : path(std::move(path)) {
        buffer.reserve(kLinesPerBatch * 300);
    }
    void AddLine(const char* body) {
        std::tm local{};
        int milliseconds = Now(&local);
        char line[300];
        Append(line, std::snprintf(line, sizeof line, "[%04d/%02d/%02d %02d:%02d:%02d:%04d] %s",
                                   local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                   local.tm_hour, local.tm_min, local.tm_sec, milliseconds, body));
    }
    void AddDumpLine(std::uint32_t index, unsigned byte) {
        std::tm local{};
        int milliseconds = Now(&local);
        char line[300];
        Append(line,
               std::snprintf(line, sizeof line,
                             "[%04d/%02d/%02d %02d:%02d:%02d:%04d] %sSendBuffer[0x%02x]=0x%02x \n",
                             local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                             local.tm_min, local.tm_sec, milliseconds, kDumpPrefix, index, byte));
    }
    void Flush() {
        if (lines == 0) return;
        std::FILE* file = std::fopen(path.c_str(), "a");
        if (file != nullptr) {
            std::fwrite(buffer.data(), 1, buffer.size(), file);
            std::fclose(file);
        }
        buffer.clear();
        lines = 0;
    }

private:
    static int Now(std::tm* local) {
        timeval now{};
        gettimeofday(&now, nullptr);
        localtime_r(&now.tv_sec, local);
        return static_cast<int>(now.tv_usec / 1000);
    }
    void Append(const char* line, int length) {
        if (length > 0) buffer.append(line, static_cast<std::size_t>(length));
        if (++lines == kLinesPerBatch) Flush();
    }

    std::string path;
    std::string buffer;
    int lines = 0;
};

}  // namespace

void LoggedWrite(const Options& options) {
    char folder[] = "/tmp/sorlink-bench-logged.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::printf("cannot create a temporary folder\n");
        return;
    }
    std::string layerPath = std::string(folder) + "/layer.log";
    std::string rawPath = std::string(folder) + "/raw.log";
    std::vector<unsigned char> data(kTotalBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31);
    LoopbackSink sink;
    LoopbackSink rawSink;
    int id = 0;
    const int allLevels = LOG_DATA | LOG_TRACE | LOG_INFO | LOG_ERROR;
    int raw = ConnectToLoopback(rawSink.Port());
    if (raw < 0 ||
        CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, allLevels, layerPath.c_str(),
                                &id) != 0 ||
        InitEthTCP("127.0.0.1", sink.Port()) != 0 || Open() != 0) {
        std::printf("cannot open the layer's port or the raw socket\n");
        if (raw >= 0) ::close(raw);
        DeleteAllLayerItems();
        return;
    }

    std::vector<double> layerMs, rawMs;
    std::vector<std::string> layerBodies, rawBodies;
    bool ok = true;
    for (int k = 0; k < options.repetitions && ok; ++k) {
        std::remove(layerPath.c_str());
        layerMs.push_back(MillisecondsOf(
            [&] { ok = Write(data.data(), kTotalBytes) == 0 && sink.WaitFor(kTotalBytes) && ok; }));
        if (k == 0) layerBodies = LogBodies(layerPath);

        std::remove(rawPath.c_str());
        rawMs.push_back(MillisecondsOf([&] {
            ok = SendInPieces(raw, data.data(), data.size(), kPieceBytes) &&
                 rawSink.WaitFor(kTotalBytes) && ok;
            RawLog log(rawPath);
            std::uint32_t index = 0;
            for (const std::string& body : layerBodies) {
                if (body.compare(0, kDumpBody.size(), kDumpBody) == 0 && index < data.size()) {
                    log.AddDumpLine(index, data[index]);
                    ++index;
                } else {
                    log.AddLine((body + "\n").c_str());
                }
            }
            log.Flush();
        }));
        if (k == 0) rawBodies = LogBodies(rawPath);
    }
    ::close(raw);
    DeleteAllLayerItems();
    std::remove(layerPath.c_str());
    std::remove(rawPath.c_str());
    rmdir(folder);
    if (!ok) {
        std::printf("a transfer failed\n");
        return;
    }
    double layer = Median(layerMs);
    double plain = Median(rawMs);
    std::printf("%d KiB in pieces of %d bytes, mask 15, %d repetitions, medians\n",
                kTotalBytes / 1024, kPieceBytes, options.repetitions);
    std::printf("  Write with mask 15:   %8.1f ms  (%zu log lines)\n", layer, layerBodies.size());
    std::printf("  raw send + log lines: %8.1f ms  (appended %d lines at a time)\n", plain,
                kLinesPerBatch);
    std::printf("  ratio Write / raw (time): %.3f\n", layer / plain);
    std::printf(
        "  log lines as formatted one by one, stamps aside: %s\n",
        layerBodies == rawBodies && layerBodies.size() > kTotalBytes ? "identical" : "DIFFERENT");
}

}  // namespace bench
