#include "bench/LoopbackSource.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "bench/Loopback.h"

namespace bench {

LoopbackSource::LoopbackSource(std::vector<unsigned char> data) : bytes(std::move(data)) {
    listener = ListenOnLoopback(&port);
    server = std::thread([this] { Serve(); });
}

LoopbackSource::~LoopbackSource() {
    stop = true;
    server.join();
    ::close(listener);
}

void LoopbackSource::Serve() {
    while (!stop) {
        pollfd entry = {listener, POLLIN, 0};
        if (::poll(&entry, 1, 10) <= 0) continue;
        int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::size_t sent = 0;
        while (sent < bytes.size() && !stop) {
            ssize_t n = ::send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            ++connectionsServed;
            sentAll.notify_all();
        }
        // Holding the connection until the reader closes keeps a reader that
        // is slower than the sender from seeing an early end.
        char ignored[64];
        while (!stop) {
            pollfd peer = {client, POLLIN, 0};
            if (::poll(&peer, 1, 10) > 0 && ::recv(client, ignored, sizeof ignored, 0) <= 0) break;
        }
        ::close(client);
    }
}

bool LoopbackSource::WaitSent() {
    std::unique_lock<std::mutex> guard(lock);
    bool done =
        sentAll.wait_for(guard, std::chrono::seconds(60), [&] { return connectionsServed > 0; });
    if (done) --connectionsServed;
    return done;
}

}  // namespace bench
