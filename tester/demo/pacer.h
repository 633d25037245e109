// Decides when a paced line may carry its next chunk and how big it may be.
//
// No clock of its own: the caller passes the time (nanoseconds on any
// monotonic clock), so the arithmetic is tested without sleeping.
//
// The line moves chunks, not single characters: a chunk is what the line
// carries in one quantum (10 ms by default, at least one character), so a
// cable wakes about a hundred times a second per busy direction whatever
// the rate. A chunk is handed over when it starts, and the line then stays
// busy for as long as its characters take; a receiver therefore sees each
// chunk up to one quantum early, never a rate above the line's.
//
// While the sender keeps the line busy, a late wake-up is made good by a
// larger next chunk, so scheduling delays do not slow the rate; the debt is
// bounded so that a long stall does not end in a burst. Once the sender has
// run dry the line is idle and owes nothing: the next character leaves when
// it comes (or when the last one has finished, whichever is later).
#pragma once

#include <cstddef>
#include <cstdint>

namespace demo {

class Pacer {
  public:
    static constexpr int64_t kDefaultQuantumNs = 10000000;  // 10 ms
    // A late wake-up is made good for at most this many quanta.
    static constexpr int64_t kMaxDebtQuanta = 4;

    explicit Pacer(int64_t quantumNs = kDefaultQuantumNs) : quantumNs_(quantumNs) {}

    // When the line is free again. A line that is free and idle carries the
    // next character as soon as it arrives.
    int64_t freeAt() const { return free_; }
    bool ready(int64_t now) const { return now >= free_; }

    // Characters that may leave now, at least 1. Call when ready(now).
    size_t allowance(int64_t now, int64_t charNs) const;

    // Records that `chars` characters left at `now`. `drained` says the
    // sender had nothing more waiting (a read came back short), which makes
    // the line idle once these characters have gone.
    void sent(int64_t now, size_t chars, int64_t charNs, bool drained);

    // Forgets the past: the line is free and idle now.
    void reset() {
        free_ = 0;
        idle_ = true;
    }

  private:
    int64_t start(int64_t now) const;
    int64_t quantumChars(int64_t charNs) const;

    int64_t quantumNs_;
    int64_t free_ = 0;
    bool idle_ = true;
};

}  // namespace demo
