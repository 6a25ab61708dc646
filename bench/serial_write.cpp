// 8 MiB through the layer's Write on a serial port (default 1024-byte
// packets, logging off) against a raw write loop with the same piece size,
// each to its own pseudo-terminal whose master a reader drains. Each sample
// lasts until the reader has every byte.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/Bench.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kTotalBytes = 8 * 1024 * 1024;
constexpr int kPieceBytes = 1024;

// The master side of a pseudo-terminal and a thread counting what arrives.
class PtyReader {
public:
    PtyReader() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = ptsname(master);
        reader = std::thread([this] { Drain(); });
    }
    ~PtyReader() {
        stop = true;
        if (reader.joinable()) reader.join();
        if (master >= 0) ::close(master);
    }
    const std::string& SlavePath() const { return slave; }
    // Waits (10 s at most) until `count` more bytes than before have come.
    bool WaitFor(long long count) {
        long long target = expected += count;
        for (int i = 0; i < 10000 && received.load() < target; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return received.load() >= target;
    }

private:
    void Drain() {
        std::vector<char> buffer(65536);
        while (!stop) {
            struct pollfd entry {
                master, POLLIN, 0
            };
            if (::poll(&entry, 1, 20) <= 0) continue;
            ssize_t n = ::read(master, buffer.data(), buffer.size());
            if (n > 0) received += n;
        }
    }

    int master = -1;
    std::string slave;
    std::thread reader;
    std::atomic<bool> stop{false};
    std::atomic<long long> received{0};
    long long expected = 0;
};

bool WriteAllRaw(int fd, const std::vector<unsigned char>& data) {
    for (std::size_t offset = 0; offset < data.size(); offset += kPieceBytes) {
        std::size_t piece = std::min<std::size_t>(kPieceBytes, data.size() - offset);
        std::size_t taken = 0;
        while (taken < piece) {
            ssize_t n = ::write(fd, data.data() + offset + taken, piece - taken);
            if (n <= 0) return false;
            taken += static_cast<std::size_t>(n);
        }
    }
    return true;
}

int OpenRaw(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios settings {};
    if (fd >= 0 && ::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}

}  // namespace

void SerialWrite(const Options& options) {
    std::vector<unsigned char> data(kTotalBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 31);
    PtyReader printer;
    PtyReader rawPrinter;

    // The registry file maps the first slave to COM9; no system ports.
    char folder[] = "/tmp/sorlink-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) return;
    std::string registry = std::string(folder) + "/registry.reg";
    std::string sysfs = std::string(folder) + "/sys";
    ::mkdir(sysfs.c_str(), 0755);
    if (FILE* file = std::fopen(registry.c_str(), "w")) {
        std::fprintf(file,
                     "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                     "\"%s\"=\"COM9\"\n",
                     printer.SlavePath().c_str());
        std::fclose(file);
    }
    setenv("SORLINK_REGISTRY", registry.c_str(), 1);
    setenv("SORLINK_SYSFS_ROOT", sysfs.c_str(), 1);

    int id = 0;
    int raw = OpenRaw(rawPrinter.SlavePath());
    bool ok = CreateCommunicationPort(0, LOG_MODE_NONE, 0, nullptr, &id) == 0 &&
              InitSerialPort("COM9", 115200, 0, 8, 0, 2) == 0 && Open() == 0 && raw >= 0;
    std::vector<double> layerMs;
    std::vector<double> rawMs;
    // Alternate the two so that both see the same machine load.
    for (int k = 0; k < options.repetitions && ok; ++k) {
        layerMs.push_back(MillisecondsOf([&] {
            ok = Write(data.data(), kTotalBytes) == 0 && printer.WaitFor(kTotalBytes) && ok;
        }));
        rawMs.push_back(MillisecondsOf(
            [&] { ok = WriteAllRaw(raw, data) && rawPrinter.WaitFor(kTotalBytes) && ok; }));
    }
    if (raw >= 0) ::close(raw);
    DeleteAllLayerItems();
    ::unlink(registry.c_str());
    ::rmdir(sysfs.c_str());
    ::rmdir(folder);
    if (!ok) {
        std::printf("a transfer failed\n");
        return;
    }
    double layer = Median(layerMs);
    double plain = Median(rawMs);
    double mib = kTotalBytes / (1024.0 * 1024.0);
    std::printf("pieces of %d bytes, %d repetitions, medians\n", kPieceBytes, options.repetitions);
    std::printf("  Write:      %8.1f ms  %7.1f MiB/s\n", layer, mib / (layer / 1000.0));
    std::printf("  raw write:  %8.1f ms  %7.1f MiB/s\n", plain, mib / (plain / 1000.0));
    std::printf("  ratio Write / raw write: %.3f\n", layer / plain);
}

}  // namespace bench
