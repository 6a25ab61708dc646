// The library's side of the scenarios run under qemu (tests/qemu/init.sh):
// one call sequence per command, each printing what the library returned
// as name=value pairs on one line, for the scenario to compare with what
// the gadget or the adapter's far end received.
//   qemu_probe [--uid N] list
//   qemu_probe job SERIAL FILE [SEND_TIMEOUT_MS [MARKER]]
//   qemu_probe printer NAME FILE
//   qemu_probe avail SERIAL MARKER GONE
//   qemu_probe serial DEVICE BAUD PARITY SIZE STOPS FLOW TEXT
//   qemu_probe read DEVICE READ_INTERVAL READ_CONSTANT MARKER GONE
//   qemu_probe lines DEVICE
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "sorlink.h"

namespace {

int LastError() {
    int error = 0;
    GetLastErrorComm(&error);
    return error;
}

// Creates the file a scenario waits for before acting on the device.
void Mark(const char* marker) {
    if (marker == nullptr) return;
    int fd = open(marker, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) close(fd);
}

bool Exists(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0;
}

int List() {
    int id = 0;
    CreateCommunicationPort(SORLINK_LINK_USB, LOG_MODE_NONE, 0, nullptr, &id);
    char devices[1024] = {};
    int code = UsbEnumDevices(devices, sizeof(devices));
    char printers[1024] = {};
    int printerCode = UsbEnumPrinters(printers, sizeof(printers));
    std::printf("list=%d devices=%s printers=%d/%s\n", code, devices, printerCode, printers);
    return 0;
}

int Job(const char* serial, const char* file, int sendTimeout, const char* marker,
        const char* printer = nullptr) {
    std::ifstream in(file, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    int id = 0;
    CreateCommunicationPort(SORLINK_LINK_USB, LOG_MODE_FILE, LOG_TRACE | LOG_INFO | LOG_ERROR,
                            "/tmp/probe.log", &id);
    int init =
        printer != nullptr ? InitUsbPrinter(printer) : InitUsbVidPidSerial("0f3c", "0101", serial);
    SetUsbTimeout(sendTimeout, 1000);
    int opened = Open();
    int openError = LastError();
    int write = -1;
    if (opened == 0) {
        // Pieces as an application sends a ticket: 4 KiB at a time. The
        // marker tells the scenario that the job is under way.
        write = 0;
        for (std::size_t at = 0; at < bytes.size() && write == 0; at += 4096) {
            std::size_t n = bytes.size() - at < 4096 ? bytes.size() - at : 4096;
            write = Write(bytes.data() + at, static_cast<int>(n));
            if (at == 0) Mark(marker);
        }
    }
    Mark(marker);
    int writeError = LastError();
    int closed = Close();
    std::printf("init=%d open=%d openerror=%d write=%d writeerror=%d close=%d\n", init, opened,
                openError, write, writeError, closed);
    return 0;
}

// Opens the printer, marks, waits (bounded) for GONE to appear, and asks
// whether the device is still there.
int Avail(const char* serial, const char* marker, const char* gone) {
    int id = 0;
    CreateCommunicationPort(SORLINK_LINK_USB, LOG_MODE_NONE, 0, nullptr, &id);
    InitUsbVidPidSerial("0f3c", "0101", serial);
    int opened = Open();
    int before = IsDeviceAvailable();
    Mark(marker);
    for (int i = 0; i < 200 && !Exists(gone); ++i) usleep(50000);
    int after = IsDeviceAvailable();
    std::printf("open=%d before=%d after=%d\n", opened, before, after);
    return 0;
}

int SerialJob(char** argv) {
    int id = 0;
    CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_NONE, 0, nullptr, &id);
    int init = InitSerialPort(argv[0], std::atoi(argv[1]), std::atoi(argv[2]), std::atoi(argv[3]),
                              std::atoi(argv[4]), std::atoi(argv[5]));
    int opened = Open();
    int openError = LastError();
    int write = -1;
    int baud = 0, parity = 0, size = 0, stops = 0, flow = 0;
    int params = -1;
    if (opened == 0) {
        write = Write(reinterpret_cast<const unsigned char*>(argv[6]),
                      static_cast<int>(std::strlen(argv[6])));
        params = GetSerialParameters(&baud, &parity, &size, &stops, &flow);
    }
    int closed = Close();
    std::printf(
        "init=%d open=%d openerror=%d write=%d params=%d baud=%d parity=%d size=%d "
        "stops=%d flow=%d close=%d\n",
        init, opened, openError, write, params, baud, parity, size, stops, flow, closed);
    return 0;
}

// A read, then, once GONE appears (the adapter unplugged), three more:
// what each returned, as code/error/count.
int SerialRead(char** argv) {
    int id = 0;
    CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_NONE, 0, nullptr, &id);
    InitSerialPort(argv[0], 9600, 0, 8, 0, 2);
    SetSerialTimeout(std::atoi(argv[1]), std::atoi(argv[2]), 0, 1000, 0);
    int opened = Open();
    std::printf("open=%d", opened);
    for (int i = 0; i < 4 && opened == 0; ++i) {
        if (i == 1) {
            Mark(argv[3]);
            for (int wait = 0; wait < 200 && !Exists(argv[4]); ++wait) usleep(50000);
        }
        char buffer[64];
        unsigned got = 0;
        int code = Read(buffer, sizeof(buffer), &got);
        std::printf(" read%d=%d/%d/%u", i, code, LastError(), got);
    }
    std::printf("\n");
    return 0;
}

// DTR and RTS as the driver holds them (TIOCMGET on a descriptor of our
// own) after each of AdvSetSerialDTR/RTS: "D" and "R" for raised lines.
int SerialLines(const char* device) {
    int id = 0;
    CreateCommunicationPort(SORLINK_LINK_SERIAL, LOG_MODE_NONE, 0, nullptr, &id);
    InitSerialPort(device, 9600, 0, 8, 0, 1);
    int opened = Open();
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    auto lines = [fd] {
        int bits = 0;
        if (fd < 0 || ioctl(fd, TIOCMGET, &bits) != 0) return std::string("?");
        return std::string((bits & TIOCM_DTR) != 0 ? "D" : "-") +
               ((bits & TIOCM_RTS) != 0 ? "R" : "-");
    };
    std::string seen = lines();
    int dtrOff = AdvSetSerialDTR(0);
    seen += "," + lines();
    int rtsOff = AdvSetSerialRTS(0);
    seen += "," + lines();
    int dtrOn = AdvSetSerialDTR(1);
    seen += "," + lines();
    if (fd >= 0) close(fd);
    std::printf("open=%d dtroff=%d rtsoff=%d dtron=%d lines=%s close=%d\n", opened, dtrOff, rtsOff,
                dtrOn, seen.c_str(), Close());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // --uid N: run as that user (a user the node's permissions keep out).
    if (argc > 2 && std::strcmp(argv[1], "--uid") == 0) {
        auto uid = static_cast<uid_t>(std::atoi(argv[2]));
        if (setgid(uid) != 0 || setuid(uid) != 0) return 3;
        argv += 2;
        argc -= 2;
    }
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "list") return List();
    if (command == "job" && argc >= 4) {
        return Job(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 5000,
                   argc > 5 ? argv[5] : nullptr);
    }
    if (command == "printer" && argc >= 4) return Job(nullptr, argv[3], 5000, nullptr, argv[2]);
    if (command == "avail" && argc >= 5) return Avail(argv[2], argv[3], argv[4]);
    if (command == "serial" && argc >= 9) return SerialJob(argv + 2);
    if (command == "read" && argc >= 7) return SerialRead(argv + 2);
    if (command == "lines" && argc >= 3) return SerialLines(argv[2]);
    std::fprintf(stderr, "usage: qemu_probe list|job|avail|serial|read|lines ...\n");
    return 2;
}
