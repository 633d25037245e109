// Time limits of reads and writes, in tick counts compared by unsigned
// difference. The tick source can be replaced, so that the rules are tested
// without sleeping.
#pragma once

#include "platform/clock.h"
#include "platform/win32_types.h"

#include <cstdint>

namespace qelnet {

using TickSource = uint32_t (*)();

class Deadline {
  public:
    // No time limit.
    Deadline() = default;

    // `limitMs` from now, the deadline taken once. A limit of more than half
    // the tick range (about 24.8 days; MAXDWORD among them) is no limit: the
    // tick arithmetic could not tell a deadline that far ahead from one that
    // has passed.
    static Deadline after(uint32_t limitMs, TickSource ticks = plat::tickCount);

    bool limited() const { return limited_; }

    // Milliseconds left, 0 once passed; MAXDWORD without a limit.
    uint32_t left() const;

  private:
    bool limited_ = false;
    uint32_t at_ = 0;
    TickSource ticks_ = plat::tickCount;
};

struct ReadPlan {
    Deadline deadline;
    // Return as soon as at least one byte has been read.
    bool anyByte = false;
};

// The read time-out rules of the serial API for a read of `toRead` bytes:
//   0, 0, 0                      no limit: all requested bytes
//   MAXDWORD, 0, 0               limit 0: what is buffered, possibly nothing
//   MAXDWORD, MAXDWORD, 0 < c < MAXDWORD
//                                limit c, ending as soon as any byte is read
//   anything else                limit = multiplier * toRead + constant (32
//                                bits); the interval plays no part
// A computed limit of MAXDWORD is no limit.
ReadPlan PlanRead(const COMMTIMEOUTS& t, uint32_t toRead, TickSource ticks = plat::tickCount);

// No limit when both write fields are 0; otherwise multiplier * toWrite +
// constant milliseconds.
Deadline PlanWrite(const COMMTIMEOUTS& t, uint32_t toWrite, TickSource ticks = plat::tickCount);

}  // namespace qelnet
