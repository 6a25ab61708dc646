// The Linux side of the Wine test: a printer reached through a
// pseudo-terminal (Wine's COM5), a TCP loopback port and a UDP loopback
// port. It answers every byte it receives with the same byte, letters in
// the other case ("Hello" gets "hELLO"), and keeps what it received in
// <folder>/serial.bin, tcp.bin and udp.bin.
//
//   printer_peer <folder>
//
// When ready it writes <folder>/peer.env (pty=, tcp=, udp=, udpreply=,
// refused= a TCP port that refuses connections):
// datagrams are answered to 127.0.0.1:udpreply, the port the layer is
// given as its local port. It stops after two minutes or on SIGTERM.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t stopping = 0;

void Stop(int) {
    stopping = 1;
}

void Die(const char* what) {
    std::perror(what);
    std::exit(1);
}

int LoopbackSocket(int type, int* port) {
    int s = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (s < 0) Die("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Die("bind");
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return s;
}

std::string Answer(const char* data, ssize_t size) {
    std::string answer(data, static_cast<std::size_t>(size));
    for (char& c : answer) {
        unsigned char u = static_cast<unsigned char>(c);
        if (std::isupper(u)) {
            c = static_cast<char>(std::tolower(u));
        } else if (std::islower(u)) {
            c = static_cast<char>(std::toupper(u));
        }
    }
    return answer;
}

void Record(const std::string& folder, const char* name, const char* data, ssize_t size) {
    FILE* file = std::fopen((folder + "/" + name).c_str(), "ab");
    if (file == nullptr) return;
    std::fwrite(data, 1, static_cast<std::size_t>(size), file);
    std::fclose(file);
}

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    signal(SIGTERM, Stop);
    signal(SIGINT, Stop);
    signal(SIGPIPE, SIG_IGN);

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) Die("posix_openpt");
    const char* slavePath = ptsname(master);
    if (slavePath == nullptr) Die("ptsname");
    std::string ptyPath = slavePath;
    // Holding the slave open keeps the master readable while Wine has the
    // port closed; raw mode until Wine applies the line settings.
    int slave = ::open(ptyPath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) Die("open slave");
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);

    int tcpPort = 0;
    int udpPort = 0;
    int replyPort = 0;
    int listener = LoopbackSocket(SOCK_STREAM, &tcpPort);
    if (listen(listener, 4) != 0) Die("listen");
    int udp = LoopbackSocket(SOCK_DGRAM, &udpPort);
    // A free port for the layer's receiving socket.
    int probe = LoopbackSocket(SOCK_DGRAM, &replyPort);
    close(probe);
    // Bound and never listening: Linux refuses every connection to it (RST),
    // and no other program can take the port meanwhile.
    int refusedPort = 0;
    LoopbackSocket(SOCK_STREAM, &refusedPort);

    std::string env = folder + "/peer.env";
    FILE* info = std::fopen((env + ".tmp").c_str(), "w");
    if (info == nullptr) Die("peer.env");
    std::fprintf(info, "pty=%s\ntcp=%d\nudp=%d\nudpreply=%d\nrefused=%d\n", ptyPath.c_str(),
                 tcpPort, udpPort, replyPort, refusedPort);
    std::fclose(info);
    std::rename((env + ".tmp").c_str(), env.c_str());

    std::vector<int> clients;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    char buffer[4096];
    while (!stopping && std::chrono::steady_clock::now() < deadline) {
        std::vector<pollfd> fds = {{master, POLLIN, 0}, {listener, POLLIN, 0}, {udp, POLLIN, 0}};
        for (int client : clients) fds.push_back({client, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 200) <= 0) continue;

        if (fds[0].revents & POLLIN) {
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                Record(folder, "serial.bin", buffer, n);
                WriteAll(master, Answer(buffer, n));
            }
        }
        int accepted = -1;
        if (fds[1].revents & POLLIN) accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fds[2].revents & POLLIN) {
            ssize_t n = recv(udp, buffer, sizeof buffer, 0);
            if (n > 0) {
                Record(folder, "udp.bin", buffer, n);
                sockaddr_in to{};
                to.sin_family = AF_INET;
                to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                to.sin_port = htons(static_cast<std::uint16_t>(replyPort));
                std::string answer = Answer(buffer, n);
                sendto(udp, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to);
            }
        }
        for (std::size_t i = 3; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = recv(fds[i].fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                Record(folder, "tcp.bin", buffer, n);
                std::string answer = Answer(buffer, n);
                send(fds[i].fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        std::vector<int> open;
        for (std::size_t i = 3; i < fds.size(); ++i) {
            if (fds[i].fd >= 0) open.push_back(fds[i].fd);
        }
        if (accepted >= 0) open.push_back(accepted);
        clients = open;
    }
    close(slave);
    close(master);
    return 0;
}
