// Run under Wine by run_wine_test.sh: loads Sorlink64.dll by name, as a POS
// application does, and drives it through its exported names.
//
// Arguments (key=value):
//   log=<Windows path of a fresh log file>
//   exports=<Windows path of the list of exported names>
//   version=<the project's version, major.minor.patch>
//   serial=<COM port backed by the Linux printer>, tcp=<loopback TCP port>,
//   udp=<remote port>,<local port>, refused=<loopback TCP port that refuses
//   connections>, and the names the imported registry
//   gives: serialprinter=, tcpprinter=, extraport= (a port without device)
// The Linux printer answers every byte with the same byte, letters in the
// other case.
#include <winsock2.h>
// winsock2.h first: windows.h would otherwise bring in the old winsock.h.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/device_path.h"
#include "sorlink.h"
#include "tests/windows/WineCheck.h"

namespace {

HMODULE library = nullptr;

// Every call looks its export up by name, as the bridge does.
template <class Function>
Function Export(const char* name) {
    FARPROC address = GetProcAddress(library, name);
    if (address == nullptr) {
        wine_check::Fail(__FILE__, __LINE__, std::string("no export ") + name);
        std::exit(wine_check::Failures());
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}
#define SORLINK(name) Export<decltype(&::name)>(#name)

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

// "[YYYY/MM/DD hh:mm:ss:mmmm] " followed by the prefix and the message.
bool HasStamp(const std::string& line) {
    const char* shape = "[dddd/dd/dd dd:dd:dd:dddd] ";
    if (line.size() < std::strlen(shape)) return false;
    for (std::size_t i = 0; shape[i] != '\0'; ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                            : line[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

const int kAllLevels = LOG_DATA | LOG_TRACE | LOG_INFO | LOG_ERROR;

bool Contains(const std::string& list, const std::string& entry) {
    std::string padded = "|" + list + "|";
    return padded.find("|" + entry + "|") != std::string::npos;
}

// Reads until `count` bytes have come or five seconds have passed: a read
// returns what has arrived within the port's own time-outs.
std::string ReadAnswer(std::size_t count) {
    std::string answer;
    DWORD start = GetTickCount();
    for (int attempt = 0; attempt < 50 && answer.size() < count; ++attempt) {
        char buffer[256] = {};
        unsigned received = 0;
        int result = SORLINK(Read)(buffer, static_cast<int>(sizeof buffer), &received);
        if (result == 0 && received <= sizeof buffer) answer.append(buffer, received);
        if (GetTickCount() - start > 5000) break;
    }
    return answer;
}

// Writes a text and expects the printer's answer to it.
void ChecksRoundTrip(const char* what) {
    const std::string text = "Hello Printer 42";
    WCHECK_EQ(0, SORLINK(Write)(reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size())));
    std::string answer = ReadAnswer(text.size());
    if (answer != "hELLO pRINTER 42") {
        wine_check::Fail(__FILE__, __LINE__,
                         std::string(what) + ": the printer answered \"" + answer + "\"");
    }
}

void ChecksEveryNameResolves(const char* exportsPath) {
    wine_check::Section("exports resolve by name");
    std::vector<std::string> names = Lines(wine_check::ReadWholeFile(exportsPath));
    WCHECK_EQ(92, names.size());
    for (std::string& name : names) {
        if (!name.empty() && name.back() == '\r') name.pop_back();
        if (GetProcAddress(library, name.c_str()) == nullptr) {
            wine_check::Fail(__FILE__, __LINE__, "GetProcAddress(\"" + name + "\") failed");
        }
    }
}

// The version resource: the project's version and the product name.
void ChecksTheVersionResource(const char* expectedVersion) {
    wine_check::Section("version resource");
    char fileName[MAX_PATH] = {};
    GetModuleFileNameA(library, fileName, MAX_PATH);
    DWORD unused = 0;
    DWORD size = GetFileVersionInfoSizeA(fileName, &unused);
    std::vector<char> block(size > 0 ? size : 1);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (size == 0 || !GetFileVersionInfoA(fileName, 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize)) {
        wine_check::Fail(__FILE__, __LINE__, "Sorlink64.dll has no version resource");
        return;
    }
    char version[64];
    std::snprintf(version, sizeof version, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                  LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS));
    if (std::string(version) != expectedVersion) {
        wine_check::Fail(__FILE__, __LINE__, std::string("file version ") + version);
    }
    char* product = nullptr;
    UINT productLength = 0;
    WCHECK(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\ProductName",
                          reinterpret_cast<void**>(&product), &productLength));
    WCHECK(product != nullptr && std::string(product) == "Sorlink");
}

void ChecksPortsAndIds(const char* logPath) {
    wine_check::Section("ports and IDs");
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_SERIAL, LOG_MODE_FILE,
                                                  LOG_TRACE | LOG_INFO | LOG_ERROR, logPath, &id));
    WCHECK_EQ(1, id);
    WCHECK_EQ(0,
              SORLINK(VbCreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE,
                                                 LOG_TRACE | LOG_INFO | LOG_ERROR, logPath, &id));
    WCHECK_EQ(2, id);
    int current = 0;
    WCHECK_EQ(0, SORLINK(GetIDPort)(&current));
    WCHECK_EQ(2, current);
    int linkType = -1;
    WCHECK_EQ(0, SORLINK(GetLayerStatus)(&linkType));
    WCHECK_EQ(SORLINK_LINK_ETHERNET, linkType);

    WCHECK_EQ(0, SORLINK(SetCommunicationPort)(1));
    WCHECK_EQ(0, SORLINK(VbGetIDPort)(&current));
    WCHECK_EQ(1, current);
    WCHECK_EQ(4, SORLINK(SetCommunicationPort)(7));
    WCHECK_EQ(203, SORLINK(InitEthTCP)("127.0.0.1", 9100));

    WCHECK_EQ(0, SORLINK(DeleteCommunicationPort)(2));
    WCHECK_EQ(6, SORLINK(DeleteCommunicationPort)(2));
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
    WCHECK_EQ(5, SORLINK(GetIDPort)(&current));

    // IDs are never reused, not even after every port is gone.
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_USB, LOG_MODE_FILE,
                                                  LOG_TRACE | LOG_INFO | LOG_ERROR, logPath, &id));
    WCHECK_EQ(3, id);
    WCHECK_EQ(0, SORLINK(VbDeleteAllLayerItems)());
}

// The lines of a log without their stamps. Each line must have its stamp
// and, the log being a text stream, reach the file with CR LF.
std::vector<std::string> LogBodies(const std::string& text) {
    std::vector<std::string> bodies;
    for (std::string line : Lines(text)) {
        if (!HasStamp(line)) wine_check::Fail(__FILE__, __LINE__, "line without stamp: " + line);
        if (line.empty() || line.back() != '\r') {
            wine_check::Fail(__FILE__, __LINE__, "line without CR LF: " + line);
        } else {
            line.pop_back();
        }
        bodies.push_back(line.size() >= 27 ? line.substr(27) : line);
    }
    return bodies;
}

void ChecksTheLogFile(const char* logPath) {
    wine_check::Section("log file");
    std::string text = wine_check::ReadWholeFile(logPath);
    WCHECK(!text.empty());
    std::vector<std::string> bodies = LogBodies(text);
    auto has = [&](const std::string& body) {
        for (const std::string& line : bodies) {
            if (line == body) return;
        }
        wine_check::Fail(__FILE__, __LINE__, "no log line \"" + body + "\"");
    };
    has(" =====================Log file succesfully created=====================");
    has("CreateCommunicationPort-  START");
    has("CreateCommunicationPort -  END");
    has("SetCommunicationPort -  ID not found");
    has("InitEthTCP -  Ethernet function failed: a different com type has been setted");
    has("DeleteCommunicationPort Deleting object with ID 2 ");
    has("DeleteAllLayerItems -  Destroying all the communication ports and items associated...");

    // The stamp is the local time of the line.
    SYSTEMTIME now;
    GetLocalTime(&now);
    char year[8];
    std::snprintf(year, sizeof year, "[%04d/", now.wYear);
    std::vector<std::string> lines = Lines(text);
    WCHECK(lines.empty() || lines.back().compare(0, 6, year) == 0);
}

void ChecksRegistryListings(const char* logPath, const char* serialPort, const char* extraPort,
                            const char* serialPrinter, const char* tcpPrinter, int tcpPort) {
    wine_check::Section("registry imported into the prefix");
    int id = 0;
    char list[1024] = {};
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_SERIAL, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(0, SORLINK(SerialEnumPorts)(list, sizeof list));
    if (!Contains(list, serialPort) || !Contains(list, extraPort)) {
        wine_check::Fail(__FILE__, __LINE__, std::string("serial ports listed: ") + list);
    }
    WCHECK_EQ(0, SORLINK(SerialEnumPrinters)(nullptr, list, sizeof list));
    if (!Contains(list, serialPrinter)) {
        wine_check::Fail(__FILE__, __LINE__, std::string("serial printers listed: ") + list);
    }
    WCHECK_EQ(0, SORLINK(SerialEnumPrinters)(serialPort, list, sizeof list));
    WCHECK(std::string(list) == serialPrinter);
    // A printer named outside the ANSI code page, on the same port, is
    // passed over by every listing and look-up.
    const std::wstring greek =
        L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\\u0395\u03ba\u03c4\u03c5"
        L"\u03c0\u03c9\u03c4\u03ae\u03c2 \u0393\u03c1\u03b1\u03c6\u03b5\u03af\u03bf\u03c5";
    HKEY key = nullptr;
    WCHECK_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, greek.c_str(), 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &key, nullptr));
    std::wstring greekPort = std::wstring(serialPort, serialPort + std::strlen(serialPort)) + L":";
    RegSetValueExW(key, L"Port", 0, REG_SZ, reinterpret_cast<const BYTE*>(greekPort.c_str()),
                   static_cast<DWORD>((greekPort.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    WCHECK_EQ(0, SORLINK(SerialEnumPrinters)(serialPort, list, sizeof list));
    WCHECK(std::string(list) == serialPrinter);
    WCHECK_EQ(0, SORLINK(SerialEnumPrinters)(nullptr, list, sizeof list));
    WCHECK(Contains(list, serialPrinter) && std::strchr(list, '?') == nullptr);
    WCHECK_EQ(0, SORLINK(InitSerialPrinter)(serialPrinter));
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, greek.c_str());
    char tiny[2] = {};
    WCHECK_EQ(3, SORLINK(SerialEnumPorts)(tiny, sizeof tiny));

    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(0, SORLINK(EthEnumPrinters)(list, sizeof list));
    if (!Contains(list, tcpPrinter)) {
        wine_check::Fail(__FILE__, __LINE__, std::string("TCP printers listed: ") + list);
    }
    WCHECK_EQ(0, SORLINK(InitEthTCPPrinter)(tcpPrinter));
    char address[64] = {};
    int port = 0;
    WCHECK_EQ(0, SORLINK(GetEthIpAndPort)(address, &port));
    WCHECK(std::string(address) == "127.0.0.1");
    WCHECK_EQ(tcpPort, port);
    // The printer found by name is the loopback printer.
    WCHECK_EQ(0, SORLINK(Open)());
    ChecksRoundTrip("TCP printer initialised by name");
    WCHECK_EQ(0, SORLINK(Close)());
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
}

// The COM port is a Linux pseudo-terminal. Wine reports NT 6.1, so the
// layer goes through its DOS device link first.
void ChecksSerialPrinter(const char* logPath, const char* serialPort, const char* serialPrinter) {
    wine_check::Section("serial printer on a pseudo-terminal");
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_SERIAL, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(0, SORLINK(InitSerialPort)(serialPort, 9600, 0, 8, 0, 2));
    WCHECK_EQ(0, SORLINK(SetSerialTimeout)(10, 500, 10, 1000, 10));
    WCHECK_EQ(0, SORLINK(Open)());
    int baud = 0, parity = -1, byteSize = 0, stopBits = -1, flow = -1;
    WCHECK_EQ(0, SORLINK(GetSerialParameters)(&baud, &parity, &byteSize, &stopBits, &flow));
    WCHECK_EQ(9600, baud);
    WCHECK_EQ(8, byteSize);
    WCHECK_EQ(2, flow);
    ChecksRoundTrip("serial port opened by name");
    // A file goes out whole; a missing file and a folder record the
    // system's own errors.
    std::string ticket = std::string(logPath) + ".ticket";
    std::FILE* out = std::fopen(ticket.c_str(), "wb");
    WCHECK(out != nullptr && std::fputs("File 42", out) >= 0 && std::fclose(out) == 0);
    WCHECK_EQ(0, SORLINK(WriteF)(ticket.c_str()));
    WCHECK(ReadAnswer(7) == "fILE 42");
    int error = 0;
    WCHECK_EQ(10, SORLINK(WriteF)((ticket + ".missing").c_str()));
    WCHECK_EQ(0, SORLINK(GetLastErrorComm)(&error));
    WCHECK_EQ(2, error);
    WCHECK_EQ(10, SORLINK(WriteF)((ticket + ".missing\\ticket").c_str()));
    WCHECK_EQ(0, SORLINK(GetLastErrorComm)(&error));
    WCHECK_EQ(3, error);
    WCHECK_EQ(10, SORLINK(WriteF)("C:\\windows"));
    WCHECK_EQ(0, SORLINK(GetLastErrorComm)(&error));
    WCHECK_EQ(5, error);
    WCHECK_EQ(0, SORLINK(Clean)(1, 1));
    WCHECK_EQ(0, SORLINK(Close)());

    // The same port again, chosen through the printer installed on it.
    WCHECK_EQ(0, SORLINK(InitSerialPrinter)(serialPrinter));
    char port[1024] = {};
    WCHECK_EQ(0, SORLINK(GetSerialPort)(port));
    WCHECK(std::string(port) == serialPort);
    WCHECK_EQ(0, SORLINK(Open)());
    ChecksRoundTrip("serial port opened through its printer");
    // The driver's own line state is kept: DTR is switched only when its
    // control mode allows it.
    int dtr = SORLINK(AdvSetSerialDTR)(1);
    if (dtr == 118) {
        std::printf("note: EscapeCommFunction(SETDTR) fails on a pseudo-terminal under Wine\n");
    } else {
        WCHECK(dtr == 0 || dtr == 120);
    }
    WCHECK_EQ(0, SORLINK(VbClose)());
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());

    // Wine's DefineDosDevice reports success without making a name that
    // opens; the layer then opens the port by its own name.
    std::string log = wine_check::ReadWholeFile(logPath);
    std::string ownName = std::string("Serial link: \\\\.\\") + serialPort;
    if (log.find(ownName) != std::string::npos) {
        std::printf(
            "note: the DOS device link made by DefineDosDeviceA did not open; "
            "%s was opened by its own name\n",
            serialPort);
    }
}

// No USB device is present in the prefix: the device-interface database is
// asked and answers with nothing.
void ChecksUsbListingsAreEmpty(const char* logPath) {
    wine_check::Section("USB listings from the device-interface database");
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_USB, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    char list[256] = {'x'};
    WCHECK_EQ(0, SORLINK(UsbEnumDevices)(list, sizeof list));
    WCHECK(std::string(list).empty());
    WCHECK_EQ(0, SORLINK(UsbEnumPrinters)(list, sizeof list));
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
}

// refusedPort, when not 0, refuses connections. Windows reports a refused
// non-blocking connect in the exception set only: Open must see it there and
// fail at once with the refusal, not wait out the connection time-out and
// report its own 10060.
void ChecksTcpPrinter(const char* logPath, int tcpPort, int refusedPort) {
    wine_check::Section("TCP printer on loopback");
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(0, SORLINK(SetEthConnTimeout)(2000));
    WCHECK_EQ(0, SORLINK(InitEthTCP)("127.0.0.1", tcpPort));
    WCHECK_EQ(0, SORLINK(Open)());
    ChecksRoundTrip("TCP");
    WCHECK_EQ(0, SORLINK(Close)());
    if (refusedPort != 0) {
        WCHECK_EQ(0, SORLINK(SetEthConnTimeout)(30000));
        WCHECK_EQ(0, SORLINK(InitEthTCP)("127.0.0.1", refusedPort));
        DWORD start = GetTickCount();
        WCHECK_EQ(215, SORLINK(Open)());
        std::printf("[ figures  ] refused connection: 215 after %lu ms\n", GetTickCount() - start);
        int error = 0;
        WCHECK_EQ(0, SORLINK(GetLastErrorComm)(&error));
        WCHECK_EQ(10061, error);
    }
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
}

// A TCP write at every level: its dump reaches the log in batches, which
// must hold the same lines, in the same order, as one line per byte.
void ChecksTheLogOfAWriteLineForLine(const std::string& logPath, int tcpPort) {
    wine_check::Section("the log of a 2500-byte TCP write at mask 15, line for line");
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, kAllLevels,
                                                  logPath.c_str(), &id));
    WCHECK_EQ(0, SORLINK(InitEthTCP)("127.0.0.1", tcpPort));
    WCHECK_EQ(0, SORLINK(Open)());
    std::vector<unsigned char> bytes(2500);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37);
    WCHECK_EQ(0, SORLINK(Write)(bytes.data(), static_cast<int>(bytes.size())));
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());

    const std::string tcp = "CSvComEth::WriteTCP -  ";
    std::vector<std::string> expected = {"Write -  Calling function in ethernet class",
                                         "CSvComEth::WriteEth -  START", tcp + "START",
                                         tcp + "Bytes to send: 2500, packet byte used:1024",
                                         tcp + "2500 bytes to write:"};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "SendBuffer[0x%02x]=0x%02x ", static_cast<unsigned>(i),
                      bytes[i]);
        expected.push_back(tcp + line);
    }
    expected.push_back(tcp + "END");
    expected.push_back("CSvComEth::WriteEth -  END");

    std::vector<std::string> bodies = LogBodies(wine_check::ReadWholeFile(logPath.c_str()));
    auto start = std::find(bodies.begin(), bodies.end(), expected.front());
    std::vector<std::string> written(start, bodies.end());
    written.resize(std::min(written.size(), expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i >= written.size() || written[i] != expected[i]) {
            wine_check::Fail(__FILE__, __LINE__,
                             "log line " + std::to_string(i) + " of the write is \"" +
                                 (i < written.size() ? written[i] : "") + "\", expected \"" +
                                 expected[i] + "\"");
            break;
        }
    }
}

// Opening the existing log file sets the thread's last error on Windows
// (183); a read that timed out must still report its own (10060) whatever
// the lines logged between the receive and the reading of its error.
void ChecksAnIdleReadKeepsItsError(const char* logPath, int tcpPort) {
    wine_check::Section("a read from an idle TCP printer at masks 8, 12 and 15");
    for (int mask : {LOG_ERROR, LOG_INFO | LOG_ERROR, kAllLevels}) {
        int id = 0;
        WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, mask,
                                                      logPath, &id));
        WCHECK_EQ(0, SORLINK(InitEthTCP)("127.0.0.1", tcpPort));
        WCHECK_EQ(0, SORLINK(Open)());
        char buffer[16];
        unsigned count = 0;
        WCHECK_EQ(214, SORLINK(Read)(buffer, static_cast<int>(sizeof buffer), &count));
        int error = 0;
        WCHECK_EQ(0, SORLINK(GetLastErrorComm)(&error));
        if (error != 10060) {
            wine_check::Fail(__FILE__, __LINE__,
                             "mask " + std::to_string(mask) + ": error " + std::to_string(error));
        }
        WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
    }
}

// A misbehaving printer made of this program's own sockets, on one thread:
// connections complete in the listener's backlog, so the DLL connects and
// writes while the printer is not looking.
class BacklogPrinter {
public:
    BacklogPrinter() {
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 8);
        int length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~BacklogPrinter() { closesocket(listener); }
    // The next connection, waited for at most 5 s.
    SOCKET Accept() const {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener, &ready);
        timeval limit = {5, 0};
        if (select(0, &ready, nullptr, nullptr, &limit) != 1) return INVALID_SOCKET;
        return accept(listener, nullptr, nullptr);
    }
    // What arrives until the DLL closes (or 5 s pass without a byte).
    static std::string ReadToEnd(SOCKET client) {
        DWORD limit = 5000;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                   sizeof limit);
        std::string got;
        char buffer[65536];
        for (int n; (n = recv(client, buffer, sizeof buffer, 0)) > 0;) got.append(buffer, n);
        return got;
    }
    int port = 0;

private:
    SOCKET listener = INVALID_SOCKET;
};

std::string Job(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + seed + i / 251);
    return bytes;
}

int WriteJob(const std::string& bytes) {
    return SORLINK(Write)(reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<int>(bytes.size()));
}

// Reads until the DLL reports that the printer ended the connection (213,
// or a failure other than the read's time-out), at most 200 reads of 5 ms.
bool ReadUntilEnded(const char* what) {
    char buffer[16];
    for (int k = 0; k < 200; ++k) {
        unsigned count = 0;
        int read = SORLINK(Read)(buffer, sizeof buffer, &count);
        int last = 0;
        SORLINK(GetLastErrorComm)(&last);
        if (read == 213 || (read != 0 && last != 10060)) {
            std::printf("[ note     ] %s: Read gives %d, error %d\n", what, read, last);
            return true;
        }
    }
    return false;
}

void ChecksAMisbehavingPrinter(const char* logPath) {
    wine_check::Section("TCP printer that closes, resets and sends status bytes");
    WSADATA data;
    WSAStartup(0x0202, &data);
    BacklogPrinter printer;
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(205, SORLINK(InitEthTCP)("127.000.000.001", printer.port));
    WCHECK_EQ(205, SORLINK(InitEthTCP)("127.0.0.1 kitchen", printer.port));
    WCHECK_EQ(0, SORLINK(InitEthTCP)("127.0.0.1", printer.port));
    WCHECK_EQ(0, SORLINK(Open)());

    // Closed while idle (FIN), seen by a read: the next job goes out whole
    // on a new connection.
    SOCKET first = printer.Accept();
    DWORD probe = 0, probed = 0;
    char info[128];
    bool tcpInfo = WSAIoctl(first, 0xD8000027u, &probe, sizeof probe, info, sizeof info, &probed,
                            nullptr, nullptr) == 0;
    std::printf("[ note     ] SIO_TCP_INFO %s here: a write's 0 %s\n",
                tcpInfo ? "answers" : "is refused",
                tcpInfo ? "is acknowledged" : "is only handed over");
    closesocket(first);
    WCHECK(ReadUntilEnded("closed"));
    std::string job = Job(5000, 1);
    WCHECK_EQ(0, WriteJob(job));
    SOCKET second = printer.Accept();
    WCHECK(second != INVALID_SOCKET);

    // Reset (the printer restarted): seen by a read as 10054; the next job
    // again goes out whole on a new connection.
    std::string seen(job.size(), '\0');
    int got = 0;
    for (int n; got < static_cast<int>(seen.size()) &&
                (n = recv(second, &seen[got], static_cast<int>(seen.size()) - got, 0)) > 0;) {
        got += n;
    }
    WCHECK(seen == job);
    linger reset = {1, 0};
    setsockopt(second, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
    closesocket(second);
    WCHECK(ReadUntilEnded("reset"));
    std::string after = Job(5000, 2);
    WCHECK_EQ(0, WriteJob(after));
    SOCKET third = printer.Accept();
    WCHECK(third != INVALID_SOCKET);

    // An unread status byte does not turn Close into a reset that throws
    // away what is queued.
    send(third, "\x12", 1, 0);
    std::string large = Job(300000, 3);
    WCHECK_EQ(0, WriteJob(large));
    WCHECK_EQ(0, SORLINK(Close)());
    WCHECK(BacklogPrinter::ReadToEnd(third) == after + large);
    closesocket(third);
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
    WSACleanup();
}

// A device that answers to the request's source port is heard, and a
// datagram that fits the buffer is read whole.
void ChecksAnswersToTheSourcePort(const char* logPath) {
    wine_check::Section("UDP device answering to the source port");
    WSADATA data;
    WSAStartup(0x0202, &data);
    SOCKET device = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(device, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(device, reinterpret_cast<sockaddr*>(&address), &length);
    SOCKET spare = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in local = address;
    local.sin_port = 0;
    bind(spare, reinterpret_cast<sockaddr*>(&local), sizeof local);
    length = sizeof local;
    getsockname(spare, reinterpret_cast<sockaddr*>(&local), &length);
    closesocket(spare);
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(0, SORLINK(InitEthUDP)("127.0.0.1", ntohs(address.sin_port), ntohs(local.sin_port)));
    WCHECK_EQ(0, SORLINK(Open)());
    WCHECK_EQ(0, WriteJob("status?"));
    char request[64];
    sockaddr_in from = {};
    length = sizeof from;
    WCHECK_EQ(7, recvfrom(device, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from),
                          &length));
    WCHECK_EQ(local.sin_port, from.sin_port);
    std::string answer = Job(1500, 4);
    sendto(device, answer.data(), static_cast<int>(answer.size()), 0,
           reinterpret_cast<sockaddr*>(&from), sizeof from);
    char buffer[4096];
    unsigned count = 0;
    WCHECK_EQ(0, SORLINK(Read)(buffer, sizeof buffer, &count));
    WCHECK(std::string(buffer, count) == answer);
    closesocket(device);
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
    WSACleanup();
}

void ChecksUdpDevice(const char* logPath, int remotePort, int localPort) {
    wine_check::Section("UDP device on loopback");
    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(0, SORLINK(InitEthUDP)("127.0.0.1", remotePort, localPort));
    WCHECK_EQ(0, SORLINK(Open)());
    ChecksRoundTrip("UDP");
    char sender[64] = {};
    WCHECK_EQ(0, SORLINK(AdvGetEthIpReceived)(sender, sizeof sender));
    WCHECK(std::string(sender) == "127.0.0.1");

    // The answer comes as one datagram: the first ReadFIFO takes all of it
    // and leaves 12 bytes in the FIFO. A thread of the host starting and
    // ending must not drop them.
    const std::string text = "Hello Printer 42";
    WCHECK_EQ(0, SORLINK(Write)(reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size())));
    unsigned char answer[16] = {};
    unsigned got = 0;
    WCHECK_EQ(0, SORLINK(ReadFIFO)(answer, 4, &got));
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, 0, nullptr);
    WCHECK(thread != nullptr);
    if (thread != nullptr) {
        WCHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 10000));
        CloseHandle(thread);
    }
    WCHECK_EQ(0, SORLINK(ReadFIFO)(answer + 4, 12, &got));
    WCHECK(std::string(reinterpret_cast<char*>(answer), 16) == "hELLO pRINTER 42");

    WCHECK_EQ(0, SORLINK(Close)());
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
}

// FreeLibrary with a connected port: the port's socket is closed (our end
// of the connection sees it), but its Winsock reference is left in place,
// as WSACleanup must not run under the loader lock.
void ChecksFreeLibraryWithAConnectedPort(const char* logPath) {
    wine_check::Section("FreeLibrary with a connected TCP port");
    WSADATA data;
    WCHECK_EQ(0, WSAStartup(MAKEWORD(2, 2), &data));
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    WCHECK_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), length));
    WCHECK_EQ(0, listen(listener, 1));
    WCHECK_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));

    int id = 0;
    WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE, kAllLevels,
                                                  logPath, &id));
    WCHECK_EQ(0, SORLINK(InitEthTCP)("127.0.0.1", ntohs(address.sin_port)));
    WCHECK_EQ(0, SORLINK(Open)());
    SOCKET accepted = accept(listener, nullptr, nullptr);
    DWORD receiveTimeout = 10000;
    setsockopt(accepted, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveTimeout),
               sizeof receiveTimeout);

    WCHECK(FreeLibrary(library));
    library = nullptr;
    char byte = 0;
    WCHECK_EQ(0, recv(accepted, &byte, 1, 0));
    closesocket(accepted);
    closesocket(listener);
    // Our own reference, then the one the deleted port left.
    int references = 0;
    while (references < 8 && WSACleanup() == 0) ++references;
    WCHECK_EQ(2, references);
    std::string log = wine_check::ReadWholeFile(logPath);
    WCHECK(log.find("Main -  Process detach") != std::string::npos);
}

// A log path that names a device: the device is never opened, by the
// layer's log, the bridge's or a file to send. A named pipe shows it: its
// server sees every client that opens it. COM5 is the printer's port; a
// reserved name keeps its device meaning with an extension, and in any
// folder, before Windows 11 (Wine has the older rules).
void ChecksADeviceIsNeverALogFile(const std::string& folder, const char* serialPort) {
    wine_check::Section("log paths that name devices");
    std::string pipeName = "\\\\.\\pipe\\sorlink-log-" + std::to_string(GetCurrentProcessId());
    HANDLE pipe = CreateNamedPipeA(pipeName.c_str(), PIPE_ACCESS_INBOUND,
                                   PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 0, 4096, 0, nullptr);
    WCHECK(pipe != INVALID_HANDLE_VALUE);
    std::string port = serialPort != nullptr ? serialPort : "COM5";
    const std::string paths[] = {pipeName,
                                 port,
                                 "\\\\.\\" + port,
                                 "\\??\\" + port,
                                 folder + "\\" + port + ".log",
                                 folder + "\\NUL.txt",
                                 folder + "\\CONOUT$"};
    for (const std::string& path : paths) {
        int id = 0;
        WCHECK_EQ(0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE,
                                                      kAllLevels, path.c_str(), &id));
        int current = 0;
        WCHECK_EQ(0, SORLINK(GetIDPort)(&current));
        WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());
    }
    // No file of those names was made (a pattern is never a device name).
    WIN32_FIND_DATAA found;
    for (const char* pattern : {"\\COM*", "\\NUL*", "\\CONOUT*"}) {
        HANDLE search = FindFirstFileA((folder + pattern).c_str(), &found);
        WCHECK(search == INVALID_HANDLE_VALUE);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
    // Pipes and mailslots by a server's name, this machine's among them:
    // Wine opens none by such a name, so the rule the layer applies before
    // its open is read directly. Windows opens them through the redirector
    // ("\\ServerName\pipe\PipeName", Microsoft's "Pipe Names" and
    // "Mailslot Names").
    for (const char* path : {"\\\\localhost\\pipe\\sorlink", "//127.0.0.1/PIPE/sorlink",
                             "\\\\?\\UNC\\localhost\\pipe\\sorlink", "\\\\*\\mailslot\\sorlink"}) {
        WCHECK(plat::NamesADevice(path));
    }
    for (const char* path :
         {"\\\\server\\pipes\\Sorlink.log", "\\\\server\\share\\pipe\\Sorlink.log",
          "\\\\?\\UNC\\server\\share\\Sorlink.log"}) {
        WCHECK(!plat::NamesADevice(path));
    }

    // A symbolic link is followed by CreateFile, so its target is what the
    // rule reads. Wine makes no link (CreateSymbolicLink changes nothing,
    // FSCTL_SET_REPARSE_POINT gives 50): the reparse data Windows gives
    // (Microsoft's REPARSE_DATA_BUFFER) is read directly.
    struct Link {
        std::uint32_t tag;
        std::uint32_t flags;
        std::wstring target;
        const char* expected;  // null: refused as unreadable
        bool device;
    };
    const Link links[] = {
        {IO_REPARSE_TAG_SYMLINK, 0, L"\\??\\pipe\\sorlink", "\\\\?\\pipe\\sorlink", true},
        {IO_REPARSE_TAG_SYMLINK, 0, L"\\??\\COM5", "\\\\?\\COM5", true},
        {IO_REPARSE_TAG_SYMLINK, 1, L"..\\Sorlink.log", "C:\\logs\\..\\Sorlink.log", false},
        {IO_REPARSE_TAG_SYMLINK, 1, L"\\Sorlink.log", "C:\\Sorlink.log", false},
        {IO_REPARSE_TAG_MOUNT_POINT, 0, L"\\??\\C:\\logs", "\\\\?\\C:\\logs", false},
        {IO_REPARSE_TAG_SYMLINK, 0, L"\\??\\C:\\\u0395.log", nullptr, true},
    };
    for (const Link& link : links) {
        std::uint32_t names = link.tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
        std::uint32_t bytes = static_cast<std::uint32_t>(link.target.size() * 2);
        std::vector<unsigned char> data(names + 2 * bytes);
        auto put = [&data](std::size_t at, std::uint32_t value, int size) {
            for (int i = 0; i < size; ++i)
                data[at + i] = static_cast<unsigned char>(value >> 8 * i);
        };
        put(0, link.tag, 4);
        put(4, static_cast<std::uint32_t>(data.size() - 8), 2);
        put(10, bytes, 2);  // the substitute name at offset 0, then the print name
        put(12, bytes, 2);
        put(14, bytes, 2);
        if (names == 20) put(16, link.flags, 4);
        std::memcpy(&data[names], link.target.data(), bytes);
        std::memcpy(&data[names + bytes], link.target.data(), bytes);
        std::string target;
        bool read = plat::ReparseTarget(data.data(), static_cast<std::uint32_t>(data.size()),
                                        "C:\\logs\\link.log", &target);
        WCHECK_EQ(link.expected != nullptr, read);
        if (link.expected != nullptr) {
            WCHECK(target == link.expected);
            WCHECK_EQ(link.device, plat::NamesADevice(target.c_str()));
        }
        WCHECK(!plat::ReparseTarget(data.data(), names + bytes - 2, "C:\\logs\\link.log", &target));
    }

    // WriteF refuses the pipe as it refuses any path that is no disk file.
    int id = 0;
    WCHECK_EQ(
        0, SORLINK(CreateCommunicationPort)(SORLINK_LINK_SERIAL, LOG_MODE_NONE, 0, nullptr, &id));
    if (serialPort != nullptr) {
        WCHECK_EQ(0, SORLINK(InitSerialPort)(serialPort, 9600, 0, 8, 0, 2));
        WCHECK_EQ(0, SORLINK(Open)());
        WCHECK_EQ(10, SORLINK(WriteF)(pipeName.c_str()));
        int error = 0;
        WCHECK_EQ(0, SORLINK(GetLastErrorComm)(&error));
        WCHECK_EQ(5, error);
        WCHECK_EQ(0, SORLINK(Close)());
    }
    WCHECK_EQ(0, SORLINK(DeleteAllLayerItems)());

    // A non-blocking pipe still listens only when no client ever came.
    if (pipe != INVALID_HANDLE_VALUE) {
        WCHECK(!ConnectNamedPipe(pipe, nullptr));
        WCHECK_EQ(ERROR_PIPE_LISTENING, GetLastError());
        CloseHandle(pipe);
    }
}

// Committed private memory of the process (the heaps and every other
// allocation), read region by region.
SIZE_T CommittedPrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    const char* address = nullptr;
    for (int region = 0; region < 1000000; ++region) {
        if (VirtualQuery(address, &info, sizeof info) != sizeof info) break;
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += info.RegionSize;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

// A service that reloads the layer for every open: each cycle loads it,
// creates and deletes a port, and unloads it. What the layer and its
// statically linked run time allocate while loaded must go with it.
void ChecksReloadingLeaksNothing() {
    wine_check::Section("1000 LoadLibrary/FreeLibrary cycles of the layer");
    auto cycle = [] {
        library = LoadLibraryA("Sorlink64.dll");
        if (library == nullptr) return false;
        int id = 0;
        bool ok = SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_NONE, 0, nullptr,
                                                   &id) == 0 &&
                  SORLINK(DeleteAllLayerItems)() == 0;
        ok = FreeLibrary(library) != 0 && ok;
        library = nullptr;
        return ok && GetModuleHandleA("Sorlink64.dll") == nullptr;
    };
    // The first cycles settle what the system keeps once (the loader's and
    // Winsock's own tables).
    for (int i = 0; i < 20; ++i) WCHECK(cycle());
    const int cycles = 1000;
    SIZE_T before = CommittedPrivateBytes();
    int done = 0;
    while (done < cycles && cycle()) ++done;
    SIZE_T after = CommittedPrivateBytes();
    WCHECK_EQ(cycles, done);
    long long growth = static_cast<long long>(after) - static_cast<long long>(before);
    std::printf(
        "[ figures  ] committed private memory over %d cycles: %+lld bytes (%lld per "
        "cycle)\n",
        cycles, growth, growth / cycles);
    // A leak of one block per load would show as its size times 1000; the
    // heap's own growth steps are far below one block per cycle.
    WCHECK(growth < 1024 * cycles);
}

// The end of a process with a port left: the "Process detach" line is
// written, and nothing is deleted (no DeleteAllLayerItems line).
void ChecksProcessExitWithAPort(const char* exitLogPath) {
    wine_check::Section("process exit with a port left");
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" exitlog=\"" + exitLogPath + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child)) {
        wine_check::Fail(__FILE__, __LINE__, "the child process did not start");
        return;
    }
    WCHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(child.hProcess, 60000));
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    WCHECK_EQ(0, exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    std::string log = wine_check::ReadWholeFile(exitLogPath);
    WCHECK(log.find("Main -  Process detach") != std::string::npos);
    WCHECK(log.find("Destroying all the communication ports") == std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
    // The child of ChecksProcessExitWithAPort: it ends with a port left.
    if (const char* exitLogPath = wine_check::Argument(argc, argv, "exitlog")) {
        library = LoadLibraryA("Sorlink64.dll");
        int id = 0;
        return library != nullptr
                   ? SORLINK(CreateCommunicationPort)(SORLINK_LINK_ETHERNET, LOG_MODE_FILE,
                                                      kAllLevels, exitLogPath, &id)
                   : 1;
    }
    const char* logPath = wine_check::Argument(argc, argv, "log");
    const char* exportsPath = wine_check::Argument(argc, argv, "exports");
    if (logPath == nullptr || exportsPath == nullptr) {
        std::printf("usage: %s log=<path> exports=<path>\n", argv[0]);
        return 2;
    }
    library = LoadLibraryA("Sorlink64.dll");
    if (library == nullptr) {
        std::printf("FAIL: LoadLibraryA(\"Sorlink64.dll\") failed with error %lu\n",
                    GetLastError());
        return 1;
    }

    ChecksEveryNameResolves(exportsPath);
    const char* version = wine_check::Argument(argc, argv, "version");
    if (version != nullptr) ChecksTheVersionResource(version);
    ChecksPortsAndIds(logPath);
    ChecksTheLogFile(logPath);

    const char* serialPort = wine_check::Argument(argc, argv, "serial");
    const char* extraPort = wine_check::Argument(argc, argv, "extraport");
    const char* serialPrinter = wine_check::Argument(argc, argv, "serialprinter");
    const char* tcpPrinter = wine_check::Argument(argc, argv, "tcpprinter");
    const char* tcp = wine_check::Argument(argc, argv, "tcp");
    const char* udp = wine_check::Argument(argc, argv, "udp");
    int remotePort = 0, localPort = 0;
    if (serialPort != nullptr && extraPort != nullptr && serialPrinter != nullptr &&
        tcpPrinter != nullptr && tcp != nullptr) {
        ChecksRegistryListings(logPath, serialPort, extraPort, serialPrinter, tcpPrinter,
                               std::atoi(tcp));
    }
    if (serialPort != nullptr && serialPrinter != nullptr) {
        ChecksSerialPrinter(logPath, serialPort, serialPrinter);
    }
    ChecksUsbListingsAreEmpty(logPath);
    const char* refused = wine_check::Argument(argc, argv, "refused");
    if (tcp != nullptr) {
        ChecksTcpPrinter(logPath, std::atoi(tcp), refused != nullptr ? std::atoi(refused) : 0);
        ChecksTheLogOfAWriteLineForLine(std::string(logPath) + ".write", std::atoi(tcp));
        ChecksAnIdleReadKeepsItsError(logPath, std::atoi(tcp));
    }
    if (udp != nullptr && std::sscanf(udp, "%d,%d", &remotePort, &localPort) == 2) {
        ChecksUdpDevice(logPath, remotePort, localPort);
    }
    std::string logFolder = logPath;
    logFolder.erase(logFolder.find_last_of('\\'));
    ChecksADeviceIsNeverALogFile(logFolder, serialPort);
    ChecksAMisbehavingPrinter((std::string(logPath) + ".misbehaving").c_str());
    ChecksAnswersToTheSourcePort((std::string(logPath) + ".answers").c_str());
    ChecksFreeLibraryWithAConnectedPort(logPath);
    ChecksProcessExitWithAPort((std::string(logPath) + ".exit").c_str());
    ChecksReloadingLeaksNothing();

    std::printf("%s: %d failure(s)\n", argv[0], wine_check::Failures());
    return wine_check::Failures() == 0 ? 0 : 1;
}
