// A serial printer on a pseudo-terminal, for the bridge's Java tests: it
// maps the terminal to a COM name in a registry file, then answers commands
// read line by line from standard input:
//   settings     prints the line settings the port was opened with
//   expect N     prints the next N bytes received, in hex ("timeout" if late)
//   send HEX     sends the bytes to the port
//   quiet        prints "quiet" when nothing arrives for 200 ms
// usage: sorjni_pty_printer REGISTRY_FILE COM_NAME
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

// The master side reports the settings of the terminal's line.
void Settings(int master) {
    termios line{};
    if (tcgetattr(master, &line) != 0) {
        std::cout << "unknown" << std::endl;
        return;
    }
    int bits = (line.c_cflag & CSIZE) == CS8 ? 8 : (line.c_cflag & CSIZE) == CS7 ? 7 : 0;
    const char* parity = !(line.c_cflag & PARENB)  ? "none"
                         : (line.c_cflag & PARODD) ? "odd"
                                                   : "even";
    std::cout << "bits=" << bits << " parity=" << parity
              << " stop=" << ((line.c_cflag & CSTOPB) ? 2 : 1)
              << " rtscts=" << ((line.c_cflag & CRTSCTS) ? 1 : 0)
              << " xonxoff=" << ((line.c_iflag & IXON) ? 1 : 0) << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: sorjni_pty_printer REGISTRY_FILE COM_NAME" << std::endl;
        return 2;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
    const char* device = ptsname(master);
    if (device == nullptr) return 1;
    {
        std::ofstream registry(argv[1]);
        registry << "Windows Registry Editor Version 5.00\n\n"
                 << "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
                 << "\"" << device << "\"=\"" << argv[2] << "\"\n";
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
