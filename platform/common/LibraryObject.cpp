#include "platform/common/LibraryObject.h"

#include "platform/library_state.h"

namespace plat::common {

namespace {

// Only ever holds objects with static storage duration, which outlive the
// list.
std::atomic<LibraryObjectBase*> head{nullptr};

}  // namespace

void LibraryObjectBase::Enlist() {
    if (enlisted.exchange(true)) return;
    next = head.load();
    while (!head.compare_exchange_weak(next, this)) {
    }
}

void ReleaseLibraryObjects() {
    for (LibraryObjectBase* object = head.load(); object != nullptr; object = object->next) {
        object->Release();
    }
}

}  // namespace plat::common

namespace plat {

void ReleaseLibraryState() {
    common::ReleaseLibraryObjects();
}

}  // namespace plat
