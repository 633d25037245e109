// When a device server hands what its line brought to the client: in
// pieces, as ser2net's character delay and hardware device servers do, not
// byte by byte as it comes. A piece goes once the line has been quiet for
// the character delay (20 character times, 1 to 20 ms), once its first
// byte has waited the longest delay (20 ms, or the time the line takes to
// bring kPiece bytes if that is shorter), or once it holds kPiece bytes.
// A busy line at 115200 bit/s so goes out in pieces of about 230 bytes,
// 50 a second, where the paced cable's every quantum (10 ms) made a
// segment of its own: half the segments, and half the wake-ups of whoever
// receives them.
//
// While a piece is held the server need not look at its line: what comes
// meanwhile waits in the line's buffer, as in a UART's FIFO, and is taken
// when the piece is due (and extends it if the line is still busy).
//
// Quiet is judged by the line's own pace: bytes that come at once (the
// paced cable hands a quantum's worth over together, at its start) would
// arrive one character time apart on a real line, which counts as busy
// until the last of them would have come.
//
// No clock of its own: the caller passes the time (nanoseconds on any
// monotonic clock), so the rules are tested without sleeping.
#pragma once

#include <cstddef>
#include <cstdint>

namespace demo {

class CharDelay {
  public:
    static constexpr int64_t kCharTimes = 20;
    static constexpr int64_t kShortestNs = 1000000;
    static constexpr int64_t kLongestNs = 20000000;
    static constexpr size_t kPiece = 1024;

    // `count` bytes came off the line at `now`, each character taking
    // `charNs` on the wire.
    void Received(int64_t now, size_t count, int64_t charNs);

    // Whether the `held` bytes waiting for the client go now.
    bool Due(int64_t now, size_t held) const;

    // How long until the held bytes are due; -1 with nothing held.
    int64_t WaitNs(int64_t now, size_t held) const;

    // A piece went; `left` bytes stayed behind (the client held them
    // off), which go as soon as they may. 0 also after a purge.
    void Sent(size_t left);

  private:
    int64_t DueAt() const;

    int64_t first_ = -1;     // when the oldest held byte came; -1: none held
    int64_t busyUntil_ = 0;  // when the last byte would have come on a real line
    int64_t gapNs_ = kShortestNs;
    int64_t longestNs_ = kLongestNs;
};

}  // namespace demo
