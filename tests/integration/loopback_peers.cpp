#include "tests/integration/loopback_peers.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <stdexcept>

namespace loopback {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket bound to 127.0.0.1 on a free port; the port goes to *port.
int BoundSocket(int type, std::uint16_t* port) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address = Loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

TcpPrinter::TcpPrinter() {
    listener = BoundSocket(SOCK_STREAM, &port);
    ::listen(listener, 8);
    server = std::thread([this] { Serve(); });
}

TcpPrinter::~TcpPrinter() {
    stop = true;
    server.join();
    DropClient();
    ::close(listener);
}

void TcpPrinter::DropClient() {
    if (client >= 0) ::close(client);
    client = -1;
}

void TcpPrinter::Serve() {
    char buffer[65536];
    while (!stop) {
        std::deque<std::function<void()>> pending;
        {
            std::lock_guard<std::mutex> guard(lock);
            pending.swap(actions);
        }
        for (auto& action : pending) action();

        pollfd entries[2] = {{listener, POLLIN, 0}, {client, POLLIN, 0}};
        if (::poll(entries, client >= 0 ? 2 : 1, 5) <= 0) continue;
        if ((entries[0].revents & POLLIN) != 0) {
            int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                DropClient();
                client = accepted;
                std::lock_guard<std::mutex> guard(lock);
                ++connections;
                changed.notify_all();
            }
        }
        if (client >= 0 && (entries[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                std::lock_guard<std::mutex> guard(lock);
                received.append(buffer, static_cast<std::size_t>(n));
                changed.notify_all();
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                DropClient();
            }
        }
    }
}

void TcpPrinter::RunOnServer(std::function<void()> action) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    {
        std::lock_guard<std::mutex> guard(lock);
        actions.push_back([action, done] {
            action();
            done->set_value();
        });
    }
    finished.wait_for(std::chrono::seconds(5));
}

std::string TcpPrinter::Received() {
    std::lock_guard<std::mutex> guard(lock);
    return received;
}

bool TcpPrinter::WaitForBytes(std::size_t count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, limit, [&] { return received.size() >= count; });
}

bool TcpPrinter::WaitForConnections(int count, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, limit, [&] { return connections >= count; });
}

int TcpPrinter::Connections() {
    std::lock_guard<std::mutex> guard(lock);
    return connections;
}

void TcpPrinter::Answer(const std::string& bytes) {
    RunOnServer([this, bytes] {
        if (client >= 0) ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    });
}

void TcpPrinter::CloseConnection() {
    RunOnServer([this] { DropClient(); });
}

// SO_LINGER with a zero time makes close send a reset instead of a FIN.
void TcpPrinter::ResetConnection() {
    RunOnServer([this] {
        if (client < 0) return;
        linger abort{1, 0};
        ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        DropClient();
    });
}

void TcpPrinter::DiscardReceived() {
    std::lock_guard<std::mutex> guard(lock);
    received.clear();
}

UdpPeer::UdpPeer() {
    fd = BoundSocket(SOCK_DGRAM, &port);
}

UdpPeer::~UdpPeer() {
    ::close(fd);
}

std::string UdpPeer::Receive(std::chrono::milliseconds limit) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(limit.count())) <= 0) return "";
    char buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n =
        ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n >= 0) senderPort = ntohs(from.sin_port);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
}

void UdpPeer::SendTo(std::uint16_t toPort, const std::string& bytes) {
    sockaddr_in to = Loopback(toPort);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
}

FullListener::FullListener() {
    listener = BoundSocket(SOCK_STREAM, &port);
    ::listen(listener, 0);
    sockaddr_in to = Loopback(port);
    for (int& filler : fillers) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    // Give the handshakes that the backlog admits time to complete.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

FullListener::~FullListener() {
    for (int filler : fillers) ::close(filler);
    ::close(listener);
}

std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    int fd = BoundSocket(SOCK_STREAM, &port);
    ::close(fd);
    return port;
}

std::uint16_t FreeUdpPort() {
    std::uint16_t port = 0;
    int fd = BoundSocket(SOCK_DGRAM, &port);
    ::close(fd);
    return port;
}

int OpenDescriptors() {
    int count = 0;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    while (dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(folder);
    return count - 1;  // the folder's own descriptor
}

}  // namespace loopback
