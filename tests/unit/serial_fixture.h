// A serial port against the fake: two ports in the serial device map (COM1
// and COM3), printers installed on them and on a parallel port, and the
// layer's port created with every log level on.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_serial.h"
#include "tests/support/TestSupport.h"

namespace serial_testing {

constexpr const char* kCom1Device = "\\Device\\Serial0";
constexpr const char* kCom3Device = "\\Device\\Serial2";

inline const char* kRegistry = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]
"\\Device\\Serial0"="COM1"
"\\Device\\Serial2"="COM3"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Receipt]
"Port"="COM3:"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Kitchen]
"Port"="COM1:"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Office]
"Port"="LPT1:"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\Fiscal]
"Port"="COM3:"
)";

class SerialFake : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        DeleteAllLayerItems();
        fake::SetRegistry(kRegistry);
        fake::AddSerialPort(kCom1Device);
        fake::AddSerialPort(kCom3Device);
        log = dir.File("serial.log");
        ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_FILE,
                                             LOG_DATA | LOG_TRACE | LOG_INFO | LOG_ERROR,
                                             log.c_str(), &portId));
    }
    void TearDown() override {
        DeleteAllLayerItems();
        fake::Reset();
    }

    // True when the log has the line "<prefix> <message>" (message without
    // its line feed), as CSvLogFile writes it after the time stamp.
    bool Logged(const std::string& prefix, const std::string& message) const {
        return testing_support::LogHas(log, prefix + " " + message);
    }
    int InitCom3(int flow = 2) { return InitSerialPort("COM3", 9600, 0, 8, 0, flow); }
    void OpenCom3(int flow = 2) {
        ASSERT_EQ(0, InitCom3(flow));
        ASSERT_EQ(0, Open());
    }
    fake::SerialRecord Com3() const { return fake::SerialPort(kCom3Device); }

    testing_support::TempDir dir;
    std::string log;
    int portId = 0;
};

}  // namespace serial_testing
