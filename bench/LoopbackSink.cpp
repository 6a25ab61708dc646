#include "bench/LoopbackSink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "bench/Loopback.h"

namespace bench {

LoopbackSink::LoopbackSink() {
    listener = ListenOnLoopback(&port);
    server = std::thread([this] { Serve(); });
}

LoopbackSink::~LoopbackSink() {
    stop = true;
    server.join();
    ::close(listener);
}

// One connection at a time; a new one replaces the old.
void LoopbackSink::Serve() {
    std::vector<char> buffer(256 * 1024);
    int client = -1;
    while (!stop) {
        pollfd entries[2] = {{listener, POLLIN, 0}, {client, POLLIN, 0}};
        if (::poll(entries, client >= 0 ? 2 : 1, 10) <= 0) continue;
        if ((entries[0].revents & POLLIN) != 0) {
            int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                if (client >= 0) ::close(client);
                client = accepted;
            }
        }
        if (client < 0 || (entries[1].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
        ssize_t n = ::recv(client, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0) {
            std::lock_guard<std::mutex> guard(lock);
            received += static_cast<std::uint64_t>(n);
            arrived.notify_all();
        } else if (n == 0) {
            ::close(client);
            client = -1;
        }
    }
    if (client >= 0) ::close(client);
}

bool LoopbackSink::WaitFor(std::uint64_t count) {
    std::unique_lock<std::mutex> guard(lock);
    bool done =
        arrived.wait_for(guard, std::chrono::seconds(60), [&] { return received >= count; });
    received -= done ? count : received;
    return done;
}

}  // namespace bench
