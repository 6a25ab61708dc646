// UDP datagrams to and from a device served on loopback by the test.
#include <cstdlib>

#include "tests/integration/ethernet_fixture.h"

namespace {

using namespace std::chrono_literals;

class UdpEthernet : public LoopbackEthernet {
protected:
    void Connect(loopback::UdpPeer& device) {
        localPort = loopback::FreeUdpPort();
        ASSERT_EQ(0, InitEthUDP("127.0.0.1", device.Port(), localPort));
        ASSERT_EQ(0, Open());
    }
    std::uint16_t localPort = 0;
};

TEST_F(UdpEthernet, DatagramsGoOutAndRepliesComeBackWithTheSenderAddress) {
    loopback::UdpPeer device;
    Connect(device);
    char ip[16] = "x";
    ASSERT_EQ(0, AdvGetEthIpReceived(ip, 16));
    EXPECT_STREQ("", ip);

    ASSERT_EQ(0, WriteText("ping"));
    EXPECT_EQ("ping", device.Receive(2000ms));
    device.SendTo(localPort, "pong");
    char buffer[64];
    unsigned count = 0;
    ASSERT_EQ(0, Read(buffer, 64, &count));
    EXPECT_EQ("pong", std::string(buffer, count));
    ASSERT_EQ(0, AdvGetEthIpReceived(ip, 16));
    EXPECT_STREQ("127.0.0.1", ip);
}

TEST_F(UdpEthernet, AWriteLargerThanAPacketGoesAsSeveralDatagrams) {
    loopback::UdpPeer device;
    Connect(device);
    std::string bytes = Pattern(2500);
    ASSERT_EQ(0, WriteText(bytes));
    EXPECT_TRUE(device.Receive(2000ms) == bytes.substr(0, 1024));
    EXPECT_TRUE(device.Receive(2000ms) == bytes.substr(1024, 1024));
    EXPECT_TRUE(device.Receive(2000ms) == bytes.substr(2048));
    // A datagram over IPv4 carries at most 65507 bytes.
    ASSERT_EQ(0, SetPacketSize(65508, 1024));
    EXPECT_EQ(212, WriteText(Pattern(65508)));
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(10040, error);
}

TEST_F(UdpEthernet, ReadsTimeOutAfterTheReceiveTimeOutAndRefuseOverlongDatagrams) {
    loopback::UdpPeer device;
    ASSERT_EQ(0, SetEthTimeout(1000, 100));
    Connect(device);
    char buffer[64];
    unsigned count = 0;
    auto start = Clock::now();
    EXPECT_EQ(214, Read(buffer, 64, &count));
    EXPECT_GE(MillisecondsSince(start), 90);
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(10060, error);

    device.SendTo(localPort, Pattern(100));
    EXPECT_EQ(214, Read(buffer, 64, &count));  // 100 bytes do not fit a read of 64
    GetLastErrorComm(&error);
    EXPECT_EQ(10040, error);
}

// A device that answers to the request's source port is heard, and a
// datagram that fits the caller's buffer is read whole, whatever the read
// packet size (1024 by default).
TEST_F(UdpEthernet, AnswersToTheSourcePortArriveAndFitDatagramsAreReadWhole) {
    loopback::UdpPeer device;
    Connect(device);
    ASSERT_EQ(0, WriteText("status?"));
    ASSERT_EQ("status?", device.Receive(2000ms));
    EXPECT_EQ(localPort, device.SenderPort());
    std::string answer = Pattern(1500);
    device.SendTo(device.SenderPort(), answer);
    char buffer[4096];
    unsigned count = 0;
    ASSERT_EQ(0, Read(buffer, sizeof buffer, &count));
    EXPECT_EQ(answer, std::string(buffer, count));
}

// Linux cuts a socket wait with a time-out short on a handled signal; the
// read must neither fail with WSAEINTR nor wait past its own time-out.
TEST_F(UdpEthernet, SignalsNeitherEndAReadNorStretchItsTimeOut) {
    loopback::UdpPeer device;
    ASSERT_EQ(0, SetEthTimeout(1000, 10000));
    Connect(device);
    char buffer[64];
    unsigned count = 0;
    SignalStream signals;
    std::thread answer([&] {
        if (signals.WaitForSignals(3)) device.SendTo(localPort, "late");
    });
    EXPECT_EQ(0, Read(buffer, 64, &count));
    answer.join();
    EXPECT_EQ("late", std::string(buffer, count));

    ASSERT_EQ(0, SetEthTimeout(1000, 300));
    auto start = Clock::now();
    EXPECT_EQ(214, Read(buffer, 64, &count));
    long long waited = MillisecondsSince(start);
    signals.Stop();
    EXPECT_GE(waited, 290);
    EXPECT_LT(waited, 3000);
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(10060, error);
}

TEST_F(UdpEthernet, ALocalPortInUseCannotBeBound) {
    loopback::UdpPeer device;
    loopback::UdpPeer other;
    ASSERT_EQ(0, InitEthUDP("127.0.0.1", device.Port(), other.Port()));
    EXPECT_EQ(210, Open());
    EXPECT_EQ(206, Close());
}

TEST_F(UdpEthernet, NoSocketLeaksAcrossOpensClosesAndFailures) {
    loopback::UdpPeer device;
    loopback::UdpPeer other;
    int before = loopback::OpenDescriptors();
    for (int i = 0; i < 5; ++i) {
        Connect(device);
        ASSERT_EQ(0, Close());
    }
    ASSERT_EQ(0, InitEthUDP("127.0.0.1", device.Port(), other.Port()));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(210, Open());
    Connect(device);
    ASSERT_EQ(0, DeleteAllLayerItems());
    EXPECT_EQ(before, loopback::OpenDescriptors());
}

}  // namespace
