#include "tester/demo/pacer.h"

#include <algorithm>

namespace demo {

int64_t Pacer::quantumChars(int64_t charNs) const {
    return std::max<int64_t>(1, quantumNs_ / charNs);
}

// Where the next chunk's line time begins. A busy line continues where the
// last chunk ended even when that is in the past (the wake-up was late),
// unless it lags by more than the debt allowed.
int64_t Pacer::start(int64_t now) const {
    if (idle_) return std::max(now, free_);
    return std::max(free_, now - kMaxDebtQuanta * quantumNs_);
}

size_t Pacer::allowance(int64_t now, int64_t charNs) const {
    if (charNs <= 0) return 1;
    const int64_t from = start(now);
    const int64_t owed = now > from ? (now - from) / charNs : 0;
    return static_cast<size_t>(owed + quantumChars(charNs));
}

void Pacer::sent(int64_t now, size_t chars, int64_t charNs, bool drained) {
    if (charNs <= 0) return;
    free_ = start(now) + static_cast<int64_t>(chars) * charNs;
    idle_ = drained;
}

}  // namespace demo
