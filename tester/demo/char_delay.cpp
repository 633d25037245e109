#include "tester/demo/char_delay.h"

#include <algorithm>

namespace demo {

void CharDelay::Received(int64_t now, size_t count, int64_t charNs) {
    if (count == 0) return;
    if (first_ < 0) first_ = now;
    busyUntil_ = std::max(busyUntil_, now) + static_cast<int64_t>(count) * charNs;
    gapNs_ = std::clamp(kCharTimes * charNs, kShortestNs, kLongestNs);
    longestNs_ = std::min(kLongestNs, static_cast<int64_t>(kPiece) * charNs);
}

int64_t CharDelay::DueAt() const {
    return std::min(first_ + longestNs_, busyUntil_ + gapNs_);
}

bool CharDelay::Due(int64_t now, size_t held) const {
    if (held == 0) return false;
    // Bytes held without a time (they came before a purge was noted) go.
    return first_ < 0 || held >= kPiece || now >= DueAt();
}

int64_t CharDelay::WaitNs(int64_t now, size_t held) const {
    if (held == 0) return -1;
    return Due(now, held) ? 0 : DueAt() - now;
}

void CharDelay::Sent(size_t left) {
    // What stayed behind has waited its time already.
    if (left == 0) first_ = -1;
}

}  // namespace demo
