// The TCP client against a printer served on loopback by the test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/integration/ethernet_fixture.h"

namespace {

using namespace std::chrono_literals;
using loopback::TcpPrinter;

class TcpEthernet : public LoopbackEthernet {
protected:
    // Connected, and the printer has taken the connection.
    void Connect(TcpPrinter& printer) {
        ASSERT_EQ(0, InitEthTCP("127.0.0.1", printer.Port()));
        int before = printer.Connections();
        ASSERT_EQ(0, Open());
        ASSERT_TRUE(printer.WaitForConnections(before + 1, 5s));
    }
};

TEST_F(TcpEthernet, WritesArriveCompleteAndInOrder) {
    TcpPrinter printer;
    Connect(printer);
    std::string expected;
    for (std::size_t size :
         {std::size_t{1}, std::size_t{300}, std::size_t{2500}, std::size_t{1} << 20}) {
        std::string bytes = Pattern(size);
        ASSERT_EQ(0, WriteText(bytes)) << size;
        expected += bytes;
    }
    ASSERT_TRUE(printer.WaitForBytes(expected.size(), 5s));
    EXPECT_TRUE(printer.Received() == expected);
    EXPECT_EQ(1, printer.Connections());
}

TEST_F(TcpEthernet, FilesArriveComplete) {
    TcpPrinter printer;
    Connect(printer);
    std::string bytes = Pattern(70000);
    testing_support::WriteFile(dir.File("receipt.prn"), bytes);
    ASSERT_EQ(0, WriteF(dir.File("receipt.prn").c_str()));
    ASSERT_TRUE(printer.WaitForBytes(bytes.size(), 5s));
    EXPECT_TRUE(printer.Received() == bytes);
}

TEST_F(TcpEthernet, AReadReturnsWhatThePrinterSentAtMostAReadPacket) {
    TcpPrinter printer;
    Connect(printer);
    std::string answer = Pattern(2000);
    printer.Answer(answer);
    std::string got;
    std::vector<char> buffer(4096);
    for (int i = 0; i < 200 && got.size() < answer.size(); ++i) {
        unsigned count = 0;
        int size = got.empty() ? 10 : 4096;
        int result = Read(buffer.data(), size, &count);
        ASSERT_TRUE(result == 0 || result == 214) << result;
        EXPECT_LE(count, got.empty() ? 10u : 1024u);
        got.append(buffer.data(), count);
    }
    EXPECT_TRUE(got == answer);
}

// Also with every level on and a log that cannot be written: that costs
// nothing on the wire and leaves the read's own error.
TEST_F(TcpEthernet, AReadWithNothingPendingFailsAfterAFewMilliseconds) {
    int id = 0;
    ASSERT_EQ(0,
              CreateCommunicationPort(1, LOG_MODE_FILE, 15, dir.File("no/eth.log").c_str(), &id));
    TcpPrinter printer;
    ASSERT_EQ(0, SetEthTimeout(10000, 10000));
    Connect(printer);
    std::string bytes = Pattern(2500);
    ASSERT_EQ(0, WriteText(bytes));
    ASSERT_TRUE(printer.WaitForBytes(bytes.size(), 5s));
    EXPECT_TRUE(printer.Received() == bytes);
    char buffer[16];
    unsigned count = 0;
    auto start = Clock::now();
    EXPECT_EQ(214, Read(buffer, 16, &count));
    EXPECT_LT(MillisecondsSince(start), 1000);
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(10060, error);
}

TEST_F(TcpEthernet, APrinterThatClosedGives213AndAResetGives214) {
    TcpPrinter printer;
    Connect(printer);
    printer.CloseConnection();
    char buffer[16];
    unsigned count = 0;
    EXPECT_EQ(213, Read(buffer, 16, &count));
    ASSERT_EQ(0, Close());

    ASSERT_EQ(0, Open());
    ASSERT_TRUE(printer.WaitForConnections(2, 5s));
    printer.ResetConnection();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(214, Read(buffer, 16, &count));
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(10054, error);
}

// Writing to a printer that went away must never raise SIGPIPE (it would
// end this process); an aborted connection is made again.
TEST_F(TcpEthernet, WritingAfterThePrinterLeftNeverRaisesASignal) {
    TcpPrinter printer;
    Connect(printer);
    ASSERT_EQ(0, WriteText("first"));
    ASSERT_TRUE(printer.WaitForBytes(5, 5s));
    printer.ResetConnection();
    std::this_thread::sleep_for(20ms);
    bool delivered = false;
    for (int i = 0; i < 5 && !delivered; ++i) {
        int result = WriteText("again");
        EXPECT_TRUE(result == 0 || result == 212) << result;
        delivered = result == 0 && printer.WaitForBytes(10, 200ms);
    }
    EXPECT_TRUE(delivered);
    EXPECT_EQ(2, printer.Connections());
}

// A printer that stopped reading: its connection waits in the listener's
// queue, never accepted, until the buffers on both sides are full. Signals
// during the stalled send change nothing: it fails as its time-out would.
TEST_F(TcpEthernet, SignalsDuringAStalledWriteLeaveItsTimeOut) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&address), size));
    ASSERT_EQ(0, ::listen(listener, 1));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size));
    ASSERT_EQ(0, SetEthTimeout(300, 300));
    ASSERT_EQ(0, InitEthTCP("127.0.0.1", ntohs(address.sin_port)));
    ASSERT_EQ(0, Open());
    SignalStream signals;
    auto start = Clock::now();
    EXPECT_EQ(212, WriteText(Pattern(std::size_t{32} << 20)));
    long long waited = MillisecondsSince(start);
    signals.Stop();
    EXPECT_LT(waited, 10000);
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(10060, error);
    ::close(listener);
}

TEST_F(TcpEthernet, AListenerThatNeverAcceptsTimesOutNoSoonerThanTheConnectionTimeOut) {
    loopback::FullListener listener;
    ASSERT_EQ(0, SetEthConnTimeout(300));
    ASSERT_EQ(0, InitEthTCP("127.0.0.1", listener.Port()));
    auto start = Clock::now();
    EXPECT_EQ(215, Open());
    long long waited = MillisecondsSince(start);
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 3000);
    EXPECT_TRUE(Logged("Open TCP has failed: impossibile to connect the socket \n"));
}

TEST_F(TcpEthernet, ARefusedConnectionFailsAtOnce) {
    ASSERT_EQ(0, SetEthConnTimeout(5000));
    ASSERT_EQ(0, InitEthTCP("127.0.0.1", loopback::ClosedPort()));
    auto start = Clock::now();
    EXPECT_EQ(215, Open());
    EXPECT_LT(MillisecondsSince(start), 1000);
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(10061, error);
}

// A till whose network is down: in a network namespace of its own the
// thread has no interface up and no route, so nothing it sends can leave the
// machine. connect fails at once there; Open must fail as soon and say why
// (a wait would end in 10060), never count the dead socket as connected.
TEST_F(TcpEthernet, WithoutARouteOpenFailsAtOnceWithTheReason) {
    ASSERT_EQ(0, SetEthConnTimeout(60000));
    std::string notPermitted;
    std::thread withoutNetwork([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            notPermitted = std::string("no network namespace: ") + std::strerror(errno);
            return;
        }
        for (const char* address : {"10.1.2.3", "255.255.255.255", "127.0.0.1"}) {
            ASSERT_EQ(0, InitEthTCP(address, 9100));
            auto start = Clock::now();
            EXPECT_EQ(215, Open()) << address;
            std::printf("[ figures  ] no route to %s: 215 after %lld ms\n", address,
                        MillisecondsSince(start));
            int error = 0;
            GetLastErrorComm(&error);
            EXPECT_EQ(10051, error) << address;
            EXPECT_EQ(206, WriteText("x"));
        }
    });
    withoutNetwork.join();
    if (!notPermitted.empty()) GTEST_SKIP() << notPermitted;
}

TEST_F(TcpEthernet, CloseAndOpenAgainWithoutANewInit) {
    TcpPrinter printer;
    Connect(printer);
    ASSERT_EQ(0, Close());
    ASSERT_EQ(0, Open());
    ASSERT_EQ(0, WriteText("after"));
    ASSERT_TRUE(printer.WaitForBytes(5, 5s));
    EXPECT_EQ(2, printer.Connections());
}

TEST_F(TcpEthernet, InitWhileConnectedIsRefusedAndTheConnectionStillWorks) {
    TcpPrinter printer;
    Connect(printer);
    EXPECT_EQ(200, InitEthTCP("127.0.0.1", 1));
    ASSERT_EQ(0, WriteText("still"));
    ASSERT_TRUE(printer.WaitForBytes(5, 5s));
    EXPECT_EQ("still", printer.Received());
}

TEST_F(TcpEthernet, NoSocketLeaksAcrossOpensClosesAndFailures) {
    int before = loopback::OpenDescriptors();
    {
        TcpPrinter printer;
        ASSERT_EQ(0, SetEthConnTimeout(200));
        for (int i = 0; i < 5; ++i) {
            Connect(printer);
            ASSERT_EQ(0, Close());
        }
        ASSERT_EQ(0, InitEthTCP("127.0.0.1", loopback::ClosedPort()));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(215, Open());
        // A reconnection after the printer went away replaces the socket.
        Connect(printer);
        printer.ResetConnection();
        std::this_thread::sleep_for(20ms);
        bool reconnected = false;
        for (int i = 0; i < 5 && !reconnected; ++i) {
            WriteText("again");
            reconnected = printer.WaitForConnections(7, 200ms);
        }
        EXPECT_TRUE(reconnected);
        // Deleting a connected port closes its socket.
        ASSERT_EQ(0, DeleteAllLayerItems());
    }
    EXPECT_EQ(before, loopback::OpenDescriptors());
}

}  // namespace
