// A printer on a pseudo-terminal, for the bridge's Java tests. As a serial
// printer it maps the terminal to a COM name in a registry file; as a USB
// printer it builds a usblp device under $SORLINK_SYSFS_ROOT and
// $SORLINK_DEV_ROOT whose node is the terminal, installed under a printer
// name in the registry file. Then it answers commands read line by line
// from standard input:
//   settings     prints the line settings the port was opened with
//   expect N     prints the next N bytes received, in hex ("timeout" if late)
//   send HEX     sends the bytes to the port
//   quiet        prints "quiet" when nothing arrives for 200 ms
// usage: sorjni_pty_printer serial REGISTRY_FILE COM_NAME
//        sorjni_pty_printer usb REGISTRY_FILE PRINTER_NAME
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr int kWaitMs = 3000;

// Bytes from the master side within timeoutMs; an unopened or closed
// terminal reports EIO, which counts as "nothing yet".
int ReadSome(int master, unsigned char* bytes, int count, int timeoutMs) {
    pollfd entry{master, POLLIN, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return 0;
    ssize_t n = read(master, bytes, static_cast<std::size_t>(count));
    if (n <= 0) {
        usleep(10000);
        return 0;
    }
    return static_cast<int>(n);
}

void Expect(int master, int count) {
    std::string hex;
    int received = 0;
    for (int waited = 0; received < count && waited < kWaitMs; waited += 50) {
        unsigned char bytes[256];
        int want = count - received < 256 ? count - received : 256;
        int n = ReadSome(master, bytes, want, 50);
        for (int i = 0; i < n; ++i) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
            hex += pair;
        }
        received += n;
    }
    std::cout << (received == count ? hex : "timeout " + hex) << std::endl;
}

void Quiet(int master) {
    unsigned char byte = 0;
    std::cout << (ReadSome(master, &byte, 1, 200) == 0 ? "quiet" : "data") << std::endl;
}

void Send(int master, const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    bool sent = write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    std::cout << (sent ? "sent" : "send failed") << std::endl;
}

// The master side reports the settings of the terminal's line. A
// pseudo-terminal always frames 8 bits without parity (its driver resets
// both), so the parity shows only in its sense (odd or not).
void Settings(int master) {
    termios line{};
    if (tcgetattr(master, &line) != 0) {
        std::cout << "unknown" << std::endl;
        return;
    }
    speed_t speed = cfgetospeed(&line);
    int baud = speed == B9600 ? 9600 : speed == B19200 ? 19200 : speed == B115200 ? 115200 : 0;
    std::cout << "baud=" << baud << " odd=" << ((line.c_cflag & PARODD) ? 1 : 0)
              << " stop=" << ((line.c_cflag & CSTOPB) ? 2 : 1)
              << " rtscts=" << ((line.c_cflag & CRTSCTS) ? 1 : 0)
              << " xonxoff=" << ((line.c_iflag & IXON) ? 1 : 0) << std::endl;
}

void MapSerialPort(const char* device, const char* registryFile, const char* comName) {
    std::ofstream registry(registryFile);
    registry << "Windows Registry Editor Version 5.00\n\n"
             << "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
             << "\"" << device << "\"=\"" << comName << "\"\n";
}

void WriteText(const std::string& path, const char* text) {
    std::ofstream(path) << text << "\n";
}

// A usblp printer 0f3c:0101, serial "A1B2", on interface 0 of bus 1 device 5,
// installed as printerName.
bool InstallUsbPrinter(const char* device, const char* registryFile, const char* printerName) {
    const char* sys = std::getenv("SORLINK_SYSFS_ROOT");
    const char* dev = std::getenv("SORLINK_DEV_ROOT");
    if (sys == nullptr || dev == nullptr) return false;
    std::string usbDevice = std::string(sys) + "/devices/pci0000:00/usb1/1-1";
    std::string command =
        "mkdir -p '" + usbDevice + "/1-1:1.0' '" + sys + "/class/usbmisc/lp0' '" + dev + "/usb'";
    if (std::system(command.c_str()) != 0) return false;
    WriteText(usbDevice + "/idVendor", "0f3c");
    WriteText(usbDevice + "/idProduct", "0101");
    WriteText(usbDevice + "/serial", "A1B2");
    WriteText(usbDevice + "/busnum", "1");
    WriteText(usbDevice + "/devnum", "5");
    WriteText(usbDevice + "/1-1:1.0/bInterfaceNumber", "00");
    if (symlink((usbDevice + "/1-1:1.0").c_str(),
                (std::string(sys) + "/class/usbmisc/lp0/device").c_str()) != 0 ||
        symlink(device, (std::string(dev) + "/usb/lp0").c_str()) != 0) {
        return false;
    }
    std::ofstream registry(registryFile);
    registry
        << "Windows Registry Editor Version 5.00\n\n"
        << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0F3C&PID_0101\\A1B2]\n"
        << "\"ParentIdPrefix\"=\"7&2f1e0d&0\"\n\n"
        << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\"
        << printerName << "]\n\n"
        << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\"
        << printerName << "\\PnPData]\n"
        << "\"DeviceInstanceId\"=\"USBPRINT\\\\MODEL\\\\7&2F1E0D&0&USB001\"\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: sorjni_pty_printer serial|usb REGISTRY_FILE NAME" << std::endl;
        return 2;
    }
    std::string kind = argv[1];
    // "hex:" and the hexadecimal of the name's bytes.
    std::string name = argv[3];
    if (name.compare(0, 4, "hex:") == 0) {
        std::string bytes;
        for (std::size_t i = 4; i + 1 < name.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(name.substr(i, 2), nullptr, 16));
        }
        name = bytes;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    const char* device = ptsname(master);
    if (device == nullptr) return 1;
    if (kind == "usb") {
        // The device node is opened like a usblp node: raw, no echo.
        int slave = open(device, O_RDWR | O_NOCTTY);
        if (slave < 0) return 1;
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        close(slave);
        if (!InstallUsbPrinter(device, argv[2], name.c_str())) return 1;
    } else {
        MapSerialPort(device, argv[2], name.c_str());
    }
    std::cout << "ready " << device << std::endl;

    std::string command;
    while (std::getline(std::cin, command)) {
        std::istringstream words(command);
        std::string verb, argument;
        words >> verb >> argument;
        if (verb == "settings") {
            Settings(master);
        } else if (verb == "expect") {
            Expect(master, std::atoi(argument.c_str()));
        } else if (verb == "send") {
            Send(master, argument);
        } else if (verb == "quiet") {
            Quiet(master);
        } else if (verb == "quit") {
            break;
        } else {
            std::cout << "unknown command" << std::endl;
        }
    }
    close(master);
    return 0;
}
