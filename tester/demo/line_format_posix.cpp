// TCGETS2 gives the speed as a number (c_ospeed), for the Bxxx rates and
// for BOTHER alike, so no table of speed codes is needed. <asm/termbits.h>
// and glibc's <termios.h> define the same struct names; this file includes
// only the kernel's.
#include "tester/demo/line_format.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace demo {

bool readLineFormat(int fd, LineFormat& out) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    out.baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            out.dataBits = 5;
            break;
        case CS6:
            out.dataBits = 6;
            break;
        case CS7:
            out.dataBits = 7;
            break;
        default:
            out.dataBits = 8;
            break;
    }
    out.parity = (t.c_cflag & PARENB) != 0;
    out.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return true;
}

bool SetLineSpeed(int fd, uint32_t baud) {
    struct termios2 t {};
    if (baud == 0 || ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool SetStopBits(int fd, uint32_t stopBits) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    if (stopBits >= 2)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~CSTOPB;
    return ioctl(fd, TCSETS2, &t) == 0;
}

}  // namespace demo
