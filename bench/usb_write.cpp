// 4 MiB through the layer's Write to a usblp printer on Linux against a raw
// write loop with the same piece size on the same node. The printer is a
// sysfs fixture whose /dev/usb/lp0 is a pseudo-terminal drained by a
// thread, so the figure is the cost of the overlapped requests over poll.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/Bench.h"
#include "sorlink.h"

namespace bench {

namespace {

constexpr int kTotalBytes = 4 * 1024 * 1024;

// Reads the master side until told to stop, counting the bytes.
class PtyDrain {
public:
    explicit PtyDrain(int masterFd) : master(masterFd), worker([this] { Run(); }) {}
    ~PtyDrain() {
        stop = true;
        worker.join();
    }
    bool WaitFor(long long bytes) {
        for (int i = 0; i < 20000 && received.load() < bytes; ++i) usleep(500);
        bool ok = received.load() >= bytes;
        received = 0;
        return ok;
    }

private:
    void Run() {
        char buffer[65536];
        while (!stop) {
            struct pollfd poller {
                master, POLLIN, 0
            };
            if (poll(&poller, 1, 50) <= 0) continue;
            ssize_t n = read(master, buffer, sizeof(buffer));
            if (n > 0) received += n;
        }
    }
    int master;
    std::atomic<bool> stop{false};
    std::atomic<long long> received{0};
    std::thread worker;
};

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

bool WriteAllRaw(int fd, const std::vector<unsigned char>& data, std::size_t piece) {
    for (std::size_t offset = 0; offset < data.size(); offset += piece) {
        std::size_t length = std::min(piece, data.size() - offset);
        std::size_t done = 0;
        while (done < length) {
            ssize_t n = write(fd, data.data() + offset + done, length - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

}  // namespace

void UsbWrite(const Options& options) {
    char root[] = "/tmp/sorlink-bench-usb-XXXXXX";
    if (mkdtemp(root) == nullptr) return;
    std::string base = root;
    std::string device = base + "/sys/devices/usb1/1-1";
    int master = -1, slave = -1;
    char slaveName[128] = {};
    if (!Shell("mkdir -p '" + device + "/1-1:1.0' '" + base + "/sys/class/usbmisc/lp0' '" + base +
               "/dev/usb'") ||
        !Shell("printf '0f3c\\n' > '" + device + "/idVendor' && printf '0101\\n' > '" + device +
               "/idProduct' && printf 'BENCH\\n' > '" + device + "/serial'") ||
        symlink((device + "/1-1:1.0").c_str(), (base + "/sys/class/usbmisc/lp0/device").c_str()) !=
            0 ||
        openpty(&master, &slave, slaveName, nullptr, nullptr) != 0 ||
        symlink(slaveName, (base + "/dev/usb/lp0").c_str()) != 0) {
        std::printf("cannot build the fixture printer\n");
        Shell("rm -rf '" + base + "'");
        return;
    }
    struct termios raw {};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    setenv("SORLINK_SYSFS_ROOT", (base + "/sys").c_str(), 1);
    setenv("SORLINK_DEV_ROOT", (base + "/dev").c_str(), 1);
    setenv("SORLINK_REGISTRY", (base + "/none.reg").c_str(), 1);

    std::vector<unsigned char> data(kTotalBytes);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 13);
    {
        PtyDrain drain(master);
        int id = 0;
        bool ok = CreateCommunicationPort(2, LOG_MODE_NONE, 0, nullptr, &id) == 0 &&
                  InitUsbVidPidSerial("0f3c", "0101", "BENCH") == 0 && Open() == 0;
        std::printf("%d repetitions, medians\n", options.repetitions);
        for (int packet : {64, 4096}) {
            if (!ok) break;
            SetPacketSize(packet, 1024);
            std::vector<double> layerMs;
            std::vector<double> rawMs;
            for (int k = 0; k < options.repetitions && ok; ++k) {
                layerMs.push_back(MillisecondsOf([&] {
                    ok = Write(data.data(), kTotalBytes) == 0 && drain.WaitFor(kTotalBytes);
                }));
                rawMs.push_back(MillisecondsOf([&] {
                    ok = ok && WriteAllRaw(slave, data, static_cast<std::size_t>(packet)) &&
                         drain.WaitFor(kTotalBytes);
                }));
            }
            if (!ok) break;
            double layer = Median(layerMs);
            double plain = Median(rawMs);
            double mib = kTotalBytes / (1024.0 * 1024.0);
            std::printf(
                "  packets of %4d bytes: Write %7.1f ms %6.1f MiB/s, raw write %7.1f ms "
                "%6.1f MiB/s, ratio %.2f\n",
                packet, layer, mib / (layer / 1000.0), plain, mib / (plain / 1000.0),
                layer / plain);
        }
        if (!ok) std::printf("a transfer failed\n");
        DeleteAllLayerItems();
    }
    close(slave);
    close(master);
    unsetenv("SORLINK_SYSFS_ROOT");
    unsetenv("SORLINK_DEV_ROOT");
    unsetenv("SORLINK_REGISTRY");
    Shell("rm -rf '" + base + "'");
}

}  // namespace bench
