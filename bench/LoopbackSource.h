// A TCP sender on 127.0.0.1: each connection made to it receives the same
// bytes once, then the sender waits for the peer to close.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

class LoopbackSource {
public:
    explicit LoopbackSource(std::vector<unsigned char> bytes);
    ~LoopbackSource();
    LoopbackSource(const LoopbackSource&) = delete;
    LoopbackSource& operator=(const LoopbackSource&) = delete;

    std::uint16_t Port() const { return port; }
    // Waits until the bytes have been handed to the connection made since
    // the last call (false after 60 s), so a reader timed afterwards does
    // not also time the sender.
    bool WaitSent();

private:
    void Serve();

    std::vector<unsigned char> bytes;
    int listener = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable sentAll;
    int connectionsServed = 0;
    std::thread server;
};

}  // namespace bench
