// Naming, opening and closing a USB device, and its settings, through the
// exported interface against the fake platform.
#include <cstring>

#include "tests/unit/usb_fixture.h"

using namespace usb_test;

namespace {

class UsbSetup : public UsbPort {};

TEST_F(UsbSetup, UsbEntryPointOnASerialPortIsRefused) {
    int id = 0;
    ASSERT_EQ(0, CreateCommunicationPort(0, LOG_MODE_FILE, LOG_ERROR, log.c_str(), &id));
    EXPECT_EQ(300, InitUsbPrinter("Receipt"));
    EXPECT_TRUE(
        Logged("InitUsbPrinter - USB function failed: a different com type has been setted"));
}

TEST_F(UsbSetup, VendorIdIsTheMakersInEitherCaseAndAFailureUninitialises) {
    PlugReceiptPrinter();
    EXPECT_EQ(0, InitUsbVidPidSerial("0F3C", "0101", "A1B2C3"));
    EXPECT_EQ(303, InitUsbVidPidSerial("04b8", "0101", "A1B2C3"));
    EXPECT_TRUE(Logged("CSvComUsb::InitVidPidSerial - VID 04b8 not valid"));
    char vid[5], pid[5];
    EXPECT_EQ(304, GetUsbVidPid(vid, pid));
    EXPECT_EQ(304, Open());
}

TEST_F(UsbSetup, ProductIdMustBeFourCharactersOfAnyKind) {
    EXPECT_EQ(0, InitUsbVidPidSerial("0f3c", "zz!?", "A1B2C3"));
    EXPECT_EQ(303, InitUsbVidPidSerial("0f3c", "010", "A1B2C3"));
    EXPECT_EQ(303, InitUsbVidPidSerial("0f3c", "01010", "A1B2C3"));
    EXPECT_EQ(303, InitUsbVidPidSerial("0f3c", "0101", ""));
    EXPECT_TRUE(Logged("CSvComUsb::InitVidPidSerial - Serial number not valid"));
}

TEST_F(UsbSetup, NullTextsAreRefusedAsInvalid) {
    EXPECT_EQ(303, InitUsbVidPidSerial(nullptr, "0101", "A"));
    EXPECT_EQ(303, InitUsbVidPidSerial("0f3c", nullptr, "A"));
    EXPECT_EQ(303, InitUsbVidPidSerial("0f3c", "0101", nullptr));
}

TEST_F(UsbSetup, SerialNumberLongerThanTheFieldIsRefusedAndTheNamingKept) {
    EXPECT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    std::string tooLong(1024, 'S');
    EXPECT_EQ(303, InitUsbVidPidSerial("0f3c", "0101", tooLong.c_str()));
    EXPECT_EQ(304, Open());
    std::string longest(1023, 'S');
    EXPECT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", longest.c_str()));
}

TEST_F(UsbSetup, BlanksInTheSerialBecomeUnderscoresWithoutTouchingTheCallersText) {
    fake::SetRegistry(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\"
        "VID_0F3C&PID_0101\\AB_12_C]\r\n\"ParentIdPrefix\"=\"7&aa&0\"\r\n");
    const std::string path =
        "\\\\?\\usb#vid_0f3c&pid_0101#AB_12_C#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    fake::usb::AddInterface(kPrinterClass, path);
    char serial[] = "AB 12 C";
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", serial));
    EXPECT_STREQ("AB 12 C", serial);
    EXPECT_EQ(0, Open());
    EXPECT_EQ(0, Close());
}

TEST_F(UsbSetup, InterfaceTypeChangeDropsTheNamingButTheSameTypeKeepsIt) {
    PlugReceiptPrinter();
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    EXPECT_EQ(0, InitUsbInterface(1));
    char vid[5] = {}, pid[5] = {};
    EXPECT_EQ(0, GetUsbVidPid(vid, pid));
    EXPECT_STREQ("0f3c", vid);
    EXPECT_STREQ("0101", pid);
    EXPECT_EQ(307, InitUsbInterface(4));
    EXPECT_EQ(307, InitUsbInterface(-1));
    EXPECT_EQ(0, GetUsbVidPid(vid, pid));
    EXPECT_EQ(0, InitUsbInterface(2));
    EXPECT_EQ(304, Open());
    EXPECT_TRUE(Logged("CSvComUsb::OpenUsb - USB device not initialized"));
}

TEST_F(UsbSetup, InitPrinterFindsTheIdsInTheRegistrysLetterCase) {
    PlugReceiptPrinter();
    ASSERT_EQ(0, InitUsbPrinter("Receipt"));
    char vid[5] = {}, pid[5] = {};
    ASSERT_EQ(0, GetUsbVidPid(vid, pid));
    EXPECT_STREQ("0F3C", vid);
    EXPECT_STREQ("0101", pid);
    EXPECT_TRUE(Logged(
        "CSvComUsb::InitPrinter - VID=0F3C , PID=0101 , ParentPrefixID= 7&1A2B3C4D&0 for printer "
        "Receipt"));
    EXPECT_EQ(0, Open());
    EXPECT_EQ(0, Close());
}

TEST_F(UsbSetup, InitPrinterRefusals) {
    PlugReceiptPrinter();
    EXPECT_EQ(302, InitUsbPrinter("receipt"));  // names compare with case
    EXPECT_EQ(0, InitUsbInterface(3));
    EXPECT_EQ(306, InitUsbPrinter("Receipt"));
}

TEST_F(UsbSetup, InitPrinterWithoutPnPDataOrWithoutADeviceOrWithAForeignVendor) {
    fake::SetRegistry(ReceiptRegistry(
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Office]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Lost\\PnPData]"
        "\r\n"
        "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\9&DEAD&0&USB002\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Other\\PnPData]"
        "\r\n"
        "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\8&BEEF&0&USB003\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_04B8&PID_0202\\X1]\r\n"
        "\"ParentIdPrefix\"=\"8&beef&0\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0F3\\Y1]\r\n"
        "\"ParentIdPrefix\"=\"6&short&0\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Short\\PnPData]"
        "\r\n"
        "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\6&SHORT&0&USB004\"\r\n\r\n"));
    EXPECT_EQ(325, InitUsbPrinter("Office"));
    EXPECT_TRUE(
        Logged("CSvComUsb::ExtractParentPrefixID - Error opening registry key: "
               "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\\\Office\\PnPData "));
    EXPECT_EQ(303, InitUsbPrinter("Lost"));
    EXPECT_TRUE(
        Logged("CSvComUsb::InitPrinter - Impossible to associate a VID and a PID to ParentPrefixID "
               "9&DEAD&0"));
    EXPECT_EQ(303, InitUsbPrinter("Other"));
    EXPECT_TRUE(Logged("CSvComUsb::InitPrinter - VID 04B8 not valid"));
    EXPECT_EQ(303, InitUsbPrinter("Short"));
    EXPECT_EQ(304, Open());
}

TEST_F(UsbSetup, InitPrinterReportsAPrintersKeyThatFailsToOpen) {
    PlugReceiptPrinter();
    fake::FailCall("RegOpenKeyExA", 5, 1, 1);  // the count opens the key once first
    EXPECT_EQ(1, InitUsbPrinter("Receipt"));
    int error = 0;
    EXPECT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(5, error);
}

TEST_F(UsbSetup, OpenTwiceCloseTwiceAndReopenWithoutNewInit) {
    OpenReceiptPrinter();
    EXPECT_EQ(305, Open());
    EXPECT_EQ(301, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    EXPECT_EQ(301, InitUsbPrinter("Receipt"));
    EXPECT_EQ(301, InitUsbInterface(0));
    EXPECT_EQ(0, Close());
    EXPECT_EQ(309, Close());
    EXPECT_EQ(0, Open());
    EXPECT_EQ(0, Close());
}

TEST_F(UsbSetup, OpenBySerialFindsNothingForAnAbsentOrUnknownDevice) {
    fake::SetRegistry(ReceiptRegistry());
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    EXPECT_EQ(316, Open());  // recorded but not plugged in
    EXPECT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "NEVERSEEN"));
    EXPECT_EQ(316, Open());
    EXPECT_TRUE(
        Logged("CSvComUsb::FindSymbolicLinkFromSerial - Serial number NEVERSEEN not found in the "
               "registry"));
    EXPECT_EQ(0, fake::CallCount("SetupDiGetClassDevsA") - 1);  // only the first open walked
}

TEST_F(UsbSetup, OpenByPrinterNameNeedsTheDevicePresent) {
    fake::SetRegistry(ReceiptRegistry());
    ASSERT_EQ(0, InitUsbPrinter("Receipt"));
    EXPECT_EQ(315, Open());
    EXPECT_TRUE(Logged(
        "CSvComUsb::OpenUsb - Impossible to find and open a USB plugged device with VID=0F3C, "
        "PID=0101, PrefixID=7&1A2B3C4D&0"));
}

// Held elsewhere is not absent: the open names the refusal and its error.
TEST_F(UsbSetup, DeviceHeldByAnotherProgramIsReportedAsRefused) {
    fake::SetRegistry(ReceiptRegistry());
    fake::usb::AddInterface(kPrinterClass, kPrinterPath, true);
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    EXPECT_EQ(308, Open());
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(static_cast<int>(plat::kErrorSharingViolation), error);
    EXPECT_TRUE(
        Logged("CSvComUsb::OpenUsb - USB device with VID=0f3c, PID=0101, "
               "SerialNumber=A1B2C3 is present but can not be opened (error 32)"));
    // Likewise when an installed printer names it.
    ResetLastErrorComm();
    ASSERT_EQ(0, InitUsbPrinter("Receipt"));
    EXPECT_EQ(308, Open());
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(static_cast<int>(plat::kErrorSharingViolation), error);
}

TEST_F(UsbSetup, PipeThatFailsToOpenLeavesNothingOpen) {
    PlugReceiptPrinter();
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    fake::FailCall("CreateFileA", 5, 1, 2);  // test open and write pipe succeed
    EXPECT_EQ(308, Open());
    EXPECT_TRUE(Logged("CSvComUsb::OpenUsb - Invalid handle returned opening the USB device"));
    EXPECT_EQ(0u, plat::common::OpenDeviceCount());
    EXPECT_EQ(0, Open());
    EXPECT_EQ(0, Close());
}

TEST_F(UsbSetup, CloseFailuresAreReportedAndNothingStaysOpen) {
    OpenReceiptPrinter();
    fake::FailCall("CloseHandle", plat::kErrorInvalidHandle, 1);
    EXPECT_EQ(317, Close());
    EXPECT_EQ(320, Close());  // the read pipe left behind is released
    EXPECT_EQ(309, Close());
    EXPECT_EQ(0u, plat::common::OpenDeviceCount());
    ASSERT_EQ(0, Open());
    fake::FailCall("CloseHandle", plat::kErrorInvalidHandle, 1, 1);
    EXPECT_EQ(318, Close());  // the write pipe closed, the read pipe not
    EXPECT_EQ(320, Close());
    EXPECT_EQ(309, Close());
    EXPECT_EQ(0u, plat::common::OpenDeviceCount());
}

TEST_F(UsbSetup, InterfaceZeroCloseFailureIsReported) {
    PlugReceiptPrinter();
    ASSERT_EQ(0, InitUsbInterface(0));
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    ASSERT_EQ(0, Open());
    fake::FailCall("CloseHandle", plat::kErrorGenFailure, 1);
    EXPECT_EQ(319, Close());
    EXPECT_EQ(0, Close());
}

TEST_F(UsbSetup, TimeoutsOfZeroAreRefusedAndTheOldOnesKept) {
    EXPECT_EQ(0, SetUsbTimeout(300, 400));
    EXPECT_EQ(310, SetUsbTimeout(0, 5000));
    int send = 0, receive = 0;
    EXPECT_EQ(0, GetUsbTimeout(&send, &receive));
    EXPECT_EQ(300, send);
    EXPECT_EQ(400, receive);
    EXPECT_TRUE(
        Logged("CSvComUsb::SetTimeout Timeout values for USB communication setted to: "
               "[send timeout, receive timeout] = [300 , 400 ]"));
}

TEST_F(UsbSetup, PacketSizesOfZeroOrBeyondAnyBufferAreRefusedAndTheOldOnesKept) {
    EXPECT_EQ(0, SetPacketSize(128, 512));
    EXPECT_EQ(9, SetPacketSize(64, 0));
    EXPECT_EQ(9, SetPacketSize(0x7FFFFFFF, 64));
    EXPECT_EQ(9, SetPacketSize(-1, 64));  // + 100 would wrap
    EXPECT_EQ(9, SetPacketSize(64, -50));
    int write = 0, read = 0;
    EXPECT_EQ(0, GetPacketSize(&write, &read));
    EXPECT_EQ(128, write);
    EXPECT_EQ(512, read);
    EXPECT_EQ(0, SetPacketSize(16 * 1024 * 1024, 16 * 1024 * 1024));
}

TEST_F(UsbSetup, LastErrorIsKeptUntilReset) {
    PlugReceiptPrinter();
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    fake::FailCall("CreateFileA", 31, 1, 1);  // the write pipe
    EXPECT_EQ(308, Open());
    int error = 0;
    EXPECT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(31, error);
    EXPECT_EQ(0, ResetLastErrorComm());
    EXPECT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(0, error);
}

TEST_F(UsbSetup, CallerTextIsNeverTakenAsAFormat) {
    EXPECT_EQ(303, InitUsbVidPidSerial("%s%n", "%s%s", "%n%n"));
    EXPECT_TRUE(Logged("CSvComUsb::InitVidPidSerial - VID %s%n not valid"));
    EXPECT_EQ(302, InitUsbPrinter("%s%s%s%n"));
}

}  // namespace
