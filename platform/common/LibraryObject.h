// An object the platform layer keeps for as long as the library is loaded
// (a table of open handles, the parsed registry file): made at its first
// use, freed by ReleaseLibraryObjects when the library is unloaded, so that
// a process loading and unloading the library again and again does not
// grow. It is no static object with a destructor: the unload handler may
// run after the C++ run time has destroyed those at process exit.
#pragma once

#include <atomic>

namespace plat::common {

class LibraryObjectBase {
public:
    constexpr LibraryObjectBase() = default;

protected:
    // Links the object into the list ReleaseLibraryObjects walks, once.
    void Enlist();

private:
    friend void ReleaseLibraryObjects();
    virtual void Release() = 0;

    std::atomic<bool> enlisted{false};
    LibraryObjectBase* next = nullptr;
};

template <typename T>
class LibraryObject final : public LibraryObjectBase {
public:
    constexpr LibraryObject() = default;

    // Two threads meeting at the first use both make one; one is kept.
    T& Get() {
        T* object = pointer.load(std::memory_order_acquire);
        if (object != nullptr) return *object;
        Enlist();
        T* made = new T();
        if (pointer.compare_exchange_strong(object, made, std::memory_order_acq_rel)) return *made;
        delete made;
        return *object;
    }

private:
    void Release() override { delete pointer.exchange(nullptr, std::memory_order_acq_rel); }

    std::atomic<T*> pointer{nullptr};
};

// Frees every library object made so far; a later use makes it afresh.
// Called once the library's ports are gone, when no other call runs.
void ReleaseLibraryObjects();

}  // namespace plat::common
