#include "platform/thread.h"

#include <time.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>

namespace plat {

struct TurnLock::State {
    std::mutex turns;  // guards the counters and abandoned
    std::condition_variable turnChanged;
    unsigned long long nextTicket = 0;
    unsigned long long nowServing = 0;
    // Tickets of TryLockFor calls that gave up: skipped when their turn comes.
    std::set<unsigned long long> abandoned;
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

bool TurnLock::TryLockFor(std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> guard(state->turns);
    unsigned long long ticket = state->nextTicket++;
    auto myTurn = [&] { return state->nowServing == ticket; };
    if (state->turnChanged.wait_for(guard, std::chrono::milliseconds(milliseconds), myTurn)) {
        return true;
    }
    try {
        state->abandoned.insert(ticket);
    } catch (const std::bad_alloc&) {
        // Without room to note the ticket, the turn must still be taken.
        state->turnChanged.wait(guard, myTurn);
        return true;
    }
    return false;
}

void TurnLock::unlock() {
    std::lock_guard<std::mutex> guard(state->turns);
    ++state->nowServing;
    while (state->abandoned.erase(state->nowServing) != 0) ++state->nowServing;
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
