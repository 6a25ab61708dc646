// Listing present USB devices and the printers installed on them, and
// asking whether the open device is still plugged in.
#include <cstdio>
#include <string>

#include "tests/unit/usb_fixture.h"

using namespace usb_test;

namespace {

const char kEnum[] = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\";
const char kPrinters[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";

std::string PrinterPath(const std::string& pid, const std::string& serial) {
    return "\\\\?\\usb#vid_0f3c&pid_" + pid + "#" + serial + "#" + kPrinterClass;
}

class UsbDiscovery : public UsbPort {
protected:
    int List(int (*enumerate)(char*, unsigned), unsigned size, std::string* out) {
        std::string buffer(size + 1, '#');
        int code = enumerate(&buffer[0], size);
        *out = code == 0 ? std::string(buffer.c_str()) : std::string();
        return code;
    }
};

TEST_F(UsbDiscovery, NothingPresentIsAnEmptyListNotAFailure) {
    std::string out;
    EXPECT_EQ(0, List(&UsbEnumDevices, 64, &out));
    EXPECT_EQ("", out);
    EXPECT_TRUE(Logged("CSvComUsb::EnumDevices - USB list devices is empty "));
    EXPECT_EQ(0, List(&UsbEnumPrinters, 64, &out));
    EXPECT_TRUE(Logged("CSvComUsb::EnumPrint - USB list printers is empty "));
    EXPECT_EQ(3, List(&UsbEnumDevices, 0, &out));
}

TEST_F(UsbDiscovery, DevicesAreListedWithTheirSerialNumbers) {
    fake::SetRegistry(ReceiptRegistry(std::string(kEnum) + "VID_0F3C&PID_0102\\XY7]\r\n\r\n"));
    fake::usb::AddInterface(kPrinterClass, kPrinterPath);
    fake::usb::AddInterface(kPrinterClass, PrinterPath("0102", "XY7"));
    fake::usb::AddInterface(kPrinterClass, PrinterPath("0103", "UNKNOWN"));
    std::string out;
    EXPECT_EQ(0, List(&UsbEnumDevices, 31, &out));
    EXPECT_EQ("0f3c|0101|A1B2C3|0f3c|0102|XY7", out);
    EXPECT_EQ(3, List(&UsbEnumDevices, 30, &out));
    EXPECT_TRUE(Logged(
        "CSvComUsb::CheckList - USB device found with VID=0f3c, PID=0102 ,SerialNumber=XY7 "));
    char small[8];
    EXPECT_EQ(3, VbUsbEnumDevices(small, sizeof(small)));
}

TEST_F(UsbDiscovery, OneFunctionOfACompositeDeviceIsListedAndOpenedUnderItsParentSerial) {
    const std::string function =
        "\\\\?\\usb#vid_0f3c&pid_0200&mi_01#6&abc&0&0001#" + std::string(kVendorClass);
    fake::SetRegistry(std::string("REGEDIT4\r\n\r\n") + kEnum +
                      "VID_0F3C&PID_0200\\SERIAL9]\r\n\"ParentIdPrefix\"=\"6&abc&0\"\r\n\r\n" +
                      kEnum + "VID_0F3C&PID_0200&MI_01\\6&abc&0&0001]\r\n\r\n");
    fake::usb::AddInterface(kVendorClass, function);
    ASSERT_EQ(0, InitUsbInterface(2));
    std::string out;
    EXPECT_EQ(0, List(&UsbEnumDevices, 64, &out));
    EXPECT_EQ("0f3c|0200|SERIAL9", out);
    // Found through its instance, the parent's prefix and "&0001".
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0200", "SERIAL9"));
    ASSERT_EQ(0, Open());
    const unsigned char byte[] = {0x1b};
    EXPECT_EQ(0, Write(byte, 1));
    EXPECT_EQ("\x1b", fake::usb::Written(function, "PIPE01"));
    EXPECT_EQ(0, Close());
}

TEST_F(UsbDiscovery, PrintersAreListedByNameAndOnlyTheFirstPerDevice) {
    fake::SetRegistry(ReceiptRegistry(std::string(kPrinters) + "Network]\r\n\r\n" + kEnum +
                                      "VID_0F3C&PID_0103\\NOPREFIX]\r\n\r\n") +
                      kPrinters +
                      "Copy\\PnPData]\r\n"
                      "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\7&1A2B3C4D&0&USB002\"\r\n\r\n");
    fake::usb::AddInterface(kPrinterClass, kPrinterPath);
    // Present devices without an instance key, or without its prefix.
    fake::usb::AddInterface(kPrinterClass, PrinterPath("0102", "NOKEY"));
    fake::usb::AddInterface(kPrinterClass, PrinterPath("0103", "NOPREFIX"));
    std::string out;
    EXPECT_EQ(0, List(&UsbEnumPrinters, 64, &out));
    EXPECT_EQ("Receipt", out);
    EXPECT_TRUE(
        Logged("CSvComUsb::ExtractParentPrefixID - Error opening registry key: "
               "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\\\Network\\PnPData "));
    EXPECT_EQ(0u, LinesWith("CSvComUsb::CheckList -  Error"));
}

TEST_F(UsbDiscovery, PrinterListingKeepsTheInitialisation) {
    fake::SetRegistry(ReceiptRegistry(std::string(kPrinters) + "Network]\r\n\r\n"));
    fake::usb::AddInterface(kPrinterClass, kPrinterPath);
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
    std::string out;
    EXPECT_EQ(0, List(&UsbEnumPrinters, 64, &out));
    EXPECT_EQ(0, Open());
    EXPECT_EQ(0, Close());
}

TEST_F(UsbDiscovery, ScannerInterfaceRefusesPrinterListingButListsScanners) {
    fake::SetRegistry(std::string("REGEDIT4\r\n\r\n") + kEnum + "VID_0F3C&PID_0301\\SC1]\r\n");
    fake::usb::AddInterface(kScannerClass,
                            "\\\\?\\usb#vid_0f3c&pid_0301#SC1#" + std::string(kScannerClass));
    ASSERT_EQ(0, InitUsbInterface(3));
    std::string out;
    EXPECT_EQ(329, List(&UsbEnumPrinters, 64, &out));
    EXPECT_TRUE(
        Logged("CSvComUsb::EnumPrint - Impossible to list printers: interface scanner is enabled"));
    EXPECT_EQ(0, List(&UsbEnumDevices, 64, &out));
    EXPECT_EQ("0f3c|0301|SC1", out);
}

TEST_F(UsbDiscovery, DevicesHeldElsewhereAreLeftOut) {
    fake::SetRegistry(ReceiptRegistry(std::string(kEnum) + "VID_0F3C&PID_0102\\XY7]\r\n\r\n"));
    fake::usb::AddInterface(kPrinterClass, kPrinterPath, true);
    fake::usb::AddInterface(kPrinterClass, PrinterPath("0102", "XY7"));
    std::string out;
    EXPECT_EQ(0, List(&UsbEnumDevices, 64, &out));
    EXPECT_EQ("0f3c|0102|XY7", out);
}

TEST_F(UsbDiscovery, OnlyTheFirst128InterfacesAreExaminedAndTheListNeverOverflows) {
    std::string reg = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 130; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof(serial), "SN%03d", i);
        reg += std::string(kEnum) + "VID_0F3C&PID_0101\\" + serial + "]\r\n\r\n";
        fake::usb::AddInterface(kPrinterClass, PrinterPath("0101", serial));
    }
    fake::SetRegistry(reg);
    std::string out;
    ASSERT_EQ(0, List(&UsbEnumDevices, 2048, &out));
    // 16 characters per entry: 63 whole entries fit in 1023 characters.
    EXPECT_EQ(63u * 16u - 1u, out.size());
    EXPECT_EQ("0f3c|0101|SN062", out.substr(out.size() - 15));
    EXPECT_EQ(128, fake::CallCount("SetupDiEnumDeviceInterfaces"));
}

TEST_F(UsbDiscovery, EnumerationErrorsOtherThanTheEndSkipOneInterface) {
    fake::SetRegistry(ReceiptRegistry(std::string(kEnum) + "VID_0F3C&PID_0102\\XY7]\r\n\r\n"));
    fake::usb::AddInterface(kPrinterClass, kPrinterPath);
    fake::usb::AddInterface(kPrinterClass, PrinterPath("0102", "XY7"));
    fake::FailCall("SetupDiEnumDeviceInterfaces", 31, 1);
    std::string out;
    EXPECT_EQ(0, List(&UsbEnumDevices, 64, &out));
    EXPECT_EQ("0f3c|0102|XY7", out);
    fake::FailCall("SetupDiGetDeviceInterfaceDetailA", 31, 1);
    EXPECT_EQ(0, List(&UsbEnumDevices, 64, &out));
    EXPECT_EQ("0f3c|0102|XY7", out);
}

TEST_F(UsbDiscovery, AvailabilityFollowsThePlug) {
    OpenReceiptPrinter();
    EXPECT_EQ(0, IsDeviceAvailable());
    EXPECT_TRUE(Logged(std::string("CSvComUsb::UsbIsAvailable - The USB device with link ") +
                       kPrinterPath + " is plugged "));
    fake::usb::Unplug(kPrinterPath);
    EXPECT_EQ(330, IsDeviceAvailable());
    EXPECT_EQ(330, IsDeviceAvailable());  // still open until a transfer finds it gone
    EXPECT_EQ(0, Close());
}

}  // namespace
