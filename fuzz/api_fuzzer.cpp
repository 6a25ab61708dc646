// Drives the exported interface with call sequences decoded from the input,
// against the scripted fake platform: every one of the 92 entry points, with
// null, negative, huge and overlong arguments, texts that end exactly at
// their documented size without a terminator, out buffers of exactly their
// documented size, link and interface types out of range, and peer faults
// in between. The library may refuse anything; the sanitizers catch what it
// must never do (read or write out of bounds, leak), libFuzzer's time-out a
// hang.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sorlink.h"
#include "tests/fake/fake_platform.h"
#include "tests/fake/fake_serial.h"
#include "tests/fake/fake_socket.h"
#include "tests/fake/fake_usb.h"

extern "C" int SorlinkMain(int reason);

namespace {

// Documented sizes of the caller's texts and out buffers.
constexpr std::size_t kNameSize = 1024;    // port, printer and serial-number texts
constexpr std::size_t kAddressSize = 20;   // IPv4 address text
constexpr std::size_t kIdSize = 5;         // USB vendor and product IDs
constexpr std::size_t kLogPathSize = 200;  // log file path
constexpr std::size_t kMaxBuffer = 70000;  // largest buffer a call gets
constexpr int kMaxCallsPerInput = 48;

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
    "\"\\\\Device\\\\Serial0\"=\"COM1\"\n\"\\\\Device\\\\Serial1\"=\"COM12\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Receipt]\n"
    "\"Port\"=\"COM1:\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Kitchen]\n"
    "\"Port\"=\"IP_127.0.0.1\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Fiscal]\n"
    "\"Port\"=\"USB001\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Bad]\n"
    "\"Port\"=\"LONG\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP "
    "Port\\Ports\\IP_127.0.0.1]\n"
    "\"IpAddress\"=\"127.0.0.1\"\n\"PortNumber\"=dword:0000238c\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP "
    "Port\\Ports\\LONG]\n"
    "\"IpAddress\"=\"0000127.0000000.0000000.0000001\"\n\"PortNumber\"=dword:ffffffff\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Fiscal\\PnPData]\n"
    "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\7&1A2B3C4D&0&USB001\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0F3C&PID_0101\\A1B2C3]\n"
    "\"ParentIdPrefix\"=\"7&1a2b3c4d&0\"\n\n";

// The fake's USB device classes and the receipt printer's interface path.
const char* const kUsbClasses[] = {
    "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
    "{3c9e4a17-b2d5-4f80-9a6e-71d0c5e8b243}",
    "{8f21d6b0-4e7a-4c39-b5d2-0a6f93e1c7d4}",
};
const char kUsbPath[] = "\\\\?\\usb#vid_0f3c&pid_0101#A1B2C3#";
const char* const kSerialDevices[] = {"\\Device\\Serial0", "\\Device\\Serial1"};
const char* const kPipes[] = {"PIPE00", "PIPE01", ""};

const char* const kFaultCalls[] = {
    "socket",
    "connect",
    "selectConnect",
    "setsockopt",
    "bind",
    "send",
    "recv",
    "sendto",
    "recvfrom",
    "closesocket",
    "ioctlsocket",
    "shutdown",
    "selectPeerClosed",
    "getSendProgress",
    "CreateFileA",
    "CloseHandle",
    "ReadFile",
    "WriteFile",
    "GetCommState",
    "SetCommState",
    "SetCommTimeouts",
    "PurgeComm",
    "EscapeCommFunction",
    "RegOpenKeyExA",
    "RegEnumKeyA",
    "RegQueryValueExA",
    "RegEnumValueA",
    "RegQueryInfoKeyA",
    "WaitForSingleObject",
    "GetOverlappedResult",
    "DeviceIoControl",
    "GetVersionExA",
};

std::string& WorkDir() {
    static std::string* dir = [] {
        char pattern[] = "/tmp/sorlink-api-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) std::abort();
        std::atexit([] {
            for (const char* name :
                 {"/data.bin", "/empty.bin", "/port.log", "/x.log", "/default.log"}) {
                std::remove((WorkDir() + name).c_str());
            }
            rmdir(WorkDir().c_str());
        });
        return new std::string(made);
    }();
    return *dir;
}

// Arguments decoded from the input. Buffers live until the next call so
// that each one is exactly as large as the call was told.
class Args {
public:
    explicit Args(FuzzedDataProvider& input) : in(input) {}

    void NextCall() { held.clear(); }

    int Int() {
        static const int kSpecial[] = {0,       1,        -1,       2,    3,     7,
                                       INT_MIN, INT_MAX,  1024,     1025, 65535, 65536,
                                       9100,    16777216, 16777217, 1000, 9600,  0x7FFFFFF};
        if (in.ConsumeBool()) return in.PickValueInArray(kSpecial);
        return in.ConsumeIntegral<int>();
    }
    int LinkType() { return in.ConsumeIntegralInRange<int>(-2, 4); }

    // A writable buffer of the size the call is told (nullptr when it is
    // told nothing useful, on purpose).
    char* Out(std::size_t size) {
        if (in.ConsumeIntegralInRange<int>(0, 15) == 0) return nullptr;
        held.emplace_back(size == 0 ? 1 : size, '\xAA');
        return held.back().data();
    }
    std::size_t BufferSize() {
        static const std::size_t kSpecial[] = {0, 1, 2, 15, 16, 19, 20, 1023, 1024, 1025, 4096};
        if (in.ConsumeBool()) return in.PickValueInArray(kSpecial);
        return in.ConsumeIntegralInRange<std::size_t>(0, kMaxBuffer);
    }
    int* IntOut() { return reinterpret_cast<int*>(Out(sizeof(int))); }
    unsigned* CountOut() { return reinterpret_cast<unsigned*>(Out(sizeof(unsigned))); }

    // A text argument: null, empty, a sensible value, fuzzed bytes, an
    // overlong text, or exactly `declared` bytes with no terminator.
    const char* Text(std::size_t declared, const char* const* good, std::size_t goodCount) {
        switch (in.ConsumeIntegralInRange<int>(0, 6)) {
            case 0:
                return nullptr;
            case 1:
                return Hold(std::string());
            case 2:
            case 3:
                return Hold(good[in.ConsumeIntegralInRange<std::size_t>(0, goodCount - 1)]);
            case 4:
                return Hold(in.ConsumeRandomLengthString(declared * 2));
            case 5:
                return Hold(std::string(declared + in.ConsumeIntegralInRange<std::size_t>(0, 64),
                                        in.ConsumeIntegralInRange<char>('0', 'z')));
            default: {
                held.emplace_back(declared, in.ConsumeIntegralInRange<char>(1, 127));
                return held.back().data();
            }
        }
    }
    const char* PortName() {
        static const char* const kGood[] = {"COM1", "COM12", "COM3", "COM1234", "/dev/null"};
        return Text(kNameSize, kGood, 5);
    }
    const char* PrinterName() {
        static const char* const kGood[] = {"Receipt", "Kitchen", "Fiscal", "Bad", "kitchen"};
        return Text(kNameSize, kGood, 5);
    }
    const char* Address() {
        static const char* const kGood[] = {"127.0.0.1", "255.255.255.255", "0.0.0.0",
                                            "127.000.000.001", "localhost"};
        return Text(kAddressSize, kGood, 5);
    }
    const char* UsbId() {
        static const char* const kGood[] = {"0f3c", "0101", "0F3C", "zzzz", "123"};
        return Text(kIdSize, kGood, 5);
    }
    const char* SerialNumber() {
        static const char* const kGood[] = {"A1B2C3", "A1 B2", "", "X"};
        return Text(kNameSize, kGood, 4);
    }

    // Log files only ever go to the work folder: the paths offered are in
    // it, and a refused one falls back to the default path, which points
    // there too.
    const char* LogPath(int* mode) {
        *mode = in.ConsumeIntegralInRange<int>(-1, 3);
        if (in.ConsumeBool()) return Hold(WorkDir() + "/port.log");
        std::string dir = WorkDir() + "/";
        const char* good[] = {"", dir.c_str()};
        const char* path = Text(kLogPathSize, good, 2);
        // Only texts under the work folder may name a file (an unterminated
        // one is refused by the library whatever it holds).
        bool terminated = path != nullptr && strnlen(path, kLogPathSize) < kLogPathSize;
        if (terminated && path[0] != '\0' &&
            (std::strncmp(path, dir.c_str(), dir.size()) != 0 ||
             std::strstr(path, "..") != nullptr)) {
            return Hold(dir + "x.log");
        }
        return path;
    }
    // Files to send come from the work folder: small, empty, missing, a
    // folder, or a path far too long.
    const char* FilePath() {
        switch (in.ConsumeIntegralInRange<int>(0, 5)) {
            case 0:
                return nullptr;
            case 1:
                return Hold(std::string());
            case 2:
                return Hold(WorkDir() + "/data.bin");
            case 3:
                return Hold(WorkDir() + "/empty.bin");
            case 4:
                return Hold(WorkDir());
            default:
                return Hold(WorkDir() + "/" + std::string(5000, 'f'));
        }
    }

    // Bytes to write: exactly `length` of them behind the pointer.
    const unsigned char* Data(int* length) {
        if (in.ConsumeIntegralInRange<int>(0, 15) == 0) {
            *length = Int();
            return nullptr;
        }
        std::string bytes = in.ConsumeRandomLengthString(4096);
        if (in.ConsumeBool()) bytes.resize(in.ConsumeIntegralInRange<std::size_t>(0, kMaxBuffer));
        held.emplace_back(bytes.begin(), bytes.end());
        *length = static_cast<int>(bytes.size());
        if (in.ConsumeIntegralInRange<int>(0, 7) == 0)
            *length = -in.ConsumeIntegralInRange<int>(1, INT_MAX);
        return reinterpret_cast<const unsigned char*>(held.back().data());
    }

    FuzzedDataProvider& in;

private:
    const char* Hold(const std::string& text) {
        held.emplace_back(text.begin(), text.end());
        held.back().push_back('\0');
        return held.back().data();
    }

    std::vector<std::vector<char>> held;
};

// A read buffer and the size the call is told: a negative size comes with a
// small buffer, a positive one with a buffer of that size.
template <typename Read>
void CallRead(Args& a, Read read) {
    int size = a.in.ConsumeBool() ? static_cast<int>(a.BufferSize()) : a.Int();
    std::size_t real = size > 0 && static_cast<std::size_t>(size) <= kMaxBuffer
                           ? static_cast<std::size_t>(size)
                           : 16;
    if (size > static_cast<int>(kMaxBuffer)) size = static_cast<int>(real);
    read(a.Out(real), size, a.CountOut());
}

using Entry = void (*)(Args&);

// Each entry point and its Visual Basic twin, decoded the same way.
#define BOTH(name, ...)                \
    []([[maybe_unused]] Args& a) {     \
        auto call = &name;             \
        __VA_ARGS__;                   \
    },                                 \
        []([[maybe_unused]] Args& a) { \
            auto call = &Vb##name;     \
            __VA_ARGS__;               \
        }

const Entry kEntries[] = {
    BOTH(CreateCommunicationPort,
         {
             int mode = 0;
             int link = a.LinkType();
             int mask = a.in.ConsumeIntegral<int>();
             const char* path = a.LogPath(&mode);
             call(link, mode, mask, path, a.IntOut());
         }),
    BOTH(DeleteCommunicationPort, call(a.in.ConsumeIntegralInRange<int>(-1, 40))),
    BOTH(DeleteAllLayerItems, call()),
    BOTH(SetCommunicationPort, call(a.in.ConsumeIntegralInRange<int>(-1, 40))),
    BOTH(GetIDPort, call(a.IntOut())),
    BOTH(GetLayerStatus, call(a.IntOut())),
    BOTH(Open, call()),
    BOTH(Write,
         {
             int length = 0;
             const unsigned char* data = a.Data(&length);
             call(data, length);
         }),
    BOTH(WriteF, call(a.FilePath())),
    BOTH(Read, CallRead(a, call)),
    BOTH(ReadFIFO,
         {
             static const unsigned kSpecial[] = {0, 1, 2, 10, 1023, 1024, 1025, 4096, UINT_MAX};
             unsigned length = a.in.ConsumeBool() ? a.in.PickValueInArray(kSpecial)
                                                  : a.in.ConsumeIntegralInRange<unsigned>(0, 2048);
             // The FIFO never holds more than 1024 bytes, so a longer request is
             // never copied out: 2048 bytes cover every honest answer.
             unsigned char* buffer =
                 reinterpret_cast<unsigned char*>(a.Out(length < 2048 ? length : 2048));
             call(buffer, length, a.CountOut());
         }),
    BOTH(Clean, call(a.Int(), a.Int())),
    BOTH(Close, call()),
    BOTH(IsDeviceAvailable, call()),
    BOTH(SetPacketSize, call(a.Int(), a.Int())),
    BOTH(GetPacketSize, call(a.IntOut(), a.IntOut())),
    BOTH(GetLastErrorComm, call(a.IntOut())),
    BOTH(ResetLastErrorComm, call()),
    BOTH(SerialEnumPorts,
         {
             std::size_t size = a.BufferSize();
             call(a.Out(size), static_cast<unsigned>(size));
         }),
    BOTH(SerialEnumPrinters,
         {
             const char* port = a.PortName();
             std::size_t size = a.BufferSize();
             call(port, a.Out(size), static_cast<unsigned>(size));
         }),
    BOTH(InitSerialPort,
         {
             const char* port = a.PortName();
             call(port, a.Int(), a.Int(), a.Int(), a.Int(), a.Int());
         }),
    BOTH(InitSerialPrinter, call(a.PrinterName())),
    BOTH(GetSerialPort, call(a.Out(kNameSize))),
    BOTH(SetSerialTimeout, call(a.Int(), a.Int(), a.Int(), a.Int(), a.Int())),
    BOTH(GetSerialParameters, call(a.IntOut(), a.IntOut(), a.IntOut(), a.IntOut(), a.IntOut())),
    BOTH(GetSerialTimeout, call(a.IntOut(), a.IntOut(), a.IntOut(), a.IntOut(), a.IntOut())),
    BOTH(AdvSetSerialDTR, call(a.Int())),
    BOTH(AdvSetSerialRTS, call(a.Int())),
    BOTH(InitEthUDP,
         {
             const char* address = a.Address();
             call(address, a.Int(), a.Int());
         }),
    BOTH(InitEthTCP,
         {
             const char* address = a.Address();
             call(address, a.Int());
         }),
    BOTH(InitEthTCPPrinter, call(a.PrinterName())),
    BOTH(EthEnumPrinters,
         {
             std::size_t size = a.BufferSize();
             call(a.Out(size), static_cast<unsigned>(size));
         }),
    BOTH(GetEthIpAndPort, call(a.Out(kAddressSize), a.IntOut())),
    BOTH(SetEthConnTimeout, call(a.in.ConsumeIntegralInRange<int>(-5, 5))),
    BOTH(GetEthConnTimeout, call(a.IntOut())),
    BOTH(SetEthTimeout, call(a.Int(), a.Int())),
    BOTH(GetEthTimeout, call(a.IntOut(), a.IntOut())),
    BOTH(AdvGetEthIpReceived,
         {
             int size = a.in.ConsumeBool() ? static_cast<int>(a.BufferSize() % 64) : a.Int();
             std::size_t real = size > 0 && size <= 64 ? static_cast<std::size_t>(size) : 1;
             if (size > 64) size = static_cast<int>(real);
             call(a.Out(real), size);
         }),
    BOTH(InitUsbInterface,
         call(a.in.ConsumeBool() ? a.in.ConsumeIntegralInRange<int>(-1, 4) : a.Int())),
    BOTH(InitUsbPrinter, call(a.PrinterName())),
    BOTH(GetUsbVidPid, call(a.Out(kIdSize), a.Out(kIdSize))),
    BOTH(InitUsbVidPidSerial,
         {
             const char* vid = a.UsbId();
             const char* pid = a.UsbId();
             call(vid, pid, a.SerialNumber());
         }),
    BOTH(SetUsbTimeout, call(a.Int(), a.Int())),
    BOTH(GetUsbTimeout, call(a.IntOut(), a.IntOut())),
    BOTH(UsbEnumDevices,
         {
             std::size_t size = a.BufferSize();
             call(a.Out(size), static_cast<unsigned>(size));
         }),
    BOTH(UsbEnumPrinters,
         {
             std::size_t size = a.BufferSize();
             call(a.Out(size), static_cast<unsigned>(size));
         }),
};

#undef BOTH

static_assert(sizeof kEntries / sizeof kEntries[0] == 92, "every exported entry point");

// What the peer and the platform do next: data to receive, a closed or
// refusing peer, short sends, a failing platform call, the unload handler.
void Script(Args& a) {
    FuzzedDataProvider& in = a.in;
    std::string usbPath = std::string(kUsbPath) + kUsbClasses[0];
    switch (in.ConsumeIntegralInRange<int>(0, 16)) {
        case 0:
            fake::QueueReceive(in.ConsumeRandomLengthString(3000));
            break;
        case 1:
            fake::SetPeerClosed(in.ConsumeBool());
            break;
        case 2:
            fake::ConnectRefused(in.ConsumeIntegralInRange<int>(0, 4));
            break;
        case 3:
            fake::ConnectTimesOut(in.ConsumeIntegralInRange<int>(0, 4));
            break;
        case 4:
            fake::LimitSend(in.ConsumeIntegralInRange<int>(0, 2048));
            break;
        case 5:
            fake::SendTakesNothing(in.ConsumeIntegralInRange<int>(0, 3));
            break;
        case 6: {
            const char* call = in.PickValueInArray(kFaultCalls);
            static const std::uint32_t kErrors[] = {5, 6, 31, 87, 258, 995, 10053, 10054, 10060};
            fake::FailCall(call, in.PickValueInArray(kErrors), in.ConsumeIntegralInRange<int>(1, 3),
                           in.ConsumeIntegralInRange<int>(0, 3));
            break;
        }
        case 7: {
            const char* guid = in.PickValueInArray(kUsbClasses);
            fake::usb::AddInterface(guid, std::string(kUsbPath) + guid, in.ConsumeBool());
            break;
        }
        case 8:
            fake::usb::Unplug(usbPath);
            break;
        case 9:
            fake::usb::QueueWriteCompletion(usbPath, in.PickValueInArray(kPipes),
                                            in.ConsumeIntegralInRange<std::uint32_t>(0, 5000));
            break;
        case 10:
            fake::usb::StallWrites(usbPath, in.PickValueInArray(kPipes));
            break;
        case 11:
            fake::usb::FeedRead(usbPath, in.PickValueInArray(kPipes),
                                in.ConsumeRandomLengthString(3000));
            break;
        case 12:
            fake::usb::QueueControlAnswer(usbPath, in.ConsumeRandomLengthString(1100));
            break;
        case 13:
            fake::QueueSerialRead(in.PickValueInArray(kSerialDevices),
                                  in.ConsumeRandomLengthString(3000));
            break;
        case 14: {
            std::vector<std::uint32_t> accepts;
            for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i) {
                accepts.push_back(in.ConsumeIntegralInRange<std::uint32_t>(0, 3000));
            }
            fake::SetSerialWriteAccepts(in.PickValueInArray(kSerialDevices), accepts);
            break;
        }
        case 15:
            fake::SetVersion(in.ConsumeIntegralInRange<std::uint32_t>(0, 3),
                             in.ConsumeIntegralInRange<std::uint32_t>(3, 10),
                             in.ConsumeIntegralInRange<std::uint32_t>(0, 3));
            break;
        default:
            SorlinkMain(in.ConsumeIntegralInRange<int>(-1, 4));
            break;
    }
}

void PrepareFiles() {
    static bool done = false;
    if (done) return;
    done = true;
    std::string data(3000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    FILE* file = std::fopen((WorkDir() + "/data.bin").c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(data.data(), 1, data.size(), file);
        std::fclose(file);
    }
    file = std::fopen((WorkDir() + "/empty.bin").c_str(), "wb");
    if (file != nullptr) std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PrepareFiles();
    DeleteAllLayerItems();
    SorlinkMain(1);
    fake::Reset();
    fake::SetDefaultLogPath(WorkDir() + "/default.log");
    fake::SetRegistry(kRegistry);
    fake::usb::AddInterface(kUsbClasses[0], std::string(kUsbPath) + kUsbClasses[0]);
    for (const char* device : kSerialDevices) fake::AddSerialPort(device);
    // Each input starts from a fresh log so that the folder never grows.
    for (const char* name : {"/port.log", "/x.log", "/default.log"}) {
        std::remove((WorkDir() + name).c_str());
    }

    FuzzedDataProvider input(data, size);
    Args args(input);
    for (int calls = 0; calls < kMaxCallsPerInput && input.remaining_bytes() > 0; ++calls) {
        args.NextCall();
        if (input.ConsumeIntegralInRange<int>(0, 4) == 0) {
            Script(args);
        } else {
            kEntries[input.ConsumeIntegralInRange<std::size_t>(0, 91)](args);
        }
    }
    args.NextCall();
    DeleteAllLayerItems();
    return 0;
}
