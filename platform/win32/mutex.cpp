#include "platform/mutex.h"

#include "platform/win32_types.h"

namespace plat {

struct RecursiveMutex::Impl {
    CRITICAL_SECTION section;
};

RecursiveMutex::RecursiveMutex() : impl_(new Impl) {
    InitializeCriticalSection(&impl_->section);
}

RecursiveMutex::~RecursiveMutex() {
    DeleteCriticalSection(&impl_->section);
    delete impl_;
}

void RecursiveMutex::lock() {
    EnterCriticalSection(&impl_->section);
}
bool RecursiveMutex::try_lock() {
    return TryEnterCriticalSection(&impl_->section) != 0;
}
void RecursiveMutex::unlock() {
    LeaveCriticalSection(&impl_->section);
}

}  // namespace plat
