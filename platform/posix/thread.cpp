#include "platform/thread.h"

#include <time.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>

namespace plat {

struct TurnLock::State {
    std::mutex turns;  // guards the two counters
    std::condition_variable turnChanged;
    unsigned long long nextTicket = 0;
    unsigned long long nowServing = 0;
};

TurnLock::TurnLock() : state(new State) {}

TurnLock::~TurnLock() {
    delete state;
}

void TurnLock::lock() {
    std::unique_lock<std::mutex> guard(state->turns);
    unsigned long long ticket = state->nextTicket++;
    state->turnChanged.wait(guard, [&] { return state->nowServing == ticket; });
}

void TurnLock::unlock() {
    std::lock_guard<std::mutex> guard(state->turns);
    ++state->nowServing;
    state->turnChanged.notify_all();
}

void Sleep(std::uint32_t milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

std::uint32_t TickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace plat
