// Writes, reads, purges, close and packet sizes of a serial port through
// the exported entry points, against the fake platform.
#include <sys/stat.h>

#include <climits>
#include <string>

#include "platform/device.h"
#include "tests/unit/serial_fixture.h"

namespace {

using serial_testing::SerialFake;
using SerialTransfer = SerialFake;

const char* const kWrite = "CSvComSerial::WriteSerial - ";
const char* const kRead = "CSvComSerial::ReadSerial - ";

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    return bytes;
}

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

TEST_F(SerialTransfer, LongWritesGoInPacketsWithRunningDumpOffsets) {
    OpenCom3();
    std::string data = Pattern(2500);
    ASSERT_EQ(0, Write(Bytes(data), 2500));
    EXPECT_EQ((std::vector<std::uint32_t>{1024, 1024, 452}), Com3().writeAsks);
    EXPECT_EQ(data, Com3().written);
    EXPECT_TRUE(Logged(kWrite, "Bytes to send: 2500, packet byte used:1024"));
    EXPECT_TRUE(Logged(kWrite, "SendBuffer[0x00]=0x03 "));
    EXPECT_TRUE(Logged(kWrite, "SendBuffer[0x400]=0x03 "));  // 1024 * 7 + 3 = 0x1c03
    EXPECT_TRUE(Logged(kWrite, "SendBuffer[0x9c3]=0x58 "));  // 2499 * 7 + 3 = 0x4458
    EXPECT_TRUE(Logged(kWrite, "END"));
    EXPECT_TRUE(Com3().purges.empty());
}

TEST_F(SerialTransfer, ShortWritesAreResentWhileTheDeviceTakesBytes) {
    OpenCom3();
    fake::SetSerialWriteAccepts(serial_testing::kCom3Device, {1000, 20, 4, 3});
    std::string data = Pattern(1100);
    ASSERT_EQ(0, Write(Bytes(data), 1100));
    EXPECT_EQ((std::vector<std::uint32_t>{1024, 24, 4, 76, 73}), Com3().writeAsks);
    EXPECT_EQ(data, Com3().written);
    EXPECT_TRUE(Logged(kWrite, "SendBuffer[0x3e8]=0x5b "));  // 1000 * 7 + 3 = 0x1b5b
    EXPECT_TRUE(Com3().purges.empty());
}

TEST_F(SerialTransfer, AWriteThatTakesNothingFailsWith112AndPurges) {
    OpenCom3();
    fake::SetSerialWriteAccepts(serial_testing::kCom3Device, {10, 0});
    std::string data = Pattern(100);
    EXPECT_EQ(112, Write(Bytes(data), 100));
    EXPECT_EQ(data.substr(0, 10), Com3().written);
    EXPECT_EQ((std::vector<std::uint32_t>{0x0F}), Com3().purges);
    EXPECT_TRUE(Logged(kWrite, "Write failed: no bytes send during writing operation "));
    EXPECT_TRUE(Logged(kWrite, "Purge communication ports"));
    EXPECT_FALSE(Logged(kWrite, "END"));
}

TEST_F(SerialTransfer, AFailedWriteStopsTheRestAndGives111) {
    OpenCom3();
    fake::FailCall("WriteFile", plat::kErrorGenFailure, 1, 1);
    std::string data = Pattern(2500);
    EXPECT_EQ(111, Write(Bytes(data), 2500));
    EXPECT_EQ(data.substr(0, 1024), Com3().written);
    EXPECT_EQ(1u, Com3().writeAsks.size());
    EXPECT_TRUE(Logged(kWrite, "Write failed: error system occurred during Write()"));
    int error = 0;
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(static_cast<int>(plat::kErrorGenFailure), error);
    ASSERT_EQ(0, ResetLastErrorComm());
    ASSERT_EQ(0, GetLastErrorComm(&error));
    EXPECT_EQ(0, error);
}

TEST_F(SerialTransfer, EmptyAndInvalidWritesMakeNoPlatformCall) {
    EXPECT_EQ(103, Write(Bytes("x"), 1));
    OpenCom3();
    EXPECT_EQ(0, Write(Bytes("x"), 0));
    EXPECT_EQ(5, Write(Bytes("x"), -1));
    EXPECT_EQ(5, Write(nullptr, 1));
    EXPECT_EQ(5, Write(Bytes("x"), INT_MIN));
    EXPECT_TRUE(Com3().writeAsks.empty());
}

TEST_F(SerialTransfer, FilesGoInPacketsOfTheWritePacketSize) {
    std::string path = dir.File("ticket.bin");
    std::string data = Pattern(3000);
    testing_support::WriteFile(path, data);
    EXPECT_EQ(103, WriteF(path.c_str()));
    OpenCom3();
    ASSERT_EQ(0, SetPacketSize(1000, 1000));
    ASSERT_EQ(0, WriteF(path.c_str()));
    EXPECT_EQ((std::vector<std::uint32_t>{1000, 1000, 1000}), Com3().writeAsks);
    EXPECT_EQ(data, Com3().written);
    EXPECT_TRUE(Logged("CSvComSerial::WriteFileSerial - ", "SendBuffer[0xbb7]=0x04 "));

    std::string empty = dir.File("empty.bin");
    testing_support::WriteFile(empty, "");
    EXPECT_EQ(0, WriteF(empty.c_str()));
    EXPECT_EQ(3u, Com3().writeAsks.size());
    EXPECT_EQ(10, WriteF(dir.File("missing.bin").c_str()));
    EXPECT_TRUE(Logged("CSvComSerial::WriteFileSerial - ",
                       "Impossibile to open file " + dir.File("missing.bin")));
    EXPECT_EQ(10, WriteF(dir.Path().c_str()));  // a folder has no bytes to send
    std::string fifo = dir.File("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(10, WriteF(fifo.c_str()));  // nor a FIFO, whose open must not wait
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(5, error);
    EXPECT_EQ(3u, Com3().writeAsks.size());
    EXPECT_EQ(5, WriteF(""));
    EXPECT_EQ(5, WriteF(nullptr));
}

TEST_F(SerialTransfer, FileWritesReportShortAndFailedPackets) {
    std::string path = dir.File("ticket.bin");
    testing_support::WriteFile(path, Pattern(1500));
    OpenCom3();
    fake::SetSerialWriteAccepts(serial_testing::kCom3Device, {1024, 400, 0});
    EXPECT_EQ(112, WriteF(path.c_str()));
    EXPECT_EQ((std::vector<std::uint32_t>{0x0F}), Com3().purges);
    EXPECT_TRUE(Logged("CSvComSerial::WriteFileSerial - ", "END"));
    fake::FailCall("WriteFile", plat::kErrorGenFailure);
    EXPECT_EQ(111, WriteF(path.c_str()));
}

TEST_F(SerialTransfer, ReadsAskAtMostTheReadPacketSize) {
    char buffer[4096];
    unsigned got = 99;
    EXPECT_EQ(103, Read(buffer, sizeof buffer, &got));
    OpenCom3();
    fake::QueueSerialRead(serial_testing::kCom3Device, "AB");
    ASSERT_EQ(0, Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(2u, got);
    EXPECT_EQ("AB", std::string(buffer, got));
    EXPECT_EQ((std::vector<std::uint32_t>{1024}), Com3().readAsks);
    EXPECT_TRUE(Logged(kRead,
                       "Receive buffer size: 4096, packet size setted:1024, packet used "
                       "for read:1024 "));
    EXPECT_TRUE(Logged(kRead, "2 bytes read:"));
    EXPECT_TRUE(Logged(kRead, "ReceiveBuffer[0x01]=0x42 "));
    ASSERT_EQ(0, SetPacketSize(1024, 16));
    fake::QueueSerialRead(serial_testing::kCom3Device, "0123456789abcdefXYZ");
    ASSERT_EQ(0, Read(buffer, 100, &got));
    EXPECT_EQ(16u, got);
    EXPECT_EQ(5, Read(buffer, -1, &got));
}

TEST_F(SerialTransfer, EmptyAndFailedReadsStillLogEnd) {
    OpenCom3();
    char buffer[16];
    unsigned got = 99;
    EXPECT_EQ(114, Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(Logged(kRead, "Read failed: no bytes read during reading operation "));
    fake::FailCall("ReadFile", plat::kErrorGenFailure);
    EXPECT_EQ(113, Read(buffer, sizeof buffer, &got));
    EXPECT_TRUE(Logged(kRead, "Read failed: error system occurred during Read()"));
    auto lines = testing_support::LogBodies(log);
    int ends = 0;
    for (const std::string& line : lines) ends += line == std::string(kRead) + " END";
    EXPECT_EQ(2, ends);
    EXPECT_TRUE(Com3().purges.empty());
}

TEST_F(SerialTransfer, CleanPurgesWhatItIsAskedTo) {
    EXPECT_EQ(103, Clean(1, 1));
    OpenCom3();
    ASSERT_EQ(0, Clean(0, 0));
    ASSERT_EQ(0, Clean(0, 1));
    ASSERT_EQ(0, Clean(1, 0));
    ASSERT_EQ(0, Clean(1, 1));
    EXPECT_EQ((std::vector<std::uint32_t>{0x08, 0x04, 0x0F}), Com3().purges);
    fake::FailCall("PurgeComm", plat::kErrorGenFailure);
    EXPECT_EQ(117, Clean(1, 0));
    EXPECT_TRUE(Logged("CSvComSerial::CleanSerial - ", "Purge error: clean has failed"));
}

TEST_F(SerialTransfer, CloseKeepsTheSettingsForTheNextOpen) {
    EXPECT_EQ(103, Close());
    OpenCom3();
    ASSERT_EQ(0, Close());
    EXPECT_TRUE(Logged("CSvComSerial::CloseSerial - ", "Close handle : success"));
    EXPECT_EQ(103, Close());
    ASSERT_EQ(0, Open());
    EXPECT_EQ(2, Com3().opens);
    ASSERT_EQ(0, Write(Bytes("hi"), 2));
    EXPECT_EQ("hi", Com3().written);
}

TEST_F(SerialTransfer, CloseFailuresAreReported) {
    OpenCom3();
    fake::FailCall("CloseHandle", plat::kErrorGenFailure);
    EXPECT_EQ(110, Close());
    EXPECT_TRUE(Logged("CSvComSerial::CloseSerial - ",
                       "CloseHandle() failed, impossible to close handle "));
    EXPECT_EQ(102, Open());  // still open
    ASSERT_EQ(0, Close());

    // A handle the platform no longer knows is forgotten: the port can be
    // opened again instead of staying open for ever.
    ASSERT_EQ(0, Open());
    fake::FailCall("CloseHandle", plat::kErrorInvalidHandle);
    EXPECT_EQ(109, Close());
    EXPECT_TRUE(Logged("CSvComSerial::CloseSerial - ", "Close failed: invalid handle to close"));
    EXPECT_EQ(103, Close());
}

TEST_F(SerialTransfer, PacketSizesAreBoundedAndKeptOnRefusal) {
    ASSERT_EQ(0, SetPacketSize(100, 200));
    for (auto sizes : {std::pair<int, int>{0, 512},
                       {512, 0},
                       {-1, 512},
                       {512, -5},
                       {INT_MAX, 512},
                       {INT_MAX - 50, 512},
                       {16 * 1024 * 1024 + 1, 512},
                       {512, 16 * 1024 * 1024 + 1}}) {
        EXPECT_EQ(9, SetPacketSize(sizes.first, sizes.second)) << sizes.first;
    }
    EXPECT_TRUE(Logged("CSvComSerial::SetPacketSerial - ", "Packet size can't be = 0"));
    int write = 0, read = 0;
    ASSERT_EQ(0, GetPacketSize(&write, &read));
    EXPECT_EQ(100, write);
    EXPECT_EQ(200, read);

    OpenCom3();
    std::string data = Pattern(250);
    ASSERT_EQ(0, Write(Bytes(data), 250));
    EXPECT_EQ((std::vector<std::uint32_t>{100, 100, 50}), Com3().writeAsks);
    ASSERT_EQ(0, SetPacketSize(16 * 1024 * 1024, 16 * 1024 * 1024));
    EXPECT_TRUE(Logged("CSvComSerial::SetPacketSerial - ",
                       "Packets size setted; WRITE = 16777216 bytes, READ = 16777216 bytes "));
}

}  // namespace
