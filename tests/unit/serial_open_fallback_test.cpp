// Opening a serial port on an NT system whose DOS device link cannot be
// opened although DefineDosDevice reported it made (as Wine does): the
// port is opened by its own DOS name instead.
#include "tests/unit/serial_fixture.h"

namespace {

using SerialOpenFallback = serial_testing::SerialFake;

const char* const kOpen = "CSvComSerial::OpenSerial - ";

TEST_F(SerialOpenFallback, OpensThePortByItsOwnNameWhenTheLinkDoesNotOpen) {
    fake::SetDosDevice("COM3", serial_testing::kCom3Device);
    fake::FailCall("CreateFileA", plat::kErrorFileNotFound, 1);
    OpenCom3();
    EXPECT_TRUE(Com3().open);
    EXPECT_TRUE(Logged(kOpen, "Serial link: \\\\.\\LinkToSerial3"));
    EXPECT_TRUE(Logged(kOpen, "Serial link: \\\\.\\COM3"));
    EXPECT_TRUE(Logged(kOpen, "Com port succesfully opened"));
    EXPECT_EQ(2, fake::CallCount("CreateFileA"));
    ASSERT_EQ(0, Close());
    EXPECT_FALSE(Com3().open);
    EXPECT_EQ("", fake::DosDeviceTarget("LinkToSerial3"));
}

// Wine answers a second definition of a link that QueryDosDevice does not
// find with ERROR_ALREADY_EXISTS.
TEST_F(SerialOpenFallback, ALinkTheDefinitionFindsTakenIsUsed) {
    fake::SetDosDevice("COM3", serial_testing::kCom3Device);
    fake::FailCall("DefineDosDeviceA", plat::kErrorAlreadyExists, 1);
    OpenCom3();
    EXPECT_TRUE(Com3().open);
    EXPECT_TRUE(Logged(kOpen, "Serial link: \\\\.\\COM3"));
    EXPECT_EQ(0, Close());

    fake::FailCall("DefineDosDeviceA", plat::kErrorAccessDenied, 1);
    EXPECT_EQ(105, Open());
    EXPECT_FALSE(Com3().open);
}

TEST_F(SerialOpenFallback, GivesUpWhenNeitherNameOpens) {
    fake::FailCall("CreateFileA", plat::kErrorFileNotFound, 2);
    ASSERT_EQ(0, InitCom3());
    EXPECT_EQ(106, Open());
    EXPECT_FALSE(Com3().open);
    EXPECT_TRUE(Logged(kOpen, "Open failed: invalid handle returned(Error 0x00000002)"));
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(2, error);
}

TEST_F(SerialOpenFallback, OutsideNtTheDeviceIsOpenedOnce) {
    fake::SetVersion(plat::kVerPlatformWin32Windows, 4, 10);
    fake::FailCall("CreateFileA", plat::kErrorFileNotFound, 1);
    ASSERT_EQ(0, InitCom3());
    EXPECT_EQ(106, Open());
    EXPECT_EQ(1, fake::CallCount("CreateFileA"));
}

}  // namespace
