#include "tests/soak/soak_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace soak {

namespace {

int CountDescriptors() {
    int count = 0;
    DIR* folder = ::opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    while (dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(folder);
    return count - 1;  // the folder's own descriptor
}

long ResidentKiB() {
    long pages = 0;
    long resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return -1;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(statm);
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// A listening socket on 127.0.0.1, port chosen by the system; a receive
// buffer of receiveBuffer bytes when not 0.
int Listener(int receiveBuffer, std::uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

Figures Measure() {
    return Figures{CountDescriptors(), ResidentKiB()};
}

void Report(const char* what, const Figures& start, const Figures& end) {
    std::printf("[ figures  ] %s: descriptors %d -> %d, resident %ld KiB -> %ld KiB\n", what,
                start.descriptors, end.descriptors, start.residentKiB, end.residentKiB);
    ::testing::Test::RecordProperty("descriptors", std::to_string(start.descriptors) + " -> " +
                                                       std::to_string(end.descriptors));
    ::testing::Test::RecordProperty("resident_kib", std::to_string(start.residentKiB) + " -> " +
                                                        std::to_string(end.residentKiB));
}

bool ResidentMemoryIsComparable() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

Acceptor::Acceptor() {
    listener = Listener(0, &port);
    server = std::thread([this] {
        while (!stop) {
            int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            ::close(client);
            ++closed;
        }
    });
}

bool Acceptor::WaitForClosed(int count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (closed < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

Acceptor::~Acceptor() {
    stop = true;
    // Wakes the blocked accept.
    ::shutdown(listener, SHUT_RDWR);
    server.join();
    ::close(listener);
}

ResettingPrinter::ResettingPrinter() {
    // The small receive buffer is inherited by every accepted connection.
    listener = Listener(4096, &port);
    server = std::thread([this] { Serve(); });
}

ResettingPrinter::~ResettingPrinter() {
    stop = true;
    server.join();
    ::close(listener);
}

void ResettingPrinter::PlanReset(std::size_t afterBytes) {
    std::lock_guard<std::mutex> guard(lock);
    nextReset = afterBytes;
}

std::vector<std::string> ResettingPrinter::TakeConnections(int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::unique_lock<std::mutex> guard(lock);
    // A connection the sender made and closed may still wait in the
    // backlog: idle twice, 20 ms apart, counts as done.
    for (int idle = 0; idle < 2 && std::chrono::steady_clock::now() < deadline;) {
        changed.wait_until(guard, deadline, [this] { return !serving; });
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        guard.lock();
        idle = serving ? 0 : idle + 1;
    }
    std::vector<std::string> taken;
    taken.swap(finished);
    return taken;
}

// What the printer's TCP acknowledged is part of what it received, read or
// not: once the queue has stopped growing for longer than the longest
// delayed acknowledgement (200 ms), all of it has been acknowledged, and a
// copy of it joins the record before the reset throws it away.
void ResettingPrinter::TakeAcknowledged(int client, std::string* received) {
    int last = -1;
    for (int calm = 0, k = 0; calm < 25 && k < 300; ++k) {
        int queued = 0;
        ::ioctl(client, SIOCINQ, &queued);
        calm = queued == last ? calm + 1 : 0;
        last = queued;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string queued(static_cast<std::size_t>(last > 0 ? last : 0), '\0');
    ssize_t got =
        queued.empty() ? 0 : ::recv(client, &queued[0], queued.size(), MSG_PEEK | MSG_DONTWAIT);
    received->append(queued.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

void ResettingPrinter::Serve() {
    std::vector<char> buffer(65536);
    while (!stop) {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 5) <= 0) continue;
        int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::size_t resetAfter;
        {
            std::lock_guard<std::mutex> guard(lock);
            serving = true;
            resetAfter = nextReset;
            nextReset = SIZE_MAX;
        }
        std::string received;
        while (!stop) {
            if (received.size() >= resetAfter) {
                TakeAcknowledged(client, &received);
                linger abort{1, 0};
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                break;
            }
            pollfd reading{client, POLLIN, 0};
            if (::poll(&reading, 1, 5) <= 0) continue;
            std::size_t want = buffer.size();
            if (resetAfter - received.size() < want) want = resetAfter - received.size();
            ssize_t got = ::read(client, buffer.data(), want);
            if (got <= 0) break;
            received.append(buffer.data(), static_cast<std::size_t>(got));
        }
        ::close(client);
        std::lock_guard<std::mutex> guard(lock);
        finished.push_back(std::move(received));
        serving = false;
        changed.notify_all();
    }
}

}  // namespace soak
