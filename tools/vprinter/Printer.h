// The virtual printer's links and its event loop (Linux).
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "tools/vprinter/Responder.h"

namespace vprinter {

struct PrinterConfig {
    int tcpPort = -1;  // -1: no TCP listener; 0: any free port
    int udpPort = -1;
    // Printers that answer datagrams answer on a configured port, not the
    // sender's: the library receives on a socket of its own.
    int udpAnswerPort = -1;
    bool pty = false;
    // USB: a usblp printer with these IDs, described by a sysfs tree under
    // usbRoot whose device node is a pseudo-terminal.
    std::string usbRoot;
    std::string usbVendor, usbProduct, usbSerial;
    std::string registryFile;
    std::string comName;
    std::string recordFile;
    std::string infoFile;
    ResponderConfig responder;
    int timeLimitSeconds = 30;
};

class Printer {
public:
    explicit Printer(const PrinterConfig& config);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    // Opens the links and announces them; false after a message on failure.
    bool Start();
    // Serves until the time limit or a termination signal; the exit status.
    int Run();

private:
    struct Terminal {
        int master = -1;
        // Kept open so the master never sees a hang-up between the
        // openings of the terminal by its users.
        int slave = -1;
        std::string path;
    };
    struct Stream {
        int fd;
        bool isSocket;
        std::unique_ptr<Responder> responder;
    };

    bool OpenTcp();
    bool OpenUdp();
    bool OpenTerminal(Terminal* terminal);
    bool OpenUsb();
    bool Announce();
    // One poll of every link, serving what is ready; true when something was.
    bool ServeOnce(int timeoutMs, bool* failed);
    void Accept();
    void ServeStream(int fd);
    void ServeDatagram();
    void Record(const unsigned char* data, std::size_t size);
    void Drop(int fd, bool reset);
    bool WriteAll(int fd, const Bytes& bytes, bool isSocket);

    PrinterConfig config;
    int listener = -1;
    int udpSocket = -1;
    Terminal serialTerminal;
    Terminal usbTerminal;
    int boundTcpPort = 0;
    int boundUdpPort = 0;
    std::FILE* record = nullptr;
    std::map<int, Stream> streams;
    // Datagrams from every sender form one stream of requests.
    std::unique_ptr<Responder> udpResponder;
    long long totalReceived = 0;
    int connections = 0;
    // The signal mask while waiting for the links: the stop signals are
    // blocked at all other times, so that one cannot come between the
    // check of the stop flag and the wait, which would then not end.
    sigset_t waitMask{};
};

}  // namespace vprinter
