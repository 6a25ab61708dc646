// Thousands of open/close cycles on each transport of the real library: the
// process holds the same descriptors and the same resident memory at the end
// as after the first hundred cycles.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "sorlink.h"
#include "tests/integration/loopback_peers.h"
#include "tests/soak/soak_support.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int kCycles = 10000;
constexpr int kSettleCycles = 100;
// Each transport's cycles must end within this (a few seconds are usual,
// up to twenty under the sanitizers on a busy machine), or the test fails
// rather than running on.
constexpr auto kTimeLimit = std::chrono::seconds(60);

class OpenCloseCycles : public ::testing::Test {
protected:
    void SetUp() override { DeleteAllLayerItems(); }
    void TearDown() override { DeleteAllLayerItems(); }

    // Creates a port of the link type whose log records failures only, runs
    // `init`, then cycles Open and Close, comparing the figures after the
    // first hundred cycles with those at the end.
    // `quiet(cycles)` waits until the peer holds no descriptor of its own.
    void Cycle(
        const char* what, int linkType, const std::function<int()>& init,
        const std::function<void(int)>& quiet = [](int) {}) {
        int id = 0;
        ASSERT_EQ(0, CreateCommunicationPort(linkType, LOG_MODE_FILE, LOG_ERROR,
                                             dir.File("cycles.log").c_str(), &id));
        ASSERT_EQ(0, init());
        auto start = std::chrono::steady_clock::now();
        soak::Figures settled{};
        int cycle = 0;
        for (; cycle < kCycles; ++cycle) {
            ASSERT_EQ(0, Open()) << "cycle " << cycle;
            ASSERT_EQ(0, Close()) << "cycle " << cycle;
            if (cycle + 1 == kSettleCycles) {
                quiet(kSettleCycles);
                settled = soak::Measure();
            }
            if (std::chrono::steady_clock::now() - start > kTimeLimit) break;
        }
        quiet(cycle);
        soak::Figures end = soak::Measure();
        soak::Report(what, settled, end);
        EXPECT_EQ(kCycles, cycle) << "ran out of time";
        EXPECT_EQ(settled.descriptors, end.descriptors);
        if (soak::ResidentMemoryIsComparable()) {
            EXPECT_LE(end.residentKiB - settled.residentKiB, soak::kResidentToleranceKiB);
        }
        // Nothing failed along the way: the log holds only the class line
        // Close writes at the error level on serial and USB ports.
        for (const std::string& line : testing_support::LogBodies(dir.File("cycles.log"))) {
            if (line.find("Close -  Calling function in") == 0) continue;
            ADD_FAILURE() << line;
            break;
        }
    }

    testing_support::TempDir dir;
};

TEST_F(OpenCloseCycles, LoopbackTcpPrinterKeepsDescriptorsAndMemory) {
    soak::Acceptor printer;
    Cycle(
        "tcp", SORLINK_LINK_ETHERNET, [&] { return InitEthTCP("127.0.0.1", printer.Port()); },
        [&](int connections) { ASSERT_TRUE(printer.WaitForClosed(connections)); });
}

TEST_F(OpenCloseCycles, LoopbackUdpDeviceKeepsDescriptorsAndMemory) {
    loopback::UdpPeer device;
    std::uint16_t local = loopback::FreeUdpPort();
    Cycle("udp", SORLINK_LINK_ETHERNET,
          [&] { return InitEthUDP("127.0.0.1", device.Port(), local); });
}

// A usblp printer described by a sysfs tree, its device node a pseudo-terminal.
TEST_F(OpenCloseCycles, UsblpPrinterKeepsDescriptorsAndMemory) {
    std::string device = dir.File("sys/devices/pci0000:00/usb1/1-1");
    ASSERT_EQ(0, std::system(("mkdir -p '" + device + "/1-1:1.0' '" +
                              dir.File("sys/class/usbmisc/lp0") + "' '" + dir.File("dev/usb") + "'")
                                 .c_str()));
    testing_support::WriteFile(device + "/idVendor", "0f3c\n");
    testing_support::WriteFile(device + "/idProduct", "0101\n");
    testing_support::WriteFile(device + "/serial", "A1B2C3\n");
    testing_support::WriteFile(device + "/busnum", "1\n");
    testing_support::WriteFile(device + "/devnum", "5\n");
    testing_support::WriteFile(device + "/1-1:1.0/bInterfaceNumber", "00\n");
    ASSERT_EQ(0, symlink((device + "/1-1:1.0").c_str(),
                         dir.File("sys/class/usbmisc/lp0/device").c_str()));
    int master = -1;
    int slave = -1;
    char slaveName[128] = {};
    ASSERT_EQ(0, openpty(&master, &slave, slaveName, nullptr, nullptr));
    close(slave);
    ASSERT_EQ(0, symlink(slaveName, dir.File("dev/usb/lp0").c_str()));
    setenv("SORLINK_SYSFS_ROOT", dir.File("sys").c_str(), 1);
    setenv("SORLINK_DEV_ROOT", dir.File("dev").c_str(), 1);
    setenv("SORLINK_REGISTRY", dir.File("none.reg").c_str(), 1);

    Cycle("usb", SORLINK_LINK_USB, [] { return InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"); });

    unsetenv("SORLINK_SYSFS_ROOT");
    unsetenv("SORLINK_DEV_ROOT");
    unsetenv("SORLINK_REGISTRY");
    close(master);
}

// A pseudo-terminal named COM9 in the registry file.
TEST_F(OpenCloseCycles, PseudoTerminalKeepsDescriptorsAndMemory) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(0, grantpt(master));
    ASSERT_EQ(0, unlockpt(master));
    ASSERT_EQ(0, mkdir(dir.File("sys").c_str(), 0755));
    testing_support::WriteFile(dir.File("registry.reg"),
                               std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\"
                                           "SERIALCOMM]\n\"") +
                                   ptsname(master) + "\"=\"COM9\"\n");
    setenv("SORLINK_SYSFS_ROOT", dir.File("sys").c_str(), 1);
    setenv("SORLINK_REGISTRY", dir.File("registry.reg").c_str(), 1);

    Cycle("serial", SORLINK_LINK_SERIAL, [] { return InitSerialPort("COM9", 9600, 0, 8, 0, 0); });

    unsetenv("SORLINK_SYSFS_ROOT");
    unsetenv("SORLINK_REGISTRY");
    close(master);
}

}  // namespace
