// What the soak tests measure of the process (descriptors, resident memory)
// and the peers only they need.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace soak {

// Open descriptors and resident memory of this process.
struct Figures {
    int descriptors;
    long residentKiB;
};
Figures Measure();

// Prints "[ figures  ] <what>: descriptors a -> b, resident c KiB -> d KiB"
// and records both pairs as test properties.
void Report(const char* what, const Figures& start, const Figures& end);

// Resident memory is not compared under AddressSanitizer, whose quarantine
// grows by design; its leak checker watches memory there instead.
bool ResidentMemoryIsComparable();
// How much resident memory may grow between the two measures: allocator
// pages and the C library's caches settle, a leak of even a few bytes per
// cycle over thousands of cycles does not fit.
constexpr long kResidentToleranceKiB = 256;

// A TCP listener on 127.0.0.1 that accepts as fast as connections come and
// closes each one at once, with the largest backlog: thousands of short
// connections never find the queue full (a full queue drops the handshake,
// and the client then waits a second or more to try again).
class Acceptor {
public:
    Acceptor();
    ~Acceptor();
    Acceptor(const Acceptor&) = delete;
    Acceptor& operator=(const Acceptor&) = delete;
    std::uint16_t Port() const { return port; }
    // Waits (at most 5 s) until `count` connections have been accepted and
    // closed, so that none of the acceptor's descriptors is counted.
    bool WaitForClosed(int count);

private:
    int listener = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> closed{0};
    std::thread server;
};

// A TCP printer on 127.0.0.1 that records each connection's bytes apart and
// resets a connection (RST, no orderly close) once it has read the number
// of bytes planned for it; what its TCP acknowledged then counts as
// received. Its receive buffer is kept small so that what the
// sender has handed to the network is close to what the printer has read.
class ResettingPrinter {
public:
    ResettingPrinter();
    ~ResettingPrinter();
    ResettingPrinter(const ResettingPrinter&) = delete;
    ResettingPrinter& operator=(const ResettingPrinter&) = delete;

    std::uint16_t Port() const { return port; }
    // The reset point of the next connection accepted (SIZE_MAX: never).
    void PlanReset(std::size_t afterBytes);
    // Waits (at most `seconds`) until every connection accepted so far has
    // ended, then hands over their bytes, oldest first, and forgets them.
    std::vector<std::string> TakeConnections(int seconds);

private:
    void Serve();
    static void TakeAcknowledged(int client, std::string* received);

    int listener = -1;
    std::uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable changed;
    std::size_t nextReset = SIZE_MAX;
    std::vector<std::string> finished;
    bool serving = false;
    std::thread server;
};

}  // namespace soak
