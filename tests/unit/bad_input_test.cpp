// Every row of docs/bad-inputs.md, checked against the fake platform: the
// bad input, the port it is given to, the result code and the log line the
// call writes. Texts without a terminator are exactly as long as their
// documented size, on the heap, so AddressSanitizer sees any read past it.
// A second test keeps the document's table and these rows the same.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <deque>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_serial.h"
#include "tests/fake/fake_usb.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr int kNoPort = -1;
constexpr int kSerial = SORLINK_LINK_SERIAL;
constexpr int kEthernet = SORLINK_LINK_ETHERNET;
constexpr int kUsb = SORLINK_LINK_USB;

const char kPrinterClass[] = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const char kUsbPath[] =
    "\\\\?\\usb#vid_0f3c&pid_0101#A1B2C3#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
    "\"\\\\Device\\\\Serial0\"=\"COM1\"\n\"\\\\Device\\\\Serial2\"=\"COM3\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Receipt]\n"
    "\"Port\"=\"COM3:\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Kitchen]\n"
    "\"Port\"=\"IP_127.0.0.1\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP "
    "Port\\Ports\\IP_127.0.0.1]\n"
    "\"IpAddress\"=\"127.0.0.1\"\n\"PortNumber\"=dword:0000238c\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0F3C&PID_0101\\A1B2C3]\n"
    "\"ParentIdPrefix\"=\"7&1a2b3c4d&0\"\n\n";

// Buffers of a row's call; freed after each row.
std::deque<std::vector<char>>& Held() {
    static std::deque<std::vector<char>> held;
    return held;
}

// `size` bytes of 'x' and no terminator.
char* Unterminated(std::size_t size) {
    Held().emplace_back(size, 'x');
    return Held().back().data();
}
// A terminated text of `length` characters.
char* Text(std::size_t length, char fill = 'x') {
    Held().emplace_back(length + 1, fill);
    Held().back()[length] = '\0';
    return Held().back().data();
}
// An out buffer of exactly `size` bytes.
char* Out(std::size_t size) {
    Held().emplace_back(size, '\x5a');
    return Held().back().data();
}
int* IntOut() {
    return reinterpret_cast<int*>(Out(sizeof(int)));
}
unsigned* CountOut() {
    return reinterpret_cast<unsigned*>(Out(sizeof(unsigned)));
}
const unsigned char* Bytes(std::size_t size) {
    return reinterpret_cast<const unsigned char*>(Out(size));
}

void None() {}
void InitCom3() {
    InitSerialPort("COM3", 9600, 0, 8, 0, 0);
}
void OpenCom3() {
    InitCom3();
    Open();
}
void InitTcp() {
    InitEthTCP("127.0.0.1", 9100);
}
void OpenTcp() {
    InitTcp();
    Open();
}
void InitUdp() {
    InitEthUDP("127.0.0.1", 9100, 9101);
}
void InitUsb() {
    InitUsbVidPidSerial("0f3c", "0101", "A1B2C3");
}
void OpenUsb() {
    InitUsb();
    Open();
}

struct Row {
    const char* entry;
    const char* input;
    int port;         // link type of the port the call is given, or kNoPort
    void (*setup)();  // brings the port to the state of the row
    int (*call)();
    int code;
    const char* logLine;  // the line the call writes (without its stamp), "" for none
};

const char* PortName(int port) {
    switch (port) {
        case kSerial:
            return "serial";
        case kEthernet:
            return "Ethernet";
        case kUsb:
            return "USB";
        default:
            return "none";
    }
}

// clang-format off
const Row kRows[] = {
    // Ports and the layer.
    {"CreateCommunicationPort", "null portId", kNoPort, None,
     [] { return CreateCommunicationPort(0, LOG_MODE_NONE, 0, nullptr, nullptr); }, 5, ""},
    {"CreateCommunicationPort", "link type 7 (stored as serial)", kNoPort, None,
     [] { int* id = IntOut(); int* type = IntOut();
          int r = CreateCommunicationPort(7, LOG_MODE_NONE, 0, nullptr, id);
          return r != 0 ? r : GetLayerStatus(type) + *type; }, 0, ""},
    {"CreateCommunicationPort", "link type -1 (stored as serial)", kNoPort, None,
     [] { int* id = IntOut(); int* type = IntOut();
          int r = CreateCommunicationPort(-1, LOG_MODE_NONE, 0, nullptr, id);
          return r != 0 ? r : GetLayerStatus(type) + *type; }, 0, ""},
    {"CreateCommunicationPort", "log mode 7", kNoPort, None,
     [] { return CreateCommunicationPort(0, 7, -1, nullptr, IntOut()); }, 0, ""},
    {"CreateCommunicationPort", "log path of 200 bytes, no terminator", kNoPort, None,
     [] { return CreateCommunicationPort(0, LOG_MODE_FILE, 0, Unterminated(200), IntOut()); }, 0, ""},
    {"CreateCommunicationPort", "log path of 5000 characters", kNoPort, None,
     [] { return CreateCommunicationPort(0, LOG_MODE_FILE, 0, Text(5000), IntOut()); }, 0, ""},
    {"DeleteCommunicationPort", "unknown ID", kSerial, None,
     [] { return DeleteCommunicationPort(999999); }, 6, "DeleteCommunicationPort -  ID not found"},
    {"DeleteCommunicationPort", "negative ID", kSerial, None,
     [] { return DeleteCommunicationPort(-1); }, 6, "DeleteCommunicationPort -  ID not found"},
    {"DeleteCommunicationPort", "the same ID twice", kNoPort, None,
     [] { int* id = IntOut(); CreateCommunicationPort(0, LOG_MODE_NONE, 0, nullptr, id);
          DeleteCommunicationPort(*id); return DeleteCommunicationPort(*id); }, 6, ""},
    {"DeleteAllLayerItems", "no ports", kNoPort, None, [] { return DeleteAllLayerItems(); }, 0, ""},
    {"SetCommunicationPort", "unknown ID", kSerial, None,
     [] { return SetCommunicationPort(999999); }, 4, "SetCommunicationPort -  ID not found"},
    {"GetIDPort", "null portId", kSerial, None, [] { return GetIDPort(nullptr); }, 5, ""},
    {"GetLayerStatus", "null linkType", kSerial, None, [] { return GetLayerStatus(nullptr); }, 5, ""},

    // Generic I/O.
    {"Write", "null data", kEthernet, OpenTcp, [] { return Write(nullptr, 10); }, 5, ""},
    {"Write", "length -1", kEthernet, OpenTcp, [] { return Write(Bytes(16), -1); }, 5, ""},
    {"Write", "length INT_MIN", kSerial, OpenCom3, [] { return Write(Bytes(16), INT_MIN); }, 5, ""},
    {"Write", "before Open", kSerial, InitCom3, [] { return Write(Bytes(4), 4); }, 103, "CSvComSerial::WriteSerial -  Impossibile to perform the operation: device is not open"},
    {"Write", "before Open", kEthernet, InitTcp, [] { return Write(Bytes(4), 4); }, 206, "CSvComEth::WriteEth -  Impossible to perform the operation: socket and connections are not opened"},
    {"Write", "before Open", kUsb, InitUsb, [] { return Write(Bytes(4), 4); }, 309, "CSvComUsb::WriteUsb -  Usb device not opened: imposible to perform operation"},
    {"WriteF", "null path", kEthernet, OpenTcp, [] { return WriteF(nullptr); }, 5, ""},
    {"WriteF", "empty path", kEthernet, OpenTcp, [] { return WriteF(""); }, 5, ""},
    {"WriteF", "missing file", kEthernet, OpenTcp, [] { return WriteF("/nonexistent/sorlink.bin"); }, 10, "CSvComEth::WriteFileEth -  Impossibile to open file /nonexistent/sorlink.bin"},
    {"WriteF", "path of 5000 characters", kSerial, OpenCom3, [] { return WriteF(Text(5000, 'p')); }, 10, "CSvComSerial::WriteFileSerial -  Impossibile to open file ppp..."},
    {"WriteF", "a folder", kUsb, OpenUsb, [] { return WriteF("/tmp"); }, 10, "CSvComUsb::WriteFileUsb -  Impossibile to open file /tmp"},
    {"Read", "null buffer", kEthernet, OpenTcp, [] { return Read(nullptr, 10, CountOut()); }, 5, ""},
    {"Read", "null count", kEthernet, OpenTcp, [] { return Read(Out(10), 10, nullptr); }, 5, ""},
    {"Read", "size -1", kSerial, OpenCom3, [] { return Read(Out(10), -1, CountOut()); }, 5, ""},
    {"Read", "before Open", kSerial, InitCom3, [] { return Read(Out(10), 10, CountOut()); }, 103, "CSvComSerial::ReadSerial -  Impossibile to perform the operation: device is not open"},
    {"Read", "before Open", kEthernet, InitTcp, [] { return Read(Out(10), 10, CountOut()); }, 206, "CSvComEth::ReadEth -  Impossible to perform the operation: socket and connections are not opened"},
    {"Read", "before Open", kUsb, InitUsb, [] { return Read(Out(10), 10, CountOut()); }, 309, "CSvComUsb::ReadUsb -  Usb device not opened: imposible to perform operation"},
    {"ReadFIFO", "null buffer", kSerial, OpenCom3, [] { return ReadFIFO(nullptr, 4, CountOut()); }, 5, ""},
    {"ReadFIFO", "null count", kSerial, OpenCom3,
     [] { return ReadFIFO(reinterpret_cast<unsigned char*>(Out(4)), 4, nullptr); }, 5, ""},
    {"ReadFIFO", "length UINT_MAX, nothing to read", kEthernet, OpenTcp,
     [] { return ReadFIFO(reinterpret_cast<unsigned char*>(Out(16)), UINT_MAX, CountOut()); }, 214, "CSvComEth::ReadTCP -  Read failed: error system occurred during Read()"},
    {"ReadFIFO", "length 2000 (above the FIFO), 8 bytes come", kSerial, OpenCom3,
     [] { fake::QueueSerialRead("\\Device\\Serial2", "12345678");
          return ReadFIFO(reinterpret_cast<unsigned char*>(Out(16)), 2000, CountOut()); }, 3, "ReadFIFO -  FIFO Buffer small"},
    {"Clean", "any flags on an Ethernet port", kEthernet, OpenTcp, [] { return Clean(-1, INT_MIN); }, 221,
     "Clean -  Clean not supported for ethernet com type"},
    {"Clean", "before Open", kSerial, InitCom3, [] { return Clean(1, 1); }, 103, "CSvComSerial::CleanSerial -  Impossibile to perform the operation: device is not open"},
    {"Clean", "before Open", kUsb, InitUsb, [] { return Clean(1, 1); }, 309, "CSvComUsb::CleanUsb -  Usb device not opened: imposible to perform operation"},
    {"Open", "before any init", kSerial, None, [] { return Open(); }, 101, "CSvComSerial::OpenSerial -  Open failed: serial device has not been initalized"},
    {"Open", "before any init", kEthernet, None, [] { return Open(); }, 201, "CSvComEth::OpenEth -  Open ethernet failed: no init was done"},
    {"Open", "before any init", kUsb, None, [] { return Open(); }, 304, "CSvComUsb::OpenUsb -  USB device not initialized"},
    {"Open", "twice", kSerial, OpenCom3, [] { return Open(); }, 102, "CSvComSerial::OpenSerial -  Serial device already opened"},
    {"Open", "twice", kEthernet, OpenTcp, [] { return Open(); }, 202, "CSvComEth::OpenEth -  Open ethernet failed: a connection is already active"},
    {"Open", "twice", kUsb, OpenUsb, [] { return Open(); }, 305, "CSvComUsb::OpenUsb -  USB device is already opened"},
    {"Close", "before Open", kSerial, InitCom3, [] { return Close(); }, 103, "CSvComSerial::CloseSerial -  Impossibile to perform the operation: device is not open"},
    {"Close", "before Open", kEthernet, InitTcp, [] { return Close(); }, 206, "CSvComEth::CloseEth -  Impossible to perform the operation: socket and connections are not opened"},
    {"Close", "before Open", kUsb, InitUsb, [] { return Close(); }, 309, "CSvComUsb::CloseUsb -  Usb device not opened: imposible to perform operation"},
    {"Close", "twice", kSerial, OpenCom3, [] { Close(); return Close(); }, 103, "CSvComSerial::CloseSerial -  Impossibile to perform the operation: device is not open"},
    {"Close", "twice", kEthernet, OpenTcp, [] { Close(); return Close(); }, 206, "CSvComEth::CloseEth -  Impossible to perform the operation: socket and connections are not opened"},
    {"Close", "twice", kUsb, OpenUsb, [] { Close(); return Close(); }, 309, "CSvComUsb::CloseUsb -  Usb device not opened: imposible to perform operation"},
    {"IsDeviceAvailable", "a serial port", kSerial, OpenCom3, [] { return IsDeviceAvailable(); }, 122,
     "IsDeviceAvailable -  IsDeviceAvailable() not supported for serial com"},
    {"IsDeviceAvailable", "before Open", kUsb, InitUsb, [] { return IsDeviceAvailable(); }, 309, "CSvComUsb::UsbIsAvailable -  Usb device not opened: imposible to perform operation"},
    {"SetPacketSize", "0 and 512", kSerial, None, [] { return SetPacketSize(0, 512); }, 9, "CSvComSerial::SetPacketSerial -  Packet size can't be = 0"},
    {"SetPacketSize", "-1 and -1", kEthernet, None, [] { return SetPacketSize(-1, -1); }, 9, "CSvComEth::SetPacketEth -  Packet size can't be > 16777216"},
    {"SetPacketSize", "INT_MAX and 64", kUsb, None, [] { return SetPacketSize(INT_MAX, 64); }, 9, "CSvComUsb::SetPacketUsb -  Packet size can't be > 16777216"},
    {"GetPacketSize", "null write size", kSerial, None, [] { return GetPacketSize(nullptr, IntOut()); }, 5, ""},
    {"GetLastErrorComm", "null error", kUsb, None, [] { return GetLastErrorComm(nullptr); }, 5, ""},

    // Serial.
    {"SerialEnumPorts", "null buffer", kSerial, None, [] { return SerialEnumPorts(nullptr, 64); }, 5, ""},
    {"SerialEnumPorts", "size 0", kSerial, None, [] { return SerialEnumPorts(Out(1), 0); }, 3, "CSvComSerial::EnumPorts -  Buffer size parameter can not contain the result"},
    {"SerialEnumPorts", "buffer of 9 bytes for COM1 and COM3", kSerial, None,
     [] { return SerialEnumPorts(Out(9), 9); }, 3, "CSvComSerial::EnumPorts -  Buffer size parameter can not contain the result"},
    {"SerialEnumPrinters", "port name of 1024 bytes, no terminator", kSerial, None,
     [] { return SerialEnumPrinters(Unterminated(1024), Out(64), 64); }, 0, "CSvComSerial::EnumPrinters -  No printers found"},
    {"SerialEnumPrinters", "buffer smaller than the list", kSerial, None,
     [] { return SerialEnumPrinters(nullptr, Out(4), 4); }, 3, "CSvComSerial::EnumPrinters -  Buffer size parameter can not contain the result"},
    {"SerialEnumPrinters", "no printers on the port, size 0", kSerial, None,
     [] { return SerialEnumPrinters("COM7", Out(1), 0); }, 3, "CSvComSerial::EnumPrinters -  Buffer size parameter can not contain the result"},
    {"InitSerialPort", "null name", kSerial, None, [] { return InitSerialPort(nullptr, 9600, 0, 8, 0, 0); }, 5, ""},
    {"InitSerialPort", "unknown port", kSerial, None, [] { return InitSerialPort("COM77", 9600, 0, 8, 0, 0); }, 256, "CSvComSerial::InitPort -  Init failed: comm port COM77 not found"},
    {"InitSerialPort", "name of 1024 bytes, no terminator", kSerial, None,
     [] { return InitSerialPort(Unterminated(1024), 9600, 0, 8, 0, 0); }, 256, "CSvComSerial::InitPort -  Init failed: comm port xxx..."},
    {"InitSerialPort", "name of 5000 characters", kSerial, None,
     [] { return InitSerialPort(Text(5000), 9600, 0, 8, 0, 0); }, 256, "CSvComSerial::InitPort -  Init failed: comm port xxx..."},
    {"InitSerialPort", "every setting out of range", kSerial, None,
     [] { return InitSerialPort("COM3", -1, 9, 3, 7, 9); }, 31, "CSvComSerial::InitParameters -  Flux Control not setted, wrong parameter"},
    {"InitSerialPort", "while open", kSerial, OpenCom3, [] { return InitSerialPort("COM3", 9600, 0, 8, 0, 0); }, 1024, "CSvComSerial::InitPort -  Init failed: serial device already opened"},
    {"InitSerialPort", "an Ethernet port", kEthernet, None, [] { return InitSerialPort("COM3", 9600, 0, 8, 0, 0); }, 123,
     "InitSerialPort -  Serial function failed: a different com type has been setted"},
    {"InitSerialPrinter", "null name", kSerial, None, [] { return InitSerialPrinter(nullptr); }, 5, ""},
    {"InitSerialPrinter", "unknown printer", kSerial, None, [] { return InitSerialPrinter("Nowhere"); }, 512, "CSvComSerial::InitPrinter -  Init failed: printer Nowhere not found"},
    {"InitSerialPrinter", "name of 1024 bytes, no terminator", kSerial, None,
     [] { return InitSerialPrinter(Unterminated(1024)); }, 512, "CSvComSerial::InitPrinter -  Init failed: printer xxx..."},
    {"InitSerialPrinter", "a USB port", kUsb, None, [] { return InitSerialPrinter("Receipt"); }, 2048,
     "InitSerialPrinter -  Serial function failed: a different com type has been setted"},
    {"GetSerialPort", "null buffer", kSerial, InitCom3, [] { return GetSerialPort(nullptr); }, 5, ""},
    {"GetSerialPort", "before init", kSerial, None, [] { return GetSerialPort(Out(1024)); }, 101, "CSvComSerial::GetPort -  Open failed: serial device has not been initalized"},
    {"GetSerialParameters", "a null pointer", kSerial, InitCom3,
     [] { return GetSerialParameters(IntOut(), IntOut(), nullptr, IntOut(), IntOut()); }, 5, ""},
    {"GetSerialParameters", "before Open", kSerial, InitCom3,
     [] { return GetSerialParameters(IntOut(), IntOut(), IntOut(), IntOut(), IntOut()); }, 0, "CSvComSerial::GetParameters -  Status parameters returned: [baudrate,parity,byte size, byte stop, flux control] = [9600 0 8 0 0]"},
    {"GetSerialTimeout", "a null pointer", kSerial, None,
     [] { return GetSerialTimeout(IntOut(), IntOut(), IntOut(), IntOut(), nullptr); }, 5, ""},
    {"SetSerialTimeout", "negative time-outs", kSerial, OpenCom3,
     [] { return SetSerialTimeout(-1, -1, -1, INT_MIN, -1); }, 0, "CSvComSerial::SetTimeout Timeout values setted to: [read interval, read constant, read multiplier, constant, write multiplier] = [-1 -1 -1 -2147483648 -1]"},
    {"AdvSetSerialDTR", "before Open", kSerial, InitCom3, [] { return AdvSetSerialDTR(1); }, 103, "CSvComSerial::SetDTR -  Impossibile to perform the operation: device is not open"},
    {"AdvSetSerialRTS", "state -1, open", kSerial, OpenCom3, [] { return AdvSetSerialRTS(-1); }, 0, "AdvSetSerialRTS -  Calling function in serial class"},

    // Ethernet.
    {"InitEthTCP", "null address", kEthernet, None, [] { return InitEthTCP(nullptr, 9100); }, 5, ""},
    {"InitEthTCP", "a host name", kEthernet, None, [] { return InitEthTCP("localhost", 9100); }, 205, "CSvComEth::InitTCPIp -  Init failed: IP format not correct "},
    {"InitEthTCP", "address of 20 bytes, no terminator", kEthernet, None,
     [] { return InitEthTCP(Unterminated(20), 9100); }, 205, "CSvComEth::InitTCPIp -  Init failed: IP format not correct "},
    {"InitEthTCP", "address of 5000 characters", kEthernet, None,
     [] { return InitEthTCP(Text(5000, '1'), 9100); }, 205, "CSvComEth::InitTCPIp -  Init failed: IP format not correct "},
    {"InitEthTCP", "TCP port -1 and 70000", kEthernet, None,
     [] { return InitEthTCP("127.0.0.1", -1) + InitEthTCP("127.0.0.1", 70000); }, 0, "InitEthTCP -  Calling function in ethernet class"},
    {"InitEthTCP", "while connected", kEthernet, OpenTcp, [] { return InitEthTCP("127.0.0.1", 9100); }, 200, "CSvComEth::InitTCPIp -  Init failed: a TCP connection is already active"},
    {"InitEthTCP", "a serial port", kSerial, None, [] { return InitEthTCP("127.0.0.1", 9100); }, 203,
     "InitEthTCP -  Ethernet function failed: a different com type has been setted"},
    {"InitEthUDP", "null address", kEthernet, None, [] { return InitEthUDP(nullptr, 1, 2); }, 5, ""},
    {"InitEthUDP", "address of 20 bytes, no terminator", kEthernet, None,
     [] { return InitEthUDP(Unterminated(20), 1, 2); }, 205, "CSvComEth::InitUDP -  Init failed: IP format not correct "},
    {"InitEthTCPPrinter", "null name", kEthernet, None, [] { return InitEthTCPPrinter(nullptr); }, 5, ""},
    {"InitEthTCPPrinter", "unknown printer", kEthernet, None, [] { return InitEthTCPPrinter("Nowhere"); }, 218, "CSvComEth::InitTCPPrinter -  Impossibile to find an installed TCP printer with the name Nowhere"},
    {"InitEthTCPPrinter", "name of 1024 bytes, no terminator", kEthernet, None,
     [] { return InitEthTCPPrinter(Unterminated(1024)); }, 218, "CSvComEth::InitTCPPrinter -  Impossibile to find an installed TCP printer with the name xxx..."},
    {"EthEnumPrinters", "null buffer", kEthernet, None, [] { return EthEnumPrinters(nullptr, 64); }, 5, ""},
    {"EthEnumPrinters", "buffer smaller than the list", kEthernet, None,
     [] { return EthEnumPrinters(Out(7), 7); }, 3, "CSvComEth::EnumEthernet -  Buffer size parameter can not contain the result"},
    {"GetEthIpAndPort", "null port", kEthernet, InitTcp, [] { return GetEthIpAndPort(Out(20), nullptr); }, 5, ""},
    {"GetEthIpAndPort", "before init", kEthernet, None, [] { return GetEthIpAndPort(Out(20), IntOut()); }, 201, "CSvComEth::GetIpAndPort -  Open ethernet failed: no init was done"},
    {"SetEthConnTimeout", "0", kEthernet, None, [] { return SetEthConnTimeout(0); }, 204, "CSvComEth::SetConnTimeoutEth -  Ethernet timeout values cannot be =0 "},
    {"SetEthConnTimeout", "-1", kEthernet, None, [] { return SetEthConnTimeout(-1); }, 0, "CSvComEth::SetConnTimeoutEth -  Connection Timeout value for ethernet communication setted to: [connection timeout] = [-1]"},
    {"GetEthConnTimeout", "null", kEthernet, None, [] { return GetEthConnTimeout(nullptr); }, 5, ""},
    {"SetEthTimeout", "0 and 5000", kEthernet, None, [] { return SetEthTimeout(0, 5000); }, 204, "CSvComEth::SetTimeoutEth -  Ethernet timeout values cannot be =0 "},
    {"GetEthTimeout", "null receive time-out", kEthernet, None, [] { return GetEthTimeout(IntOut(), nullptr); }, 5, ""},
    {"AdvGetEthIpReceived", "null buffer", kEthernet, InitUdp, [] { return AdvGetEthIpReceived(nullptr, 16); }, 5, ""},
    {"AdvGetEthIpReceived", "size -1", kEthernet, InitUdp, [] { return AdvGetEthIpReceived(Out(16), -1); }, 3, "CSvComEth::GetIpReceived -  Buffer size parameter can not contain the result"},
    {"AdvGetEthIpReceived", "TCP mode", kEthernet, InitTcp, [] { return AdvGetEthIpReceived(Out(16), 16); }, 222, "CSvComEth::GetIpReceived -  No UDP mode is setted, function disabled"},

    // USB.
    {"InitUsbInterface", "type -1", kUsb, None, [] { return InitUsbInterface(-1); }, 307, "CSvComUsb::InitInterface -  The interface type -1 is not valid"},
    {"InitUsbInterface", "type 4", kUsb, None, [] { return InitUsbInterface(4); }, 307, "CSvComUsb::InitInterface -  The interface type 4 is not valid"},
    {"InitUsbInterface", "while open", kUsb, OpenUsb, [] { return InitUsbInterface(1); }, 301, "CSvComUsb::InitInterface -  Init failed: USB device already opened"},
    {"InitUsbPrinter", "null name", kUsb, None, [] { return InitUsbPrinter(nullptr); }, 5, ""},
    {"InitUsbPrinter", "unknown printer", kUsb, None, [] { return InitUsbPrinter("Nowhere"); }, 302, "CSvComUsb::InitPrinter -  A printer with the name Nowhere has not found in the registry SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\ "},
    {"InitUsbPrinter", "name of 1024 bytes, no terminator", kUsb, None,
     [] { return InitUsbPrinter(Unterminated(1024)); }, 302, "CSvComUsb::InitPrinter -  A printer with the name xxx..."},
    {"InitUsbPrinter", "an Ethernet port", kEthernet, None, [] { return InitUsbPrinter("Receipt"); }, 300,
     "InitUsbPrinter -  USB function failed: a different com type has been setted"},
    {"GetUsbVidPid", "null product ID", kUsb, InitUsb, [] { return GetUsbVidPid(Out(5), nullptr); }, 5, ""},
    {"GetUsbVidPid", "before init", kUsb, None, [] { return GetUsbVidPid(Out(5), Out(5)); }, 304, "CSvComUsb::GetVidPid -  USB device not initialized"},
    {"InitUsbVidPidSerial", "null texts", kUsb, None, [] { return InitUsbVidPidSerial(nullptr, nullptr, nullptr); }, 303, "CSvComUsb::InitVidPidSerial -  VID  not valid"},
    {"InitUsbVidPidSerial", "vendor ID of 5 bytes, no terminator", kUsb, None,
     [] { return InitUsbVidPidSerial(Unterminated(5), "0101", "A1B2C3"); }, 303, "CSvComUsb::InitVidPidSerial -  VID xxxxx not valid"},
    {"InitUsbVidPidSerial", "product ID of 5 bytes, no terminator", kUsb, None,
     [] { return InitUsbVidPidSerial("0f3c", Unterminated(5), "A1B2C3"); }, 303, "CSvComUsb::InitVidPidSerial -  VID 0f3c or PID xxxxx not valid"},
    {"InitUsbVidPidSerial", "serial number of 1024 bytes, no terminator", kUsb, None,
     [] { return InitUsbVidPidSerial("0f3c", "0101", Unterminated(1024)); }, 303, "CSvComUsb::InitVidPidSerial -  Serial number not valid"},
    {"InitUsbVidPidSerial", "while open", kUsb, OpenUsb, [] { return InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"); }, 301, "CSvComUsb::InitVidPidSerial -  Init failed: USB device already opened"},
    {"SetUsbTimeout", "0 and 0", kUsb, None, [] { return SetUsbTimeout(0, 0); }, 310, "CSvComUsb::SetTimeout -  Timeout values can not be=0"},
    {"SetUsbTimeout", "-1 and INT_MIN", kUsb, None, [] { return SetUsbTimeout(-1, INT_MIN); }, 0, "CSvComUsb::SetTimeout Timeout values for USB communication setted to: [send timeout, receive timeout] = [-1 , -2147483648 ]"},
    {"GetUsbTimeout", "null send time-out", kUsb, None, [] { return GetUsbTimeout(nullptr, IntOut()); }, 5, ""},
    {"UsbEnumDevices", "null buffer", kUsb, None, [] { return UsbEnumDevices(nullptr, 64); }, 5, ""},
    {"UsbEnumDevices", "buffer smaller than the list", kUsb, None, [] { return UsbEnumDevices(Out(8), 8); }, 3, "CSvComUsb::EnumDevices -  Buffer size parameter can not contain the result"},
    {"UsbEnumPrinters", "null buffer", kUsb, None, [] { return UsbEnumPrinters(nullptr, 64); }, 5, ""},
    {"UsbEnumPrinters", "interface type 3 (scanner)", kUsb, None,
     [] { InitUsbInterface(3); return UsbEnumPrinters(Out(64), 64); }, 329, "CSvComUsb::EnumPrint -  Impossible to list printers: interface scanner is enabled"},
};
// clang-format on

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteAllLayerItems();
        fake::Reset();
        fake::SetDefaultLogPath(dir.File("default.log"));
        fake::SetRegistry(kRegistry);
        fake::AddSerialPort("\\Device\\Serial0");
        fake::AddSerialPort("\\Device\\Serial2");
        fake::usb::AddInterface(kPrinterClass, kUsbPath);
    }
    void TearDown() override {
        DeleteAllLayerItems();
        fake::Reset();
        Held().clear();
    }

    // Runs the row and returns its code; *lines gets what the call logged.
    int Run(const Row& row, std::vector<std::string>* lines) {
        std::string log = dir.File("row.log");
        std::remove(log.c_str());
        DeleteAllLayerItems();
        if (row.port != kNoPort) {
            int id = 0;
            EXPECT_EQ(0, CreateCommunicationPort(row.port, LOG_MODE_FILE, LOG_INFO | LOG_ERROR,
                                                 log.c_str(), &id));
        }
        row.setup();
        std::size_t before = testing_support::LogBodies(log).size();
        int code = row.call();
        std::vector<std::string> all = testing_support::LogBodies(log);
        lines->assign(all.begin() + static_cast<long>(std::min(before, all.size())), all.end());
        DeleteAllLayerItems();
        Held().clear();
        return code;
    }

    testing_support::TempDir dir;
};

TEST_F(BadInput, EveryRowGivesItsCodeAndLogLine) {
    for (const Row& row : kRows) {
        std::vector<std::string> lines;
        int code = Run(row, &lines);
        std::string joined;
        for (const std::string& line : lines) joined += "\n    " + line;
        SCOPED_TRACE(std::string(row.entry) + ", " + row.input + ", " + PortName(row.port) +
                     " port; logged:" + joined);
        EXPECT_EQ(row.code, code);
        if (row.logLine[0] == '\0') {
            EXPECT_TRUE(lines.empty());
        } else {
            // A line shown ending in "..." goes on with the caller's long text.
            std::string expected = row.logLine;
            bool prefixOnly =
                expected.size() > 3 && expected.compare(expected.size() - 3, 3, "...") == 0;
            if (prefixOnly) expected.resize(expected.size() - 3);
            bool found = false;
            for (const std::string& line : lines) {
                found = found || (prefixOnly ? line.rfind(expected, 0) == 0 : line == expected);
            }
            EXPECT_TRUE(found) << "expected line: " << row.logLine;
        }
    }
}

TEST_F(BadInput, WithoutAPortEveryEntryPointThatNeedsOneGives5) {
    DeleteAllLayerItems();
    char buffer[64];
    unsigned count = 0;
    int value = 0;
    const unsigned char data[4] = {1, 2, 3, 4};
    int codes[] = {GetIDPort(&value),
                   GetLayerStatus(&value),
                   Open(),
                   Write(data, 4),
                   WriteF("/tmp/x"),
                   Read(buffer, 4, &count),
                   ReadFIFO(reinterpret_cast<unsigned char*>(buffer), 4, &count),
                   Clean(1, 1),
                   Close(),
                   IsDeviceAvailable(),
                   SetPacketSize(64, 64),
                   GetPacketSize(&value, &value),
                   GetLastErrorComm(&value),
                   ResetLastErrorComm(),
                   SerialEnumPorts(buffer, sizeof buffer),
                   SerialEnumPrinters(nullptr, buffer, sizeof buffer),
                   InitSerialPort("COM1", 9600, 0, 8, 0, 0),
                   InitSerialPrinter("Receipt"),
                   GetSerialPort(buffer),
                   SetSerialTimeout(1, 1, 1, 1, 1),
                   GetSerialParameters(&value, &value, &value, &value, &value),
                   GetSerialTimeout(&value, &value, &value, &value, &value),
                   AdvSetSerialDTR(1),
                   AdvSetSerialRTS(1),
                   InitEthUDP("127.0.0.1", 1, 2),
                   InitEthTCP("127.0.0.1", 9100),
                   InitEthTCPPrinter("Kitchen"),
                   EthEnumPrinters(buffer, sizeof buffer),
                   GetEthIpAndPort(buffer, &value),
                   SetEthConnTimeout(1),
                   GetEthConnTimeout(&value),
                   SetEthTimeout(1, 1),
                   GetEthTimeout(&value, &value),
                   AdvGetEthIpReceived(buffer, 16),
                   InitUsbInterface(1),
                   InitUsbPrinter("Receipt"),
                   GetUsbVidPid(buffer, buffer + 8),
                   InitUsbVidPidSerial("0f3c", "0101", "A1B2C3"),
                   SetUsbTimeout(1, 1),
                   GetUsbTimeout(&value, &value),
                   UsbEnumDevices(buffer, sizeof buffer),
                   UsbEnumPrinters(buffer, sizeof buffer)};
    for (std::size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        EXPECT_EQ(5, codes[i]) << "entry point #" << i;
    }
}

// The table in docs/bad-inputs.md, row for row.
std::string TableLine(const Row& row) {
    std::string log = row.logLine[0] == '\0' ? "(none)" : std::string("`") + row.logLine + "`";
    return std::string("| `") + row.entry + "` | " + row.input + " | " + PortName(row.port) +
           " | " + std::to_string(row.code) + " | " + log + " |";
}

// Prints the table's rows for docs/bad-inputs.md after a change of rows:
// unit_tests --gtest_also_run_disabled_tests --gtest_filter=BadInputTable.*
TEST(BadInputTable, DISABLED_Print) {
    for (const Row& row : kRows) std::printf("%s\n", TableLine(row).c_str());
}

TEST_F(BadInput, TheDocumentListsExactlyTheseRows) {
    std::ifstream document(std::string(SORLINK_SOURCE_DIR) + "/docs/bad-inputs.md");
    ASSERT_TRUE(document.good());
    std::vector<std::string> table;
    std::string line;
    while (std::getline(document, line)) {
        if (line.rfind("| `", 0) == 0) table.push_back(line);
    }
    std::vector<std::string> expected;
    for (const Row& row : kRows) expected.push_back(TableLine(row));
    EXPECT_EQ(expected, table);
}

}  // namespace
