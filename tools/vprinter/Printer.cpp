#include "tools/vprinter/Printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/vprinter/UsbFixture.h"

namespace vprinter {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

void Complain(const char* what) {
    std::fprintf(stderr, "sorlink_vprinter: %s: %s\n", what, std::strerror(errno));
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
    return ntohs(address.sin_port);
}

}  // namespace

Printer::Printer(const PrinterConfig& printerConfig) : config(printerConfig) {}

Printer::~Printer() {
    for (auto& entry : streams) {
        if (entry.second.isSocket) close(entry.first);
    }
    if (listener >= 0) close(listener);
    if (udpSocket >= 0) close(udpSocket);
    for (Terminal* terminal : {&serialTerminal, &usbTerminal}) {
        if (terminal->master >= 0) close(terminal->master);
        if (terminal->slave >= 0) close(terminal->slave);
    }
    if (record != nullptr) std::fclose(record);
}

bool Printer::OpenTcp() {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        Complain("socket");
        return false;
    }
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = Loopback(config.tcpPort);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 8) != 0) {
        Complain("TCP listen");
        return false;
    }
    boundTcpPort = BoundPort(listener);
    return true;
}

bool Printer::OpenUdp() {
    udpSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (udpSocket < 0) {
        Complain("socket");
        return false;
    }
    sockaddr_in address = Loopback(config.udpPort);
    if (bind(udpSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Complain("UDP bind");
        return false;
    }
    boundUdpPort = BoundPort(udpSocket);
    udpResponder.reset(new Responder(&config.responder));
    return true;
}

bool Printer::OpenTerminal(Terminal* terminal) {
    terminal->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal->master < 0 || grantpt(terminal->master) != 0 || unlockpt(terminal->master) != 0) {
        Complain("pseudo-terminal");
        return false;
    }
    const char* name = ptsname(terminal->master);
    if (name == nullptr) {
        Complain("ptsname");
        return false;
    }
    terminal->path = name;
    terminal->slave = open(terminal->path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    if (terminal->slave < 0 || tcgetattr(terminal->slave, &settings) != 0) {
        Complain("terminal settings");
        return false;
    }
    // A printer sees raw bytes: no echo, no line editing, no translation.
    cfmakeraw(&settings);
    tcsetattr(terminal->slave, TCSANOW, &settings);
    streams[terminal->master] = Stream{
        terminal->master, false, std::unique_ptr<Responder>(new Responder(&config.responder))};
    return true;
}

bool Printer::OpenUsb() {
    if (!OpenTerminal(&usbTerminal)) return false;
    std::string error;
    if (!WriteUsbFixture(config.usbRoot, config.usbVendor, config.usbProduct, config.usbSerial,
                         usbTerminal.path, &error)) {
        std::fprintf(stderr, "sorlink_vprinter: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool Printer::Announce() {
    std::string lines;
    if (listener >= 0) lines += "tcp 127.0.0.1 " + std::to_string(boundTcpPort) + "\n";
    if (udpSocket >= 0) lines += "udp 127.0.0.1 " + std::to_string(boundUdpPort) + "\n";
    if (serialTerminal.master >= 0) lines += "pty " + serialTerminal.path + "\n";
    if (usbTerminal.master >= 0) {
        lines += "usb " + config.usbRoot + "/sys " + config.usbRoot + "/dev\n";
    }

    if (!config.registryFile.empty()) {
        std::FILE* file = std::fopen(config.registryFile.c_str(), "w");
        if (file == nullptr) {
            Complain(config.registryFile.c_str());
            return false;
        }
        // The serial device map: the device path as the value's name, the
        // port name callers use as its data.
        std::fprintf(file,
                     "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Hardware\\Devicemap\\Serialcomm]\n"
                     "\"%s\"=\"%s\"\n",
                     serialTerminal.path.c_str(), config.comName.c_str());
        std::fclose(file);
        lines += "com " + config.comName + "\n";
    }
    if (!config.infoFile.empty()) {
        std::FILE* file = std::fopen(config.infoFile.c_str(), "w");
        if (file == nullptr) {
            Complain(config.infoFile.c_str());
            return false;
        }
        std::fputs(lines.c_str(), file);
        std::fclose(file);
    }
    std::fputs(lines.c_str(), stdout);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return true;
}

bool Printer::Start() {
    if (!config.recordFile.empty()) {
        record = std::fopen(config.recordFile.c_str(), "wb");
        if (record == nullptr) {
            Complain(config.recordFile.c_str());
            return false;
        }
    }
    if (config.tcpPort >= 0 && !OpenTcp()) return false;
    if (config.udpPort >= 0 && !OpenUdp()) return false;
    if (config.pty && !OpenTerminal(&serialTerminal)) return false;
    if (!config.usbRoot.empty() && !OpenUsb()) return false;
    return Announce();
}

void Printer::Record(const unsigned char* data, std::size_t size) {
    totalReceived += static_cast<long long>(size);
    if (record == nullptr) return;
    std::fwrite(data, 1, size, record);
    // Flushed at once so that the file shows what arrived while we run.
    std::fflush(record);
}

bool Printer::WriteAll(int fd, const Bytes& bytes, bool isSocket) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = isSocket
                              ? send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                              : write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

void Printer::Drop(int fd, bool reset) {
    if (reset) {
        // A zero linger time makes close send a reset instead of a FIN.
        linger abortive{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    close(fd);
    streams.erase(fd);
}

void Printer::Accept() {
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ++connections;
    streams[fd] = Stream{fd, true, std::unique_ptr<Responder>(new Responder(&config.responder))};
}

void Printer::ServeStream(int fd) {
    Stream& stream = streams[fd];
    unsigned char buffer[4096];
    ssize_t got =
        stream.isSocket ? recv(fd, buffer, sizeof buffer, 0) : read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (got <= 0) {
        // The peer went away (a pseudo-terminal never does: we hold its
        // other side open).
        if (stream.isSocket) Drop(fd, false);
        return;
    }
    Record(buffer, static_cast<std::size_t>(got));
    for (const Action& action : stream.responder->Feed(buffer, static_cast<std::size_t>(got))) {
        if (action.kind == ActionKind::kReply) {
            if (!WriteAll(fd, action.reply, stream.isSocket) && stream.isSocket) {
                Drop(fd, false);
                return;
            }
        } else if (stream.isSocket) {
            Drop(fd, action.kind == ActionKind::kReset);
            return;
        }
    }
}

void Printer::ServeDatagram() {
    unsigned char buffer[65536];
    sockaddr_in sender{};
    socklen_t senderLength = sizeof sender;
    ssize_t got = recvfrom(udpSocket, buffer, sizeof buffer, 0,
                           reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (got <= 0) return;
    Record(buffer, static_cast<std::size_t>(got));
    if (config.udpAnswerPort >= 0) {
        sender = Loopback(config.udpAnswerPort);
        senderLength = sizeof sender;
    }
    for (const Action& action : udpResponder->Feed(buffer, static_cast<std::size_t>(got))) {
        if (action.kind != ActionKind::kReply) continue;
        sendto(udpSocket, action.reply.data(), action.reply.size(), 0,
               reinterpret_cast<sockaddr*>(&sender), senderLength);
    }
}

bool Printer::ServeOnce(int timeoutMs, bool* failed) {
    std::vector<pollfd> watched;
    // One TCP connection at a time, as on a printer's raw port: a later one
    // waits in the backlog, so the record never interleaves two senders.
    bool connectionOpen = false;
    for (const auto& entry : streams) connectionOpen = connectionOpen || entry.second.isSocket;
    if (listener >= 0 && !connectionOpen) watched.push_back({listener, POLLIN, 0});
    if (udpSocket >= 0) watched.push_back({udpSocket, POLLIN, 0});
    for (const auto& entry : streams) watched.push_back({entry.first, POLLIN, 0});
    timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000};
    int ready = ppoll(watched.data(), watched.size(), &timeout, &waitMask);
    if (ready < 0 && errno != EINTR) {
        Complain("poll");
        *failed = true;
        return false;
    }
    for (const pollfd& entry : watched) {
        if (entry.revents == 0) continue;
        if (entry.fd == listener) {
            Accept();
        } else if (entry.fd == udpSocket) {
            ServeDatagram();
        } else if (streams.count(entry.fd) != 0) {
            ServeStream(entry.fd);
        }
    }
    return ready > 0;
}

int Printer::Run() {
    struct sigaction handler {};
    handler.sa_handler = RequestStop;
    sigaction(SIGTERM, &handler, nullptr);
    sigaction(SIGINT, &handler, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);

    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(config.timeLimitSeconds);
    bool failed = false;
    while (stopRequested == 0 && !failed) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        ServeOnce(static_cast<int>(left.count()), &failed);
    }
    // A sender may have finished while its last bytes still sit in our
    // socket or terminal buffers: record them before stopping, for a
    // bounded time.
    Clock::time_point drainEnd = Clock::now() + std::chrono::seconds(2);
    while (!failed && Clock::now() < drainEnd && ServeOnce(20, &failed)) {
    }
    std::fprintf(stderr, "sorlink_vprinter: stopped; %lld bytes received, %d TCP connections\n",
                 totalReceived, connections);
    return failed ? 1 : 0;
}

}  // namespace vprinter
