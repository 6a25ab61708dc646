// A lock granted in the order it was asked for. A thread that gives the
// lock up and asks again at once (a read waiting in short steps) queues
// behind the threads already waiting, so it never keeps them out.
#pragma once

#include <condition_variable>
#include <mutex>

namespace bridge {

class FairMutex {
public:
    FairMutex() = default;
    FairMutex(const FairMutex&) = delete;
    FairMutex& operator=(const FairMutex&) = delete;

    void lock() {
        std::unique_lock<std::mutex> guard(turns);
        unsigned long long ticket = nextTicket++;
        turnChanged.wait(guard, [&] { return nowServing == ticket; });
    }
    void unlock() {
        std::lock_guard<std::mutex> guard(turns);
        ++nowServing;
        turnChanged.notify_all();
    }

private:
    std::mutex turns;  // guards the two counters
    std::condition_variable turnChanged;
    unsigned long long nextTicket = 0;
    unsigned long long nowServing = 0;
};

}  // namespace bridge
