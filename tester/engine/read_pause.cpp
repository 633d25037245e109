#include "tester/engine/read_pause.h"

#include "tester/port/line_rate.h"

ReadPause ReadPause::ForLine(const DCB& dcb) {
    DCB line = dcb;
    // A size the driver would refuse still gives the pause a bound.
    if (line.ByteSize < 5 || line.ByteSize > 8) line.ByteSize = 8;
    return ReadPause(static_cast<uint32_t>(LineBytesPerSecond(line)));
}

ReadPause::ReadPause(uint32_t lineBytesPerSecond) {
    if (lineBytesPerSecond == 0) return;
    const uint64_t fillHalfMs = uint64_t{kDriverBufferBytes} / 2 * 1000 / lineBytesPerSecond;
    limitMs_ = fillHalfMs < kMaxReadPauseMs ? static_cast<uint32_t>(fillHalfMs) : kMaxReadPauseMs;
}

uint32_t ReadPause::After(uint32_t asked, uint32_t got, uint64_t nowUs) {
    if (asked == 0) return 0;
    if (drained_) sinceDrained_ += got;
    // A full read: the driver may hold more, read again at once.
    if (got >= asked) return 0;
    if (drained_ && got > 0 && nowUs > drainedUs_) {
        // Everything read since the driver was last left empty came in
        // since then, full reads included.
        const uint64_t seen = sinceDrained_ * 1000000u / (nowUs - drainedUs_);
        // A slower reading moves the rate a quarter of the way only: one
        // late wake-up of this thread on a busy machine must not make a
        // fast line look slow and the reader fall behind it.
        rate_ = seen >= rate_ ? seen : rate_ - (rate_ - seen) / 4;
    }
    drained_ = true;
    drainedUs_ = nowUs;
    sinceDrained_ = 0;
    if (got == 0 || rate_ == 0) return 0;
    uint64_t ms = uint64_t{kDriverBufferBytes} / 2 * 1000u / rate_;
    if (ms > limitMs_) ms = limitMs_;
    return ms >= kMinReadPauseMs ? static_cast<uint32_t>(ms) : 0;
}
