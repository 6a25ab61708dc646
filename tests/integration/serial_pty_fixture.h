// A pseudo-terminal pair standing in for a serial printer: the test holds
// the master side, the registry file maps the slave to port COM9, and the
// library reaches it through the exported entry points.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "sorlink.h"
#include "tests/support/TestSupport.h"

namespace serial_pty {

class PtyPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(0, grantpt(master));
        ASSERT_EQ(0, unlockpt(master));
        slavePath = ptsname(master);
        // An empty sysfs tree keeps the machine's own ports out of the map.
        sysfs = dir.File("sys");
        ASSERT_EQ(0, mkdir(sysfs.c_str(), 0755));
        setenv("SORLINK_SYSFS_ROOT", sysfs.c_str(), 1);
        WriteRegistry("");
        log = dir.File("serial.log");
        DeleteAllLayerItems();
        ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_FILE,
                                             LOG_DATA | LOG_TRACE | LOG_INFO | LOG_ERROR,
                                             log.c_str(), &portId));
    }
    void TearDown() override {
        DeleteAllLayerItems();
        if (master >= 0) close(master);
        unsetenv("SORLINK_REGISTRY");
        unsetenv("SORLINK_SYSFS_ROOT");
    }

    // The registry file: the slave as COM9, a printer on it, and more.
    void WriteRegistry(const std::string& extra) {
        std::string path = dir.File("registry.reg");
        testing_support::WriteFile(
            path, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n\"" +
                      slavePath + "\"=\"COM9\"\n" + extra +
                      "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\"
                      "Printers\\Pty Printer]\n\"Port\"=\"COM9:\"\n");
        setenv("SORLINK_REGISTRY", path.c_str(), 1);
    }

    void OpenCom9(int baud = 9600, int parity = 0, int size = 8, int stops = 0, int flow = 2) {
        ASSERT_EQ(0, InitSerialPort("COM9", baud, parity, size, stops, flow));
        ASSERT_EQ(0, Open());
    }

    // What the printer received: reads until `count` bytes or 2 s.
    std::string Received(std::size_t count) {
        std::string bytes;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (bytes.size() < count && std::chrono::steady_clock::now() < end) {
            struct pollfd entry {
                master, POLLIN, 0
            };
            if (poll(&entry, 1, 100) <= 0) continue;
            char chunk[4096];
            ssize_t n = read(master, chunk, sizeof chunk);
            if (n <= 0) break;
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
        return bytes;
    }
    void PrinterSends(const std::string& bytes) {
        ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(master, bytes.data(), bytes.size()));
    }

    bool Logged(const std::string& prefix, const std::string& message) const {
        return testing_support::LogHas(log, prefix + " " + message);
    }

    testing_support::TempDir dir;
    std::string sysfs;
    std::string log;
    std::string slavePath;
    int master = -1;
    int portId = 0;
};

}  // namespace serial_pty
