// Millisecond tick count, sleeping and yielding.
//
// The tick count is a 32-bit number that wraps after about 49.7 days, like
// GetTickCount. Times are compared only through their unsigned difference,
// which stays right across the wrap.
#pragma once

#include <cstdint>

namespace plat {

uint32_t tickCount();

// Milliseconds from `since` to `now`, across the wrap.
inline uint32_t ticksBetween(uint32_t since, uint32_t now) {
    return now - since;
}

// Milliseconds left until `deadline`, 0 once it has passed. A deadline is
// taken as passed when it lies at most half the tick range behind `now`.
inline uint32_t ticksLeft(uint32_t now, uint32_t deadline) {
    uint32_t left = deadline - now;
    return left > 0x7FFFFFFFu ? 0 : left;
}

void sleepMs(uint32_t ms);

// Gives the rest of the time slice to another ready thread (Sleep(0)).
void yieldThread();

}  // namespace plat
