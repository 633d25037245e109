// The timing of a serial line as far as a pacing cable needs it: how many
// characters per second the line carries.
//
// The tty functions are Linux only (line_format_posix.cpp); the
// arithmetic is portable (line_format.cpp). A pseudo-terminal is a poor witness
// of its own line settings: the pty driver forces CS8 and clears PARENB on
// every tcsetattr (drivers/tty/pty.c, pty_set_termios), so a port that asks
// for 7E1 reads back 8N1. Speed, CSTOPB and PARODD do survive. Read through
// a pty, a 7E1 or 7O1 line therefore still comes out at the right 10 bits
// per character and 7E2 at the right 11, while 8E1, 7N1 and the 5- and
// 6-bit sizes come out wrong; those need an explicit bits-per-character.
#pragma once

#include <cstdint>

namespace demo {

struct LineFormat {
    uint32_t baud = 0;
    uint32_t dataBits = 8;
    bool parity = false;
    uint32_t stopBits = 1;

    // Start bit, data bits, parity bit, stop bits.
    uint32_t bitsPerChar() const;
};

// Bits one character takes on the wire.
inline uint32_t frameBits(uint32_t dataBits, bool parity, uint32_t stopBits) {
    return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

// Nanoseconds one character takes at `baud` with `bitsPerChar` bits; 0 when
// either is 0 (an unpaced line).
int64_t charTimeNs(uint32_t baud, uint32_t bitsPerChar);

// Reads the settings of the tty behind `fd`. Through a pty master this reads
// the slave's settings, which is what the port at the far end set. The speed
// is the exact rate also for rates set with BOTHER. False when fd is no tty.
bool readLineFormat(int fd, LineFormat& out);

// Sets the speed of the tty behind `fd` to exactly `baud` (BOTHER), both
// ways, leaving every other setting as it is. False when fd is no tty or
// the speed is refused.
bool SetLineSpeed(int fd, uint32_t baud);

// Sets one or two stop bits on the tty behind `fd`. False when fd is no tty.
bool SetStopBits(int fd, uint32_t stopBits);

}  // namespace demo
