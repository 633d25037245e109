// Local ports on Linux through PortAccess, over pseudo-terminals: one for
// the line settings, and the null-modem cable between two ports for data.
#include <gtest/gtest.h>

#include <cerrno>

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "tester/port/port_access.h"
#include "tests/support/cable.h"
#include "tests/support/line_format.h"

namespace {

// The far end's view of a port's line: the master of its pseudo-terminal
// reads the settings the port gave the slave.
termios2 lineSettings(const rig::Pty& pty) {
    termios2 t{};
    ioctl(pty.master(), TCGETS2, &t);
    return t;
}

HANDLE openPort(PortAccess& port, const std::string& name) {
    return port.Open(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

void testerTimeouts(PortAccess& port, HANDLE h) {
    COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 100, 0, 0};
    ASSERT_TRUE(port.SetTimeouts(h, &t));
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

// Two ports joined by the cable, both open with the tester's time-outs.
struct CabledPorts {
    rig::NullModemCable cable;
    PortAccess a, b;
    HANDLE ha = INVALID_HANDLE_VALUE, hb = INVALID_HANDLE_VALUE;

    CabledPorts() {
        ha = openPort(a, cable.pathA());
        hb = openPort(b, cable.pathB());
        if (ha != INVALID_HANDLE_VALUE) testerTimeouts(a, ha);
        if (hb != INVALID_HANDLE_VALUE) testerTimeouts(b, hb);
    }
    ~CabledPorts() {
        a.Close(ha);
        b.Close(hb);
    }
    bool open() const { return ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE; }
};

// Reads from `port` until `n` bytes came or `ms` passed.
std::string readAll(PortAccess& port, HANDLE h, size_t n, uint32_t ms) {
    std::string got;
    std::vector<char> buf(64000);
    const uint32_t start = plat::tickCount();
    while (got.size() < n && plat::ticksBetween(start, plat::tickCount()) < ms) {
        DWORD count = 0;
        if (!port.Read(h, buf.data(), static_cast<DWORD>(buf.size()), &count)) break;
        got.append(buf.data(), count);
    }
    return got;
}

// Waits up to 5 s for `flag`; a hang fails the test instead of the run.
bool eventually(const std::atomic<bool>& flag) {
    const uint32_t start = plat::tickCount();
    while (!flag && plat::ticksBetween(start, plat::tickCount()) < 5000)
        plat::sleepMs(1);
    return flag;
}

}  // namespace

TEST(NativePort, SettingsReachTheLine) {
    rig::Pty pty;
    PortAccess port;
    HANDLE h = openPort(port, "  " + pty.path() + " ");
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << plat::lastError();
    EXPECT_FALSE(port.IsNetwork());

    DCB dcb{};
    ASSERT_TRUE(port.GetState(h, &dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    dcb.BaudRate = 250000;  // not a classic rate
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = 1;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.XonLim = 1234;  // no termios home: kept by the port
    ASSERT_TRUE(port.SetState(h, &dcb)) << plat::lastError();

    termios2 t = lineSettings(pty);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG)) << "opened raw";
    EXPECT_FALSE(t.c_oflag & OPOST);
    rig::LineFormat line;
    ASSERT_TRUE(rig::readLineFormat(pty.master(), line));
    EXPECT_EQ(line.baud, 250000u);
    EXPECT_EQ(line.stopBits, 2u);

    DCB back{};
    ASSERT_TRUE(port.GetState(h, &back));
    EXPECT_EQ(back.BaudRate, 250000u);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(back.XonLim, 1234);

    dcb.BaudRate = 9600;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(port.SetState(h, &dcb));
    ASSERT_TRUE(rig::readLineFormat(pty.master(), line));
    EXPECT_EQ(line.baud, 9600u);
    EXPECT_EQ(line.stopBits, 1u);

    dcb.BaudRate = 0;
    EXPECT_FALSE(port.SetState(h, &dcb));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(rig::readLineFormat(pty.master(), line));
    EXPECT_EQ(line.baud, 9600u) << "a refused DCB changes nothing";

    // A pseudo-terminal has no RS-485 mode: RtsControl Toggle is refused
    // with words that say so, and the line keeps what it had. Nor has it
    // modem lines, which the line check must call "not supported".
    dcb.BaudRate = 19200;
    dcb.fOutxCtsFlow = 0;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    EXPECT_FALSE(port.SetState(h, &dcb));
    const plat::Error refused = plat::currentError();
    EXPECT_NE(port.ErrorText(refused).find("no RS-485 mode"), std::string::npos)
        << port.ErrorText(refused);
    ASSERT_TRUE(rig::readLineFormat(pty.master(), line));
    EXPECT_EQ(line.baud, 9600u);
    ASSERT_TRUE(port.GetState(h, &back));
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    DWORD status = 0;
    EXPECT_FALSE(port.GetModemStatus(h, &status));
    EXPECT_TRUE(port.NoModemLines(plat::currentError()));
    EXPECT_FALSE(port.EscapeFunction(h, SETRTS));
    EXPECT_TRUE(port.NoModemLines(plat::currentError()));
    // The kernel's pty takes a break and does nothing with it: only the
    // kind of the line tells the break check that it cannot carry one.
    EXPECT_TRUE(port.SetBreak(h));
    EXPECT_TRUE(port.ClearBreak(h));
    EXPECT_EQ(port.Kind(), DeviceKind::PseudoTerminal);
    EXPECT_TRUE(port.Close(h));

    // Known by its device, not its name: a link that looks like a serial
    // port's still leads to a pty.
    char folder[] = "/tmp/vesk-kind.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/ttyS7";
    ASSERT_EQ(symlink(pty.path().c_str(), link.c_str()), 0);
    h = openPort(port, link);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << port.OpenFailure();
    EXPECT_EQ(port.Kind(), DeviceKind::PseudoTerminal);
    EXPECT_TRUE(port.Close(h));
    unlink(link.c_str());
    rmdir(folder);
}

TEST(NativePort, ReadWithNothingArrivingSucceedsEmptyAfterTheTimeout) {
    CabledPorts ports;
    ASSERT_TRUE(ports.open()) << plat::lastError();
    std::vector<char> buf(64000);
    for (int i = 0; i < 3; ++i) {
        DWORD got = 99;
        const uint32_t start = plat::tickCount();
        ASSERT_TRUE(ports.b.Read(ports.hb, buf.data(), static_cast<DWORD>(buf.size()), &got));
        const uint32_t took = plat::ticksBetween(start, plat::tickCount());
        EXPECT_EQ(got, 0u);
        EXPECT_GE(took, 90u);
        EXPECT_LT(took, 1000u);
    }
}

TEST(NativePort, BytesCrossTheCableIntactBothWays) {
    CabledPorts ports;
    ASSERT_TRUE(ports.open()) << plat::lastError();
    // Every byte value, CR/LF, XON/XOFF and 0xFF included, untranslated.
    const std::string data = pattern(150000);
    for (int dir = 0; dir < 2; ++dir) {
        PortAccess& tx = dir ? ports.b : ports.a;
        PortAccess& rx = dir ? ports.a : ports.b;
        HANDLE htx = dir ? ports.hb : ports.ha, hrx = dir ? ports.ha : ports.hb;
        std::string received;
        std::thread reader([&] { received = readAll(rx, hrx, data.size(), 10000); });
        for (size_t at = 0; at < data.size(); at += 64000) {
            DWORD n = static_cast<DWORD>(std::min<size_t>(64000, data.size() - at));
            DWORD sent = 0;
            ASSERT_TRUE(tx.Write(htx, data.data() + at, n, &sent));
            EXPECT_EQ(sent, n);
        }
        reader.join();
        EXPECT_TRUE(received == data) << "direction " << dir << ": " << received.size() << " bytes";
    }

    // A read returns what is there at once; it does not wait to fill
    // `count`, which with these time-outs would take 5 s.
    DWORD sent = 0;
    ASSERT_TRUE(ports.a.Write(ports.ha, "abc", 3, &sent));
    const uint32_t wrote = plat::tickCount();
    COMSTAT queued{};
    DWORD errors = 0;
    while (queued.cbInQue < 3 && plat::ticksBetween(wrote, plat::tickCount()) < 10000) {
        plat::sleepMs(5);
        ASSERT_TRUE(ports.b.ClearError(ports.hb, &errors, &queued));
    }
    ASSERT_EQ(queued.cbInQue, 3u);
    COMMTIMEOUTS patient = {MAXDWORD, MAXDWORD, 5000, 0, 0};
    ASSERT_TRUE(ports.b.SetTimeouts(ports.hb, &patient));
    std::vector<char> buf(64000);
    DWORD n = 0;
    const uint32_t t0 = plat::tickCount();
    ASSERT_TRUE(ports.b.Read(ports.hb, buf.data(), static_cast<DWORD>(buf.size()), &n));
    EXPECT_EQ(n, 3u);
    EXPECT_LT(plat::ticksBetween(t0, plat::tickCount()), 2500u);
}

// A write held by a paused cable blocks until a purge or a cancel ends it;
// the next write then runs normally.
TEST(NativePort, HeldWriteEndsByPurgeAndByCancel) {
    CabledPorts ports;
    ASSERT_TRUE(ports.open()) << plat::lastError();
    ports.cable.pause(rig::Dir::AtoB);
    const std::string block = pattern(1 << 20);
    for (int how = 0; how < 2; ++how) {
        std::atomic<bool> done{false};
        BOOL ok = TRUE;
        DWORD sent = 0;
        uint32_t error = 0;
        std::thread writer([&] {
            ok = ports.a.Write(ports.ha, block.data(), static_cast<DWORD>(block.size()), &sent);
            error = plat::lastError();
            done = true;
        });
        plat::sleepMs(150);
        EXPECT_FALSE(done.load()) << "the paused cable should hold the write";
        if (how == 0)
            EXPECT_TRUE(ports.a.Purge(
                ports.ha, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
        else
            EXPECT_TRUE(ports.a.CancelPending(ports.ha));
        ASSERT_TRUE(eventually(done)) << (how ? "cancel" : "purge") << " did not end the write";
        writer.join();
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
        EXPECT_LT(sent, block.size());
    }

    // The cancel ended only what was in progress: after the cable moves
    // again a new write goes through whole.
    ports.cable.resume(rig::Dir::AtoB);
    readAll(ports.b, ports.hb, SIZE_MAX, 300);  // what the aborted writes left
    DWORD sent = 0;
    ASSERT_TRUE(ports.a.Write(ports.ha, "fresh block", 11, &sent));
    EXPECT_EQ(sent, 11u);
    EXPECT_EQ(readAll(ports.b, ports.hb, 11, 3000), "fresh block");
}

// At shut-down a blocked read and a blocked write on two threads both end
// with one cancel; Close ends what is still blocked before closing.
TEST(NativePort, OneCancelEndsAReadAndAWriteBlockedTogether) {
    CabledPorts ports;
    ASSERT_TRUE(ports.open()) << plat::lastError();
    ports.cable.pause(rig::Dir::AtoB);
    COMMTIMEOUTS forever = {0, 0, 0, 0, 0};  // a read waits for all it asked for
    ASSERT_TRUE(ports.a.SetTimeouts(ports.ha, &forever));
    const std::string block = pattern(1 << 20);
    std::vector<char> buf(1000);
    std::atomic<int> ended{0};
    uint32_t readError = 0, writeError = 0;
    std::thread reader([&] {
        DWORD n = 0;
        if (!ports.a.Read(ports.ha, buf.data(), static_cast<DWORD>(buf.size()), &n))
            readError = plat::lastError();
        ++ended;
    });
    std::thread writer([&] {
        DWORD n = 0;
        if (!ports.a.Write(ports.ha, block.data(), static_cast<DWORD>(block.size()), &n))
            writeError = plat::lastError();
        ++ended;
    });
    plat::sleepMs(150);
    EXPECT_EQ(ended.load(), 0);
    EXPECT_TRUE(ports.a.CancelPending(ports.ha));
    const uint32_t start = plat::tickCount();
    while (ended < 2 && plat::ticksBetween(start, plat::tickCount()) < 5000)
        plat::sleepMs(1);
    ASSERT_EQ(ended.load(), 2);
    reader.join();
    writer.join();
    EXPECT_EQ(readError, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(writeError, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));

    // Close while a write is blocked on another thread: the write ends,
    // aborted, and nothing is left blocked on the closed descriptor.
    std::atomic<bool> lateDone{false};
    uint32_t lateError = 0;
    std::thread late([&] {
        DWORD n = 0;
        if (!ports.a.Write(ports.ha, block.data(), static_cast<DWORD>(block.size()), &n))
            lateError = plat::lastError();
        lateDone = true;
    });
    plat::sleepMs(100);
    EXPECT_FALSE(lateDone.load());
    EXPECT_TRUE(ports.a.Close(ports.ha));
    ASSERT_TRUE(eventually(lateDone));
    late.join();
    EXPECT_EQ(lateError, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
    ports.ha = INVALID_HANDLE_VALUE;
}

TEST(NativePort, StatusQueuesExclusiveUseAndStaleHandles) {
    CabledPorts ports;
    ASSERT_TRUE(ports.open()) << plat::lastError();
    DWORD sent = 0;
    ASSERT_TRUE(ports.a.Write(ports.ha, "0123456789", 10, &sent));
    plat::sleepMs(100);
    DWORD errors = 0xFFFF;
    COMSTAT stat{};
    ASSERT_TRUE(ports.b.ClearError(ports.hb, &errors, &stat));
    EXPECT_EQ(errors, 0u) << "a pseudo-terminal counts no line errors";
    EXPECT_EQ(stat.cbInQue, 10u);
    ASSERT_TRUE(ports.b.Purge(ports.hb, PURGE_RXCLEAR));
    ASSERT_TRUE(ports.b.ClearError(ports.hb, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);

    // A second open of a held port is refused, as Windows refuses it.
    PortAccess other;
    EXPECT_EQ(openPort(other, ports.cable.pathB()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(EBUSY));
    EXPECT_EQ(other.OpenFailure(), "Device or resource busy");

    ASSERT_TRUE(ports.b.Close(ports.hb));
    char c;
    DWORD n;
    EXPECT_FALSE(ports.b.Read(ports.hb, &c, 1, &n));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    // A stale handle is the backend's own Win32 code, whose number is
    // ENXIO's: never a device that vanished (a worker would drop and
    // reopen its port for it), and said in its own words.
    const plat::Error stale = plat::currentError();
    EXPECT_FALSE(stale.system);
    EXPECT_FALSE(ports.b.IsLost(stale));
    EXPECT_EQ(ports.b.ErrorText(stale), "The handle is invalid");
    EXPECT_TRUE(ports.b.IsLost(plat::Error{ENXIO, true})) << "a device torn down";
    // The system's ENXIO after it is the system's, though the number is
    // the one noted.
    plat::setSystemError(ENXIO);
    EXPECT_TRUE(plat::currentError().system);
    EXPECT_TRUE(ports.b.IsLost(plat::currentError()));
    EXPECT_FALSE(ports.b.Purge(ports.hb, PURGE_RXCLEAR));
    EXPECT_FALSE(ports.b.Close(ports.hb)) << "closed once";

    // Free again once closed, and the line works after the reopen.
    ports.hb = openPort(ports.b, ports.cable.pathB());
    ASSERT_NE(ports.hb, INVALID_HANDLE_VALUE);
    testerTimeouts(ports.b, ports.hb);
    ASSERT_TRUE(ports.a.Write(ports.ha, "again", 5, &sent));
    EXPECT_EQ(readAll(ports.b, ports.hb, 5, 3000), "again");
}

TEST(NativePort, NamesWithoutADeviceDoNotOpen) {
    PortAccess port;
    EXPECT_EQ(openPort(port, "COM12X"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(port.OpenFailure(), "No such file or directory");
    EXPECT_EQ(openPort(port, "/no/such/device"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(openPort(port, "/dev/null"), INVALID_HANDLE_VALUE) << "not a tty";
    EXPECT_EQ(openPort(port, "COM0"), INVALID_HANDLE_VALUE);
}
