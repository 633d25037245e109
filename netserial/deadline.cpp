#include "netserial/deadline.h"

namespace qelnet {

Deadline Deadline::after(uint32_t limitMs, TickSource ticks) {
    Deadline d;
    d.ticks_ = ticks;
    if (limitMs > 0x7FFFFFFFu) return d;
    d.limited_ = true;
    d.at_ = ticks() + limitMs;
    return d;
}

uint32_t Deadline::left() const {
    if (!limited_) return MAXDWORD;
    return plat::ticksLeft(ticks_(), at_);
}

ReadPlan PlanRead(const COMMTIMEOUTS& t, uint32_t toRead, TickSource ticks) {
    ReadPlan plan;
    const uint32_t interval = t.ReadIntervalTimeout;
    const uint32_t multiplier = t.ReadTotalTimeoutMultiplier;
    const uint32_t constant = t.ReadTotalTimeoutConstant;
    if (interval == 0 && multiplier == 0 && constant == 0) return plan;
    if (interval == MAXDWORD && multiplier == 0 && constant == 0) {
        plan.deadline = Deadline::after(0, ticks);
        return plan;
    }
    if (interval == MAXDWORD && multiplier == MAXDWORD && constant > 0 && constant < MAXDWORD) {
        plan.deadline = Deadline::after(constant, ticks);
        plan.anyByte = true;
        return plan;
    }
    const uint32_t limit = multiplier * toRead + constant;
    if (limit != MAXDWORD) plan.deadline = Deadline::after(limit, ticks);
    return plan;
}

Deadline PlanWrite(const COMMTIMEOUTS& t, uint32_t toWrite, TickSource ticks) {
    if (t.WriteTotalTimeoutMultiplier == 0 && t.WriteTotalTimeoutConstant == 0) return Deadline();
    return Deadline::after(t.WriteTotalTimeoutMultiplier * toWrite + t.WriteTotalTimeoutConstant,
                           ticks);
}

}  // namespace qelnet
