#include "platform/thread.h"

#include <windows.h>

namespace plat {

// Tickets in interlocked counters. Windows XP has no condition variable to
// wait on, so a waiter yields and then sleeps a millisecond at a time: the
// bridge's calls hold the lock for one short layer call at a time.
struct TurnLock::State {
    volatile LONG nextTicket = 0;
    volatile LONG nowServing = 0;
};

TurnLock::TurnLock() : state(new State) {}

TurnLock::~TurnLock() {
    delete state;
}

void TurnLock::lock() {
    LONG ticket = ::InterlockedIncrement(&state->nextTicket) - 1;
    for (int round = 0; ::InterlockedCompareExchange(&state->nowServing, 0, 0) != ticket; ++round) {
        if (round < 16) {
            ::SwitchToThread();
        } else {
            ::Sleep(1);
        }
    }
}

void TurnLock::unlock() {
    ::InterlockedIncrement(&state->nowServing);
}

void Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

std::uint32_t TickCountMs() {
    return ::GetTickCount();
}

}  // namespace plat
