// A USB port against the fake platform: one receipt printer with serial
// number A1B2C3 whose registry records name it as printer "Receipt".
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/common/DeviceObject.h"
#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_usb.h"
#include "tests/support/TestSupport.h"

namespace usb_test {

constexpr char kPrinterClass[] = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr char kVendorClass[] = "{3c9e4a17-b2d5-4f80-9a6e-71d0c5e8b243}";
constexpr char kScannerClass[] = "{8f21d6b0-4e7a-4c39-b5d2-0a6f93e1c7d4}";
constexpr char kPrinterPath[] =
    "\\\\?\\usb#vid_0f3c&pid_0101#A1B2C3#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

// Registry of one printer on a USB port and its device instance, after the
// keys given in `before`.
inline std::string ReceiptRegistry(const std::string& before = "") {
    return "Windows Registry Editor Version 5.00\r\n\r\n" + before +
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0F3C&PID_0101\\A1B2C3]"
           "\r\n"
           "\"ParentIdPrefix\"=\"7&1a2b3c4d&0\"\r\n\r\n"
           "[HKEY_LOCAL_"
           "MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Receipt\\PnPData]\r\n"
           "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\7&1A2B3C4D&0&USB001\"\r\n\r\n";
}

class UsbPort : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Reset();
        DeleteAllLayerItems();
        int id = 0;
        ASSERT_EQ(0, CreateCommunicationPort(2, LOG_MODE_FILE, LOG_TRACE | LOG_INFO | LOG_ERROR,
                                             log.c_str(), &id));
    }
    void TearDown() override {
        if (HasFailure()) {
            for (const std::string& line : testing_support::LogBodies(log)) {
                std::printf("  log| %s\n", line.c_str());
            }
        }
        DeleteAllLayerItems();
        EXPECT_EQ(0u, plat::common::OpenDeviceCount());
        EXPECT_EQ(0, fake::usb::OpenSetCount());
        EXPECT_EQ(0, fake::usb::HangingWaits()) << "a wait Windows would end only by its "
                                                   "time-out, or never";
    }

    // The receipt printer present and named by its serial number.
    void PlugReceiptPrinter() {
        fake::SetRegistry(ReceiptRegistry());
        fake::usb::AddInterface(kPrinterClass, kPrinterPath);
    }
    void OpenReceiptPrinter() {
        PlugReceiptPrinter();
        ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
        ASSERT_EQ(0, Open());
    }
    // body is the prefix and the message as the code writes them; the log
    // puts one blank between the two.
    bool Logged(std::string body) const {
        std::size_t cut = body.find(" - ");
        if (cut != std::string::npos) body.insert(cut + 3, " ");
        return testing_support::LogHas(log, body);
    }
    // How many log lines, without their stamps, contain the fragment.
    std::size_t LinesWith(const std::string& fragment) const {
        std::size_t count = 0;
        for (const std::string& line : testing_support::LogBodies(log)) {
            if (line.find(fragment) != std::string::npos) ++count;
        }
        return count;
    }
    std::string Written() const { return fake::usb::Written(kPrinterPath, "PIPE01"); }

    testing_support::TempDir dir;
    std::string log = dir.File("usb.log");
};

}  // namespace usb_test
