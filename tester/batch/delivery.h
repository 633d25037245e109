// Every block accounted for: what each receiver got against what its
// source sent (the wiring known), and the times a port went without data
// while the test ran.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32_types.h"
#include "tester/batch/wiring.h"
#include "tester/report/port_result.h"

// Fills the delivery of every ready row whose wiring gives it exactly one
// source that opened (itself, for a loop-back plug): the blocks it got
// whole plus those it counted lost against the blocks the source sent, its
// bytes against the source's, and what is left of a last block that never
// came whole. Read once the lines are quiet and the directions stopped.
void AccountDelivery(std::vector<BatchRow>& rows, const Wiring& wiring);

// The longest a port may go without receiving while the test runs, unless
// the operator says otherwise (--stall): four block times at the settings'
// rate, and never less than 2 s.
uint32_t DefaultStallLimitMs(const DCB& settings, uint32_t blockSize);

// Watches the ports while the test runs: a port whose receiving direction
// runs (a duplex reader, a slave, a master awaiting its echoes) and whose
// byte count has not moved for longer than the limit is stalled, from the
// last time it moved until it moves again or the test ends.
class StallMonitor {
  public:
    explicit StallMonitor(uint32_t limitMs) : limitMs_(limitMs) {}

    // `ports` by row, read at `nowMs` since the test started.
    void Poll(const std::vector<PortSnapshot>& ports, uint64_t nowMs);
    // The end of the test: a stall still going on ends here.
    void Finish(uint64_t nowMs);

    // By row.
    const std::vector<std::vector<Stall>>& Stalls() const { return stalls_; }
    uint32_t LimitMs() const { return limitMs_; }

  private:
    struct Watch {
        uint64_t bytes = 0;
        uint64_t movedAtMs = 0;
        bool receiving = false;
        bool stalled = false;
    };
    const uint32_t limitMs_;
    std::vector<Watch> watches_;
    std::vector<std::vector<Stall>> stalls_;
};
