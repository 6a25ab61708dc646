// The thread calls of the bridge, which several threads of a Java VM call
// at once: a lock granted in the order it was asked for, and a pause. The
// Windows build's run time has no std::mutex and Windows XP no condition
// variables, so each backend provides them with what it has.
#pragma once

#include <cstdint>

namespace plat {

// A thread that unlocks and locks again at once (a read waiting in short
// steps) queues behind the threads already waiting, so it never keeps them
// out. Not recursive. Meets the standard's BasicLockable, for
// std::lock_guard and std::unique_lock.
class TurnLock {
public:
    TurnLock();
    ~TurnLock();
    TurnLock(const TurnLock&) = delete;
    TurnLock& operator=(const TurnLock&) = delete;

    void lock();
    // As lock(), giving up after milliseconds; false then, and the place
    // in the queue is passed over.
    bool TryLockFor(std::uint32_t milliseconds);
    void unlock();

private:
    struct State;
    State* state;
};

void Sleep(std::uint32_t milliseconds);

// Milliseconds from an arbitrary start, wrapping after 2^32: the time
// between two readings is their difference in unsigned 32-bit arithmetic.
std::uint32_t TickCountMs();

}  // namespace plat
