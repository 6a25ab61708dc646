// Ethernet set-up through the exported interface on the fake sockets:
// addresses, time-outs, opening and closing, and every socket failure there.
#include "tests/unit/ethernet_fixture.h"

namespace {

using EthernetSetup = EthernetPort;

TEST_F(EthernetSetup, AcceptsDottedAndBroadcastAddressesAndRefusesHostNames) {
    EXPECT_EQ(0, InitEthTCP("255.255.255.255", 9100));
    EXPECT_EQ(0, InitEthUDP("255.255.255.255", 1, 2));
    EXPECT_EQ(0, InitEthTCP("192.168.0.10", 9100));
    EXPECT_EQ(205, InitEthTCP("printer.local", 9100));
    EXPECT_EQ(205, VbInitEthTCP("printer.local", 9100));
    EXPECT_EQ(0, VbInitEthUDP("127.0.0.1", 1, 2));
    EXPECT_EQ(205, VbInitEthUDP("printer.local", 1, 2));
    EXPECT_TRUE(Logged("CSvComEth::InitTCPIp -  Init failed: IP format not correct \n"));
    // The refused address also forgets the earlier successful one.
    EXPECT_EQ(201, Open());
    EXPECT_TRUE(Logged("CSvComEth::OpenEth -  Open ethernet failed: no init was done\n"));
    char address[20];
    int port = 0;
    EXPECT_EQ(201, GetEthIpAndPort(address, &port));
}

TEST_F(EthernetSetup, AnAddressTooLongForItsFieldIsRefusedRatherThanCut) {
    // The parser would read both (leading zeros); a leading zero is refused
    // anyway, and a text too long for the field without being cut.
    EXPECT_EQ(205, InitEthTCP("0000000000127.0.0.1", 9100));
    EXPECT_TRUE(
        Logged("an address part starts with 0 (read as octal or hex): 0000000000127.0.0.1"));
    char address[20];
    int port = 0;
    EXPECT_EQ(205, InitEthTCP("00000000000127.0.0.1", 9100));
    EXPECT_EQ(205, InitEthUDP("00000000000127.0.0.1", 1, 2));
    EXPECT_EQ(201, GetEthIpAndPort(address, &port));
}

TEST_F(EthernetSetup, InitWhileConnectedIsRefusedAndTheConnectionKeepsWorking) {
    OpenTcp();
    EXPECT_EQ(200, InitEthTCP("10.0.0.1", 1));
    EXPECT_EQ(200, InitEthUDP("10.0.0.1", 1, 2));
    EXPECT_EQ(200, InitEthTCPPrinter("Any"));
    EXPECT_TRUE(Logged("Init failed: a TCP connection is already active\n"));
    char address[20];
    int port = 0;
    ASSERT_EQ(0, GetEthIpAndPort(address, &port));
    EXPECT_STREQ("127.0.0.1", address);
    EXPECT_EQ(9100, port);
    EXPECT_EQ(0, WriteText("ok"));
    EXPECT_EQ("ok", fake::Sent());
}

TEST_F(EthernetSetup, OpenTwiceAndCloseTwiceAreRefusedAndReopeningNeedsNoInit) {
    OpenTcp();
    EXPECT_EQ(202, Open());
    EXPECT_TRUE(Logged("Open ethernet failed: a connection is already active\n"));
    EXPECT_EQ(0, Close());
    EXPECT_EQ(206, Close());
    EXPECT_TRUE(Logged(
        "CSvComEth::CloseEth -  Impossible to perform the operation: socket and connections are "
        "not opened\n"));
    EXPECT_EQ(0, Open());
    EXPECT_EQ(1, fake::OpenSockets());
    EXPECT_EQ(0, Close());
    EXPECT_EQ(0, fake::OpenSockets());
}

TEST_F(EthernetSetup, FailedTcpOpensReportTheirCauseAndLeakNoSocket) {
    ASSERT_EQ(0, InitEthTCP("127.0.0.1", 9100));
    fake::FailCall("socket", plat::kWsaEmfile);
    EXPECT_EQ(207, Open());
    EXPECT_EQ(plat::kWsaEmfile, LastError());
    EXPECT_TRUE(Logged("Socket creation is failed \n"));

    fake::ConnectTimesOut(1);
    EXPECT_EQ(215, Open());
    EXPECT_EQ(plat::kWsaEtimedout, LastError());
    EXPECT_TRUE(Logged("Open TCP has failed: impossibile to connect the socket \n"));

    fake::ConnectRefused(1);
    EXPECT_EQ(215, Open());
    EXPECT_EQ(plat::kWsaEconnrefused, LastError());

    // No route: connect fails at once, and that is the error recorded.
    fake::FailCall("connect", plat::kWsaEnetunreach);
    EXPECT_EQ(215, Open());
    EXPECT_EQ(plat::kWsaEnetunreach, LastError());

    fake::FailCall("selectConnect", plat::kWsaEnotsock);
    EXPECT_EQ(215, Open());
    EXPECT_EQ(0, fake::OpenSockets());
    EXPECT_EQ(206, WriteText("x"));
    EXPECT_EQ(0, Open());
}

// inet_addr would read 127.000.000.010 as 127.0.0.8, stop at the blank
// of "127.0.0.2 kitchen" and read 192.168.1 as 192.168.0.1.
TEST_F(EthernetSetup, LeadingZerosAndTrailingTextAreRefusedWithTheirReason) {
    struct Case {
        const char* text;
        int result;
        const char* reason;
    } cases[] = {
        {"127.000.000.010", 205, "an address part starts with 0 (read as octal or hex)"},
        {"192.168.001.050", 205, "an address part starts with 0 (read as octal or hex)"},
        {"0x7f.0.0.1", 205, "an address part starts with 0 (read as octal or hex)"},
        {"127.0.0.2 kitchen", 205, "text after the address"},
        {"10.0.0.1.", 205, "text after the address"},
        {"192.168.1", 205, "the address has fewer than 4 parts"},
        {"2130706433", 205, "the address has fewer than 4 parts"},
        {"192.168.1.50", 0, nullptr},
        {"10.0.0.0", 0, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, InitEthTCP(c.text, 9100)) << c.text;
        EXPECT_EQ(c.result, InitEthUDP(c.text, 1, 2)) << c.text;
        if (c.reason != nullptr) {
            EXPECT_TRUE(Logged(std::string(c.reason) + ": " + c.text + "\n")) << c.text;
        }
    }
}

TEST_F(EthernetSetup, FailedUdpOpensReportTheirCauseAndLeakNoSocket) {
    ASSERT_EQ(0, InitEthUDP("0.0.0.0", 5000, 5001));
    fake::FailCall("socket", plat::kWsaEnobufs);  // the one socket, bound and sending
    EXPECT_EQ(207, Open());
    EXPECT_EQ(plat::kWsaEnobufs, LastError());

    fake::FailCall("setsockopt", plat::kWsaEacces);
    EXPECT_EQ(208, Open());
    EXPECT_TRUE(Logged("Error socket: setsockoption() failed\n"));

    fake::FailCall("bind", plat::kWsaEaddrinuse);
    EXPECT_EQ(210, Open());
    EXPECT_EQ(plat::kWsaEaddrinuse, LastError());
    EXPECT_TRUE(Logged("Socket bind error \n"));
    EXPECT_EQ(0, fake::OpenSockets());
    EXPECT_EQ(206, Close());
}

TEST_F(EthernetSetup, UdpToTheNullAddressBroadcastsAndBindsTheLocalPort) {
    OpenUdp("0.0.0.0");
    EXPECT_EQ(1, fake::LastOption(plat::kSolSocket, plat::kSoBroadcast));
    plat::SockAddrIn bound = fake::LastBound();
    EXPECT_EQ(5001, plat::ntohs(bound.sin_port));
    EXPECT_EQ(plat::kInaddrAny, bound.sin_addr);
    ASSERT_EQ(0, WriteText("hello"));
    plat::SockAddrIn to = fake::LastDestination();
    EXPECT_EQ(plat::kInaddrBroadcast, to.sin_addr);
    EXPECT_EQ(5000, plat::ntohs(to.sin_port));
}

TEST_F(EthernetSetup, UdpToAPlainAddressDoesNotBroadcast) {
    OpenUdp("127.0.0.1");
    EXPECT_EQ(-1, fake::LastOption(plat::kSolSocket, plat::kSoBroadcast));
    ASSERT_EQ(0, WriteText("x"));
    EXPECT_EQ(plat::inet_addr("127.0.0.1"), fake::LastDestination().sin_addr);
}

TEST_F(EthernetSetup, AFailedCloseKeepsTheConnectionAndCanBeRetried) {
    OpenTcp();
    fake::FailCall("closesocket", plat::kWsaEnetdown);
    EXPECT_EQ(206, Close());
    EXPECT_EQ(plat::kWsaEnetdown, LastError());
    EXPECT_EQ(202, Open());
    EXPECT_EQ(0, Close());

    OpenUdp();
    fake::FailCall("closesocket", plat::kWsaEnetdown);
    EXPECT_EQ(217, Close());
    EXPECT_TRUE(Logged("Impossibile to close sockets \n"));
    EXPECT_EQ(1, fake::OpenSockets());
    EXPECT_EQ(0, Close());
    EXPECT_EQ(0, fake::OpenSockets());
}

// Each socket once: a second close of the same number could close a
// socket or file that another thread has opened meanwhile.
TEST_F(EthernetSetup, DeletingAConnectedPortClosesItsSockets) {
    OpenUdp();
    EXPECT_EQ(1, fake::OpenSockets());
    EXPECT_EQ(0, DeleteAllLayerItems());
    EXPECT_EQ(0, fake::OpenSockets());

    CreatePort(LOG_ERROR);
    OpenTcp();
    int closes = fake::CallCount("closesocket");
    EXPECT_EQ(0, DeleteAllLayerItems());
    EXPECT_EQ(0, fake::OpenSockets());
    EXPECT_EQ(closes + 1, fake::CallCount("closesocket"));
}

TEST_F(EthernetSetup, ZeroTimeOutsAreRefusedAndChangeNothing) {
    EXPECT_EQ(204, SetEthTimeout(0, 5000));
    EXPECT_EQ(204, SetEthTimeout(5000, 0));
    EXPECT_EQ(204, SetEthConnTimeout(0));
    EXPECT_TRUE(Logged("Ethernet timeout values cannot be =0 \n"));
    int send = 0, receive = 0, connect = 0;
    ASSERT_EQ(0, GetEthTimeout(&send, &receive));
    ASSERT_EQ(0, GetEthConnTimeout(&connect));
    EXPECT_EQ(10000, send);
    EXPECT_EQ(10000, receive);
    EXPECT_EQ(10000, connect);

    EXPECT_EQ(0, SetEthTimeout(300, 400));
    EXPECT_EQ(0, SetEthConnTimeout(1500));
    EXPECT_TRUE(Logged(
        "Timeout values for ethernet communication setted to: [send timeout, receive timeout] = "
        "[300 , 400 ]\n"));
    ASSERT_EQ(0, GetEthTimeout(&send, &receive));
    ASSERT_EQ(0, GetEthConnTimeout(&connect));
    EXPECT_EQ(300, send);
    EXPECT_EQ(400, receive);
    EXPECT_EQ(1500, connect);
}

TEST_F(EthernetSetup, OtherLinkTypesAndUnsupportedCallsAreRefused) {
    EXPECT_EQ(221, Clean(1, 1));
    EXPECT_EQ(0, IsDeviceAvailable());
    int id = 0;
    ASSERT_EQ(0, CreateCommunicationPort(0, LOG_MODE_NONE, 0, nullptr, &id));
    EXPECT_EQ(203, InitEthTCP("127.0.0.1", 9100));
    EXPECT_EQ(5, InitEthTCP(nullptr, 9100));
}

}  // namespace
