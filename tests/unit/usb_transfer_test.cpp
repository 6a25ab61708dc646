// Writing, reading, sending files and purging on an open USB device,
// through the exported interface against the fake platform's pipes.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/unit/usb_fixture.h"

using namespace usb_test;

namespace {

class UsbTransfer : public UsbPort {
protected:
    int WriteText(const std::string& text) {
        return Write(reinterpret_cast<const unsigned char*>(text.data()),
                     static_cast<int>(text.size()));
    }
    void OpenOnInterfaceZero() {
        PlugReceiptPrinter();
        ASSERT_EQ(0, InitUsbInterface(0));
        ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"));
        ASSERT_EQ(0, Open());
    }
    std::string ReadUpTo(int size, int* code) {
        std::string buffer(static_cast<std::size_t>(size) + 1, '\0');
        unsigned got = 0;
        *code = Read(&buffer[0], size, &got);
        buffer.resize(*code == 0 ? got : 0);
        return buffer;
    }
};

TEST_F(UsbTransfer, TransfersNeedAnOpenDevice) {
    unsigned char byte = 1;
    char buffer[4];
    unsigned got = 0;
    EXPECT_EQ(309, Write(&byte, 1));
    EXPECT_EQ(309, Read(buffer, 4, &got));
    EXPECT_EQ(309, Clean(1, 1));
    EXPECT_EQ(309, WriteF("/nonexistent"));
    EXPECT_EQ(309, IsDeviceAvailable());
    EXPECT_TRUE(
        Logged("CSvComUsb::WriteUsb - Usb device not opened: imposible to perform operation"));
}

TEST_F(UsbTransfer, WriteGoesOutInPacketsOfThePacketSize) {
    OpenReceiptPrinter();
    std::string data(130, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
    EXPECT_EQ(0, WriteText(data));
    EXPECT_EQ(data, Written());
    EXPECT_EQ((std::vector<std::uint32_t>{64, 64, 2}),
              fake::usb::WriteRequests(kPrinterPath, "PIPE01"));
    EXPECT_EQ(0, WriteText("0123456789"));
    EXPECT_EQ(10u, fake::usb::WriteRequests(kPrinterPath, "PIPE01").back());
    EXPECT_TRUE(Logged("CSvComUsb::WriteUsb - Bytes to send: 130, packet byte used:64"));
}

TEST_F(UsbTransfer, ShortCompletionIsFollowedByTheRestOfThePacket) {
    OpenReceiptPrinter();
    fake::usb::QueueWriteCompletion(kPrinterPath, "PIPE01", 10);
    std::string data(70, 'x');
    data[10] = 'A';
    EXPECT_EQ(0, WriteText(data));
    EXPECT_EQ(data, Written());
    EXPECT_EQ((std::vector<std::uint32_t>{64, 54, 6}),
              fake::usb::WriteRequests(kPrinterPath, "PIPE01"));
}

TEST_F(UsbTransfer, CompletionWithoutBytesIsAFailureNotASuccess) {
    OpenReceiptPrinter();
    fake::usb::QueueWriteCompletion(kPrinterPath, "PIPE01", 5);
    fake::usb::QueueWriteCompletion(kPrinterPath, "PIPE01", 0);
    EXPECT_EQ(312, WriteText(std::string(20, 'z')));
    EXPECT_EQ(std::string(5, 'z'), Written());
    EXPECT_TRUE(Logged("CSvComUsb::WriteUsb - USB write success, but 0 bytes send"));
    EXPECT_TRUE(Logged(
        "CSvComUsb::WriteUsb - Warning: USB write not completed,not all bytes were written"));
    EXPECT_EQ(0, IsDeviceAvailable());  // still open
}

TEST_F(UsbTransfer, WriteFailuresHaveTheirOwnCodesAndKeepTheDeviceOpen) {
    OpenReceiptPrinter();
    fake::FailCall("GetOverlappedResult", 31, 1);
    EXPECT_EQ(314, WriteText("abc"));
    fake::FailCall("WaitForSingleObject", 6, 1);
    EXPECT_EQ(311, WriteText("abc"));
    fake::usb::StallWrites(kPrinterPath, "PIPE01");
    EXPECT_EQ(313, WriteText("abc"));
    EXPECT_TRUE(Logged("CSvComUsb::WriteUsb - USB write error timeout"));
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(997, error);
    EXPECT_EQ(305, Open());
}

TEST_F(UsbTransfer, ZeroByteWriteSendsNothingAndSucceeds) {
    OpenReceiptPrinter();
    unsigned char none = 0;
    EXPECT_EQ(0, Write(&none, 0));
    EXPECT_TRUE(fake::usb::WriteRequests(kPrinterPath, "PIPE01").empty());
}

TEST_F(UsbTransfer, UnpluggedDeviceIsClosedByTheNextTransfer) {
    OpenReceiptPrinter();
    fake::usb::Unplug(kPrinterPath);
    EXPECT_EQ(330, IsDeviceAvailable());
    EXPECT_EQ(330, WriteText("abc"));
    EXPECT_TRUE(
        Logged("CSvComUsb::WriteUsb - Device is no longer available: handle will be closed"));
    EXPECT_EQ(0u, plat::common::OpenDeviceCount());
    EXPECT_EQ(309, WriteText("abc"));
    EXPECT_EQ(309, Close());
    EXPECT_EQ(316, Open());
}

// Each refused request ends the call at once: nothing waits for a request
// that never went pending (the fixture counts such waits).
TEST_F(UsbTransfer, UnplugDuringAWriteAReadOrACleanGives330AndClosesTheDevice) {
    OpenReceiptPrinter();
    fake::usb::UnplugAtRequest(kPrinterPath, 2);
    EXPECT_EQ(330, WriteText(std::string(130, 'w')));
    EXPECT_EQ(64u, Written().size());
    EXPECT_EQ(309, IsDeviceAvailable());

    fake::usb::AddInterface(kPrinterClass, kPrinterPath);
    ASSERT_EQ(0, Open());
    fake::usb::UnplugAtRequest(kPrinterPath, 1);
    int code = 0;
    ReadUpTo(10, &code);
    EXPECT_EQ(330, code);
    EXPECT_TRUE(
        Logged("CSvComUsb::ReadUsb - Device is no longer available: handle will be closed"));

    fake::usb::AddInterface(kPrinterClass, kPrinterPath);
    ASSERT_EQ(0, Open());
    fake::usb::FeedRead(kPrinterPath, "PIPE00", std::string(300, 'r'));
    fake::usb::UnplugAtRequest(kPrinterPath, 2);
    EXPECT_EQ(330, Clean(1, 1));
    EXPECT_TRUE(
        Logged("CSvComUsb::CleanUsb - Device is no longer available: handle will be closed"));
    EXPECT_EQ(309, Close());
}

TEST_F(UsbTransfer, ReadAsksForOnePacketAndTimesOutWhenNothingComes) {
    OpenReceiptPrinter();
    fake::usb::FeedRead(kPrinterPath, "PIPE00", std::string(3000, 'r'));
    int code = 0;
    EXPECT_EQ(1024u, ReadUpTo(4096, &code).size());
    EXPECT_EQ(0, code);
    EXPECT_TRUE(
        Logged("CSvComUsb::ReadUsb - Receive buffer size: 4096, packet size setted:1024, "
               "packet used for read:1024 "));
    EXPECT_EQ(0, Clean(0, 1));  // discards the rest
    ReadUpTo(10, &code);
    EXPECT_EQ(323, code);
    EXPECT_EQ(0, IsDeviceAvailable());
}

TEST_F(UsbTransfer, ReadFailuresHaveTheirOwnCodes) {
    OpenReceiptPrinter();
    int code = 0;
    fake::FailCall("WaitForSingleObject", 6, 1);
    ReadUpTo(2, &code);  // nothing waiting: the read goes pending
    EXPECT_EQ(322, code);
    fake::usb::FeedRead(kPrinterPath, "PIPE00", "abcdef");
    fake::FailCall("GetOverlappedResult", 31, 1);
    ReadUpTo(2, &code);
    EXPECT_EQ(324, code);
    EXPECT_EQ("cdef", ReadUpTo(8, &code));
}

TEST_F(UsbTransfer, ScannerWritesPipe00AndReadsPipe01) {
    const std::string path =
        "\\\\?\\usb#vid_0f3c&pid_0301#SC1#{8f21d6b0-4e7a-4c39-b5d2-0a6f93e1c7d4}";
    fake::SetRegistry(
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\"
        "VID_0F3C&PID_0301\\SC1]\r\n");
    fake::usb::AddInterface(kScannerClass, path);
    ASSERT_EQ(0, InitUsbInterface(3));
    ASSERT_EQ(0, InitUsbVidPidSerial("0f3c", "0301", "SC1"));
    ASSERT_EQ(0, Open());
    fake::usb::FeedRead(path, "PIPE01", "scan");
    EXPECT_EQ(0, WriteText("go"));
    EXPECT_EQ("go", fake::usb::Written(path, "PIPE00"));
    int code = 0;
    EXPECT_EQ("scan", ReadUpTo(10, &code));
}

TEST_F(UsbTransfer, CleanFailuresGive321) {
    OpenReceiptPrinter();
    EXPECT_EQ(0, Clean(0, 0));
    fake::FailCall("CancelIo", 6, 1);
    EXPECT_EQ(321, Clean(1, 0));
    fake::FailCall("WaitForSingleObject", 6, 1);
    EXPECT_EQ(321, Clean(0, 1));
    EXPECT_EQ(0, Clean(1, 1));
    EXPECT_TRUE(Logged("CSvComUsb::CleanUsb - USB read channel cleaned"));
}

TEST_F(UsbTransfer, FileGoesOutInPiecesOfThePacketSize) {
    OpenReceiptPrinter();
    std::string content(200, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    testing_support::WriteFile(dir.File("data.bin"), content);
    EXPECT_EQ(0, WriteF(dir.File("data.bin").c_str()));
    EXPECT_EQ(content, Written());
    // A whole number of packets, and less than one, need no extra write.
    testing_support::WriteFile(dir.File("two.bin"), std::string(128, 't'));
    testing_support::WriteFile(dir.File("small.bin"), std::string(10, 's'));
    EXPECT_EQ(0, WriteF(dir.File("two.bin").c_str()));
    EXPECT_EQ(0, WriteF(dir.File("small.bin").c_str()));
    EXPECT_EQ((std::vector<std::uint32_t>{64, 64, 64, 8, 64, 64, 10}),
              fake::usb::WriteRequests(kPrinterPath, "PIPE01"));
    EXPECT_EQ(0u, LinesWith("WriteUsb -  0 bytes to write:"));
}

TEST_F(UsbTransfer, EmptyFileSendsNothingAndAMissingFileGives10) {
    OpenReceiptPrinter();
    testing_support::WriteFile(dir.File("empty.bin"), "");
    EXPECT_EQ(0, WriteF(dir.File("empty.bin").c_str()));
    EXPECT_TRUE(fake::usb::WriteRequests(kPrinterPath, "PIPE01").empty());
    ResetLastErrorComm();
    EXPECT_EQ(10, WriteF(dir.File("missing.bin").c_str()));
    EXPECT_TRUE(
        Logged("CSvComUsb::WriteFileUsb - Impossibile to open file " + dir.File("missing.bin")));
    int error = 0;
    GetLastErrorComm(&error);
    EXPECT_EQ(2, error);

    // A FIFO is no file to send, and opening it must not wait for a writer.
    std::string fifo = dir.File("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(10, WriteF(fifo.c_str()));
    GetLastErrorComm(&error);
    EXPECT_EQ(5, error);

    // A file cut short while it is sent was not sent whole. Both sizes
    // exceed any stdio buffer.
    std::string path = dir.File("shrinking.bin");
    testing_support::WriteFile(path, std::string(256 * 1024, 'z'));
    ASSERT_EQ(0, SetPacketSize(8192, 8192));
    fake::usb::WhenWritten(kPrinterPath, "PIPE01", 1,
                           [&] { ASSERT_EQ(0, truncate(path.c_str(), 100000)); });
    EXPECT_EQ(10, WriteF(path.c_str()));
    EXPECT_EQ(100000u, Written().size());
}

TEST_F(UsbTransfer, FileFailureStopsTheSending) {
    OpenReceiptPrinter();
    testing_support::WriteFile(dir.File("data.bin"), std::string(200, 'd'));
    fake::usb::QueueWriteCompletion(kPrinterPath, "PIPE01", 64);
    fake::usb::QueueWriteCompletion(kPrinterPath, "PIPE01", 0);
    EXPECT_EQ(312, WriteF(dir.File("data.bin").c_str()));
    EXPECT_EQ(64u, Written().size());
}

TEST_F(UsbTransfer, InterfaceZeroTurnsAWriteIntoOneControlRequest) {
    OpenOnInterfaceZero();
    const unsigned char five[] = {0x10, 0x34, 0x12, 0x99, 0x98};
    fake::usb::QueueControlAnswer(kPrinterPath, "OK");
    EXPECT_EQ(0, Write(five, 5));
    EXPECT_EQ(std::string("\x10\x12\x34", 3), fake::usb::ControlRequests(kPrinterPath).at(0));
    EXPECT_TRUE(
        Logged("CSvComUsb::WriteInterface0 - Bytes to send: 3 - only 3 bytes can be send: "
               "SendBuffer[0]=0x10, SendBuffer[1]=0x34, SendBuffer[2]=0x12 "));
    const unsigned char one[] = {0x07};
    const unsigned char two[] = {0x07, 0x01};
    const unsigned char three[] = {0x07, 0x01, 0x02};
    EXPECT_EQ(0, Write(one, 1));
    EXPECT_EQ(0, Write(two, 2));
    EXPECT_EQ(0, Write(three, 3));
    EXPECT_EQ(std::string("\x07\x00\x00", 3), fake::usb::ControlRequests(kPrinterPath).at(1));
    EXPECT_EQ(std::string("\x07\x00\x01", 3), fake::usb::ControlRequests(kPrinterPath).at(2));
    EXPECT_EQ(std::string("\x07\x02\x01", 3), fake::usb::ControlRequests(kPrinterPath).at(3));
    EXPECT_EQ(1u, LinesWith("only 3 bytes can be send"));  // for the 5 bytes only
    EXPECT_EQ(4u, LinesWith("CSvComUsb::WriteUsb -  END"));
    int code = 0;
    EXPECT_EQ("OK", ReadUpTo(100, &code));
    EXPECT_EQ(0, code);
    EXPECT_EQ("", ReadUpTo(100, &code));
    EXPECT_EQ(0, code);
    EXPECT_EQ(328, WriteF("/etc/hostname"));
}

TEST_F(UsbTransfer, InterfaceZeroAnswersAreKeptInOrderUntilTheStoreIsFull) {
    OpenOnInterfaceZero();
    const unsigned char request[] = {0x01};
    std::string first(600, 'a');
    first[0] = 'F';
    fake::usb::QueueControlAnswer(kPrinterPath, first);
    fake::usb::QueueControlAnswer(kPrinterPath, std::string(600, 'b'));
    fake::usb::QueueControlAnswer(kPrinterPath, std::string(424, 'c'));
    fake::usb::QueueControlAnswer(kPrinterPath, std::string(1, 'd'));
    EXPECT_EQ(0, Write(request, 1));
    EXPECT_EQ(326, Write(request, 1));
    EXPECT_EQ(0, Write(request, 1));  // exactly 1024 bytes stored
    EXPECT_EQ(326, Write(request, 1));
    int code = 0;
    EXPECT_EQ(first.substr(0, 10), ReadUpTo(10, &code));
    EXPECT_EQ(first.substr(10) + std::string(424, 'c'), ReadUpTo(2000, &code));
    fake::usb::QueueControlAnswer(kPrinterPath, "xyz");
    EXPECT_EQ(0, Write(request, 1));
    EXPECT_EQ(0, Clean(0, 0));
    EXPECT_EQ("", ReadUpTo(10, &code));
}

TEST_F(UsbTransfer, InterfaceZeroRequestFailureGives327) {
    OpenOnInterfaceZero();
    const unsigned char request[] = {0x01, 0x02};
    fake::FailCall("DeviceIoControl", 31, 1);
    EXPECT_EQ(327, Write(request, 2));
    EXPECT_TRUE(
        Logged("CSvComUsb::WriteInterface0 - Error calling DeviceIOControl() for Interface 0"));
    unsigned char none = 0;
    EXPECT_EQ(0, Write(&none, 0));
    EXPECT_TRUE(fake::usb::ControlRequests(kPrinterPath).empty());
}

TEST_F(UsbTransfer, DataLevelDumpsEveryByteSentAndReceived) {
    int id = 0;
    ASSERT_EQ(0, CreateCommunicationPort(2, LOG_MODE_FILE, LOG_DATA, log.c_str(), &id));
    OpenReceiptPrinter();
    fake::usb::FeedRead(kPrinterPath, "PIPE00", "\x41");
    EXPECT_EQ(0, WriteText(std::string("\x01\xfe", 2)));
    int code = 0;
    ReadUpTo(4, &code);
    EXPECT_TRUE(Logged("CSvComUsb::WriteUsb - SendBuffer[0x01]=0xfe "));
    EXPECT_TRUE(Logged("CSvComUsb::ReadUsb - ReceiveBuffer[0x00]=0x41 "));
}

}  // namespace
