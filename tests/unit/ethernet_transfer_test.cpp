// Ethernet writes, reads, files and packet sizes on the fake sockets: how
// writes are cut, short and failed sends, aborted connections, reads.
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/system.h"
#include "tests/unit/ethernet_fixture.h"

namespace {

using EthernetTransfer = EthernetPort;
using Sizes = std::vector<int>;

TEST_F(EthernetTransfer, WritesGoOutInPiecesOfThePacketSize) {
    OpenTcp();
    // Set at connect, before any read: a write waits for its acknowledgement.
    EXPECT_EQ(1, fake::LastOption(plat::kIpprotoTcp, plat::kTcpNodelay));
    std::string bytes = Pattern(2500);
    ASSERT_EQ(0, WriteText(bytes));
    EXPECT_EQ((Sizes{1024, 1024, 452}), fake::SendSizes());
    ASSERT_EQ(0, WriteText(bytes.substr(0, 300)));
    EXPECT_EQ((Sizes{1024, 1024, 452, 300}), fake::SendSizes());
    EXPECT_EQ(bytes + bytes.substr(0, 300), fake::Sent());
    EXPECT_TRUE(Logged("CSvComEth::WriteTCP -  Bytes to send: 2500, packet byte used:1024\n"));
    EXPECT_TRUE(Logged("CSvComEth::WriteTCP -  2500 bytes to write:\n"));
    EXPECT_EQ(10000, fake::LastOption(plat::kSolSocket, plat::kSoSndTimeo));
}

TEST_F(EthernetTransfer, TheDumpIndexRunsOverTheWholeWrite) {
    DeleteAllLayerItems();
    CreatePort(LOG_DATA | LOG_INFO);
    OpenTcp();
    std::string bytes = Pattern(1030);
    ASSERT_EQ(0, WriteText(bytes));
    char expected[64];
    std::snprintf(expected, sizeof expected, "SendBuffer[0x400]=0x%02x \n",
                  static_cast<unsigned char>(bytes[1024]));
    EXPECT_TRUE(Logged(expected));
}

TEST_F(EthernetTransfer, WhatOneSendDidNotTakeIsSentAgainUntilAllIsTaken) {
    OpenTcp();
    fake::LimitSend(100);
    std::string bytes = Pattern(2500);
    EXPECT_EQ(0, WriteText(bytes));
    EXPECT_EQ(bytes, fake::Sent());
    EXPECT_FALSE(Logged("Warning: write not completed"));

    // A datagram is never cut.
    Close();
    OpenUdp();
    EXPECT_EQ(0, WriteText(bytes.substr(0, 300)));
    EXPECT_EQ(bytes + bytes.substr(0, 300), fake::Sent());
    EXPECT_EQ(300, fake::SendSizes().back());
}

TEST_F(EthernetTransfer, ASendTakingNothingStopsTheWriteWith211) {
    OpenTcp();
    std::string bytes = Pattern(2500);
    fake::SendTakesNothing(1);
    EXPECT_EQ(211, WriteText(bytes));
    EXPECT_EQ("", fake::Sent());
    EXPECT_TRUE(Logged("Write failed: no bytes send during writing operation \n"));
    EXPECT_TRUE(Logged("Warning: write not completed,not all bytes were written\n"));
}

TEST_F(EthernetTransfer, AFailingSendStopsTheWriteWith212AndRecordsTheError) {
    OpenTcp();
    fake::FailCall("send", plat::kWsaEnetdown, 1, 1);
    EXPECT_EQ(212, WriteText(Pattern(2500)));
    EXPECT_EQ(plat::kWsaEnetdown, LastError());
    EXPECT_EQ(1024u, fake::Sent().size());
    EXPECT_TRUE(
        Logged("CSvComEth::WriteTCP -  Write failed: error system occurred during Write()\n"));
    // A later success does not clear the recorded error; a reset does.
    EXPECT_EQ(0, WriteText("x"));
    EXPECT_EQ(plat::kWsaEnetdown, LastError());
    EXPECT_EQ(0, ResetLastErrorComm());
    EXPECT_EQ(0, LastError());

    // A piece too long for one datagram.
    Close();
    OpenUdp();
    ASSERT_EQ(0, SetPacketSize(65508, 1024));
    EXPECT_EQ(212, WriteText(Pattern(65508)));
    EXPECT_EQ(plat::kWsaEmsgsize, LastError());
}

TEST_F(EthernetTransfer, AnAbortedWriteReconnectsAndSendsThePieceAgain) {
    OpenTcp();
    fake::FailCall("send", plat::kWsaEconnaborted, 1, 1);
    std::string bytes = Pattern(2500);
    EXPECT_EQ(0, WriteText(bytes));
    EXPECT_EQ(bytes, fake::Sent());
    // The aborted call took nothing; the second piece went again whole.
    EXPECT_EQ((Sizes{1024, 1024, 452}), fake::SendSizes());
    EXPECT_TRUE(Logged("Socket connection aborted for inactivity: try to connect 3 times\n"));
    EXPECT_TRUE(Logged("CSvComEth::RetryToConnectAfterAbort -  Iteration #1 \n"));
    EXPECT_EQ(1, fake::OpenSockets());
    EXPECT_EQ(plat::kWsaEconnaborted, LastError());
}

TEST_F(EthernetTransfer, AWriteWhoseReconnectionFailsThreeTimesGives216) {
    OpenTcp();
    fake::FailCall("send", plat::kWsaEconnaborted);
    fake::ConnectTimesOut(3);
    EXPECT_EQ(216, WriteText("abc"));
    EXPECT_TRUE(Logged("Iteration #3 \n"));
    EXPECT_TRUE(Logged("Socket connection aborted. impossibile to restablish connection"));
    EXPECT_EQ(0, fake::OpenSockets());
    EXPECT_EQ(206, WriteText("abc"));
    // Mode, address and port survive: Open again without a new init.
    EXPECT_EQ(0, Open());
    EXPECT_EQ(0, WriteText("abc"));

    // A dead network: each connect fails at once, and so does the write.
    fake::FailCall("send", plat::kWsaEconnaborted);
    fake::FailCall("connect", plat::kWsaEnetunreach, 3);
    EXPECT_EQ(216, WriteText("abc"));
    EXPECT_EQ(plat::kWsaEnetunreach, LastError());
    EXPECT_EQ(0, fake::OpenSockets());
}

TEST_F(EthernetTransfer, OneCallReconnectsAtMostFiveTimes) {
    OpenTcp();
    // A printer that takes every connection and aborts it at once.
    fake::FailCall("send", plat::kWsaEconnaborted, 1000);
    EXPECT_EQ(216, WriteText("abc"));
    EXPECT_EQ(6, fake::CreatedSockets());
    EXPECT_TRUE(Logged("No reconnection: 5 already made during this call\n"));
    EXPECT_EQ(0, fake::OpenSockets());

    // Each call has reconnections of its own; a read is bounded the same way.
    ASSERT_EQ(0, Open());
    fake::FailCall("send", plat::kWsaEconnaborted, 5);
    EXPECT_EQ(0, WriteText("abc"));
    fake::FailCall("recv", plat::kWsaEconnaborted, 1000);
    char buffer[16];
    unsigned count = 0;
    EXPECT_EQ(216, Read(buffer, 16, &count));
    EXPECT_EQ(6 + 11, fake::CreatedSockets());
}

TEST_F(EthernetTransfer, AReconnectionWhoseCloseFailsRetriesTheClose) {
    OpenTcp();
    fake::FailCall("send", plat::kWsaEconnaborted);
    fake::FailCall("closesocket", plat::kWsaEnetdown, 2);
    EXPECT_EQ(0, WriteText("abc"));
    EXPECT_EQ("abc", fake::Sent());
    EXPECT_TRUE(Logged("Iteration #3 \n"));
    EXPECT_EQ(1, fake::OpenSockets());
}

TEST_F(EthernetTransfer, SendTimeOutOptionFailuresGive208) {
    OpenTcp();
    fake::FailCall("setsockopt", plat::kWsaEinval);
    EXPECT_EQ(208, WriteText("abc"));
    EXPECT_EQ("", fake::Sent());
    // After a reconnection the new socket needs its time-out too.
    fake::FailCall("send", plat::kWsaEconnaborted);
    fake::FailCall("setsockopt", plat::kWsaEinval, 1, 2);  // after TCP_NODELAY at connect
    EXPECT_EQ(208, WriteText("abc"));
}

TEST_F(EthernetTransfer, ZeroAndNegativeLengthsSendNothing) {
    OpenTcp();
    EXPECT_EQ(0, Write(reinterpret_cast<const unsigned char*>("x"), 0));
    EXPECT_EQ(5, Write(reinterpret_cast<const unsigned char*>("x"), -1));
    EXPECT_EQ(5, Write(nullptr, 1));
    EXPECT_TRUE(fake::SendSizes().empty());
}

TEST_F(EthernetTransfer, TransfersWhileNotConnectedGive206) {
    ASSERT_EQ(0, InitEthTCP("127.0.0.1", 9100));
    char buffer[8];
    unsigned count = 0;
    EXPECT_EQ(206, WriteText("abc"));
    EXPECT_EQ(206, Read(buffer, 8, &count));
    EXPECT_EQ(206, WriteF("/nonexistent"));
    EXPECT_TRUE(fake::SendSizes().empty());
}

TEST_F(EthernetTransfer, ATcpReadAsksAtMostTheSmallerOfSizeAndReadPacket) {
    OpenTcp();
    fake::QueueReceive(Pattern(2000));
    std::vector<char> buffer(4096);
    unsigned count = 0;
    ASSERT_EQ(0, Read(buffer.data(), 4096, &count));
    EXPECT_EQ(1024u, count);
    ASSERT_EQ(0, Read(buffer.data(), 10, &count));
    EXPECT_EQ(10u, count);
    EXPECT_EQ(0, std::memcmp(buffer.data(), Pattern(2000).data() + 1024, 10));
    EXPECT_EQ((Sizes{1024, 10}), fake::ReceiveSizes());
    // A TCP read waits only 5 ms, whatever the receive time-out says.
    EXPECT_EQ(5, fake::LastOption(plat::kSolSocket, plat::kSoRcvTimeo));
    EXPECT_EQ(1, fake::LastOption(plat::kIpprotoTcp, plat::kTcpNodelay));
    EXPECT_TRUE(
        Logged("CSvComEth::ReadTCP - 1  Receive buffer size: 4096, packet size setted:1024, "
               "packet used for read:1024 \n"));
    EXPECT_TRUE(
        Logged("CSvComEth::ReadTCP - 2  Receive buffer size: 10, packet size setted:1024, "
               "packet used for read:10 \n"));
}

// The time-out's own error, although the fake's log-file open, like
// CreateFileA on Windows, sets the last error (183) for each line logged
// between the receive and the reading of its error.
TEST_F(EthernetTransfer, ReadFailuresGiveTheirCodes) {
    OpenTcp();
    char buffer[16];
    unsigned count = 7;
    EXPECT_EQ(214, Read(buffer, 16, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(plat::kWsaEtimedout, LastError());
    EXPECT_TRUE(Logged("Read failed: error system occurred during Read()\n"));
    fake::SetPeerClosed(true);
    EXPECT_EQ(213, Read(buffer, 16, &count));
    EXPECT_TRUE(Logged("Read failed: no bytes read during reading operation \n"));
    fake::FailCall("setsockopt", plat::kWsaEinval, 1, 1);  // TCP_NODELAY passes, SO_RCVTIMEO fails
    EXPECT_EQ(208, Read(buffer, 16, &count));
    // A read of zero bytes asks nothing of the socket (0 would mean "closed").
    EXPECT_EQ(0, Read(buffer, 0, &count));
    EXPECT_EQ(5, Read(buffer, -1, &count));
    EXPECT_EQ(2u, fake::ReceiveSizes().size());
}

TEST_F(EthernetTransfer, AnAbortedReadReconnectsAndReadsAgain) {
    OpenTcp();
    ASSERT_EQ(0, SetEthTimeout(3000, 4000));
    fake::FailCall("recv", plat::kWsaEconnaborted);
    fake::QueueReceive("ok");
    char buffer[16];
    unsigned count = 0;
    ASSERT_EQ(0, Read(buffer, 16, &count));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(4000, fake::LastOption(plat::kSolSocket, plat::kSoRcvTimeo));
    EXPECT_EQ(1, fake::OpenSockets());

    fake::FailCall("recv", plat::kWsaEconnaborted);
    fake::FailCall("socket", plat::kWsaEmfile, 3);
    EXPECT_EQ(216, Read(buffer, 16, &count));
    EXPECT_EQ(0, fake::OpenSockets());
}

TEST_F(EthernetTransfer, UdpReadsRememberTheSender) {
    OpenUdp();
    char ip[16];
    EXPECT_EQ(0, AdvGetEthIpReceived(ip, 16));
    EXPECT_STREQ("", ip);
    EXPECT_TRUE(Logged("Message received from IP: No IP \n"));

    fake::QueueReceive("answer", "192.168.1.50");
    char buffer[64];
    unsigned count = 0;
    ASSERT_EQ(0, Read(buffer, 64, &count));
    EXPECT_EQ(6u, count);
    EXPECT_EQ(10000, fake::LastOption(plat::kSolSocket, plat::kSoRcvTimeo));
    EXPECT_EQ(3, AdvGetEthIpReceived(ip, 15));
    ASSERT_EQ(0, AdvGetEthIpReceived(ip, 16));
    EXPECT_STREQ("192.168.1.50", ip);

    // A failed read forgets the sender.
    EXPECT_EQ(214, Read(buffer, 64, &count));
    ASSERT_EQ(0, AdvGetEthIpReceived(ip, 16));
    EXPECT_STREQ("", ip);
    // Only an empty datagram reads as 0 bytes; one longer than the read is
    // lost.
    fake::QueueReceive("");
    EXPECT_EQ(213, Read(buffer, 64, &count));
    fake::QueueReceive(Pattern(65));
    EXPECT_EQ(214, Read(buffer, 64, &count));
    EXPECT_EQ(plat::kWsaEmsgsize, LastError());
    EXPECT_EQ(214, Read(buffer, 64, &count));
    EXPECT_EQ(plat::kWsaEtimedout, LastError());
    fake::FailCall("setsockopt", plat::kWsaEinval);
    EXPECT_EQ(208, Read(buffer, 64, &count));
}

TEST_F(EthernetTransfer, TheReceivedAddressIsAUdpQuery) {
    OpenTcp();
    char ip[16];
    EXPECT_EQ(222, AdvGetEthIpReceived(ip, 16));
    EXPECT_TRUE(Logged("No UDP mode is setted, function disabled\n"));
}

TEST_F(EthernetTransfer, PacketSizesAreBoundedAndARefusalKeepsTheOldOnes) {
    EXPECT_EQ(0, SetPacketSize(512, 256));
    for (auto sizes : {std::pair<int, int>{0, 512},
                       {512, 0},
                       {-1, 512},
                       {512, -5},
                       {0x7FFFFFFF, 512},
                       {17 * 1024 * 1024, 512}}) {
        EXPECT_EQ(9, SetPacketSize(sizes.first, sizes.second));
    }
    EXPECT_TRUE(Logged("Packet size can't be = 0\n"));
    int write = 0, read = 0;
    ASSERT_EQ(0, GetPacketSize(&write, &read));
    EXPECT_EQ(512, write);
    EXPECT_EQ(256, read);

    OpenTcp();
    ASSERT_EQ(0, WriteText(Pattern(1100)));
    EXPECT_EQ((Sizes{512, 512, 76}), fake::SendSizes());
}

TEST_F(EthernetTransfer, FilesAreSentInPiecesThroughTheWriter) {
    OpenTcp();
    std::string bytes = Pattern(3000);
    testing_support::WriteFile(dir.File("receipt.bin"), bytes);
    ASSERT_EQ(0, WriteF(dir.File("receipt.bin").c_str()));
    EXPECT_EQ(bytes, fake::Sent());
    EXPECT_EQ((Sizes{1024, 1024, 952}), fake::SendSizes());
    std::string log = testing_support::ReadFile(Log());
    std::size_t first = log.find("Send a packet byte of the file\n");
    ASSERT_NE(std::string::npos, first);
    std::size_t second = log.find("Send a packet byte of the file\n", first + 1);
    ASSERT_NE(std::string::npos, second);
    EXPECT_EQ(std::string::npos, log.find("Send a packet byte of the file\n", second + 1));
    EXPECT_TRUE(Logged("CSvComEth::WriteFileEth -  Bytes to send: 3000, packet byte used:1024\n"));
}

TEST_F(EthernetTransfer, FileFailuresGiveTheirCodes) {
    OpenUdp();
    testing_support::WriteFile(dir.File("empty.bin"), "");
    EXPECT_EQ(0, WriteF(dir.File("empty.bin").c_str()));
    EXPECT_TRUE(fake::SendSizes().empty());
    plat::SetLastError(
        static_cast<std::uint32_t>(plat::kWsaEtimedout));  // left by an earlier socket call
    EXPECT_EQ(10, WriteF(dir.File("missing.bin").c_str()));
    EXPECT_TRUE(Logged("Impossibile to open file " + dir.File("missing.bin") + "\n"));
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(2, error);
    testing_support::WriteFile(dir.File("one.bin"), "x");
    fake::FailCall("setsockopt", plat::kWsaEinval);
    EXPECT_EQ(208, WriteF(dir.File("one.bin").c_str()));
    fake::FailCall("sendto", plat::kWsaEnetdown);
    EXPECT_EQ(212, WriteF(dir.File("one.bin").c_str()));
    EXPECT_EQ(0, WriteF(dir.File("one.bin").c_str()));
    EXPECT_EQ("x", fake::Sent());

    // A file cut short while it is sent: what was read goes out, but the
    // file was not sent whole. Both sizes exceed any stdio buffer.
    std::string bytes = Pattern(256 * 1024);
    std::string path = dir.File("shrinking.bin");
    testing_support::WriteFile(path, bytes);
    fake::WhenSent(2, [&] { ASSERT_EQ(0, truncate(path.c_str(), 100000)); });
    EXPECT_EQ(10, WriteF(path.c_str()));
    EXPECT_EQ("x" + bytes.substr(0, 100000), fake::Sent());
}

}  // namespace
