// The serial transport of the real library against pseudo-terminals.
#include <dirent.h>
#include <signal.h>
#include <sys/fsuid.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <cstring>
#include <thread>
#include <utility>

#include "tests/integration/serial_pty_fixture.h"

namespace {

using serial_pty::PtyPrinter;
using SerialPty = PtyPrinter;

const char* const kRead = "CSvComSerial::ReadSerial - ";

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 13 + 1);
    return bytes;
}

int OpenDescriptors() {
    int count = 0;
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr) return -1;
    while (readdir(fds) != nullptr) ++count;
    closedir(fds);
    return count;
}

long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - since)
                                 .count());
}

TEST_F(SerialPty, BytesReachThePrinterInOrder) {
    OpenCom9();
    std::string data("ESC@\x1b\x40\r\n\0\xff\x7f receipt", 20);
    ASSERT_EQ(0, Write(Bytes(data), static_cast<int>(data.size())));
    ASSERT_EQ(0, Write(Bytes("second"), 6));
    EXPECT_EQ(data + "second", Received(data.size() + 6));
    EXPECT_TRUE(Logged("CSvComSerial::OpenSerial - ", "Serial link: " + slavePath));
    EXPECT_TRUE(Logged("CSvComSerial::OpenSerial - ", "System version: 0x00000000 ()"));
}

TEST_F(SerialPty, TheSlaveCarriesTheLineSettingsAfterOpen) {
    OpenCom9(19200, 2, 7, 2, 0);
    struct termios t {};
    ASSERT_EQ(0, tcgetattr(master, &t));  // a master reports its slave's settings
    // A pseudo-terminal always frames 8 bits without parity (its driver
    // resets both), so only the parity sense and the rest can be seen here.
    EXPECT_EQ(static_cast<speed_t>(B19200), cfgetospeed(&t));
    EXPECT_EQ(0u, t.c_cflag & PARODD);
    EXPECT_NE(0u, t.c_cflag & CSTOPB);
    EXPECT_NE(0u, t.c_cflag & CRTSCTS);
    EXPECT_EQ(0u, t.c_iflag & (IXON | IXOFF));
    EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(0u, t.c_oflag & OPOST);
    int baud = 0, parity = 0, size = 0, stops = 0, flow = 0;
    ASSERT_EQ(0, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    EXPECT_EQ(19200, baud);
    EXPECT_EQ(2, stops);
    EXPECT_EQ(0, flow);
    ASSERT_EQ(0, Close());

    OpenCom9(115200, 1, 8, 0, 1);
    ASSERT_EQ(0, tcgetattr(master, &t));
    EXPECT_EQ(static_cast<speed_t>(B115200), cfgetospeed(&t));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), t.c_cflag & CSIZE);
    EXPECT_NE(0u, t.c_cflag & PARODD);
    EXPECT_EQ(0u, t.c_cflag & CSTOPB);
    EXPECT_NE(0u, t.c_iflag & IXON);
    EXPECT_NE(0u, t.c_iflag & IXOFF);
    EXPECT_EQ(0u, t.c_cflag & CRTSCTS);  // Xon/Xoff never waits for CTS
    EXPECT_EQ(0x11, t.c_cc[VSTART]);
    EXPECT_EQ(0x13, t.c_cc[VSTOP]);
    ASSERT_EQ(0, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    EXPECT_EQ(1, flow);
    ASSERT_EQ(0, Close());

    OpenCom9(1200, 0, 8, 0, 2);
    ASSERT_EQ(0, tcgetattr(master, &t));
    EXPECT_EQ(static_cast<speed_t>(B1200), cfgetospeed(&t));
    EXPECT_EQ(0u, t.c_cflag & (PARENB | CRTSCTS));
}

TEST_F(SerialPty, RepliesComeBackThroughReadAndReadFifo) {
    OpenCom9();
    PrinterSends("ACK123");
    char buffer[4096] = {};
    unsigned got = 0;
    ASSERT_EQ(0, Read(buffer, sizeof buffer, &got));
    EXPECT_EQ("ACK123", std::string(buffer, got));
    EXPECT_TRUE(Logged(kRead,
                       "Receive buffer size: 4096, packet size setted:1024, packet used "
                       "for read:1024 "));
    EXPECT_TRUE(Logged(kRead, "ReceiveBuffer[0x05]=0x33 "));

    PrinterSends("ABCDEF");
    unsigned char fifo[8] = {};
    ASSERT_EQ(0, ReadFIFO(fifo, 4, &got));
    EXPECT_EQ("ABCD", std::string(reinterpret_cast<char*>(fifo), got));
    ASSERT_EQ(0, ReadFIFO(fifo, 2, &got));
    EXPECT_EQ("EF", std::string(reinterpret_cast<char*>(fifo), got));
}

TEST_F(SerialPty, AReadWithNothingReceivedTimesOutWith114) {
    ASSERT_EQ(0, SetSerialTimeout(0, 200, 0, 1000, 0));
    OpenCom9();
    char buffer[16];
    unsigned got = 99;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(114, Read(buffer, sizeof buffer, &got));
    long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 190);
    EXPECT_LT(elapsed, 1500);
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(Logged(kRead, "Read failed: no bytes read during reading operation "));
    EXPECT_TRUE(Logged(kRead, "END"));
}

TEST_F(SerialPty, ReadTimeoutsFollowTheCommTimeoutsRules) {
    OpenCom9();
    char buffer[16];
    unsigned got = 0;
    // Interval MAXDWORD with no totals: whatever is there, at once.
    ASSERT_EQ(0, SetSerialTimeout(-1, 0, 0, 1000, 0));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(114, Read(buffer, sizeof buffer, &got));
    EXPECT_LT(ElapsedMs(start), 100);

    // Interval and multiplier MAXDWORD: wait up to the constant for the
    // first byte, then return with what has come.
    ASSERT_EQ(0, SetSerialTimeout(-1, 2000, -1, 1000, 0));
    std::thread printer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PrinterSends("xy");
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Read(buffer, sizeof buffer, &got));
    printer.join();
    EXPECT_LT(ElapsedMs(start), 1000);
    EXPECT_EQ("xy", std::string(buffer, got));

    // A total of 10 ms per byte + 100 ms bounds a read that never fills.
    ASSERT_EQ(0, SetSerialTimeout(0, 100, 10, 1000, 0));
    PrinterSends("abc");
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, Read(buffer, sizeof buffer, &got));
    long elapsed = ElapsedMs(start);
    EXPECT_EQ("abc", std::string(buffer, got));
    EXPECT_GE(elapsed, 250);  // 16 x 10 + 100
    EXPECT_LT(elapsed, 1500);
}

TEST_F(SerialPty, LongWritesGoInPacketsWithRunningDumpOffsets) {
    OpenCom9();
    std::string data = Pattern(2500);
    ASSERT_EQ(0, Write(Bytes(data), 2500));
    EXPECT_EQ(data, Received(2500));
    int dumped = 0;
    int firstOffsets = 0;
    for (const std::string& line : testing_support::LogBodies(log)) {
        if (line.find("SendBuffer[") != std::string::npos) ++dumped;
        if (line.find("SendBuffer[0x00]=") != std::string::npos) ++firstOffsets;
    }
    EXPECT_EQ(2500, dumped);
    EXPECT_EQ(1, firstOffsets);
    EXPECT_TRUE(Logged("CSvComSerial::WriteSerial - ", "SendBuffer[0x400]=0x01 "));
    EXPECT_TRUE(Logged("CSvComSerial::WriteSerial - ", "SendBuffer[0x9c3]=0xe8 "));
}

TEST_F(SerialPty, AFileIsSentInPackets) {
    std::string path = dir.File("ticket.bin");
    std::string data = Pattern(3000);
    testing_support::WriteFile(path, data);
    OpenCom9();
    ASSERT_EQ(0, SetPacketSize(1000, 1000));
    ASSERT_EQ(0, WriteF(path.c_str()));
    EXPECT_EQ(data, Received(3000));
    EXPECT_TRUE(
        Logged("CSvComSerial::WriteFileSerial - ", "Bytes to send: 3000, packet byte used:1000"));
    EXPECT_TRUE(Logged("CSvComSerial::WriteFileSerial - ", "END"));

    // A FIFO without a writer is refused at once, not waited on; a missing
    // file records the system's own error.
    std::string fifo = dir.File("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    int error = 0;
    EXPECT_EQ(10, WriteF(fifo.c_str()));
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(5, error);
    // Missing file 2, missing folder 3, as Windows numbers them.
    for (const auto& [file, expected] : {std::pair<std::string, int>{"missing.bin", 2},
                                         {"missing/file.bin", 3},
                                         {"fifo/file.bin", 3}}) {
        EXPECT_EQ(10, WriteF(dir.File(file).c_str())) << file;
        ASSERT_EQ(0, GetLastErrorComm(&error));
        EXPECT_EQ(expected, error) << file;
    }

    // A file the caller may not read records access denied. Root reads any
    // file, so the check runs with an unprivileged file-system user, which
    // also drops the capabilities that bypass file modes (setfsuid(2)); it
    // holds for this thread only.
    std::string locked = dir.File("locked.bin");
    testing_support::WriteFile(locked, "x");
    ASSERT_EQ(0, chmod(locked.c_str(), 0));
    bool root = geteuid() == 0;
    if (root) setfsuid(65534);
    int lockedResult = WriteF(locked.c_str());
    if (root) setfsuid(0);
    EXPECT_EQ(10, lockedResult);
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(5, error);
}

TEST_F(SerialPty, CleanDiscardsWhatWasNotRead) {
    OpenCom9();
    PrinterSends("stale");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(0, Clean(1, 1));
    PrinterSends("fresh");
    char buffer[16] = {};
    unsigned got = 0;
    ASSERT_EQ(0, Read(buffer, sizeof buffer, &got));
    EXPECT_EQ("fresh", std::string(buffer, got));
}

TEST_F(SerialPty, ClosedPortsReopenWithoutANewInitialisation) {
    OpenCom9();
    ASSERT_EQ(0, Close());
    EXPECT_EQ(103, Close());
    EXPECT_EQ(103, Write(Bytes("x"), 1));
    ASSERT_EQ(0, Open());
    ASSERT_EQ(0, Write(Bytes("again"), 5));
    EXPECT_EQ("again", Received(5));
    ASSERT_EQ(0, Close());

    // A pseudo-terminal frames 8 bits without parity whatever is asked, as
    // a driver without some framing does: the second open, finding the
    // line already as the first left it, must succeed as the first did.
    for (int parity : {0, 1, 2}) {
        for (int size : {7, 8}) {
            SCOPED_TRACE("parity " + std::to_string(parity) + ", size " + std::to_string(size));
            OpenCom9(9600, parity, size, 0, 2);
            ASSERT_EQ(0, Close());
            ASSERT_EQ(0, Open());
            ASSERT_EQ(0, Write(Bytes("R"), 1));
            EXPECT_EQ("R", Received(1));
            ASSERT_EQ(0, Close());
        }
    }
}

TEST_F(SerialPty, OpenCloseCyclesAndFailedOpensLeakNoDescriptor) {
    std::string plainFile = dir.File("not-a-tty");
    testing_support::WriteFile(plainFile, "x");
    WriteRegistry("\"/dev/sorlink-missing\"=\"COM7\"\n\"" + plainFile + "\"=\"COM8\"\n");
    int before = OpenDescriptors();
    ASSERT_GT(before, 0);
    ASSERT_EQ(0, InitSerialPort("COM9", 9600, 0, 8, 0, 2));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(0, Open());
        ASSERT_EQ(0, Close());
    }
    int error = 0;
    for (const char* port : {"COM7", "COM8"}) {
        ASSERT_EQ(0, InitSerialPort(port, 9600, 0, 8, 0, 2));
        EXPECT_EQ(106, Open()) << port;
        ASSERT_EQ(0, GetLastErrorComm(&error));
        EXPECT_EQ(2, error) << port;
    }
    EXPECT_EQ(before, OpenDescriptors());
}

TEST_F(SerialPty, APortIsOpenedForExclusiveUse) {
    OpenCom9();
    int second = 0;
    ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_NONE, 0, nullptr, &second));
    ASSERT_EQ(0, InitSerialPort("COM9", 9600, 0, 8, 0, 2));
    EXPECT_EQ(106, Open());
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(5, error);
    ASSERT_EQ(0, SetCommunicationPort(portId));
    ASSERT_EQ(0, Close());
    ASSERT_EQ(0, SetCommunicationPort(second));
    EXPECT_EQ(0, Open());
}

// Another program that holds the line by a UUCP lock file naming a living
// process is refused; a lock whose process has died is taken over and
// removed at Close. (A program that holds the line by a descriptor alone
// is refused too; pseudo-terminals are left out of that search, which the
// FTDI adapter under qemu shows.)
TEST_F(SerialPty, ALineAnotherProgramHoldsIsRefusedLikeWindows) {
    std::string lockDir = dir.File("lock");
    ASSERT_EQ(0, mkdir(lockDir.c_str(), 0755));
    testing_support::ScopedEnv lockEnv("SORLINK_LOCK_DIR", lockDir);
    std::string line = slavePath.substr(5);  // pts/3 -> LCK..pts_3
    for (char& c : line) {
        if (c == '/') c = '_';
    }
    std::string lockFile = lockDir + "/LCK.." + line;

    struct Row {
        const char* what;
        std::string lockText;
        int open;
    };
    // The binary form "1\0\0\0" names process 49 (not 1, as text would).
    bool alive49 = kill(49, 0) == 0 || errno == EPERM;
    const Row rows[] = {
        {"lock of a living process", std::to_string(getppid()) + "\n", 106},
        {"four bytes of text", "  1\n", 106},  // names process 1
        {"stale lock", "999999\n", 0},
        {"binary form", std::string("1\0\0\0", 4), alive49 ? 106 : 0},
        {"beyond the process IDs", "4294967295\n", 0},  // not kill(-1, 0)
        {"left by an earlier process of this ID", std::to_string(getpid()) + "\n", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        testing_support::WriteFile(lockFile, row.lockText);
        ASSERT_EQ(0, InitSerialPort("COM9", 9600, 0, 8, 0, 2));
        EXPECT_EQ(row.open, Open());
        int error = -1;
        ASSERT_EQ(0, GetLastErrorComm(&error));
        if (row.open != 0) {
            EXPECT_EQ(5, error);
            continue;
        }
        ASSERT_EQ(0, Write(Bytes("MINE"), 4));
        EXPECT_EQ("MINE", Received(4));
        struct stat info {};
        EXPECT_EQ(0, stat(lockFile.c_str(), &info)) << "the line is locked while open";
        ASSERT_EQ(0, Close());
        EXPECT_NE(0, stat(lockFile.c_str(), &info)) << "Close removes the lock";
    }
    // A port mapped to a link to the line is locked by the line's name.
    std::string link = dir.File("by-id-printer");
    ASSERT_EQ(0, symlink(slavePath.c_str(), link.c_str()));
    WriteRegistry("\"" + link + "\"=\"COM8\"\n");
    testing_support::WriteFile(lockFile, std::to_string(getppid()) + "\n");
    ASSERT_EQ(0, InitSerialPort("COM8", 9600, 0, 8, 0, 2));
    EXPECT_EQ(106, Open());
}

// An unplugged adapter hangs its line up; with return-at-once time-outs a
// read must say so rather than report "nothing received" for ever.
TEST_F(SerialPty, AHungUpLineFailsReadsInEveryTimeoutMode) {
    OpenCom9();
    int other = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other < 0) GTEST_SKIP() << "a second open of the line is refused (not root)";
    if (ioctl(other, TIOCVHANGUP) != 0) {
        close(other);
        GTEST_SKIP() << "TIOCVHANGUP needs CAP_SYS_ADMIN";
    }
    close(other);
    char buffer[16];
    unsigned got = 0;
    for (int mode = 0; mode < 2; ++mode) {
        SCOPED_TRACE(mode);
        int interval = mode == 0 ? -1 : 0;  // return at once, or a 200 ms total
        ASSERT_EQ(0, SetSerialTimeout(interval, mode == 0 ? 0 : 200, 0, 1000, 0));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(113, Read(buffer, sizeof buffer, &got));
        int error = 0;
        ASSERT_EQ(0, GetLastErrorComm(&error));
        EXPECT_EQ(31, error);
    }
}

TEST_F(SerialPty, APrinterFromTheRegistryFileKeepsTheDriverSettings) {
    ASSERT_EQ(0, InitSerialPrinter("Pty Printer"));
    int baud = 0, parity = 0, size = 0, stops = 0, flow = 0;
    EXPECT_EQ(116, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    ASSERT_EQ(0, Open());
    ASSERT_EQ(0, Write(Bytes("ticket"), 6));
    EXPECT_EQ("ticket", Received(6));
    char printers[64];
    ASSERT_EQ(0, SerialEnumPrinters(nullptr, printers, sizeof printers));
    EXPECT_STREQ("Pty Printer", printers);
    ASSERT_EQ(0, Close());

    // Speeds outside the table of InitSerialPort, and B0, survive the
    // state being read and written back.
    for (speed_t speed : {static_cast<speed_t>(B500000), static_cast<speed_t>(B0)}) {
        SCOPED_TRACE(speed);
        struct termios t {};
        ASSERT_EQ(0, tcgetattr(master, &t));  // a master sets its slave's settings
        ASSERT_EQ(0, cfsetospeed(&t, speed));
        ASSERT_EQ(0, cfsetispeed(&t, speed));
        ASSERT_EQ(0, tcsetattr(master, TCSANOW, &t));
        ASSERT_EQ(0, Open());
        ASSERT_EQ(0, tcgetattr(master, &t));
        EXPECT_EQ(speed, cfgetospeed(&t));
        ASSERT_EQ(0, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
        EXPECT_EQ(speed == B0 ? 0 : 500000, baud);
        ASSERT_EQ(0, Close());
    }
}

TEST_F(SerialPty, TheDeviceMapListsTheSystemsSerialDevices) {
    auto makeTty = [this](const std::string& name, const char* type) {
        std::string path = sysfs + "/class/tty/" + name;
        ASSERT_EQ(0, system(("mkdir -p '" + path + "'").c_str()));
        if (type != nullptr) testing_support::WriteFile(path + "/type", type);
    };
    makeTty("ttyS0", "4\n");
    makeTty("ttyS1", "0\n");  // no UART behind it
    makeTty("ttyS10", "4\n");
    makeTty("ttyS2", "4\n");
    makeTty("ttyUSB0", nullptr);
    makeTty("ttyACM0", nullptr);
    makeTty("tty0", nullptr);
    for (const char* name :
         {"ttyAMA0", "rfcomm0", "ttyXRUSB0", "ttyMXUSB1", "ttymxc2", "ttyTHS0", "ttyUSBx"}) {
        makeTty(name, nullptr);
    }
    WriteRegistry("\"/dev/ttyUSB0\"=\"COM4\"\n");
    char ports[512];
    ASSERT_EQ(0, SerialEnumPorts(ports, sizeof ports));
    EXPECT_STREQ(
        "COM9|COM4|/dev/rfcomm0|/dev/ttyACM0|/dev/ttyAMA0|/dev/ttyMXUSB1|/dev/ttyS0|"
        "/dev/ttyS2|/dev/ttyS10|/dev/ttyTHS0|/dev/ttyXRUSB0|/dev/ttymxc2",
        ports);
    EXPECT_EQ(0, InitSerialPort("/dev/ttyS2", 9600, 0, 8, 0, 2));
    EXPECT_EQ(0, InitSerialPort("/dev/rfcomm0", 9600, 0, 8, 0, 2));
    EXPECT_EQ(0, InitSerialPort("/dev/ttymxc2", 9600, 0, 8, 0, 2));
    EXPECT_EQ(256, InitSerialPort("/dev/ttyUSB0", 9600, 0, 8, 0, 2));
}

}  // namespace
