#include "platform/thread.h"

#include <windows.h>

#include <new>
#include <set>

namespace plat {

// Tickets handed out under a critical section. Windows XP has no condition
// variable to wait on, so a waiter yields and then sleeps a millisecond at
// a time: the bridge's calls hold the lock for one short layer call at a
// time.
struct TurnLock::State {
    CRITICAL_SECTION guard;  // guards the counters and abandoned
    unsigned long long nextTicket = 0;
    unsigned long long nowServing = 0;
    // Tickets of TryLockFor calls that gave up: skipped when their turn comes.
    std::set<unsigned long long> abandoned;
    State() { ::InitializeCriticalSection(&guard); }
    ~State() { ::DeleteCriticalSection(&guard); }
};

namespace {

class Guarded {
public:
    explicit Guarded(CRITICAL_SECTION* section) : section(section) {
        ::EnterCriticalSection(section);
    }
    ~Guarded() { ::LeaveCriticalSection(section); }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

private:
    CRITICAL_SECTION* section;
};

void Pause(int round) {
    if (round < 16) {
        ::SwitchToThread();
    } else {
        ::Sleep(1);
    }
}

}  // namespace

TurnLock::TurnLock() : state(new State) {}

TurnLock::~TurnLock() {
    delete state;
}

void TurnLock::lock() {
    unsigned long long ticket = 0;
    {
        Guarded guarded(&state->guard);
        ticket = state->nextTicket++;
    }
    for (int round = 0;; ++round) {
        {
            Guarded guarded(&state->guard);
            if (state->nowServing == ticket) return;
        }
        Pause(round);
    }
}

bool TurnLock::TryLockFor(std::uint32_t milliseconds) {
    const DWORD start = ::GetTickCount();
    unsigned long long ticket = 0;
    {
        Guarded guarded(&state->guard);
        ticket = state->nextTicket++;
    }
    for (int round = 0;; ++round) {
        {
            Guarded guarded(&state->guard);
            if (state->nowServing == ticket) return true;
            if (::GetTickCount() - start >= milliseconds) {
                try {
                    state->abandoned.insert(ticket);
                    return false;
                } catch (const std::bad_alloc&) {
                    // Without room to note the ticket, the turn must
                    // still be taken: wait on below.
                    milliseconds = 0xFFFFFFFFu;
                }
            }
        }
        Pause(round);
    }
}

void TurnLock::unlock() {
    Guarded guarded(&state->guard);
    ++state->nowServing;
    while (state->abandoned.erase(state->nowServing) != 0) ++state->nowServing;
}

void Sleep(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

std::uint32_t TickCountMs() {
    return ::GetTickCount();
}

}  // namespace plat
