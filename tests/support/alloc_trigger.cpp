#include "tests/support/alloc_trigger.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace rig {

namespace {

std::atomic<long long> liveBlocks{0};

struct ThreadTrigger {
    bool armed = false;
    bool fired = false;
    uint32_t nth = 0;
    uint32_t count = 0;
};
thread_local ThreadTrigger trigger;

// The allocation behind every form of operator new; null when it is to fail
// (or the system has no memory).
void* allocate(std::size_t size) noexcept {
    if (trigger.armed && !trigger.fired && ++trigger.count == trigger.nth) {
        trigger.fired = true;
        return nullptr;
    }
    void* p = std::malloc(size ? size : 1);
    if (p) liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void release(void* p) noexcept {
    if (!p) return;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

}  // namespace

void AllocTrigger::arm(uint32_t nth) {
    trigger = ThreadTrigger{true, false, nth, 0};
}

bool AllocTrigger::disarm() {
    trigger.armed = false;
    return trigger.fired;
}

uint32_t AllocTrigger::counted() {
    return trigger.count;
}

long long AllocTrigger::live() {
    return liveBlocks.load(std::memory_order_relaxed);
}

}  // namespace rig

void* operator new(std::size_t size) {
    if (void* p = rig::allocate(size)) return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    if (void* p = rig::allocate(size)) return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return rig::allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return rig::allocate(size);
}

void operator delete(void* p) noexcept {
    rig::release(p);
}

void operator delete[](void* p) noexcept {
    rig::release(p);
}

void operator delete(void* p, std::size_t) noexcept {
    rig::release(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    rig::release(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
    rig::release(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept {
    rig::release(p);
}
