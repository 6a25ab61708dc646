// Choosing, opening and configuring a serial port through the exported
// entry points, against the fake platform.
#include <cstring>

#include "platform/device.h"
#include "tests/unit/serial_fixture.h"

namespace {

using serial_testing::SerialFake;
using SerialSetup = SerialFake;

const char* const kInit = "CSvComSerial::InitParameters - ";
const char* const kOpen = "CSvComSerial::OpenSerial - ";

TEST_F(SerialSetup, AllWrongSettingsGive31AndLeaveThePortUninitialised) {
    EXPECT_EQ(31, InitSerialPort("COM3", 300, 3, 6, 1, 5));
    EXPECT_TRUE(Logged(kInit, "BaudRate not setted, wrong parameter"));
    EXPECT_TRUE(Logged(kInit, "Parity not setted, wrong parameter"));
    EXPECT_TRUE(Logged(kInit, "Byte Size not setted, wrong parameter"));
    EXPECT_TRUE(Logged(kInit, "Stop Byte not setted, wrong parameter"));
    EXPECT_TRUE(Logged(kInit, "Flux Control not setted, wrong parameter"));
    EXPECT_EQ(101, Open());
    EXPECT_TRUE(Logged(kOpen, "Open failed: serial device has not been initalized"));
}

TEST_F(SerialSetup, EachWrongSettingAddsItsOwnBit) {
    EXPECT_EQ(1, InitSerialPort("COM3", 9601, 0, 8, 0, 2));
    EXPECT_EQ(2, InitSerialPort("COM3", 9600, -1, 8, 0, 2));
    EXPECT_EQ(4 + 16, InitSerialPort("COM3", 9600, 0, 9, 0, 3));
    EXPECT_EQ(8, InitSerialPort("COM3", 115200, 2, 7, 1, 1));
    EXPECT_EQ(0, InitSerialPort("COM3", 115200, 2, 7, 2, 1));
    EXPECT_TRUE(Logged(kInit, "BaudRate setted to 115200 "));
    EXPECT_TRUE(Logged(kInit, "Parity setted to Even "));
    EXPECT_TRUE(Logged(kInit, "Byte Size setted to 7 "));
    EXPECT_TRUE(Logged(kInit, "Stop Byte setted to 2 "));
    EXPECT_TRUE(Logged(kInit, "Flux Control setted to Xon/Xoff "));
    int baud = 0, parity = 0, size = 0, stops = 0, flow = 0;
    ASSERT_EQ(0, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    EXPECT_EQ(115200, baud);
    EXPECT_EQ(2, parity);
    EXPECT_EQ(7, size);
    EXPECT_EQ(2, stops);
    EXPECT_EQ(1, flow);
}

TEST_F(SerialSetup, PortNamesMustMatchExactly) {
    for (const char* name : {"com3", "COM3:", "COM", "COM33", ""}) {
        EXPECT_EQ(256, InitSerialPort(name, 9600, 0, 8, 0, 2)) << name;
    }
    EXPECT_TRUE(Logged("CSvComSerial::InitPort - ", "Init failed: comm port com3 not found"));
    char port[1024] = "untouched";
    EXPECT_EQ(101, GetSerialPort(port));
    EXPECT_STREQ("untouched", port);
    EXPECT_EQ(101, Open());
}

TEST_F(SerialSetup, InitialisingAnOpenPortIsRefusedAndChangesNothing) {
    OpenCom3();
    EXPECT_EQ(1024, InitSerialPort("COM1", 9600, 0, 8, 0, 2));
    EXPECT_EQ(1024, InitSerialPrinter("Kitchen"));
    char port[1024] = {};
    ASSERT_EQ(0, GetSerialPort(port));
    EXPECT_STREQ("COM3", port);
    EXPECT_EQ(102, Open());
    EXPECT_TRUE(Logged(kOpen, "Serial device already opened"));
}

TEST_F(SerialSetup, PrinterChoosesItsPortAndKeepsTheDriverSettings) {
    ASSERT_EQ(0, InitSerialPrinter("Receipt"));
    EXPECT_TRUE(Logged("CSvComSerial::InitPrinter - ", "Try to init printer Receipt"));
    EXPECT_TRUE(Logged("CSvComSerial::InitPrinter", "END"));
    char port[1024] = {};
    ASSERT_EQ(0, GetSerialPort(port));
    EXPECT_STREQ("COM3", port);
    int baud = 0, parity = 0, size = 0, stops = 0, flow = 0;
    EXPECT_EQ(116, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    ASSERT_EQ(0, Open());
    EXPECT_EQ(9600u, Com3().state.BaudRate);
    EXPECT_EQ(plat::kDtrControlEnable, Com3().state.fDtrControl);
    ASSERT_EQ(0, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    EXPECT_EQ(9600, baud);
    EXPECT_EQ(8, size);
    EXPECT_EQ(2, flow);
}

TEST_F(SerialSetup, PrinterNamesMustMatchExactlyAndOnlySerialPrintersCount) {
    for (const char* name : {"receipt", "Office", "Receip", "Nowhere"}) {
        EXPECT_EQ(512, InitSerialPrinter(name)) << name;
    }
    EXPECT_TRUE(Logged("CSvComSerial::InitPrinter - ", "Init failed: printer Office not found"));
    EXPECT_EQ(101, Open());
}

TEST_F(SerialSetup, UnreadablePrinterPortGives4096) {
    // Calls made by the listing that precedes the printer's own look-up.
    char list[1024];
    int opensBefore = fake::CallCount("RegOpenKeyExA");
    int queriesBefore = fake::CallCount("RegQueryValueExA");
    ASSERT_EQ(0, SerialEnumPrinters(nullptr, list, sizeof list));
    int listingOpens = fake::CallCount("RegOpenKeyExA") - opensBefore;
    int listingQueries = fake::CallCount("RegQueryValueExA") - queriesBefore;

    fake::FailCall("RegOpenKeyExA", plat::kErrorAccessDenied, 1, listingOpens);
    EXPECT_EQ(4096, InitSerialPrinter("Receipt"));
    EXPECT_TRUE(Logged("CSvComSerial::InitPrinter - ",
                       "Error opening registry key: "
                       "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ "));
    fake::FailCall("RegQueryValueExA", plat::kErrorAccessDenied, 1, listingQueries);
    EXPECT_EQ(4096, InitSerialPrinter("Receipt"));
    EXPECT_TRUE(Logged("CSvComSerial::InitPrinter - ", "Error reading registry value"));
    EXPECT_EQ(101, Open());
}

TEST_F(SerialSetup, OpenOnNtDefinesTheLinkAndCloseRemovesIt) {
    OpenCom3();
    EXPECT_EQ(serial_testing::kCom3Device, fake::DosDeviceTarget("LinkToSerial3"));
    EXPECT_TRUE(Logged(kOpen, "System version: 0x000012b6 (Microsoft Windows 7)"));
    EXPECT_TRUE(Logged(kOpen, "Serial link: \\\\.\\LinkToSerial3"));
    EXPECT_TRUE(Logged(kOpen, "Com port succesfully opened"));
    EXPECT_EQ(0u, Com3().openShareMode);
    EXPECT_EQ(plat::kFileFlagWriteThrough | plat::kFileFlagNoBuffering, Com3().openFlags);
    EXPECT_TRUE(Com3().open);
    ASSERT_EQ(0, Close());
    EXPECT_FALSE(Com3().open);
    EXPECT_EQ("", fake::DosDeviceTarget("LinkToSerial3"));
}

TEST_F(SerialSetup, AnExistingLinkIsUsedUnchanged) {
    fake::SetDosDevice("LinkToSerial3", serial_testing::kCom1Device);
    OpenCom3();
    EXPECT_TRUE(fake::SerialPort(serial_testing::kCom1Device).open);
    EXPECT_FALSE(Com3().open);
    EXPECT_EQ(0, fake::CallCount("DefineDosDeviceA"));
}

TEST_F(SerialSetup, Nt4LinksTargetTheDeviceNamespace) {
    fake::SetVersion(plat::kVerPlatformWin32Nt, 4, 0);
    ASSERT_EQ(0, InitCom3());
    EXPECT_EQ(106, Open());
    EXPECT_EQ(std::string("\\Device\\") + serial_testing::kCom3Device,
              fake::DosDeviceTarget("LinkToSerial3"));
    EXPECT_TRUE(Logged(kOpen, "System version: 0x004e5400 (Microsoft Windows NT)"));
    EXPECT_TRUE(Logged(kOpen, "Open failed: invalid handle returned(Error 0x00000002)"));
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(2, error);
}

TEST_F(SerialSetup, SystemsOutsideNtOpenTheMappedDeviceWithoutALink) {
    struct Case {
        std::uint32_t platform, major, minor;
        const char* line;
    };
    const Case cases[] = {
        {plat::kVerPlatformWin32Windows, 4, 10, "System version: 0x0000005f ()"},
        {plat::kVerPlatformWin32Windows, 4, 90, "System version: 0x00004d45 ()"},
        {0, 5, 0, "System version: 0x00000000 ()"},
    };
    for (const Case& c : cases) {
        fake::SetVersion(c.platform, c.major, c.minor);
        OpenCom3();
        EXPECT_TRUE(Logged(kOpen, c.line)) << c.line;
        EXPECT_TRUE(Logged(kOpen, "Serial link: \\Device\\Serial2"));
        EXPECT_TRUE(Com3().open);
        ASSERT_EQ(0, Close());
    }
    EXPECT_EQ(0, fake::CallCount("DefineDosDeviceA"));
}

TEST_F(SerialSetup, NtVersionsHaveTheirCodes) {
    struct Case {
        std::uint32_t major, minor;
        const char* line;
    };
    const Case cases[] = {
        {5, 0, "System version: 0x0007d000 (Microsoft Windows 2000)"},
        {5, 1, "System version: 0x00585000 (Microsoft Windows XP)"},
        {5, 2, "System version: 0x00482000 (Microsoft Windows 2003)"},
        {6, 0, "System version: 0x000003f2 (Microsoft Windows Vista)"},
        {6, 2, "System version: 0x0000206a (Microsoft Windows 8)"},
        {6, 3, "System version: 0xffffffff (Microsoft Windows NEW)"},
        {10, 0, "System version: 0xffffffff (Microsoft Windows NEW)"},
    };
    for (const Case& c : cases) {
        fake::SetVersion(plat::kVerPlatformWin32Nt, c.major, c.minor);
        OpenCom3();
        EXPECT_TRUE(Logged(kOpen, c.line)) << c.line;
        EXPECT_TRUE(Com3().open);
        ASSERT_EQ(0, Close());
    }
}

TEST_F(SerialSetup, VersionFallsBackToTheBasicRecordAndFailsWith104) {
    ASSERT_EQ(0, InitCom3());
    fake::FailCall("GetVersionExA", plat::kErrorInvalidParameter, 2);
    ASSERT_EQ(0, Open());
    ASSERT_EQ(0, Close());
    fake::FailCall("GetVersionExA(basic)", plat::kErrorNotSupported);
    EXPECT_EQ(104, Open());
    EXPECT_TRUE(Logged(kOpen, "Impossibile to identify the system"));
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(static_cast<int>(plat::kErrorNotSupported), error);
}

TEST_F(SerialSetup, LinkFailuresGive105) {
    ASSERT_EQ(0, InitCom3());
    fake::FailCall("QueryDosDeviceA", plat::kErrorAccessDenied);
    EXPECT_EQ(105, Open());
    EXPECT_TRUE(Logged("CSvComSerial::CreateComPortLink - ",
                       "Error querying dos device: link not found and can not create it"));
    fake::FailCall("DefineDosDeviceA", plat::kErrorAccessDenied);
    EXPECT_EQ(105, Open());
    EXPECT_TRUE(Logged("CSvComSerial::CreateComPortLink - ",
                       "Symbolic link not exists: error creating it"));
    EXPECT_TRUE(Logged(kOpen, "Error during creation of symbolic link"));
    EXPECT_EQ(0, Open());
}

TEST_F(SerialSetup, APortThatLeftTheDeviceMapCannotBeOpened) {
    ASSERT_EQ(0, InitCom3());
    fake::FailCall("RegOpenKeyExA", plat::kErrorAccessDenied);
    EXPECT_EQ(105, Open());
    EXPECT_TRUE(Logged("CSvComSerial::GetTheLinkPathName - ",
                       "Error opening registry key: Hardware\\Devicemap\\Serialcomm\\ "));

    fake::SetRegistry(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
        "\"\\\\Device\\\\Serial0\"=\"COM1\"\n");
    EXPECT_EQ(105, Open());
    fake::SetVersion(plat::kVerPlatformWin32Windows, 4, 10);
    EXPECT_EQ(106, Open());
    EXPECT_TRUE(Logged("CSvComSerial::GetTheLinkPathName - ",
                       "Link device not found in registry for port COM3 "));
    EXPECT_TRUE(Logged(kOpen, "Serial link: "));
}

TEST_F(SerialSetup, PortNamesWhoseLinkWouldBeCutAreRefused) {
    fake::SetRegistry(R"(REGEDIT4

[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM]
"\\Device\\Serial12"="COM123"
"\\Device\\Serial13"="COM1234"
)");
    fake::AddSerialPort("\\Device\\Serial12");
    fake::AddSerialPort("\\Device\\Serial13");
    ASSERT_EQ(0, InitSerialPort("COM1234", 9600, 0, 8, 0, 2));
    EXPECT_EQ(105, Open());
    EXPECT_EQ(0, fake::CallCount("DefineDosDeviceA"));
    ASSERT_EQ(0, InitSerialPort("COM123", 9600, 0, 8, 0, 2));
    ASSERT_EQ(0, Open());
    EXPECT_EQ("\\Device\\Serial12", fake::DosDeviceTarget("LinkToSerial123"));
}

TEST_F(SerialSetup, LineStateFailuresLeaveThePortClosedAndReopenable) {
    ASSERT_EQ(0, InitCom3());
    fake::FailCall("SetCommState", plat::kErrorGenFailure);
    EXPECT_EQ(108, Open());
    EXPECT_TRUE(Logged(kOpen, "Open failed: error during SetCommState "));
    EXPECT_FALSE(Com3().open);
    fake::FailCall("SetCommTimeouts", plat::kErrorGenFailure);
    EXPECT_EQ(107, Open());
    EXPECT_TRUE(Logged(kOpen, "Open failed: error during SetCommTimeouts "));
    EXPECT_FALSE(Com3().open);
    EXPECT_EQ(103, Close());
    EXPECT_EQ(0, Open());
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(static_cast<int>(plat::kErrorGenFailure), error);
}

TEST_F(SerialSetup, OpenWritesTheLineStateOfEachFlowControl) {
    OpenCom3(1);
    plat::Dcb dcb = Com3().state;
    EXPECT_EQ(9600u, dcb.BaudRate);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(0, dcb.Parity);
    EXPECT_EQ(0, dcb.StopBits);
    EXPECT_EQ(1u, dcb.fOutX);
    EXPECT_EQ(1u, dcb.fInX);
    EXPECT_EQ(0u, dcb.fOutxCtsFlow);
    EXPECT_EQ(0x11, dcb.XonChar);
    EXPECT_EQ(0x13, dcb.XoffChar);
    EXPECT_EQ(plat::kDtrControlEnable, dcb.fDtrControl);
    EXPECT_EQ(0x0A, dcb.EvtChar);
    EXPECT_EQ(2048, dcb.XonLim);
    EXPECT_EQ(512, dcb.XoffLim);
    EXPECT_EQ(1u, dcb.fParity);  // kept from the driver
    plat::CommTimeouts t = Com3().timeouts;
    EXPECT_EQ(10u, t.ReadIntervalTimeout);
    EXPECT_EQ(10u, t.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(1000u, t.ReadTotalTimeoutConstant);
    EXPECT_EQ(100u, t.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(1000u, t.WriteTotalTimeoutConstant);
    int baud = 0, parity = 0, size = 0, stops = 0, flow = 0;
    ASSERT_EQ(0, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    EXPECT_EQ(1, flow);
    ASSERT_EQ(0, Close());

    ASSERT_EQ(0, InitSerialPort("COM3", 19200, 1, 7, 2, 0));
    ASSERT_EQ(0, Open());
    dcb = Com3().state;
    EXPECT_EQ(19200u, dcb.BaudRate);
    EXPECT_EQ(plat::kDtrControlHandshake, dcb.fDtrControl);
    EXPECT_EQ(plat::kRtsControlHandshake, dcb.fRtsControl);
    EXPECT_EQ(0u, dcb.fOutX);
    ASSERT_EQ(0, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
    EXPECT_EQ(0, flow);
    EXPECT_EQ(1, parity);
    EXPECT_EQ(2, stops);

    fake::FailCall("GetCommState", plat::kErrorGenFailure);
    EXPECT_EQ(115, GetSerialParameters(&baud, &parity, &size, &stops, &flow));
}

TEST_F(SerialSetup, TimeoutsHaveDefaultsAndApplyAtOnceWhileOpen) {
    int v[5] = {};
    ASSERT_EQ(0, GetSerialTimeout(&v[0], &v[1], &v[2], &v[3], &v[4]));
    EXPECT_EQ((std::vector<int>{10, 1000, 10, 1000, 100}), std::vector<int>(v, v + 5));
    OpenCom3();
    ASSERT_EQ(0, SetSerialTimeout(1, 2, 3, 4, 5));
    EXPECT_TRUE(Logged("CSvComSerial::SetTimeout",
                       "Timeout values setted to: [read interval, read constant, read "
                       "multiplier, constant, write multiplier] = [1 2 3 4 5]"));
    plat::CommTimeouts t = Com3().timeouts;
    EXPECT_EQ(1u, t.ReadIntervalTimeout);
    EXPECT_EQ(2u, t.ReadTotalTimeoutConstant);
    EXPECT_EQ(3u, t.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(4u, t.WriteTotalTimeoutConstant);
    EXPECT_EQ(5u, t.WriteTotalTimeoutMultiplier);
    fake::FailCall("SetCommTimeouts", plat::kErrorGenFailure);
    EXPECT_EQ(107, SetSerialTimeout(6, 7, 8, 9, 10));
}

TEST_F(SerialSetup, DtrAndRtsNeedAnEnabledControlMode) {
    EXPECT_EQ(103, AdvSetSerialDTR(1));
    OpenCom3(2);
    EXPECT_EQ(120, AdvSetSerialDTR(1));
    EXPECT_TRUE(
        Logged("CSvComSerial::SetDTR - ", "Impossibile to set/reset DTR: DTR control disabled"));
    EXPECT_EQ(121, AdvSetSerialRTS(0));
    EXPECT_TRUE(
        Logged("CSvComSerial::SetRTS - ", "Impossibile to set/reset DTR: RTS control disabled"));
    EXPECT_TRUE(Com3().escapes.empty());
}

TEST_F(SerialSetup, DtrAndRtsTurnHandshakeIntoEnable) {
    OpenCom3(0);
    ASSERT_EQ(0, AdvSetSerialDTR(1));
    ASSERT_EQ(0, AdvSetSerialRTS(0));
    ASSERT_EQ(0, AdvSetSerialDTR(0));
    EXPECT_EQ((std::vector<std::uint32_t>{plat::kSetDtr, plat::kClrRts, plat::kClrDtr}),
              Com3().escapes);
    EXPECT_EQ(plat::kDtrControlEnable, Com3().state.fDtrControl);
    EXPECT_EQ(plat::kRtsControlEnable, Com3().state.fRtsControl);
}

TEST_F(SerialSetup, DtrAndRtsReportEachPlatformFailure) {
    OpenCom3(1);
    fake::FailCall("GetCommState", plat::kErrorGenFailure);
    EXPECT_EQ(115, AdvSetSerialDTR(1));
    fake::FailCall("SetCommState", plat::kErrorGenFailure);
    EXPECT_EQ(108, AdvSetSerialRTS(1));
    fake::FailCall("EscapeCommFunction", plat::kErrorGenFailure);
    EXPECT_EQ(118, AdvSetSerialDTR(1));
    EXPECT_TRUE(
        Logged("CSvComSerial::SetDTR - ", "EscapeCommFunctions() error, SetDTR has failed"));
    fake::FailCall("EscapeCommFunction", plat::kErrorGenFailure);
    EXPECT_EQ(119, AdvSetSerialRTS(1));
    EXPECT_TRUE(
        Logged("CSvComSerial::SetRTS - ", "EscapeCommFunctions() error, SetRTS has failed"));
}

}  // namespace
