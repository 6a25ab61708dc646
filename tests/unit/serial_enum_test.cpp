// Listing serial ports and the printers installed on them.
#include <cstring>
#include <string>

#include "platform/registry.h"
#include "tests/unit/serial_fixture.h"

namespace {

using serial_testing::SerialFake;
using SerialEnum = SerialFake;

TEST_F(SerialEnum, PortsAreJoinedAndNeedRoomForTheirTerminator) {
    char buffer[16];
    ASSERT_EQ(0, SerialEnumPorts(buffer, 10));
    EXPECT_STREQ("COM1|COM3", buffer);
    std::strcpy(buffer, "untouched");
    EXPECT_EQ(3, SerialEnumPorts(buffer, 9));
    EXPECT_STREQ("untouched", buffer);
    EXPECT_TRUE(
        Logged("CSvComSerial::EnumPorts - ", "Buffer size parameter can not contain the result"));
    EXPECT_EQ(5, SerialEnumPorts(nullptr, 10));
}

TEST_F(SerialEnum, NoPortsGiveTheEmptyTextAndAnEmptyNameMatchesNothing) {
    fake::SetRegistry(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\"
        "Portless]\n\"Port\"=\":\"\n");
    char buffer[4] = "xyz";
    ASSERT_EQ(0, SerialEnumPorts(buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    EXPECT_TRUE(Logged("CSvComSerial::EnumPorts - ", "No serial ports"));
    EXPECT_TRUE(Logged("CSvComSerial::EnumPorts", "END"));
    ASSERT_EQ(0, SerialEnumPrinters(nullptr, buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    ASSERT_EQ(0, SerialEnumPrinters("", buffer, sizeof buffer));
    EXPECT_STREQ("", buffer);
    // Even an empty list needs the terminator's place.
    std::strcpy(buffer, "xyz");
    EXPECT_EQ(3, SerialEnumPorts(buffer, 0));
    EXPECT_EQ(3, SerialEnumPrinters(nullptr, buffer, 0));
    EXPECT_STREQ("xyz", buffer);
    EXPECT_EQ(256, InitSerialPort("", 9600, 0, 8, 0, 2));
    EXPECT_EQ(512, InitSerialPrinter(""));
}

TEST_F(SerialEnum, AnUnopenableKeyGives1WithThePlatformError) {
    char buffer[64];
    // The count of values opens the key once before the listing does.
    fake::FailCall("RegOpenKeyExA", plat::kErrorAccessDenied, 1, 1);
    EXPECT_EQ(1, SerialEnumPorts(buffer, sizeof buffer));
    EXPECT_TRUE(Logged("CSvComSerial::EnumPorts - ",
                       "Error opening registry key: Hardware\\Devicemap\\Serialcomm\\ "));
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(static_cast<int>(plat::kErrorAccessDenied), error);
    // The printers key: the second open is the first printer's listing.
    fake::FailCall("RegOpenKeyExA", plat::kErrorAccessDenied, 1, 1);
    EXPECT_EQ(1, SerialEnumPrinters("COM3", buffer, sizeof buffer));
}

TEST_F(SerialEnum, PrintersAreListedForTheirExactPort) {
    char buffer[64];
    ASSERT_EQ(0, SerialEnumPrinters("COM3", buffer, sizeof buffer));
    EXPECT_STREQ("Receipt|Fiscal", buffer);
    EXPECT_TRUE(Logged("CSvComSerial::EnumPrinters - ", "Printers found: Receipt|Fiscal "));
    for (const char* port : {"com3", "COM3:", "COM7"}) {
        ASSERT_EQ(0, SerialEnumPrinters(port, buffer, sizeof buffer)) << port;
        EXPECT_STREQ("", buffer) << port;
    }
    EXPECT_TRUE(Logged("CSvComSerial::EnumPrinters - ", "No printers found"));
    EXPECT_EQ(3, SerialEnumPrinters("COM3", buffer, 14));
    ASSERT_EQ(0, SerialEnumPrinters("COM3", buffer, 15));
}

TEST_F(SerialEnum, AllSerialPrintersComeInPortOrder) {
    char buffer[64];
    ASSERT_EQ(0, SerialEnumPrinters(nullptr, buffer, sizeof buffer));
    EXPECT_STREQ("Kitchen|Receipt|Fiscal", buffer);
    EXPECT_TRUE(Logged("CSvComSerial::EnumPrinters - ", "Searching all serial printers"));
}

TEST_F(SerialEnum, APrinterWhoseNameCannotBeReadIsPassedOver) {
    // Windows: a printer named outside the ANSI code page, here the first
    // printer key (Receipt, on COM3).
    char buffer[64];
    fake::FailCall("RegEnumKeyA", plat::kErrorNoUnicodeTranslation);
    ASSERT_EQ(0, SerialEnumPrinters("COM3", buffer, sizeof buffer));
    EXPECT_STREQ("Fiscal", buffer);
    fake::FailCall("RegEnumKeyA", plat::kErrorNoUnicodeTranslation);
    EXPECT_EQ(0, InitSerialPrinter("Fiscal"));
}

TEST_F(SerialEnum, APortValueThatIsNotTextGives2) {
    fake::SetRegistry(std::string(serial_testing::kRegistry) +
                      "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers"
                      "\\Broken]\n\"Port\"=dword:00000001\n");
    char buffer[64];
    EXPECT_EQ(2, SerialEnumPrinters("COM1", buffer, sizeof buffer));
    EXPECT_TRUE(Logged("CSvComSerial::FindPrinters - ", "Error reading registry value"));
    EXPECT_EQ(512, InitSerialPrinter("Kitchen"));
}

TEST_F(SerialEnum, ListingsLeaveNoRegistryKeyOpen) {
    char buffer[64];
    ASSERT_EQ(0, SerialEnumPrinters(nullptr, buffer, sizeof buffer));
    ASSERT_EQ(0, InitSerialPrinter("Fiscal"));
    ASSERT_EQ(0, Open());
    EXPECT_EQ(fake::CallCount("RegOpenKeyExA"), fake::CallCount("RegCloseKey"));
}

}  // namespace
