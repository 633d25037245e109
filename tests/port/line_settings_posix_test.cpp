// The DCB <-> termios mapping on its own: a pseudo-terminal cannot show data
// bits and parity (it forces 8N1), so those are checked here, field by
// field, and what reaches a real tty is checked in the native port tests.
// Nor has a pseudo-terminal an RS-485 mode: that is checked against a
// driver behind the seam.
#include "tester/port/line_settings_posix.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/last_error.h"

namespace {

DCB baseDcb() {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = 115200;
    d.ByteSize = 8;
    d.fBinary = 1;
    d.fRtsControl = RTS_CONTROL_ENABLE;
    d.fDtrControl = DTR_CONTROL_ENABLE;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

termios2 mapped(const DCB& d) {
    termios2 t{};
    uint32_t error = 0;
    EXPECT_TRUE(DcbToTermios(d, t, error));
    return t;
}

}  // namespace

TEST(LineSettings, FramingMapsBothWays) {
    struct Case {
        BYTE size, parity, stop;
        tcflag_t set, clear;
    } cases[] = {
        {8, NOPARITY, ONESTOPBIT, CS8, PARENB | CSTOPB | CMSPAR},
        {7, EVENPARITY, ONESTOPBIT, CS7 | PARENB, PARODD | CMSPAR | CSTOPB},
        {7, ODDPARITY, TWOSTOPBITS, CS7 | PARENB | PARODD | CSTOPB, CMSPAR},
        {6, MARKPARITY, ONESTOPBIT, CS6 | PARENB | PARODD | CMSPAR, CSTOPB},
        {8, SPACEPARITY, TWOSTOPBITS, CS8 | PARENB | CMSPAR | CSTOPB, PARODD},
        {5, NOPARITY, ONE5STOPBITS, CS5 | CSTOPB, PARENB},
    };
    for (const Case& c : cases) {
        DCB d = baseDcb();
        d.ByteSize = c.size;
        d.Parity = c.parity;
        d.StopBits = c.stop;
        termios2 t = mapped(d);
        EXPECT_EQ(t.c_cflag & CSIZE, c.set & CSIZE) << int(c.size) << int(c.parity);
        EXPECT_EQ(t.c_cflag & (c.set & ~CSIZE), c.set & ~CSIZE) << int(c.size) << int(c.parity);
        EXPECT_EQ(t.c_cflag & c.clear, 0u) << int(c.size) << int(c.parity);
        DCB back = baseDcb();
        TermiosToDcb(t, back);
        EXPECT_EQ(back.ByteSize, c.size);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
    }
}

TEST(LineSettings, SpeedsStandardAndOdd) {
    for (uint32_t rate : {300u, 9600u, 115200u, 921600u, 4000000u, 250000u, 31250u, 1u}) {
        DCB d = baseDcb();
        d.BaudRate = rate;
        termios2 t = mapped(d);
        EXPECT_EQ(t.c_ospeed, rate);
        EXPECT_EQ(t.c_ispeed, rate);
        EXPECT_EQ(t.c_cflag & (CBAUD << IBSHIFT), 0u) << "input speed follows output";
        const bool standard = rate != 250000 && rate != 31250 && rate != 1;
        EXPECT_EQ((t.c_cflag & CBAUD) == BOTHER, !standard) << rate;
        DCB back = baseDcb();
        TermiosToDcb(t, back);
        EXPECT_EQ(back.BaudRate, rate);
    }
    termios2 t = mapped(baseDcb());
    EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(B115200));
}

TEST(LineSettings, FlowControlFlags) {
    DCB d = baseDcb();
    d.fOutxCtsFlow = 1;
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    d.fOutX = 1;
    d.fInX = 1;
    d.XonChar = 0x21;
    d.XoffChar = 0x22;
    termios2 t = mapped(d);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_EQ(t.c_cc[VSTART], 0x21);
    EXPECT_EQ(t.c_cc[VSTOP], 0x22);
    EXPECT_FALSE(t.c_iflag & INPCK) << "bytes with parity errors come through as received";

    DCB back = baseDcb();
    TermiosToDcb(t, back);
    EXPECT_EQ(back.fOutxCtsFlow, 1u);
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(back.fOutX, 1u);
    EXPECT_EQ(back.fInX, 1u);
    EXPECT_EQ(back.XonChar, 0x21);

    // Flow control off again clears what was on.
    termios2 off = t;
    uint32_t error = 0;
    ASSERT_TRUE(DcbToTermios(baseDcb(), off, error));
    EXPECT_FALSE(off.c_cflag & CRTSCTS);
    EXPECT_FALSE(off.c_iflag & (IXON | IXOFF));
    DCB stale = back;  // the port still remembers handshaking
    TermiosToDcb(off, stale);
    EXPECT_EQ(stale.fOutxCtsFlow, 0u);
    EXPECT_EQ(stale.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
}

TEST(LineSettings, RefusesWhatTheSerialApiRefuses) {
    struct Case {
        const char* what;
        void (*change)(DCB&);
    } cases[] = {
        {"speed 0", [](DCB& d) { d.BaudRate = 0; }},
        {"4 data bits", [](DCB& d) { d.ByteSize = 4; }},
        {"9 data bits", [](DCB& d) { d.ByteSize = 9; }},
        {"parity 5", [](DCB& d) { d.Parity = 5; }},
        {"stop bits 3", [](DCB& d) { d.StopBits = 3; }},
        {"1.5 stop bits with 8 data bits", [](DCB& d) { d.StopBits = ONE5STOPBITS; }},
        {"2 stop bits with 5 data bits",
         [](DCB& d) {
             d.ByteSize = 5;
             d.StopBits = TWOSTOPBITS;
         }},
        {"XON equal to XOFF",
         [](DCB& d) {
             d.fOutX = 1;
             d.XoffChar = d.XonChar;
         }},
    };
    for (const Case& c : cases) {
        DCB d = baseDcb();
        c.change(d);
        termios2 t{};
        t.c_cflag = 0x5a5a;
        uint32_t error = 0;
        EXPECT_FALSE(DcbToTermios(d, t, error)) << c.what;
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_INVALID_PARAMETER)) << c.what;
        EXPECT_EQ(t.c_cflag, 0x5a5au) << c.what << ": changed although refused";
    }
}

namespace {

// A driver behind the line-settings seam: termios, the modem lines and,
// when it has one, an RS-485 mode; every request in order.
struct FakeDriver {
    bool rs485 = true;        // the driver has the mode
    bool refuseSets = false;  // TCSETS2 fails (after the mode was switched)
    termios2 t{};
    serial_rs485 mode{};
    std::vector<unsigned long> requests;
    std::vector<serial_rs485> modesSet;
    int raised = 0, dropped = 0;  // TIOCM bits of the last TIOCMBIS / TIOCMBIC
};
FakeDriver* driver = nullptr;

int FakeIoctl(int, unsigned long request, void* argument) {
    FakeDriver& d = *driver;
    d.requests.push_back(request);
    switch (request) {
        case TCGETS2:
            *static_cast<termios2*>(argument) = d.t;
            return 0;
        case TCSETS2:
            if (d.refuseSets) {
                errno = EIO;
                return -1;
            }
            d.t = *static_cast<termios2*>(argument);
            return 0;
        case TIOCGRS485:
        case TIOCSRS485:
            if (!d.rs485) {
                errno = ENOTTY;
                return -1;
            }
            if (request == TIOCGRS485) {
                *static_cast<serial_rs485*>(argument) = d.mode;
            } else {
                d.mode = *static_cast<serial_rs485*>(argument);
                d.modesSet.push_back(d.mode);
            }
            return 0;
        case TIOCMBIS:
            d.raised |= *static_cast<int*>(argument);
            return 0;
        case TIOCMBIC:
            d.dropped |= *static_cast<int*>(argument);
            return 0;
        default:
            errno = ENOTTY;
            return -1;
    }
}

size_t Position(const std::vector<unsigned long>& requests, unsigned long request) {
    return static_cast<size_t>(std::find(requests.begin(), requests.end(), request) -
                               requests.begin());
}

}  // namespace

// RtsControl Toggle is the kernel's RS-485 mode, RTS on while sending; any
// other RtsControl turns the mode off again and drives RTS itself. The
// mode's delays and other flags stay as the system set them up.
TEST(LineSettings, RtsToggleIsTheKernelsRs485Mode) {
    FakeDriver d;
    driver = &d;
    SetLineIoctlForTesting(FakeIoctl);
    d.mode.flags = SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX;
    d.mode.delay_rts_before_send = 5;
    d.mode.delay_rts_after_send = 7;

    DCB toggle = baseDcb();
    toggle.fRtsControl = RTS_CONTROL_TOGGLE;
    ASSERT_TRUE(ApplyLineSettings(3, toggle));
    ASSERT_EQ(d.modesSet.size(), 1u);
    EXPECT_EQ(d.mode.flags, static_cast<uint32_t>(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND |
                                                  SER_RS485_RX_DURING_TX));
    EXPECT_EQ(d.mode.delay_rts_before_send, 5u);
    EXPECT_EQ(d.mode.delay_rts_after_send, 7u);
    EXPECT_LT(Position(d.requests, TIOCSRS485), Position(d.requests, TCSETS2))
        << "the mode before the line settings, so that a refusal changes nothing";
    EXPECT_EQ((d.raised | d.dropped) & TIOCM_RTS, 0) << "the driver drives RTS";
    EXPECT_EQ(d.raised, TIOCM_DTR);
    EXPECT_EQ(d.t.c_ospeed, 115200u);

    // Back to RTS high: the mode goes off, RTS is raised.
    d.requests.clear();
    d.raised = 0;
    ASSERT_TRUE(ApplyLineSettings(3, baseDcb()));
    ASSERT_EQ(d.modesSet.size(), 2u);
    EXPECT_EQ(d.mode.flags & SER_RS485_ENABLED, 0u);
    EXPECT_EQ(d.mode.flags & SER_RS485_RX_DURING_TX, static_cast<uint32_t>(SER_RS485_RX_DURING_TX));
    EXPECT_EQ(d.raised, TIOCM_RTS | TIOCM_DTR);
    // Low, with the mode already off: nothing more to switch.
    DCB low = baseDcb();
    low.fRtsControl = RTS_CONTROL_DISABLE;
    ASSERT_TRUE(ApplyLineSettings(3, low));
    EXPECT_EQ(d.modesSet.size(), 2u);
    EXPECT_EQ(d.dropped, TIOCM_RTS);
    // Handshake raises it again: the driver would not, after a drop by hand.
    d.raised = 0;
    DCB handshake = baseDcb();
    handshake.fRtsControl = RTS_CONTROL_HANDSHAKE;
    ASSERT_TRUE(ApplyLineSettings(3, handshake));
    EXPECT_EQ(d.raised & TIOCM_RTS, TIOCM_RTS);

    // The line refuses the rest after the mode was switched on: the mode
    // goes back as it was.
    d.refuseSets = true;
    EXPECT_FALSE(ApplyLineSettings(3, toggle));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(EIO));
    EXPECT_EQ(d.mode.flags & SER_RS485_ENABLED, 0u);
    d.refuseSets = false;

    // A driver without the mode refuses Toggle as a whole, in words that
    // say why, before the line is touched; other settings it takes.
    FakeDriver plain;
    plain.rs485 = false;
    driver = &plain;
    toggle.BaudRate = 9600;
    EXPECT_FALSE(ApplyLineSettings(3, toggle));
    EXPECT_EQ(plat::lastError(), kErrorNoRs485Mode);
    EXPECT_EQ(Position(plain.requests, TCSETS2), plain.requests.size());
    EXPECT_TRUE(ApplyLineSettings(3, baseDcb()));
    EXPECT_EQ(plain.t.c_ospeed, 115200u);

    SetLineIoctlForTesting(nullptr);
    driver = nullptr;
}
