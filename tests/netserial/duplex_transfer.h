// The real peers' common check: blocks both ways at once between an open
// port and the far end of the cable behind the device server, with long
// runs of 255 each way, through the library's exports. Linux only.
#pragma once

#include "tests/netserial/far_end.h"
#include "tests/netserial/net_test.h"

#include <algorithm>
#include <termios.h>
#include <thread>

namespace qtest {

// Sets 115200 8N1 and read time-outs that return what came (or wait 1 s);
// false when the port refuses them.
inline bool setUpLine(HANDLE h, DWORD baud = 115200) {
    DCB dcb{};
    if (!QnGetCommState(h, &dcb)) return false;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 1000, 0, 0};
    return QnSetCommState(h, &dcb) && QnSetCommTimeouts(h, &t);
}

// Where two byte strings part (the shorter one's length when one is the
// other's start).
inline size_t firstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    return static_cast<size_t>(
        std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first -
        a.begin());
}

// `size` bytes each way at once, written in blocks of `block` bytes, with
// runs of 255 and CR NUL pairs; every
// byte must arrive, in order, unchanged, within `boundMs` (a bound that
// catches a stall, not timing), and no line error may be reported.
// Without `downWith255` the device sends no 255 (254 in its place), for a
// server that cannot escape them reliably.
inline void ExpectBothWaysIntact(HANDLE h, FarEnd& far, size_t size, size_t block, int boundMs,
                                 bool downWith255 = true) {
    std::vector<uint8_t> up = testPattern(size, 7);
    std::vector<uint8_t> down = testPattern(size, 8);
    std::fill(up.begin() + size / 100, up.begin() + size / 100 + size / 40, 0xFF);
    std::fill(down.begin() + size / 60, down.begin() + size / 60 + size / 40, 0xFF);
    if (!downWith255) std::replace(down.begin(), down.end(), uint8_t{0xFF}, uint8_t{0xFE});
    // CR NUL and CR LF, which a Telnet peer that takes the data for text
    // would change.
    for (std::vector<uint8_t>* data : {&up, &down}) {
        for (size_t at = 700; at + 4 < size; at += 1499) {
            (*data)[at] = '\r';
            (*data)[at + 1] = '\0';
            (*data)[at + 2] = '\r';
            (*data)[at + 3] = '\n';
        }
    }

    std::vector<uint8_t> arrivedFar;
    std::thread farReader([&] { arrivedFar = far.read(size, boundMs); });
    std::thread farWriter([&] { far.write(down); });
    std::thread writer([&] {
        for (size_t at = 0; at < size; at += block) {
            DWORD count = 0;
            const DWORD n = static_cast<DWORD>(std::min(block, size - at));
            if (!QnWriteFile(h, up.data() + at, n, &count, nullptr) || count != n) return;
        }
    });
    std::vector<uint8_t> arrivedHere;
    std::vector<uint8_t> buffer(64000);
    Stopwatch clock;
    while (arrivedHere.size() < size && clock.ms() < boundMs) {
        DWORD count = 0;
        if (!QnReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr))
            break;
        arrivedHere.insert(arrivedHere.end(), buffer.begin(), buffer.begin() + count);
    }
    writer.join();
    farWriter.join();
    farReader.join();
    EXPECT_EQ(arrivedHere.size(), size);
    EXPECT_TRUE(arrivedHere == down)
        << "device to client differs from byte " << firstDifference(arrivedHere, down);
    EXPECT_EQ(arrivedFar.size(), size);
    EXPECT_TRUE(arrivedFar == up) << "client to device differs from byte "
                                  << firstDifference(arrivedFar, up);
    DWORD errors = 0;
    EXPECT_TRUE(QnClearCommError(h, &errors, nullptr));
    EXPECT_EQ(errors, 0u);
}

// The speed of a pty now (cfgetospeed), 0 when it cannot be read.
inline speed_t ttySpeed(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    speed_t speed = 0;
    if (fd >= 0 && tcgetattr(fd, &t) == 0) speed = cfgetospeed(&t);
    if (fd >= 0) ::close(fd);
    return speed;
}

inline bool waitTtySpeed(const std::string& path, speed_t want) {
    Stopwatch clock;
    while (ttySpeed(path) != want) {
        if (clock.ms() > kLong) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace qtest
