// How long a full-duplex reader waits before its next read on a line that
// delivers its bytes a few at a time.
//
// A line at its real speed (a UART at 115200 bit/s, a device server's
// port, a paced cable) hands the driver a few bytes every millisecond or
// so, and every read returns as soon as any are there: a reader woke ten
// or more times for each 1024-byte block, and with a few hundred ports
// those wake-ups were nearly all the engine's processor time. Instead,
// after a read that came back short (the driver had nothing more), the
// reader waits until the driver may hold half its buffer, and then takes
// it in a few reads back to back, a block after another. Waiting only for
// the rest of the block woke a reader once a block, 13 times a second at
// 115200 bit/s; this wakes it about 7 times, and the wake-ups, not the
// reads, were the cost.
//
// The rate is the line's as the reader sees it: what was read since a
// short read last left the driver empty, over the time since then. A line
// faster than its reader (an unpaced pseudo-terminal) gives full reads, or
// a rate at which half a buffer is a millisecond away: no pause. A read
// that got nothing has already waited its time-out: no pause either.
//
// Bounds: a pause is at most kMaxReadPauseMs, so that a stop waits for it
// at most half as long again as for a read's time-out; and no longer than
// the line, at the rate its settings allow, takes to fill half of the
// smallest receive buffer serial drivers keep (kDriverBufferBytes), so
// nothing overflows however fast the line runs. A line of unknown speed
// never pauses.
//
// No clock of its own: the reader passes microseconds of a steady clock,
// so the rules are tested without sleeping. One reader's, not shared.
#pragma once

#include <cstdint>

#include "platform/win32_types.h"

// The longest pause: one and a half read time-outs (port_worker.h's
// kReadTimeoutMs).
constexpr uint32_t kMaxReadPauseMs = 150;
// Linux's tty buffer and the Windows serial driver's default are 4096.
constexpr uint32_t kDriverBufferBytes = 4096;
// Shorter pauses are not worth a sleep.
constexpr uint32_t kMinReadPauseMs = 2;

class ReadPause {
  public:
    // `lineBytesPerSecond`: the characters per second the port's settings
    // let through, 0 when unknown (no pauses then).
    explicit ReadPause(uint32_t lineBytesPerSecond);
    // For a port with these settings: start bit, data bits, parity and
    // stop bits at its speed.
    static ReadPause ForLine(const DCB& dcb);

    // After a read of `asked` bytes (0: no read was made) that returned
    // `got`, ending at `nowUs`: how many ms to wait before the next read
    // (0: read at once).
    uint32_t After(uint32_t asked, uint32_t got, uint64_t nowUs);

  private:
    uint32_t limitMs_ = 0;
    bool drained_ = false;       // a read has left the driver empty...
    uint64_t drainedUs_ = 0;     // ...last at this time
    uint64_t sinceDrained_ = 0;  // bytes read since then
    uint64_t rate_ = 0;          // bytes per second seen, 0 while unknown
};
