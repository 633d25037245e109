// Win32-style events on POSIX threads.
//
// All events share one process-wide lock, and every waiting thread brings its
// own condition variable, registered with each event it waits on. Setting an
// event wakes only the threads registered with it; whoever takes the lock
// first consumes an auto-reset event, the others find it clear and wait on.
// One lock makes a wait on several events atomic (no event is consumed
// unless the wait returns it, and a set is never missed between the test and
// the sleep) at the cost of serialising the few instructions each set or
// wait holds it for.
//
// A zero-time-out test of manual-reset events (every step of a worker's
// routines tests its run event and the quit event so) takes no lock at all:
// nothing is consumed, and each event's state is mirrored in an atomic that
// is written under the lock, so the test sees a state the event really had.
#include "platform/event.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

namespace plat {

namespace {

std::mutex& eventLock() {
    static std::mutex lock;
    return lock;
}

struct Waiter {
    std::condition_variable wake;
};

}  // namespace

struct Event::Impl {
    bool manual;
    bool signaled;
    std::vector<Waiter*> waiters;
    std::atomic<bool> mirror;  // == signaled, for the lock-free test
};

Event::Event(Kind kind, bool initiallySet)
    : impl_(new (std::nothrow) Impl{kind == ManualReset, initiallySet, {}, {initiallySet}}) {}

Event::~Event() {
    delete impl_;
}

bool Event::valid() const {
    return impl_ != nullptr;
}

bool Event::set() {
    if (!impl_) return false;
    std::lock_guard<std::mutex> hold(eventLock());
    impl_->signaled = true;
    impl_->mirror.store(true, std::memory_order_release);
    for (Waiter* w : impl_->waiters)
        w->wake.notify_one();
    return true;
}

bool Event::reset() {
    if (!impl_) return false;
    std::lock_guard<std::mutex> hold(eventLock());
    impl_->signaled = false;
    impl_->mirror.store(false, std::memory_order_release);
    return true;
}

int Event::wait(uint32_t timeoutMs) {
    Event* self = this;
    return waitAny(&self, 1, timeoutMs);
}

namespace {

// The index of the event that satisfies the wait, consuming it, or -1.
// Called with the lock held.
int takeReady(Event* const* events, size_t count, bool all) {
    if (!all) {
        for (size_t i = 0; i < count; ++i) {
            Event::Impl* e = events[i]->impl();
            if (e->signaled) {
                if (!e->manual) {
                    e->signaled = false;
                    e->mirror.store(false, std::memory_order_release);
                }
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    for (size_t i = 0; i < count; ++i)
        if (!events[i]->impl()->signaled) return -1;
    for (size_t i = 0; i < count; ++i) {
        Event::Impl* e = events[i]->impl();
        if (!e->manual) {
            e->signaled = false;
            e->mirror.store(false, std::memory_order_release);
        }
    }
    return 0;
}

int waitEvents(Event* const* events, size_t count, uint32_t timeoutMs, bool all) {
    if (count == 0 || count > kMaxWaitObjects) return kWaitFailed;
    for (size_t i = 0; i < count; ++i)
        if (!events[i] || !events[i]->valid()) return kWaitFailed;

    if (timeoutMs == 0 && !all) {
        bool manualOnly = true;
        for (size_t i = 0; i < count && manualOnly; ++i)
            manualOnly = events[i]->impl()->manual;
        if (manualOnly) {
            for (size_t i = 0; i < count; ++i)
                if (events[i]->impl()->mirror.load(std::memory_order_acquire))
                    return static_cast<int>(i);
            return kWaitTimeout;
        }
    }

    std::unique_lock<std::mutex> hold(eventLock());
    int ready = takeReady(events, count, all);
    if (ready >= 0) return ready;
    if (timeoutMs == 0) return kWaitTimeout;

    Waiter self;
    for (size_t i = 0; i < count; ++i)
        events[i]->impl()->waiters.push_back(&self);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (timeoutMs == kInfinite) {
            self.wake.wait(hold);
        } else if (self.wake.wait_until(hold, deadline) == std::cv_status::timeout) {
            ready = takeReady(events, count, all);
            break;
        }
        ready = takeReady(events, count, all);
        if (ready >= 0) break;
    }

    for (size_t i = 0; i < count; ++i) {
        auto& list = events[i]->impl()->waiters;
        auto it = std::find(list.begin(), list.end(), &self);
        if (it != list.end()) list.erase(it);
    }
    if (ready < 0) return kWaitTimeout;
    return ready;
}

}  // namespace

int waitAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    return waitEvents(events, count, timeoutMs, false);
}

int waitAll(Event* const* events, size_t count, uint32_t timeoutMs) {
    return waitEvents(events, count, timeoutMs, true);
}

}  // namespace plat
