// Before a check of two ports' lines: what is still on its way between
// them (a stopped test's last blocks, held up by receivers that no longer
// read) holds the check's commands behind it on a network port, with no end
// while the far receiver reads nothing. Both ends drop what waits to go
// and, until nothing has come for quietMs, what comes in; after drainMs
// the check goes on regardless. (Clearing only: an abort would fail a
// stopped receiver's last read.)
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/win32_types.h"

class PortWorker;

// `calls` has Purge(PortWorker&, DWORD flags), Queued(PortWorker&, DWORD&
// bytes waiting) and Pause(), each false when the check must stop. False
// when a call said so.
template <typename Calls>
bool DrainPair(Calls& calls, PortWorker& a, PortWorker& b, uint32_t quietMs, uint32_t drainMs) {
    const DWORD clear = PURGE_TXCLEAR | PURGE_RXCLEAR;
    if (!calls.Purge(a, clear) || !calls.Purge(b, clear)) return false;
    const uint32_t start = plat::tickCount();
    uint32_t quietSince = start;
    for (;;) {
        DWORD inA = 0, inB = 0;
        if (!calls.Queued(a, inA) || !calls.Queued(b, inB)) return false;
        if (inA != 0 || inB != 0) {
            if (!calls.Purge(a, PURGE_RXCLEAR) || !calls.Purge(b, PURGE_RXCLEAR)) return false;
            quietSince = plat::tickCount();
        }
        const uint32_t now = plat::tickCount();
        if (plat::ticksBetween(quietSince, now) >= quietMs ||
            plat::ticksBetween(start, now) >= drainMs)
            return true;
        if (!calls.Pause()) return false;
    }
}
