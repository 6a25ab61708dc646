// A TCP sender on 127.0.0.1: each connection made to it receives the same
// bytes once, then the sender waits for the peer to close.
#pragma once

#include <atomic>
#include <cstdint>
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

private:
    void Serve();

    std::vector<unsigned char> bytes;
    int listener = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::thread server;
};

}  // namespace bench
