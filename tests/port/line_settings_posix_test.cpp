// The DCB <-> termios mapping on its own: a pseudo-terminal cannot show data
// bits and parity (it forces 8N1), so those are checked here, field by
// field, and what reaches a real tty is checked in the native port tests.
#include "tester/port/line_settings_posix.h"

#include <asm/termbits.h>

#include <gtest/gtest.h>

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
