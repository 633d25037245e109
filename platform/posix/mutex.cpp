#include "platform/mutex.h"

#include <mutex>

namespace plat {

struct RecursiveMutex::Impl {
    std::recursive_mutex m;
};

RecursiveMutex::RecursiveMutex() : impl_(new Impl) {}
RecursiveMutex::~RecursiveMutex() {
    delete impl_;
}
void RecursiveMutex::lock() {
    impl_->m.lock();
}
bool RecursiveMutex::try_lock() {
    return impl_->m.try_lock();
}
void RecursiveMutex::unlock() {
    impl_->m.unlock();
}

}  // namespace plat
