#include "tester/engine/read_pause.h"

ReadPause ReadPause::ForLine(const DCB& dcb) {
    // In half bits, for one and a half stop bits.
    const uint32_t dataBits = dcb.ByteSize >= 5 && dcb.ByteSize <= 8 ? dcb.ByteSize : 8;
    const uint32_t parityBits = dcb.Parity != NOPARITY ? 1 : 0;
    const uint32_t stopHalves = dcb.StopBits == ONE5STOPBITS  ? 3
                                : dcb.StopBits == TWOSTOPBITS ? 4
                                                              : 2;
    const uint32_t halves = 2 * (1 + dataBits + parityBits) + stopHalves;
    return ReadPause(static_cast<uint32_t>(uint64_t{dcb.BaudRate} * 2 / halves));
}

ReadPause::ReadPause(uint32_t lineBytesPerSecond) {
    if (lineBytesPerSecond == 0) return;
    const uint64_t fillHalfMs = uint64_t{kDriverBufferBytes} / 2 * 1000 / lineBytesPerSecond;
    limitMs_ = fillHalfMs < kMaxReadPauseMs ? static_cast<uint32_t>(fillHalfMs) : kMaxReadPauseMs;
}

uint32_t ReadPause::After(uint32_t asked, uint32_t got, uint32_t missing, uint64_t nowUs) {
    if (asked == 0) return 0;
    if (got >= asked) {
        // The driver may hold more: read again at once, and the next short
        // read's bytes are not all new.
        drained_ = false;
        return 0;
    }
    if (drained_ && got > 0 && nowUs > drainedUs_) {
        const uint64_t seen = uint64_t{got} * 1000000u / (nowUs - drainedUs_);
        // A slower reading moves the rate a quarter of the way only: one
        // late wake-up of this thread on a busy machine must not make a
        // fast line look slow and the reader fall behind it.
        rate_ = seen >= rate_ ? seen : rate_ - (rate_ - seen) / 4;
    }
    drained_ = true;
    drainedUs_ = nowUs;
    if (got == 0 || rate_ == 0 || missing == 0) return 0;
    uint64_t ms = uint64_t{missing} * 1000u / rate_;
    if (ms > limitMs_) ms = limitMs_;
    return ms >= kMinReadPauseMs ? static_cast<uint32_t>(ms) : 0;
}
