// USB printers on Linux through the real library: a sysfs fixture tree
// names one usblp printer whose device node is a pseudo-terminal, so the
// test plays the printer on the master side.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "sorlink.h"
#include "tests/support/TestSupport.h"

namespace {

using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++count;
        closedir(dir);
    }
    return count;
}

class UsbLinux : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteAllLayerItems();
        descriptorsBefore = OpenDescriptorCount();
        int id = 0;
        ASSERT_EQ(0, CreateCommunicationPort(2, LOG_MODE_FILE, LOG_TRACE | LOG_INFO | LOG_ERROR,
                                             log.c_str(), &id));
    }
    void TearDown() override {
        DeleteAllLayerItems();
        if (master >= 0) close(master);
        EXPECT_EQ(descriptorsBefore, OpenDescriptorCount());
    }

    // sys/class/usbmisc/lp0/device -> the printer interface of a USB device
    // 0f3c:0101 with serial "A1B2 C3"; dev/usb/lp0 -> a pseudo-terminal.
    void BuildPrinter() { BuildNode("lp0", "1-1", "A1B2 C3", &master); }

    // One usblp printer: node lpN, USB port path (1-1), serial number
    // (nullptr: none); *printer receives the printer's side.
    void BuildNode(const std::string& lp, const std::string& port, const char* serial,
                   int* printer) {
        std::string device = dir.File("sys/devices/pci0000:00/usb1/" + port);
        ASSERT_EQ(0,
                  system(("mkdir -p '" + device + "/" + port + ":1.0' '" +
                          dir.File("sys/class/usbmisc/" + lp) + "' '" + dir.File("dev/usb") + "'")
                             .c_str()));
        WriteFile(device + "/idVendor", "0f3c\n");
        WriteFile(device + "/idProduct", "0101\n");
        if (serial != nullptr) WriteFile(device + "/serial", std::string(serial) + "\n");
        WriteFile(device + "/busnum", "1\n");
        WriteFile(device + "/devnum", "5\n");
        WriteFile(device + "/" + port + ":1.0/bInterfaceNumber", "00\n");
        ASSERT_EQ(0, symlink((device + "/" + port + ":1.0").c_str(),
                             dir.File("sys/class/usbmisc/" + lp + "/device").c_str()));
        int slave = -1;
        char slaveName[128] = {};
        ASSERT_EQ(0, openpty(printer, &slave, slaveName, nullptr, nullptr));
        struct termios raw {};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        close(slave);
        ASSERT_EQ(0, symlink(slaveName, dir.File("dev/usb/" + lp).c_str()));
    }
    void OpenBySerial() {
        ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2 C3"));
        ASSERT_EQ(0, Open());
    }
    std::string FromPrinter(std::size_t expected) { return FromNode(master, expected); }
    static std::string FromNode(int printer, std::size_t expected) {
        std::string got;
        for (int i = 0; i < 50 && got.size() < expected; ++i) {
            struct pollfd poller {
                printer, POLLIN, 0
            };
            if (poll(&poller, 1, 100) <= 0) continue;
            char buffer[256];
            ssize_t n = read(printer, buffer, sizeof(buffer));
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    std::string List(int (*enumerate)(char*, unsigned), int* code) {
        char buffer[1024] = {};
        *code = enumerate(buffer, sizeof(buffer));
        return buffer;
    }

    TempDir dir;
    std::string log = dir.File("usb.log");
    ScopedEnv sysfs{"SORLINK_SYSFS_ROOT", dir.File("sys")};
    ScopedEnv dev{"SORLINK_DEV_ROOT", dir.File("dev")};
    ScopedEnv registry{"SORLINK_REGISTRY", dir.File("registry.reg")};
    int master = -1;
    int descriptorsBefore = 0;
};

TEST(UsbLinuxMachine, WithoutAUsbPrinterTheListsAreEmptyAndOpenFindsNothing) {
    TempDir dir;
    ScopedEnv registry("SORLINK_REGISTRY", dir.File("none.reg"));
    int id = 0;
    ASSERT_EQ(0, CreateCommunicationPort(2, LOG_MODE_NONE, 0, nullptr, &id));
    struct stat info {};
    if (stat("/sys/class/usbmisc", &info) == 0) GTEST_SKIP() << "a usblp printer may be attached";
    char buffer[256] = "junk";
    EXPECT_EQ(0, UsbEnumDevices(buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    EXPECT_EQ(0, UsbEnumPrinters(buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    EXPECT_EQ(316, Open());
    EXPECT_EQ(0, DeleteAllLayerItems());
}

TEST_F(UsbLinux, PrinterOnAUsblpNodeIsListedOpenedWrittenAndRead) {
    BuildPrinter();
    int code = -1;
    EXPECT_EQ("0f3c|0101|A1B2_C3", List(&UsbEnumDevices, &code));
    EXPECT_EQ(0, code);
    OpenBySerial();
    ASSERT_EQ(0, SetUsbTimeout(2000, 200));
    const unsigned char text[] =
        "hello printer, this is more than one packet of sixty-four bytes!!";
    EXPECT_EQ(0, Write(text, sizeof(text) - 1));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text)), FromPrinter(sizeof(text) - 1));

    ASSERT_EQ(2, write(master, "\x10\x04", 2));
    char buffer[16] = {};
    unsigned got = 0;
    EXPECT_EQ(0, Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(std::string("\x10\x04", 2), std::string(buffer, got));
    EXPECT_EQ(323, Read(buffer, sizeof(buffer), &got));  // nothing more comes
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(997, error);  // the request's own: still pending
    EXPECT_EQ(0, IsDeviceAvailable());

    ASSERT_EQ(3, write(master, "old", 3));
    usleep(20000);
    EXPECT_EQ(0, Clean(1, 1));
    EXPECT_EQ(323, Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(0, Close());
    EXPECT_EQ(0, Open());  // the naming survives a close
    EXPECT_EQ(0, Close());
}

TEST_F(UsbLinux, UnpluggedPrinterIsReportedAndClosed) {
    BuildPrinter();
    OpenBySerial();
    ASSERT_EQ(0, unlink(dir.File("sys/class/usbmisc/lp0/device").c_str()));
    EXPECT_EQ(330, IsDeviceAvailable());
    close(master);  // the device node now fails every transfer
    master = -1;
    char buffer[8];
    unsigned got = 0;
    EXPECT_EQ(330, Read(buffer, sizeof(buffer), &got));
    EXPECT_TRUE(testing_support::LogHas(
        log, "CSvComUsb::ReadUsb -  Device is no longer available: handle will be closed"));
    EXPECT_EQ(309, Close());
    EXPECT_EQ(316, Open());
}

TEST_F(UsbLinux, WriteToAPrinterWhoseNodeHungUpGives330) {
    BuildPrinter();
    OpenBySerial();
    close(master);
    master = -1;
    const unsigned char byte[] = {0x0a};
    EXPECT_EQ(330, Write(byte, 1));
    EXPECT_EQ(309, Write(byte, 1));
}

TEST_F(UsbLinux, InstalledPrinterIsFoundByNameThroughItsRegistryRecords) {
    BuildPrinter();
    WriteFile(
        dir.File("registry.reg"),
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0F3C&PID_0101\\A1B2_C3]\r\n"
        "\"ParentIdPrefix\"=\"7&2f1e0d&0\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Counter]\r\n\r\n"
        "[HKEY_LOCAL_"
        "MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Counter\\PnPData]\r\n"
        "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\7&2F1E0D&0&USB001\"\r\n\r\n");
    int code = -1;
    EXPECT_EQ("Counter", List(&UsbEnumPrinters, &code));
    EXPECT_EQ(0, code);
    ASSERT_EQ(0, InitUsbPrinter("Counter"));
    ASSERT_EQ(0, Open());
    const unsigned char byte[] = {0x1b};
    EXPECT_EQ(0, Write(byte, 1));
    EXPECT_EQ("\x1b", FromPrinter(1));
    EXPECT_EQ(0, Close());
}

TEST_F(UsbLinux, ControlRequestWithoutAUsbfsNodeGives327) {
    BuildPrinter();
    ASSERT_EQ(0, InitUsbInterface(0));
    OpenBySerial();
    const unsigned char request[] = {0x01, 0x00, 0x00};
    EXPECT_EQ(327, Write(request, 3));
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(2, error);  // no /dev/bus/usb node in the fixture
    EXPECT_EQ(0, Close());
}

TEST_F(UsbLinux, AbsentDeviceNodeFailsTheOpen) {
    BuildPrinter();
    ASSERT_EQ(0, unlink(dir.File("dev/usb/lp0").c_str()));
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2 C3"));
    EXPECT_EQ(316, Open());  // the walk's test open fails, so it is not present
}

// Every printer is reachable under the name it is listed by: two with one
// serial number (each named by it and its port path, so that neither takes
// the other's name as printers come and go), one without a serial number
// (named by its port path, which a replug into the same port keeps), and
// one whose serial number has blanks, path separators, a tab and non-ASCII
// bytes (opened by the listed name and by the text the device reports).
TEST_F(UsbLinux, EveryPrinterIsReachableByTheNameItIsListedBy) {
    struct Row {
        const char* lp;
        const char* port;
        const char* serial;
        const char* listed;
        const char* openAs;
    };
    const Row rows[] = {
        {"lp0", "1-2", "0123456789", "0123456789&1-2", "0123456789&1-2"},
        {"lp1", "1-1", "0123456789", "0123456789&1-1", "0123456789&1-1"},
        {"lp2", "1-3", nullptr, "1-3", "1-3"},
        {"lp3", "1-4", "SN#1/23 \t\xc3\xa9", "SN_1_23____", "SN#1/23 \t\xc3\xa9"},
        {"lp3", "1-4", "", "", "SN_1_23____"},  // the same printer by its listed name
    };
    int printers[4] = {-1, -1, -1, -1};
    std::string expected;
    for (int i = 0; i < 4; ++i) {
        BuildNode(rows[i].lp, rows[i].port, rows[i].serial, &printers[i]);
        expected += std::string(i == 0 ? "" : "|") + "0f3c|0101|" + rows[i].listed;
    }
    int code = -1;
    EXPECT_EQ(expected, List(&UsbEnumDevices, &code));
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(rows[i].openAs);
        ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", rows[i].openAs));
        ASSERT_EQ(0, Open());
        std::string job = std::string("job for ") + rows[i].port;
        EXPECT_EQ(0, Write(reinterpret_cast<const unsigned char*>(job.data()),
                           static_cast<int>(job.size())));
        EXPECT_EQ(job, FromNode(printers[i < 4 ? i : 3], job.size()));
        EXPECT_EQ(0, Close());
    }
    // The shared serial number alone names neither printer.
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "0123456789"));
    EXPECT_EQ(316, Open());
    for (int printer : printers) close(printer);
}

}  // namespace
