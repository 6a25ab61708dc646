// The Linux backend's USB transfers against the model of the usblp driver:
// a sysfs fixture names one printer whose node is the model's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "sorlink.h"
#include "tests/support/TestSupport.h"
#include "tests/usblp/usblp_model.h"
#include "tools/vprinter/UsbFixture.h"

namespace {

class UsblpPrinter : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(
            vprinter::WriteUsbFixture(dir.Path(), "0f3c", "0101", "M1", dir.File("model"), &error))
            << error;
        setenv("SORLINK_SYSFS_ROOT", dir.File("sys").c_str(), 1);
        setenv("SORLINK_DEV_ROOT", dir.File("dev").c_str(), 1);
        setenv("SORLINK_REGISTRY", dir.File("none.reg").c_str(), 1);
        usblp_model::Reset(node);
        int id = 0;
        ASSERT_EQ(0, CreateCommunicationPort(2, LOG_MODE_FILE, LOG_TRACE | LOG_INFO | LOG_ERROR,
                                             dir.File("usb.log").c_str(), &id));
        ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "M1"));
        ASSERT_EQ(0, Open());
    }
    void TearDown() override {
        DeleteAllLayerItems();
        unsetenv("SORLINK_SYSFS_ROOT");
        unsetenv("SORLINK_DEV_ROOT");
        unsetenv("SORLINK_REGISTRY");
    }
    int WriteText(const std::string& text) {
        return Write(reinterpret_cast<const unsigned char*>(text.data()),
                     static_cast<int>(text.size()));
    }
    int LastError() {
        int error = 0;
        GetLastErrorComm(&error);
        return error;
    }

    testing_support::TempDir dir;
    std::string node = dir.File("dev") + "/usb/lp0";
};

TEST_F(UsblpPrinter, JobWhoseLastPacketIsInFlightAtCloseReachesThePrinterWhole) {
    std::string job(130, 'j');
    job.replace(126, 4, "\x1d\x56\x41\x00", 4);  // ends in a paper cut
    EXPECT_EQ(0, WriteText(job));
    EXPECT_EQ(0, Close());
    EXPECT_EQ(job, usblp_model::Received());
    EXPECT_EQ(0u, usblp_model::Dropped());
}

// The stalled packet is cancelled, so it cannot reach the printer after the
// caller was told it failed; what the printer had sent survives the cancel.
TEST_F(UsblpPrinter, WriteNotCompletedInTimeIsATimeOutAndNeverReachesThePrinter) {
    ASSERT_EQ(0, SetUsbTimeout(50, 50));
    usblp_model::Send("S");
    usblp_model::Stall(true);
    EXPECT_EQ(313, WriteText("abc"));
    EXPECT_EQ(997, LastError());
    usblp_model::Stall(false);
    EXPECT_EQ(0, WriteText("def"));
    char buffer[8] = {};
    unsigned got = 0;
    EXPECT_EQ(0, Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ("S", std::string(buffer, got));
    EXPECT_EQ(0, Close());
    EXPECT_EQ("def", usblp_model::Received());
    EXPECT_EQ(3u, usblp_model::Dropped());
}

// A transfer that fails on a printer still present is no unplug: the call
// fails with the driver's error and the device stays open.
TEST_F(UsblpPrinter, FailedTransferOnAPresentPrinterKeepsTheDeviceOpen) {
    usblp_model::FailNextTransfer(false);
    EXPECT_EQ(314, WriteText("abc"));
    EXPECT_EQ(31, LastError());  // ERROR_GEN_FAILURE
    EXPECT_EQ(0, WriteText("def"));
    usblp_model::FailNextTransfer(true);
    char buffer[8];
    unsigned got = 0;
    EXPECT_EQ(324, Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(31, LastError());
    usblp_model::Send("S");
    EXPECT_EQ(0, Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(0, Close());
    EXPECT_EQ("def", usblp_model::Received());
}

TEST_F(UsblpPrinter, UnplugWhileAWriteOrAReadIsPendingGives330) {
    usblp_model::UnplugDuringNextWait();
    EXPECT_EQ(330, WriteText("abc"));
    EXPECT_EQ(309, IsDeviceAvailable());
    usblp_model::Replug();
    ASSERT_EQ(0, Open());
    usblp_model::UnplugDuringNextWait();
    char buffer[8];
    unsigned got = 0;
    EXPECT_EQ(330, Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(309, Close());
}

// Clean(1, 1) comes before every job: a printer without a read pipe has
// nothing to drain and must not fail it.
TEST_F(UsblpPrinter, CleanOfAUnidirectionalPrinterSucceedsAndItsReadsFail) {
    usblp_model::Unidirectional();
    EXPECT_EQ(0, Clean(1, 1));
    EXPECT_EQ(0, WriteText("job"));
    char buffer[8];
    unsigned got = 0;
    EXPECT_EQ(324, Read(buffer, sizeof(buffer), &got));
    EXPECT_EQ(87, LastError());  // ERROR_INVALID_PARAMETER
    EXPECT_EQ(0, Close());
    EXPECT_EQ("job", usblp_model::Received());
}

}  // namespace
