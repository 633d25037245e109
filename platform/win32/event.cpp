#include "platform/event.h"

#include "platform/win32_types.h"

namespace plat {

struct Event::Impl {
    HANDLE handle;
};

Event::Event(Kind kind, bool initiallySet) : impl_(nullptr) {
    HANDLE h = CreateEventA(nullptr, kind == ManualReset, initiallySet, nullptr);
    if (h) impl_ = new Impl{h};
}

Event::~Event() {
    if (impl_) CloseHandle(impl_->handle);
    delete impl_;
}

bool Event::valid() const {
    return impl_ != nullptr;
}
bool Event::set() {
    return impl_ && SetEvent(impl_->handle);
}
bool Event::reset() {
    return impl_ && ResetEvent(impl_->handle);
}

int Event::wait(uint32_t timeoutMs) {
    Event* self = this;
    return waitAny(&self, 1, timeoutMs);
}

namespace {

int waitEvents(Event* const* events, size_t count, uint32_t timeoutMs, bool all) {
    if (count == 0 || count > kMaxWaitObjects) return kWaitFailed;
    HANDLE handles[kMaxWaitObjects];
    for (size_t i = 0; i < count; ++i) {
        if (!events[i] || !events[i]->valid()) return kWaitFailed;
        handles[i] = events[i]->impl()->handle;
    }
    DWORD r = WaitForMultipleObjects(static_cast<DWORD>(count), handles, all, timeoutMs);
    if (r == WAIT_TIMEOUT) return kWaitTimeout;
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count)
        return all ? 0 : static_cast<int>(r - WAIT_OBJECT_0);
    return kWaitFailed;
}

}  // namespace

int waitAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    return waitEvents(events, count, timeoutMs, false);
}

int waitAll(Event* const* events, size_t count, uint32_t timeoutMs) {
    return waitEvents(events, count, timeoutMs, true);
}

}  // namespace plat
