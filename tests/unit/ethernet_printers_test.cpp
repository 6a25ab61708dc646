// Printers installed on Standard TCP/IP ports, read from the fake registry.
#include "tests/unit/ethernet_fixture.h"

namespace {

const char kPrinters[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const char kPorts[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP "
    "Port\\Ports\\";

std::string Printer(const std::string& name, const std::string& portLine) {
    return std::string(kPrinters) + name + "]\n" + portLine + "\n\n";
}
std::string Port(const std::string& name, const std::string& values) {
    return std::string(kPorts) + name + "]\n" + values + "\n";
}

class EthernetPrinters : public EthernetPort {
protected:
    void SetUp() override {
        EthernetPort::SetUp();
        fake::SetRegistry(
            "Windows Registry Editor Version 5.00\n\n" +
            Printer("Kitchen", "\"Port\"=\"IP_10.0.0.5\"") +
            Printer("Kitchen2", "\"Port\"=\"IP_10.0.0.5\"") +
            Printer("Counter", "\"Port\"=\"ip_10.0.0.6\"") + Printer("Usb", "\"Port\"=\"USB001\"") +
            Printer("NoPort", "\"Other\"=\"x\"") + Printer("EmptyPort", "\"Port\"=\"\"") +
            Printer("ByHost", "\"Port\"=\"HOST\"") + Printer("Nameless", "\"Port\"=\"NAMED\"") +
            Printer("Long", "\"Port\"=\"LONG\"") + Printer("NoAddress", "\"Port\"=\"BARE\"") +
            Printer("NoNumber", "\"Port\"=\"NONUM\"") +
            Port("IP_10.0.0.5", "\"IpAddress\"=\"10.0.0.5\"\n\"PortNumber\"=dword:000023dc") +
            Port("IP_10.0.0.6", "\"IpAddress\"=\"10.0.0.6\"\n\"PortNumber\"=dword:00002382") +
            Port("HOST",
                 "\"IpAddress\"=\"\"\n\"HostName\"=\"10.0.0.7\"\n\"PortNumber\"=dword:0000238c") +
            Port("NAMED", "\"HostName\"=\"printer.shop\"\n\"PortNumber\"=dword:0000238c") +
            Port("LONG", "\"HostName\"=\"0000000010.0.0.7\"\n\"PortNumber\"=dword:0000238c") +
            Port("BARE", "\"PortNumber\"=dword:0000238c") +
            Port("NONUM", "\"IpAddress\"=\"10.0.0.8\""));
    }
};

TEST_F(EthernetPrinters, ListsTheFirstPrinterOfEachTcpPortIgnoringCase) {
    char list[256];
    ASSERT_EQ(0, EthEnumPrinters(list, sizeof list));
    EXPECT_STREQ("Kitchen|Counter|ByHost|Nameless|Long|NoAddress|NoNumber", list);
    EXPECT_TRUE(Logged("Ethernet printer found:Counter\n"));

    // A port whose name cannot be read is skipped, not taken as "" (which
    // would match the printers without a Port value).
    fake::FailCall("RegEnumKeyA", plat::kErrorNoMoreItems);
    ASSERT_EQ(0, EthEnumPrinters(list, sizeof list));
    EXPECT_STREQ("Counter|ByHost|Nameless|Long|NoAddress|NoNumber", list);
}

TEST_F(EthernetPrinters, TheListNeedsRoomForNamesSeparatorsAndTerminator) {
    fake::SetRegistry("REGEDIT4\n\n" + Printer("Printer", "\"Port\"=\"A\"") +
                      Printer("Drawer1", "\"Port\"=\"B\"") + Port("A", "") + Port("B", ""));
    char list[16];
    EXPECT_EQ(3, EthEnumPrinters(list, 15));
    EXPECT_TRUE(Logged("Buffer size parameter can not contain the result\n"));
    ASSERT_EQ(0, EthEnumPrinters(list, 16));
    EXPECT_STREQ("Printer|Drawer1", list);
}

TEST_F(EthernetPrinters, NoTcpPortsGiveAnEmptyList) {
    fake::SetRegistry("REGEDIT4\n\n" + Printer("Usb", "\"Port\"=\"USB001\"") +
                      std::string(kPorts).substr(0, sizeof kPorts - 2) + "]\n");
    char list[4] = "xyz";
    EXPECT_EQ(3, EthEnumPrinters(list, 0));
    ASSERT_EQ(0, EthEnumPrinters(list, 1));
    EXPECT_STREQ("", list);
    EXPECT_TRUE(Logged("Ethernet printers list is empty\n"));
}

TEST_F(EthernetPrinters, AnUnreadablePortsKeyGives1) {
    fake::FailCall("RegOpenKeyExA", plat::kErrorAccessDenied, 1, 1);
    char list[64];
    EXPECT_EQ(1, EthEnumPrinters(list, sizeof list));
    EXPECT_TRUE(
        Logged("Error opening registry key: SYSTEM\\CurrentControlSet\\Control\\Print\\"
               "Monitors\\Standard TCP/IP Port\\Ports\\ \n"));
    EXPECT_EQ(static_cast<int>(plat::kErrorAccessDenied), LastError());
}

TEST_F(EthernetPrinters, InitialisesByNameWithTheAddressAndPortOfItsTcpPort) {
    ASSERT_EQ(0, InitEthTCPPrinter("Kitchen"));
    EXPECT_TRUE(Logged("Printer name:Kitchen, IP:10.0.0.5, Port:9180\n"));
    char address[20];
    int port = 0;
    ASSERT_EQ(0, GetEthIpAndPort(address, &port));
    EXPECT_STREQ("10.0.0.5", address);
    EXPECT_EQ(9180, port);
    EXPECT_EQ(0, Open());

    ASSERT_EQ(0, Close());
    ASSERT_EQ(0, InitEthTCPPrinter("ByHost"));  // empty IpAddress: HostName is used
    ASSERT_EQ(0, GetEthIpAndPort(address, &port));
    EXPECT_STREQ("10.0.0.7", address);
}

TEST_F(EthernetPrinters, InitialisationByNameFailuresGiveTheirCodesAndForgetTheMode) {
    struct Case {
        const char* name;
        int code;
        const char* message;
    } cases[] = {
        {"kitchen", 218, "Impossibile to find an installed TCP printer with the name kitchen\n"},
        {"Counter", 220, "Impossibile to find a valid port name ip_10.0.0.6 for the TCP printer\n"},
        {"Usb", 220, "Impossibile to find a valid port name USB001 for the TCP printer\n"},
        {"EmptyPort", 219, "The port name of the printer to init is not valid\n"},
        {"NoPort", 2, "Error reading registry value\n"},
        {"NoAddress", 2, "Error reading Ip address of TCP printer from registry\n"},
        {"NoNumber", 2, "Error reading TCP port number of TCP printer from registry\n"},
        {"Nameless", 205, "Init failed: IP format not correct \n"},
        {"Long", 205, "Init failed: IP format not correct \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(0, InitEthTCP("127.0.0.1", 9100));
        EXPECT_EQ(c.code, InitEthTCPPrinter(c.name));
        EXPECT_TRUE(Logged(c.message));
        EXPECT_EQ(201, Open());
    }

    // Values that do not fit their type read as missing: a Port text of
    // 1024 bytes without a terminator, a PortNumber of 3 bytes.
    std::string unterminated;
    for (int i = 0; i < 1024; ++i) unterminated += i == 0 ? "50" : ",50";
    fake::SetRegistry("REGEDIT4\n\n" + Printer("Unterminated", "\"Port\"=hex(1):" + unterminated) +
                      Printer("Short", "\"Port\"=\"SHORT\"") +
                      Port("SHORT", "\"IpAddress\"=\"10.0.0.9\"\n\"PortNumber\"=hex(4):01,02,03"));
    EXPECT_EQ(2, InitEthTCPPrinter("Unterminated"));
    EXPECT_EQ(2, InitEthTCPPrinter("Short"));
    EXPECT_TRUE(Logged("Error reading TCP port number of TCP printer from registry\n"));
}

TEST_F(EthernetPrinters, AnUnreadablePrintersKeyGives1) {
    fake::FailCall("RegOpenKeyExA", plat::kErrorAccessDenied, 1, 1);
    EXPECT_EQ(1, InitEthTCPPrinter("Kitchen"));
    EXPECT_EQ(201, Open());
}

TEST_F(EthernetPrinters, TheAddressInUseIsATcpQuery) {
    ASSERT_EQ(0, InitEthUDP("127.0.0.1", 1, 2));
    char address[20];
    int port = 0;
    EXPECT_EQ(201, GetEthIpAndPort(address, &port));
    EXPECT_TRUE(Logged("CSvComEth::GetIpAndPort -  Open ethernet failed: no init was done\n"));
    ASSERT_EQ(0, InitEthTCP("127.0.0.1", 65536 + 9100));
    ASSERT_EQ(0, GetEthIpAndPort(address, &port));
    EXPECT_TRUE(Logged("IP: 127.0.0.1 , Port:74636 \n"));
}

}  // namespace
