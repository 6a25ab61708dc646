// A TCP receiver on 127.0.0.1 that drains and counts everything sent to it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace bench {

class LoopbackSink {
public:
    LoopbackSink();
    ~LoopbackSink();
    LoopbackSink(const LoopbackSink&) = delete;
    LoopbackSink& operator=(const LoopbackSink&) = delete;

    std::uint16_t Port() const { return port; }
    // Waits until `count` bytes arrived since the last call (false after 60 s).
    bool WaitFor(std::uint64_t count);

private:
    void Serve();

    int listener = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable arrived;
    std::uint64_t received = 0;
    std::thread server;
};

}  // namespace bench
