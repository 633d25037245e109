#include "tester/port/transfer_timeouts.h"

namespace {

// Totals beyond the 32-bit range (MAXDWORD x count) mean no practical limit.
uint32_t total(uint32_t multiplier, uint32_t count, uint32_t constant) {
    if (multiplier == 0 && constant == 0) return kWaitForever;
    uint64_t ms = static_cast<uint64_t>(multiplier) * count + constant;
    return ms >= kWaitForever ? kWaitForever : static_cast<uint32_t>(ms);
}

uint32_t remaining(uint32_t limit, uint32_t elapsed) {
    if (limit == kWaitForever) return kWaitForever;
    return elapsed >= limit ? 0 : limit - elapsed;
}

uint32_t smaller(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}

}  // namespace

uint32_t ReadWaitMs(const COMMTIMEOUTS& t, uint32_t count, uint32_t received, uint32_t sinceStart,
                    uint32_t sinceLastByte) {
    if (received >= count) return 0;
    const uint32_t interval = t.ReadIntervalTimeout;
    const uint32_t multiplier = t.ReadTotalTimeoutMultiplier;
    const uint32_t constant = t.ReadTotalTimeoutConstant;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) return 0;
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant > 0 && constant < MAXDWORD)
        return received > 0 ? 0 : remaining(constant, sinceStart);
    uint32_t wait = remaining(total(multiplier, count, constant), sinceStart);
    if (received > 0 && interval != 0 && interval != MAXDWORD)
        wait = smaller(wait, remaining(interval, sinceLastByte));
    return wait;
}

uint32_t WriteWaitMs(const COMMTIMEOUTS& t, uint32_t count, uint32_t sinceStart) {
    return remaining(total(t.WriteTotalTimeoutMultiplier, count, t.WriteTotalTimeoutConstant),
                     sinceStart);
}

bool TimeoutsValid(const COMMTIMEOUTS& t) {
    return !(t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
             t.ReadTotalTimeoutConstant == MAXDWORD);
}
