// termios2 comes from the kernel's headers, which cannot share a unit with
// <termios.h>; everything termios-related of the POSIX backend is here.
#include "tester/port/line_settings_posix.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/last_error.h"

namespace {

int systemIoctl(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

std::atomic<LineIoctl> lineIoctl{systemIoctl};

int io(int fd, unsigned long request, void* argument) {
    return lineIoctl.load(std::memory_order_relaxed)(fd, request, argument);
}

// Drivers without the RS-485 mode answer its request as one they do not
// know (ENOTTY), or, in older kernels, as an argument they cannot take.
bool noRs485Mode(int error) {
    return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP;
}

struct Speed {
    uint32_t rate;
    tcflag_t code;
};

const Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// Standard rates keep their classic code, so that programs reading the line
// with plain termios see them; any other rate goes as BOTHER.
void setSpeed(termios2& t, uint32_t rate) {
    tcflag_t code = BOTHER;
    for (const Speed& s : kSpeeds)
        if (s.rate == rate) code = s.code;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));  // input speed follows output
    t.c_cflag |= code;
    t.c_ispeed = rate;
    t.c_ospeed = rate;
}

uint32_t speedOf(const termios2& t) {
    const tcflag_t code = t.c_cflag & CBAUD;
    if (code != BOTHER)
        for (const Speed& s : kSpeeds)
            if (s.code == code) return s.rate;
    return t.c_ospeed;
}

bool fail(uint32_t& error, uint32_t code) {
    error = code;
    return false;
}

}  // namespace

bool DcbToTermios(const DCB& dcb, termios2& t, uint32_t& error) {
    if (dcb.BaudRate == 0) return fail(error, ERROR_INVALID_PARAMETER);
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return fail(error, ERROR_INVALID_PARAMETER);
    if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS)
        return fail(error, ERROR_INVALID_PARAMETER);
    // As the Windows serial driver: 1.5 stop bits only with 5 data bits,
    // 2 only with more.
    if (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize != 5)
        return fail(error, ERROR_INVALID_PARAMETER);
    if (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize == 5)
        return fail(error, ERROR_INVALID_PARAMETER);
    if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar)
        return fail(error, ERROR_INVALID_PARAMETER);

    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= kSizes[dcb.ByteSize - 5] | CLOCAL | CREAD;
    switch (dcb.Parity) {
        case ODDPARITY:
            t.c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t.c_cflag |= PARENB;
            break;
        case MARKPARITY:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // A UART sends 1.5 stop bits for "two" with 5-bit characters.
    if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;
    // Linux has one switch for both directions of RTS/CTS.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
    setSpeed(t, dcb.BaudRate);

    // Bytes with parity errors come through as received, as on Windows
    // without an error character; the driver still counts the error.
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | ISTRIP);
    if (dcb.fOutX) t.c_iflag |= IXON;
    if (dcb.fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    return true;
}

void TermiosToDcb(const termios2& t, DCB& dcb) {
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = speedOf(t);
    switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
            break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
        dcb.Parity = t.c_cflag & PARODD ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = t.c_cflag & PARODD ? ODDPARITY : EVENPARITY;
    if (!(t.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;

    const bool ctsFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if ((t.c_cflag & CRTSCTS) && !ctsFlow) {
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (!(t.c_cflag & CRTSCTS) && ctsFlow) {
        dcb.fOutxCtsFlow = 0;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    dcb.fOutX = t.c_iflag & IXON ? 1 : 0;
    dcb.fInX = t.c_iflag & IXOFF ? 1 : 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

bool PrepareLine(int fd, DCB& dcb) {
    termios2 t{};
    if (io(fd, TCGETS2, &t) != 0) return false;
    // Raw, as a Windows serial port always is.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    // With VMIN 1 a non-blocking read of an empty queue fails with EAGAIN,
    // and 0 bytes can only mean a hang-up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    if (io(fd, TCSETS2, &t) != 0) return false;

    dcb = DCB{};
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;  // the kernel raises DTR and RTS at open
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    TermiosToDcb(t, dcb);
    return true;
}

bool ApplyLineSettings(int fd, const DCB& dcb) {
    termios2 t{};
    if (io(fd, TCGETS2, &t) != 0) return false;
    uint32_t error = 0;
    if (!DcbToTermios(dcb, t, error)) {
        plat::setLastError(error);
        return false;
    }
    // The RS-485 mode first: a driver that cannot switch the transmitter
    // refuses the settings before anything of them has reached the line.
    // Its delays and other flags stay as the system set them up.
    const bool toggle = dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    serial_rs485 before{};
    const bool haveRs485 = io(fd, TIOCGRS485, &before) == 0;
    if (toggle) {
        serial_rs485 on = haveRs485 ? before : serial_rs485{};
        on.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        on.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
        if (io(fd, TIOCSRS485, &on) != 0) {
            if (noRs485Mode(errno)) plat::setLastError(kErrorNoRs485Mode);
            return false;
        }
    }
    if (io(fd, TCSETS2, &t) != 0) {
        const plat::Error failed = plat::currentError();
        if (toggle && haveRs485) io(fd, TIOCSRS485, &before);
        plat::restoreError(failed);
        return false;
    }
    if (!toggle && haveRs485 && (before.flags & SER_RS485_ENABLED)) {
        // Best effort, as the line levels below: RTS is then the
        // settings' again.
        serial_rs485 off = before;
        off.flags &= ~static_cast<uint32_t>(SER_RS485_ENABLED);
        io(fd, TIOCSRS485, &off);
    }
    // Best effort: devices without modem lines (ptys, some USB adapters)
    // refuse these, and the settings above still hold. With RS-485 the
    // driver drives RTS itself. With handshake it is raised, as Windows
    // does: the driver drops it only when its buffer fills, and does not
    // raise again a line someone dropped by hand (the modem-line check).
    int rts = TIOCM_RTS, dtr = TIOCM_DTR;
    if (dcb.fRtsControl != RTS_CONTROL_TOGGLE)
        io(fd, dcb.fRtsControl == RTS_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &rts);
    io(fd, dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &dtr);
    return true;
}

bool ReadLineSettings(int fd, const DCB& accepted, DCB& dcb) {
    termios2 t{};
    if (io(fd, TCGETS2, &t) != 0) return false;
    dcb = accepted;
    TermiosToDcb(t, dcb);
    return true;
}

bool FlushLine(int fd, bool input, bool output) {
    if (!input && !output) return true;
    const intptr_t queues = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return io(fd, TCFLSH, reinterpret_cast<void*>(queues)) == 0;
}

void SetLineIoctlForTesting(LineIoctl ioctl) {
    lineIoctl.store(ioctl ? ioctl : systemIoctl, std::memory_order_relaxed);
}
