#include "bench/Loopback.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace bench {

int ListenOnLoopback(std::uint16_t* port) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 8) != 0) {
        if (listener >= 0) ::close(listener);
        throw std::runtime_error("cannot listen on loopback");
    }
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return listener;
}

int ConnectToLoopback(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendInPieces(int fd, const unsigned char* data, std::size_t size, std::size_t pieceBytes) {
    for (std::size_t offset = 0; offset < size; offset += pieceBytes) {
        std::size_t piece = std::min(pieceBytes, size - offset);
        std::size_t taken = 0;
        while (taken < piece) {
            ssize_t n = ::send(fd, data + offset + taken, piece - taken, MSG_NOSIGNAL);
            if (n <= 0) return false;
            taken += static_cast<std::size_t>(n);
        }
    }
    return true;
}

bool WaitAcknowledged(int fd) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto pause = std::chrono::microseconds(20);
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, SIOCOUTQ, &queued) != 0) return false;
        if (queued == 0) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(2)) pause *= 2;
    }
}

}  // namespace bench
