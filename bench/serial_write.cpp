// 4 MiB through the layer's Write on a serial port (a pseudo-terminal,
// default 1024-byte packets, logging off) against a raw write loop with the
// same packet size on another pseudo-terminal, in the same run.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/Bench.h"
#include "bench/PtySink.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kTotalBytes = 4 * 1024 * 1024;
constexpr int kPacketBytes = 1024;

bool WriteAllRaw(int fd, const std::vector<unsigned char>& data) {
    for (std::size_t offset = 0; offset < data.size(); offset += kPacketBytes) {
        std::size_t packet = std::min<std::size_t>(kPacketBytes, data.size() - offset);
        std::size_t done = 0;
        while (done < packet) {
            ssize_t n = write(fd, data.data() + offset + done, packet - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

// The layer finds serial ports in the registry: a file naming the terminal.
bool PublishPort(const std::string& devicePath, const std::string& registryPath) {
    std::FILE* file = std::fopen(registryPath.c_str(), "w");
    if (file == nullptr) return false;
    std::fprintf(file,
                 "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Hardware\\Devicemap\\Serialcomm]\n"
                 "\"%s\"=\"COM9\"\n",
                 devicePath.c_str());
    std::fclose(file);
    return setenv("SORLINK_REGISTRY", registryPath.c_str(), 1) == 0;
}

}  // namespace

void SerialWrite(const Options& options) {
    std::vector<unsigned char> data(kTotalBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31);
    PtySink sink;
    PtySink rawSink;

    char registry[] = "/tmp/sorlink-bench-registry.XXXXXX";
    int registryFd = mkstemp(registry);
    if (registryFd >= 0) close(registryFd);
    int id = 0;
    if (registryFd < 0 || !PublishPort(sink.Path(), registry) ||
        CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_NONE, 0, nullptr, &id) != 0 ||
        InitSerialPort("COM9", 115200, 0, 8, 0, 2) != 0 || Open() != 0) {
        std::printf("cannot open the layer's serial port\n");
        DeleteAllLayerItems();
        std::remove(registry);
        return;
    }
    int raw = open(rawSink.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (raw >= 0 && tcgetattr(raw, &settings) == 0) {
        cfmakeraw(&settings);
        cfsetspeed(&settings, B115200);
        tcsetattr(raw, TCSANOW, &settings);
    }

    std::vector<double> layerMs, rawMs;
    bool ok = raw >= 0;
    for (int k = 0; k < options.repetitions && ok; ++k) {
        layerMs.push_back(MillisecondsOf(
            [&] { ok = Write(data.data(), kTotalBytes) == 0 && sink.WaitFor(kTotalBytes) && ok; }));
        rawMs.push_back(MillisecondsOf(
            [&] { ok = WriteAllRaw(raw, data) && rawSink.WaitFor(kTotalBytes) && ok; }));
    }
    if (raw >= 0) close(raw);
    Close();
    DeleteAllLayerItems();
    std::remove(registry);
    if (!ok) {
        std::printf("a transfer failed\n");
        return;
    }
    double layer = Median(layerMs), plain = Median(rawMs);
    double mib = kTotalBytes / (1024.0 * 1024.0);
    std::printf("packets of %d bytes, %d repetitions, medians\n", kPacketBytes,
                options.repetitions);
    std::printf("  Write:      %8.1f ms  %7.1f MiB/s\n", layer, mib / (layer / 1000.0));
    std::printf("  raw write:  %8.1f ms  %7.1f MiB/s\n", plain, mib / (plain / 1000.0));
    std::printf("  ratio Write / raw write (throughput): %.3f\n", plain / layer);
}

}  // namespace bench
