// Log lines per second at LOG_INFO to a file (GetIDPort writes exactly one
// line) against a raw loop that formats the same line with the local time
// and opens, appends and closes the file for each one, as the log does.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kLines = 20000;

void RawLine(const char* path, int id) {
    timeval now{};
    gettimeofday(&now, nullptr);
    std::tm local{};
    localtime_r(&now.tv_sec, &local);
    char line[300];
    std::snprintf(line, sizeof line,
                  "[%04d/%02d/%02d %02d:%02d:%02d:%04d] GetIDPort -  Current ID port configured: "
                  "%d \n",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, static_cast<int>(now.tv_usec / 1000), id);
    std::FILE* file = std::fopen(path, "a");
    if (file == nullptr) return;
    std::fputs(line, file);
    std::fclose(file);
}

}  // namespace

void LogLines(const Options& options) {
    char folder[] = "/tmp/sorlink-bench-log.XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::printf("cannot create a temporary folder\n");
        return;
    }
    std::string layerPath = std::string(folder) + "/layer.log";
    std::string rawPath = std::string(folder) + "/raw.log";
    int id = 0;
    if (CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, LOG_INFO, layerPath.c_str(),
                                &id) != 0) {
        std::printf("cannot create a port\n");
        return;
    }
    std::vector<double> layerMs, rawMs;
    int value = 0;
    for (int k = 0; k < options.repetitions; ++k) {
        layerMs.push_back(MillisecondsOf([&] {
            for (int i = 0; i < kLines; ++i) GetIDPort(&value);
        }));
        rawMs.push_back(MillisecondsOf([&] {
            for (int i = 0; i < kLines; ++i) RawLine(rawPath.c_str(), id);
        }));
    }
    DeleteAllLayerItems();
    std::remove(layerPath.c_str());
    std::remove(rawPath.c_str());
    rmdir(folder);
    double layer = kLines / (Median(layerMs) / 1000.0);
    double raw = kLines / (Median(rawMs) / 1000.0);
    std::printf("%d lines, %d repetitions, medians\n", kLines, options.repetitions);
    std::printf("  log (GetIDPort):        %9.0f lines/s\n", layer);
    std::printf("  raw open-append-close:  %9.0f lines/s\n", raw);
    std::printf("  ratio log / raw (lines per second): %.3f\n", layer / raw);
}

}  // namespace bench
