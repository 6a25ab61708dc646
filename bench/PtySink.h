// A pseudo-terminal whose master side drains and counts everything written
// to its terminal side, which is set raw so bytes pass unchanged.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace bench {

class PtySink {
public:
    PtySink();
    ~PtySink();
    PtySink(const PtySink&) = delete;
    PtySink& operator=(const PtySink&) = delete;

    // The terminal's path, to open as a serial port.
    const std::string& Path() const { return path; }
    // Waits until `count` bytes arrived since the last call (false after 60 s).
    bool WaitFor(std::uint64_t count);

private:
    void Serve();

    int master = -1;
    // Held open so the master never reads a hang-up between users.
    int slave = -1;
    std::string path;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::condition_variable arrived;
    std::uint64_t received = 0;
    std::thread server;
};

}  // namespace bench
