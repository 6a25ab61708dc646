#include "jposbridge/DeviceRegistry.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "jposbridge/OpenSequence.h"
#include "platform/thread.h"

namespace bridge {

namespace {

struct Entry {
    jweak object;
    std::shared_ptr<DeviceState> state;
};

// Guards the list; held only to search and change it, never during a call
// into the layer.
plat::TurnLock& RegistryLock() {
    static auto* lock = new plat::TurnLock;
    return *lock;
}

std::vector<Entry>& Entries() {
    static auto* entries = new std::vector<Entry>;
    return *entries;
}

std::shared_ptr<DeviceState> NewState() {
    try {
        return std::make_shared<DeviceState>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

std::shared_ptr<DeviceState> FindDevice(JNIEnv* env, jobject object) {
    std::vector<std::shared_ptr<DeviceState>> collected;
    std::shared_ptr<DeviceState> found;
    {
        std::lock_guard<plat::TurnLock> guard(RegistryLock());
        std::vector<Entry>& entries = Entries();
        for (auto it = entries.begin(); it != entries.end();) {
            // A method running on an object keeps it alive, so no call is
            // under way on the state of one that was collected.
            if (env->IsSameObject(it->object, nullptr)) {
                env->DeleteWeakGlobalRef(it->object);
                collected.push_back(std::move(it->state));
                it = entries.erase(it);
                continue;
            }
            if (found == nullptr && env->IsSameObject(it->object, object)) found = it->state;
            ++it;
        }
        if (found == nullptr) {
            found = NewState();
            jweak reference = found != nullptr ? env->NewWeakGlobalRef(object) : nullptr;
            try {
                if (reference != nullptr) entries.push_back(Entry{reference, found});
            } catch (const std::bad_alloc&) {
                env->DeleteWeakGlobalRef(reference);
                reference = nullptr;
            }
            if (reference == nullptr) found = nullptr;
        }
    }
    for (std::shared_ptr<DeviceState>& state : collected) {
        std::lock_guard<plat::TurnLock> hold(state->callLock);
        CloseSequence(*state);
    }
    return found;
}

}  // namespace bridge
