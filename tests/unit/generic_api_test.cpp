// The generic entry points: argument checks, dispatch and its log lines,
// the unsupported cases, the read-ahead FIFO, and the refusals of serial
// entry points on ports of another link type.
#include <cstring>
#include <string>

#include "comlayer/port/PortLayer.h"
#include "tests/unit/serial_fixture.h"

namespace {

using serial_testing::SerialFake;
using GenericApi = SerialFake;

TEST(GenericApiWithoutPort, EveryEntryPointGives5) {
    fake::Reset();
    DeleteAllLayerItems();
    unsigned char bytes[4] = {};
    char text[16] = {};
    unsigned got = 0;
    int a = 0, b = 0, c = 0, d = 0, e = 0;
    EXPECT_EQ(5, Open());
    EXPECT_EQ(5, Write(bytes, 1));
    EXPECT_EQ(5, WriteF("/tmp/x"));
    EXPECT_EQ(5, Read(text, 4, &got));
    EXPECT_EQ(5, ReadFIFO(bytes, 1, &got));
    EXPECT_EQ(5, Clean(1, 1));
    EXPECT_EQ(5, Close());
    EXPECT_EQ(5, IsDeviceAvailable());
    EXPECT_EQ(5, SetPacketSize(10, 10));
    EXPECT_EQ(5, GetPacketSize(&a, &b));
    EXPECT_EQ(5, GetLastErrorComm(&a));
    EXPECT_EQ(5, ResetLastErrorComm());
    EXPECT_EQ(5, SerialEnumPorts(text, sizeof text));
    EXPECT_EQ(5, SerialEnumPrinters(nullptr, text, sizeof text));
    EXPECT_EQ(5, InitSerialPort("COM1", 9600, 0, 8, 0, 2));
    EXPECT_EQ(5, InitSerialPrinter("Receipt"));
    EXPECT_EQ(5, GetSerialPort(text));
    EXPECT_EQ(5, SetSerialTimeout(1, 2, 3, 4, 5));
    EXPECT_EQ(5, GetSerialParameters(&a, &b, &c, &d, &e));
    EXPECT_EQ(5, GetSerialTimeout(&a, &b, &c, &d, &e));
    EXPECT_EQ(5, AdvSetSerialDTR(1));
    EXPECT_EQ(5, AdvSetSerialRTS(1));
}

TEST_F(GenericApi, NullPointersGive5AndReachNoTransport) {
    int value = 0;
    char text[8];
    unsigned got = 0;
    EXPECT_EQ(5, Read(nullptr, 4, &got));
    EXPECT_EQ(5, Read(text, 4, nullptr));
    EXPECT_EQ(5, ReadFIFO(nullptr, 4, &got));
    EXPECT_EQ(5, GetPacketSize(&value, nullptr));
    EXPECT_EQ(5, GetLastErrorComm(nullptr));
    EXPECT_EQ(5, InitSerialPort(nullptr, 9600, 0, 8, 0, 2));
    EXPECT_EQ(5, GetSerialParameters(&value, &value, &value, nullptr, &value));
    EXPECT_EQ(5, GetSerialTimeout(&value, &value, nullptr, &value, &value));
    EXPECT_FALSE(Logged("InitSerialPort - ", "Calling function in serial class"));
}

TEST_F(GenericApi, DispatchLogsTheClassAtItsLevel) {
    ASSERT_EQ(0, DeleteAllLayerItems());
    ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_FILE, LOG_ERROR, log.c_str(),
                                         &portId));
    ASSERT_EQ(0, InitCom3());
    ASSERT_EQ(0, Open());
    ASSERT_EQ(0, SetPacketSize(10, 10));
    ASSERT_EQ(0, Close());
    EXPECT_FALSE(Logged("Open - ", "Calling function in serial class"));
    EXPECT_TRUE(Logged("SetPacketSize - ", "Calling function in serial class"));
    EXPECT_TRUE(Logged("Close - ", "Calling function in serial class"));
    EXPECT_EQ(122, IsDeviceAvailable());
    EXPECT_TRUE(Logged("IsDeviceAvailable - ", "IsDeviceAvailable() not supported for serial com"));
}

TEST_F(GenericApi, ReadFifoKeepsShortReadForNextCall) {
    OpenCom3();
    fake::QueueSerialRead(serial_testing::kCom3Device, "ABCD");
    fake::QueueSerialRead(serial_testing::kCom3Device, "EFGHIJKL");
    unsigned char buffer[16] = {};
    unsigned got = 99;
    EXPECT_EQ(3, ReadFIFO(buffer, 10, &got));
    EXPECT_TRUE(Logged("ReadFIFO - ", "FIFO Buffer small"));
    ASSERT_EQ(0, ReadFIFO(buffer, 10, &got));
    EXPECT_EQ(10u, got);
    EXPECT_EQ("ABCDEFGHIJ", std::string(reinterpret_cast<char*>(buffer), got));
    EXPECT_EQ(2u, Com3().readAsks.size());
    EXPECT_EQ(1024u - 4u, Com3().readAsks[1]);  // the FIFO's free part

    // Threads of the host coming and going leave the held bytes alone.
    EXPECT_EQ(1, SorlinkMain(2));
    EXPECT_EQ(1, SorlinkMain(3));
    ASSERT_EQ(0, ReadFIFO(buffer, 1, &got));
    EXPECT_EQ("K", std::string(reinterpret_cast<char*>(buffer), got));
    EXPECT_EQ(2u, Com3().readAsks.size());  // served from the FIFO alone

    // Asking for more than is held moves the unread rest to the front before
    // the device fills the FIFO behind it.
    fake::QueueSerialRead(serial_testing::kCom3Device, "MNO");
    ASSERT_EQ(0, ReadFIFO(buffer, 4, &got));
    EXPECT_EQ("LMNO", std::string(reinterpret_cast<char*>(buffer), got));
    ASSERT_EQ(3u, Com3().readAsks.size());
    EXPECT_EQ(1024u - 1u, Com3().readAsks[2]);
    ASSERT_EQ(0, ReadFIFO(buffer, 0, &got));
    EXPECT_EQ(0u, got);
}

TEST_F(GenericApi, ReadFifoReportsTheDeviceReadsFailureAndKeepsItsBytes) {
    OpenCom3();
    unsigned char buffer[16] = {};
    unsigned got = 0;
    EXPECT_EQ(114, ReadFIFO(buffer, 4, &got));
    fake::QueueSerialRead(serial_testing::kCom3Device, "XYZ");
    std::vector<unsigned char> big(2000);
    EXPECT_EQ(3, ReadFIFO(big.data(), 2000, &got));
    EXPECT_EQ(1u + 1u, Com3().readAsks.size());
    ASSERT_EQ(0, ReadFIFO(buffer, 3, &got));
    EXPECT_EQ("XYZ", std::string(reinterpret_cast<char*>(buffer), 3));
}

TEST_F(GenericApi, CleanEmptiesTheFifoOnlyWhenReceiveIsCleaned) {
    OpenCom3();
    fake::QueueSerialRead(serial_testing::kCom3Device, "ABCDEF");
    unsigned char buffer[16] = {};
    unsigned got = 0;
    ASSERT_EQ(0, ReadFIFO(buffer, 2, &got));
    ASSERT_EQ(0, Clean(1, 0));
    ASSERT_EQ(0, ReadFIFO(buffer, 2, &got));
    EXPECT_EQ("CD", std::string(reinterpret_cast<char*>(buffer), 2));
    ASSERT_EQ(0, Clean(0, 1));
    EXPECT_EQ(114, ReadFIFO(buffer, 2, &got));
}

TEST_F(GenericApi, TheFifoIsSharedAcrossPorts) {
    OpenCom3();
    fake::QueueSerialRead(serial_testing::kCom3Device, "1234");
    unsigned char buffer[16] = {};
    unsigned got = 0;
    ASSERT_EQ(0, ReadFIFO(buffer, 1, &got));

    int second = 0;
    ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_FILE, LOG_INFO,
                                         dir.File("b.log").c_str(), &second));
    ASSERT_EQ(0, ReadFIFO(buffer, 3, &got));
    EXPECT_EQ("234", std::string(reinterpret_cast<char*>(buffer), 3));

    // An Ethernet port does not clean, but its receive flag still empties
    // the FIFO.
    ASSERT_EQ(0, SetCommunicationPort(portId));
    fake::QueueSerialRead(serial_testing::kCom3Device, "5678");
    ASSERT_EQ(0, ReadFIFO(buffer, 1, &got));
    int ethernet = 0;
    ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, LOG_INFO,
                                         dir.File("e.log").c_str(), &ethernet));
    EXPECT_EQ(0, IsDeviceAvailable());
    EXPECT_EQ(221, Clean(0, 1));
    EXPECT_TRUE(testing_support::LogHas(dir.File("e.log"),
                                        "Clean -  Clean not supported for ethernet com type"));
    ASSERT_EQ(0, SetCommunicationPort(portId));
    EXPECT_EQ(114, ReadFIFO(buffer, 1, &got));
}

TEST_F(GenericApi, SerialEntryPointsAreRefusedOnOtherLinkTypes) {
    std::string other = dir.File("other.log");
    for (int linkType : {SORLINK_LINK_ETHERNET, SORLINK_LINK_USB}) {
        int id = 0;
        ASSERT_EQ(0,
                  CreateCommunicationPort(linkType, LOG_MODE_FILE, LOG_ERROR, other.c_str(), &id));
        char text[64];
        int a = 0, b = 0, c = 0, d = 0, e = 0;
        EXPECT_EQ(123, SerialEnumPorts(text, sizeof text));
        EXPECT_EQ(123, SerialEnumPrinters(nullptr, text, sizeof text));
        EXPECT_EQ(123, InitSerialPort("COM3", 9600, 0, 8, 0, 2));
        EXPECT_EQ(2048, InitSerialPrinter("Receipt"));
        EXPECT_EQ(123, GetSerialPort(text));
        EXPECT_EQ(123, SetSerialTimeout(1, 2, 3, 4, 5));
        EXPECT_EQ(123, GetSerialParameters(&a, &b, &c, &d, &e));
        EXPECT_EQ(123, GetSerialTimeout(&a, &b, &c, &d, &e));
        EXPECT_EQ(123, AdvSetSerialDTR(1));
        EXPECT_EQ(123, VbAdvSetSerialRTS(1));
        int linkNow = -1;
        ASSERT_EQ(0, GetLayerStatus(&linkNow));
        EXPECT_EQ(linkType, linkNow);
    }
    EXPECT_TRUE(testing_support::LogHas(
        other,
        "InitSerialPrinter -  Serial function failed: a different com type has been setted"));
    EXPECT_TRUE(testing_support::LogHas(
        other, "InitSerialPort -  Serial function failed: a different com type has been setted"));
}

// The entry points a scenario calls: the plain ones or their twins.
struct EntryPoints {
    decltype(&SerialEnumPorts) enumPorts;
    decltype(&SerialEnumPrinters) enumPrinters;
    decltype(&InitSerialPort) initPort;
    decltype(&InitSerialPrinter) initPrinter;
    decltype(&GetSerialParameters) getParameters;
    decltype(&GetSerialPort) getPort;
    decltype(&SetSerialTimeout) setTimeout;
    decltype(&GetSerialTimeout) getTimeout;
    decltype(&Open) open;
    decltype(&AdvSetSerialDTR) setDtr;
    decltype(&AdvSetSerialRTS) setRts;
    decltype(&SetPacketSize) setPacketSize;
    decltype(&GetPacketSize) getPacketSize;
    decltype(&Write) write;
    decltype(&ReadFIFO) readFifo;
    decltype(&Read) read;
    decltype(&Clean) clean;
    decltype(&IsDeviceAvailable) isDeviceAvailable;
    decltype(&GetLastErrorComm) getLastError;
    decltype(&ResetLastErrorComm) resetLastError;
    decltype(&Close) close;
    decltype(&WriteF) writeFile;
};

const EntryPoints kPlain = {SerialEnumPorts,
                            SerialEnumPrinters,
                            InitSerialPort,
                            InitSerialPrinter,
                            GetSerialParameters,
                            GetSerialPort,
                            SetSerialTimeout,
                            GetSerialTimeout,
                            Open,
                            AdvSetSerialDTR,
                            AdvSetSerialRTS,
                            SetPacketSize,
                            GetPacketSize,
                            Write,
                            ReadFIFO,
                            Read,
                            Clean,
                            IsDeviceAvailable,
                            GetLastErrorComm,
                            ResetLastErrorComm,
                            Close,
                            WriteF};
const EntryPoints kTwins = {VbSerialEnumPorts,
                            VbSerialEnumPrinters,
                            VbInitSerialPort,
                            VbInitSerialPrinter,
                            VbGetSerialParameters,
                            VbGetSerialPort,
                            VbSetSerialTimeout,
                            VbGetSerialTimeout,
                            VbOpen,
                            VbAdvSetSerialDTR,
                            VbAdvSetSerialRTS,
                            VbSetPacketSize,
                            VbGetPacketSize,
                            VbWrite,
                            VbReadFIFO,
                            VbRead,
                            VbClean,
                            VbIsDeviceAvailable,
                            VbGetLastErrorComm,
                            VbResetLastErrorComm,
                            VbClose,
                            VbWriteF};

// Runs one scenario through the given entry points; returns the results
// and the log bodies it produced.
std::pair<std::vector<int>, std::vector<std::string>> RunScenario(const EntryPoints& api,
                                                                  const std::string& log) {
    unsigned char bytes[8] = {'a', 'b'};
    char text[1024] = {};
    unsigned got = 0;
    int a = 0, b = 0, c = 0, d = 0, e = 0;
    fake::QueueSerialRead(serial_testing::kCom3Device, "reply");
    std::vector<int> results = {api.enumPorts(text, sizeof text),
                                api.enumPrinters("COM3", text, sizeof text),
                                api.initPort("COM3", 9601, 0, 8, 0, 2),
                                api.initPrinter("Fiscal"),
                                api.getParameters(&a, &b, &c, &d, &e),
                                api.initPort("COM3", 9600, 0, 8, 0, 0),
                                api.getPort(text),
                                api.setTimeout(1, 2, 3, 4, 5),
                                api.getTimeout(&a, &b, &c, &d, &e),
                                api.open(),
                                api.setDtr(1),
                                api.setRts(0),
                                api.setPacketSize(64, 64),
                                api.getPacketSize(&a, &b),
                                api.write(bytes, 2),
                                api.readFifo(bytes, 2, &got),
                                api.read(text, 8, &got),
                                api.clean(1, 1),
                                api.isDeviceAvailable(),
                                api.getLastError(&a),
                                api.resetLastError(),
                                api.close(),
                                api.writeFile("/nonexistent/file")};
    return {results, testing_support::LogBodies(log)};
}

TEST_F(GenericApi, TwinsGiveTheSameResultsAndLogLines) {
    fake::SetLocalTime(plat::SystemTime{2026, 1, 4, 1, 12, 0, 0, 0});
    auto plain = RunScenario(kPlain, log);
    DeleteAllLayerItems();
    fake::ResetSerial();
    fake::AddSerialPort(serial_testing::kCom3Device);
    std::string twinLog = dir.File("twin.log");
    ASSERT_EQ(0, CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_FILE,
                                         LOG_DATA | LOG_TRACE | LOG_INFO | LOG_ERROR,
                                         twinLog.c_str(), &portId));
    auto twin = RunScenario(kTwins, twinLog);
    EXPECT_EQ(plain.first, twin.first);
    EXPECT_EQ((std::vector<int>{0, 0, 1, 0, 116, 0, 0,   0, 0, 0, 0,  0,
                                0, 0, 0, 0, 114, 0, 122, 0, 0, 0, 103}),
              plain.first);
    EXPECT_EQ(plain.second, twin.second);
}

}  // namespace
