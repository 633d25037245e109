// Local ports on Linux through PortAccess, over pseudo-terminals.
#include <gtest/gtest.h>

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "tester/port/port_access.h"

namespace {

// One pseudo-terminal: the port under test opens the slave, the test works
// the master end, which sees the slave's settings through its own ioctls.
class Pty {
  public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        path_ = ptsname(master_);
        slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // no hang-up ever
    }
    ~Pty() {
        close(master_);
        close(slave_);
    }
    int master() const { return master_; }
    const std::string& path() const { return path_; }

    termios2 settings() const {
        termios2 t{};
        ioctl(master_, TCGETS2, &t);
        return t;
    }
    // Everything that arrives within `ms`, up to `max` bytes.
    std::string receive(size_t max, int ms) {
        std::string got;
        const uint32_t start = plat::tickCount();
        while (got.size() < max && plat::ticksBetween(start, plat::tickCount()) < uint32_t(ms)) {
            char buf[4096];
            ssize_t n = read(master_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<size_t>(n));
            else
                plat::sleepMs(2);
        }
        return got;
    }
    void send(const std::string& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

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

}  // namespace

TEST(NativePort, SettingsReachTheLine) {
    Pty pty;
    PortAccess port;
    HANDLE h = openPort(port, "  " + pty.path() + " ");
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << plat::lastError();
    EXPECT_FALSE(port.IsNetwork());
    termios2 raw = pty.settings();
    EXPECT_FALSE(raw.c_lflag & (ICANON | ECHO | ISIG)) << "opened raw";
    EXPECT_FALSE(raw.c_oflag & OPOST);

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

    termios2 t = pty.settings();
    EXPECT_EQ(t.c_ospeed, 250000u);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);

    DCB back{};
    ASSERT_TRUE(port.GetState(h, &back));
    EXPECT_EQ(back.BaudRate, 250000u);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);
    EXPECT_EQ(back.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(back.XonLim, 1234);

    dcb.BaudRate = 0;
    EXPECT_FALSE(port.SetState(h, &dcb));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(pty.settings().c_ospeed, 250000u) << "a refused DCB changes nothing";
    EXPECT_TRUE(port.Close(h));
}

TEST(NativePort, ReadWithNothingArrivingSucceedsEmptyAfterTheTimeout) {
    Pty pty;
    PortAccess port;
    HANDLE h = openPort(port, pty.path());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    testerTimeouts(port, h);
    char buf[64000];
    for (int i = 0; i < 3; ++i) {
        DWORD got = 99;
        const uint32_t start = plat::tickCount();
        ASSERT_TRUE(port.Read(h, buf, sizeof buf, &got));
        const uint32_t took = plat::ticksBetween(start, plat::tickCount());
        EXPECT_EQ(got, 0u);
        EXPECT_GE(took, 90u);
        EXPECT_LT(took, 1000u);
    }
    port.Close(h);
}

TEST(NativePort, BytesCrossIntactBothWays) {
    Pty pty;
    PortAccess port;
    HANDLE h = openPort(port, pty.path());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    testerTimeouts(port, h);

    // Every byte value, CR/LF, XON/XOFF and 0xFF included, untranslated.
    const std::string out = pattern(20000);
    std::string received;
    std::thread reader([&] { received = pty.receive(out.size(), 5000); });
    DWORD sent = 0;
    ASSERT_TRUE(port.Write(h, out.data(), static_cast<DWORD>(out.size()), &sent));
    EXPECT_EQ(sent, out.size());
    reader.join();
    EXPECT_TRUE(received == out) << "got " << received.size() << " bytes";

    const std::string in = pattern(3000).substr(1000);
    pty.send(in);
    std::string got;
    std::vector<char> buf(64000);
    const uint32_t start = plat::tickCount();
    while (got.size() < in.size() && plat::ticksBetween(start, plat::tickCount()) < 5000) {
        DWORD n = 0;
        ASSERT_TRUE(port.Read(h, buf.data(), static_cast<DWORD>(buf.size()), &n));
        got.append(buf.data(), n);
    }
    EXPECT_TRUE(got == in) << "got " << got.size() << " bytes";

    // A read returns what is there at once; it does not wait to fill `count`.
    pty.send("abc");
    plat::sleepMs(50);
    DWORD n = 0;
    const uint32_t t0 = plat::tickCount();
    ASSERT_TRUE(port.Read(h, buf.data(), static_cast<DWORD>(buf.size()), &n));
    EXPECT_EQ(n, 3u);
    EXPECT_LT(plat::ticksBetween(t0, plat::tickCount()), 50u);
    port.Close(h);
}

// A write the line does not take (nobody reads the far end) blocks until a
// purge or a cancel ends it; the next write then runs normally.
TEST(NativePort, HeldWriteEndsByPurgeAndByCancel) {
    Pty pty;
    PortAccess port;
    HANDLE h = openPort(port, pty.path());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    testerTimeouts(port, h);
    const std::string block = pattern(1 << 20);

    for (int how = 0; how < 2; ++how) {
        std::atomic<bool> done{false};
        BOOL ok = TRUE;
        DWORD sent = 0;
        uint32_t error = 0;
        std::thread writer([&] {
            ok = port.Write(h, block.data(), static_cast<DWORD>(block.size()), &sent);
            error = plat::lastError();
            done = true;
        });
        plat::sleepMs(150);
        EXPECT_FALSE(done.load()) << "the write should be held";
        if (how == 0)
            EXPECT_TRUE(
                port.Purge(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
        else
            EXPECT_TRUE(port.CancelPending(h));
        const uint32_t start = plat::tickCount();
        while (!done && plat::ticksBetween(start, plat::tickCount()) < 5000)
            plat::sleepMs(1);
        ASSERT_TRUE(done.load()) << (how ? "cancel" : "purge") << " did not end the write";
        writer.join();
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
        EXPECT_LT(sent, block.size());
        pty.receive(SIZE_MAX, 100);  // drain the line
    }

    // The cancel ended only what was in progress.
    std::string received;
    std::thread reader([&] { received = pty.receive(100, 3000); });
    DWORD sent = 0;
    EXPECT_TRUE(port.Write(h, block.data(), 100, &sent));
    reader.join();
    EXPECT_EQ(sent, 100u);
    EXPECT_EQ(received, block.substr(0, 100));
    port.Close(h);
}

// At shut-down a blocked read and a blocked write on two threads both end
// with one cancel; Close ends what is still blocked before closing.
TEST(NativePort, OneCancelEndsAReadAndAWriteBlockedTogether) {
    Pty pty;
    PortAccess port;
    HANDLE h = openPort(port, pty.path());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS forever = {0, 0, 0, 0, 0};  // a read waits for all of it
    ASSERT_TRUE(port.SetTimeouts(h, &forever));
    const std::string block = pattern(1 << 20);
    std::vector<char> buf(1000);
    std::atomic<int> ended{0};
    uint32_t readError = 0, writeError = 0;
    std::thread reader([&] {
        DWORD n = 0;
        if (!port.Read(h, buf.data(), static_cast<DWORD>(buf.size()), &n))
            readError = plat::lastError();
        ++ended;
    });
    std::thread writer([&] {
        DWORD n = 0;
        if (!port.Write(h, block.data(), static_cast<DWORD>(block.size()), &n))
            writeError = plat::lastError();
        ++ended;
    });
    plat::sleepMs(150);
    EXPECT_EQ(ended.load(), 0);
    EXPECT_TRUE(port.CancelPending(h));
    const uint32_t start = plat::tickCount();
    while (ended < 2 && plat::ticksBetween(start, plat::tickCount()) < 5000)
        plat::sleepMs(1);
    ASSERT_EQ(ended.load(), 2);
    reader.join();
    writer.join();
    EXPECT_EQ(readError, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(writeError, static_cast<uint32_t>(ERROR_OPERATION_ABORTED));

    // Close while a transfer is blocked on another thread.
    std::thread late([&] {
        DWORD n = 0;
        port.Write(h, block.data(), static_cast<DWORD>(block.size()), &n);
    });
    plat::sleepMs(100);
    EXPECT_TRUE(port.Close(h));
    late.join();
}

TEST(NativePort, StatusQueuesAndAfterClose) {
    Pty pty;
    PortAccess port;
    HANDLE h = openPort(port, pty.path());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    pty.send("0123456789");
    plat::sleepMs(50);
    DWORD errors = 0xFFFF;
    COMSTAT stat{};
    ASSERT_TRUE(port.ClearError(h, &errors, &stat));
    EXPECT_EQ(errors, 0u) << "a pseudo-terminal counts no line errors";
    EXPECT_EQ(stat.cbInQue, 10u);
    ASSERT_TRUE(port.Purge(h, PURGE_RXCLEAR));
    ASSERT_TRUE(port.ClearError(h, nullptr, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);

    // A second open of a held port is refused, as Windows refuses it.
    PortAccess other;
    EXPECT_EQ(openPort(other, pty.path()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));

    ASSERT_TRUE(port.Close(h));
    char c;
    DWORD n;
    EXPECT_FALSE(port.Read(h, &c, 1, &n));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(port.Purge(h, PURGE_RXCLEAR));
    EXPECT_FALSE(port.Close(h)) << "closed once";

    // Free again once closed.
    HANDLE again = openPort(other, pty.path());
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    other.Close(again);
}

TEST(NativePort, NamesWithoutADeviceDoNotOpen) {
    PortAccess port;
    EXPECT_EQ(openPort(port, "COM12X"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(openPort(port, "/no/such/device"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(openPort(port, "/dev/null"), INVALID_HANDLE_VALUE) << "not a tty";
    EXPECT_EQ(openPort(port, "COM0"), INVALID_HANDLE_VALUE);
}
