#include "tester/demo/cable.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tester/demo/line_format.h"
#include "tests/support/stream_model.h"

namespace demo {
namespace model = ::rig::model;
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// A cable's count once it has caught up with what the far end read: the
// pump counts a write after it returns, which the reader may overtake, and
// the last bytes it takes may all be dropped after the reader is done.
template <typename Count>
uint64_t settled(Count count, uint64_t expected) {
    const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
    while (count() < expected && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return count();
}

// The code under test's side of a cable: a slave opened as a serial port.
class Port {
  public:
    explicit Port(const std::string& path) : path_(path) { reopen(); }
    ~Port() { closeNow(); }

    int fd() const { return fd_; }

    void reopen() {
        fd_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) ADD_FAILURE() << "open " << path_ << ": " << std::strerror(errno);
    }
    void closeNow() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    // What a serial port does on open: raw, the given speed and format.
    void setLine(speed_t speed, tcflag_t size = CS8, bool parity = false, bool twoStops = false) {
        termios t{};
        ASSERT_EQ(tcgetattr(fd_, &t), 0);
        cfmakeraw(&t);
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
        t.c_cflag |= size | CLOCAL | CREAD | (parity ? PARENB : 0) | (twoStops ? CSTOPB : 0);
        ASSERT_EQ(tcsetattr(fd_, TCSANOW, &t), 0);
    }

    // Writes without blocking until the line takes no more; the count.
    size_t fill(uint8_t value, size_t limit) {
        const Bytes chunk(4096, value);
        size_t total = 0;
        while (total < limit) {
            const ssize_t n = write(fd_, chunk.data(), std::min(chunk.size(), limit - total));
            if (n < 0) {
                EXPECT_EQ(errno, EAGAIN);
                break;
            }
            total += static_cast<size_t>(n);
        }
        return total;
    }

    // Whatever arrives within ms.
    Bytes readFor(int ms) {
        Bytes got;
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, 10);
            uint8_t buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

  private:
    std::string path_;
    int fd_ = -1;
};

// One direction of a transfer: `data` goes into `from`, `want` bytes are
// expected out of `to`.
struct Flow {
    Flow(Port* f, Port* t, Bytes d, size_t w) : from(f), to(t), data(std::move(d)), want(w) {}

    Port* from;
    Port* to;
    Bytes data;
    size_t want;
    size_t written = 0;
    Bytes got;
    Clock::time_point first, last;
    size_t lastRead = 0;

    // Characters per second seen by the receiver. The cable hands over each
    // chunk as it starts, so from the first read to the last the line
    // carried everything except the last read's bytes.
    double rate() const {
        const double s = std::chrono::duration<double>(last - first).count();
        return s > 0 ? static_cast<double>(got.size() - lastRead) / s : 0;
    }
};

// Runs flows side by side on this thread until each has its bytes or the
// time is up.
void transfer(std::vector<Flow*> flows, int timeoutMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<pollfd> fds;
        for (Flow* f : flows) {
            fds.push_back(
                {f->from->fd(), static_cast<short>(f->written < f->data.size() ? POLLOUT : 0), 0});
            fds.push_back(
                {f->to->fd(), static_cast<short>(f->got.size() < f->want ? POLLIN : 0), 0});
        }
        bool done = true;
        for (Flow* f : flows)
            done = done && f->got.size() >= f->want;
        if (done || Clock::now() >= end) return;
        poll(fds.data(), fds.size(), 20);
        for (size_t i = 0; i < flows.size(); ++i) {
            Flow& f = *flows[i];
            if (fds[2 * i].revents & POLLOUT) {
                const size_t n = std::min<size_t>(4096, f.data.size() - f.written);
                const ssize_t w = write(f.from->fd(), f.data.data() + f.written, n);
                if (w > 0) f.written += static_cast<size_t>(w);
            }
            if (fds[2 * i + 1].revents & POLLIN) {
                uint8_t buf[8192];
                const ssize_t r = read(f.to->fd(), buf, sizeof buf);
                if (r <= 0) continue;
                f.last = Clock::now();
                if (f.got.empty()) f.first = f.last;
                f.lastRead = static_cast<size_t>(r);
                f.got.insert(f.got.end(), buf, buf + r);
            }
        }
    }
}

TEST(NullModemCable, MovesBytesBothWaysIntact) {
    NullModemCable cable;
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);
    EXPECT_NE(cable.pathA(), cable.pathB());

    Flow ab{&a, &b, model::randomStream(300 * 1024, 1), 300 * 1024};
    Flow ba{&b, &a, model::randomStream(300 * 1024, 2), 300 * 1024};
    transfer({&ab, &ba}, 20000);
    EXPECT_TRUE(ab.got == ab.data) << "A to B: " << ab.got.size() << " bytes arrived";
    EXPECT_TRUE(ba.got == ba.data) << "B to A: " << ba.got.size() << " bytes arrived";
    EXPECT_EQ(cable.taken(Dir::AtoB), ab.data.size());
    EXPECT_EQ(settled([&] { return cable.delivered(Dir::BtoA); }, ba.data.size()), ba.data.size());
    EXPECT_EQ(cable.error(Dir::AtoB), 0);
}

TEST(NullModemCable, MovesBytesIntactWhenPaced) {
    NullModemCable cable(Pacing::at(460800, 10));  // 46 080 characters a second
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);

    const size_t n = 23040;  // half a second's worth each way
    Flow ab{&a, &b, model::randomStream(n, 3), n};
    Flow ba{&b, &a, model::randomStream(n, 4), n};
    const Clock::time_point start = Clock::now();
    transfer({&ab, &ba}, 10000);
    const double took = secondsSince(start);
    EXPECT_TRUE(ab.got == ab.data) << "A to B: " << ab.got.size() << " bytes arrived";
    EXPECT_TRUE(ba.got == ba.data) << "B to A: " << ba.got.size() << " bytes arrived";
    EXPECT_GT(took, 0.3) << "the line did not hold the bytes back";
}

// A sets 9600 8N1 and B sets 19200 7E2: each direction follows its sender.
// (Through the pty, B's 7E2 reads as 8N2, which is the same 11 bits.)
TEST(NullModemCable, PacesEachDirectionToItsSendersSettings) {
    NullModemCable cable(Pacing::followPort());
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B9600);
    b.setLine(B19200, CS7, true, true);

    const double rateAB = 9600.0 / frameBits(8, false, 1);
    const double rateBA = 19200.0 / frameBits(7, true, 2);
    Flow ab{&a, &b, model::randomStream(static_cast<size_t>(rateAB), 5),
            static_cast<size_t>(rateAB)};
    Flow ba{&b, &a, model::randomStream(static_cast<size_t>(rateBA), 6),
            static_cast<size_t>(rateBA)};
    transfer({&ab, &ba}, 5000);
    ASSERT_TRUE(ab.got == ab.data);
    ASSERT_TRUE(ba.got == ba.data);

    std::printf("[ pacing ] 9600 8N1: %.1f chars/s (nominal %.1f, %+.2f%%)\n", ab.rate(), rateAB,
                100.0 * (ab.rate() / rateAB - 1));
    std::printf("[ pacing ] 19200 7E2: %.1f chars/s (nominal %.1f, %+.2f%%)\n", ba.rate(), rateBA,
                100.0 * (ba.rate() / rateBA - 1));
    EXPECT_NEAR(ab.rate(), rateAB, 0.25 * rateAB);
    EXPECT_NEAR(ba.rate(), rateBA, 0.25 * rateBA);
}

// An explicit rate and frame size win over the port's settings: the only
// way to pace 8E1, which a pty reports as 8N1.
TEST(NullModemCable, ExplicitPacingOverridesThePort) {
    NullModemCable cable;
    cable.setPacing(Dir::AtoB, Pacing::at(4800, frameBits(8, true, 1)));
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);

    const double nominal = 4800.0 / 11;
    const size_t n = static_cast<size_t>(nominal * 0.7);
    Flow ab{&a, &b, model::randomStream(n, 7), n};
    transfer({&ab}, 5000);
    ASSERT_TRUE(ab.got == ab.data);
    std::printf("[ pacing ] 4800 8E1 (explicit): %.1f chars/s (nominal %.1f, %+.2f%%)\n", ab.rate(),
                nominal, 100.0 * (ab.rate() / nominal - 1));
    EXPECT_NEAR(ab.rate(), nominal, 0.25 * nominal);
}

model::Faults faultsNear(const std::vector<size_t>& offsets, size_t size, uint8_t seed) {
    model::Faults f;
    f.inserts[0] = {seed, 0xff};
    f.inserts[size] = {0x00, seed};
    int kind = seed;
    for (size_t at : offsets) {
        switch (kind++ % 3) {
            case 0:
                f.replace[at] = -1;
                break;
            case 1:
                f.replace[at] = static_cast<uint8_t>(at * 7 + seed);
                break;
            default:
                f.inserts[at] = {static_cast<uint8_t>(at), static_cast<uint8_t>(at >> 8), seed};
                break;
        }
    }
    return f;
}

void schedule(NullModemCable& cable, Dir dir, const model::Faults& f) {
    for (const auto& [at, bytes] : f.inserts)
        ASSERT_TRUE(cable.inject(dir, Injection::insert(at, bytes)));
    for (const auto& [at, to] : f.replace) {
        ASSERT_TRUE(cable.inject(
            dir, to < 0 ? Injection::drop(at) : Injection::change(at, static_cast<uint8_t>(to))));
    }
}

// Unpaced, a pty master hands out at most 4 KB per read, so faults around
// multiples of 4096 land on the edges of the cable's chunks.
TEST(NullModemCable, AppliesItsInjectionScheduleExactly) {
    NullModemCable cable;
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);
    const size_t n = 200 * 1024;
    const model::Faults fab =
        faultsNear({1, 4094, 4095, 4096, 4097, 8191, 65535, 65536, n - 1}, n, 1);
    const model::Faults fba = faultsNear({0, 2, 4095, 4096, 12288, 100000, 100001, n - 2}, n, 2);
    schedule(cable, Dir::AtoB, fab);
    schedule(cable, Dir::BtoA, fba);

    Flow ab{&a, &b, model::randomStream(n, 8), 0};
    Flow ba{&b, &a, model::randomStream(n, 9), 0};
    const Bytes wantAB = model::expected(ab.data, fab);
    const Bytes wantBA = model::expected(ba.data, fba);
    ab.want = wantAB.size();
    ba.want = wantBA.size();
    transfer({&ab, &ba}, 20000);
    EXPECT_TRUE(ab.got == wantAB) << ab.got.size() << " of " << wantAB.size() << " bytes";
    EXPECT_TRUE(ba.got == wantBA) << ba.got.size() << " of " << wantBA.size() << " bytes";
    EXPECT_EQ(settled([&] { return cable.taken(Dir::AtoB); }, n), n);
    EXPECT_EQ(settled([&] { return cable.delivered(Dir::AtoB); }, wantAB.size()), wantAB.size());
    EXPECT_EQ(b.readFor(50).size(), 0u) << "more arrived than the schedule allows";
}

// Paced at 115200 the cable moves 115 characters per 10 ms chunk.
TEST(NullModemCable, AppliesItsInjectionScheduleExactlyWhenPaced) {
    NullModemCable cable(Pacing::at(115200, 10));
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);
    const size_t n = 2500;
    const model::Faults fab = faultsNear({114, 115, 116, 229, 230, 1000, n - 1}, n, 3);
    const model::Faults fba = faultsNear({0, 115, 345, 346, 2000}, n, 4);
    schedule(cable, Dir::AtoB, fab);
    schedule(cable, Dir::BtoA, fba);

    Flow ab{&a, &b, model::randomStream(n, 10), 0};
    Flow ba{&b, &a, model::randomStream(n, 11), 0};
    const Bytes wantAB = model::expected(ab.data, fab);
    const Bytes wantBA = model::expected(ba.data, fba);
    ab.want = wantAB.size();
    ba.want = wantBA.size();
    transfer({&ab, &ba}, 10000);
    EXPECT_TRUE(ab.got == wantAB) << ab.got.size() << " of " << wantAB.size() << " bytes";
    EXPECT_TRUE(ba.got == wantBA) << ba.got.size() << " of " << wantBA.size() << " bytes";
}

TEST(NullModemCable, PauseHoldsOneDirectionUntilResumed) {
    NullModemCable cable;
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);
    cable.pause(Dir::AtoB);

    const size_t written = a.fill(0x5a, 4 * 1024 * 1024);
    EXPECT_GT(written, 4096u);
    EXPECT_LT(written, 4u * 1024 * 1024) << "the sender never blocked";
    EXPECT_EQ(b.readFor(100).size(), 0u);
    EXPECT_EQ(cable.delivered(Dir::AtoB), 0u);

    // The other direction still runs.
    Flow ba{&b, &a, model::randomStream(1000, 12), 1000};
    transfer({&ba}, 5000);
    EXPECT_TRUE(ba.got == ba.data);

    cable.resume(Dir::AtoB);
    Flow drain{&a, &b, {}, written};
    transfer({&drain}, 10000);
    EXPECT_EQ(drain.got, Bytes(written, 0x5a));
}

// Before the port under test sets its side up, the line must already be
// raw: a fresh pty would echo what arrives back down the cable, map CR to
// NL, swallow ^C and ^S, and hold bytes back until a newline.
TEST(NullModemCable, PortsFindARawLineBeforeTheySetItUp) {
    NullModemCable cable;
    Port a(cable.pathA()), b(cable.pathB());
    const Bytes controls = {'\r', 0x03, 0x13, 0x11, 0x7f, 0x04, 'x', 0x00, 0xff};
    ASSERT_EQ(write(a.fd(), controls.data(), controls.size()),
              static_cast<ssize_t>(controls.size()));
    EXPECT_EQ(b.readFor(100), controls);
    EXPECT_EQ(a.readFor(50).size(), 0u) << "echoed";
}

// A byte written the moment pause() has returned must stay put, even when
// the cable's thread was asleep waiting for data (the likeliest state).
TEST(NullModemCable, PauseTakesEffectBeforeItReturns) {
    NullModemCable cable;
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);
    for (int round = 0; round < 200; ++round) {
        cable.pause();
        const uint64_t before = cable.delivered(Dir::AtoB) + cable.delivered(Dir::BtoA);
        ASSERT_EQ(write(a.fd(), "a", 1), 1);
        ASSERT_EQ(write(b.fd(), "b", 1), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(cable.delivered(Dir::AtoB) + cable.delivered(Dir::BtoA), before)
            << "moved while paused, round " << round;
        cable.resume();
        Flow ab{&a, &b, {}, 1}, ba{&b, &a, {}, 1};
        transfer({&ab, &ba}, 2000);
        ASSERT_EQ(ab.got, Bytes{'a'});
        ASSERT_EQ(ba.got, Bytes{'b'});
    }
}

// The port under test may close and reopen its side; the cable holds the
// line up meanwhile, and what was sent waits for the reopened port.
TEST(NullModemCable, SurvivesAPortClosingAndReopening) {
    NullModemCable cable;
    Port a(cable.pathA()), b(cable.pathB());
    a.setLine(B115200);
    b.setLine(B115200);
    b.closeNow();
    ASSERT_EQ(write(a.fd(), "while closed", 12), 12);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    b.reopen();
    const Bytes got = b.readFor(100);
    EXPECT_EQ(std::string(got.begin(), got.end()), "while closed");
    ASSERT_EQ(write(b.fd(), "back", 4), 4);
    EXPECT_EQ(a.readFor(100), Bytes({'b', 'a', 'c', 'k'}));
    EXPECT_EQ(cable.error(Dir::AtoB), 0);
    EXPECT_EQ(cable.error(Dir::BtoA), 0);
}

TEST(NullModemCable, StopsPromptlyWithBytesInFlight) {
    const Clock::time_point start = Clock::now();
    {
        NullModemCable cable(Pacing::at(300, 10));  // 2 000 bytes take a minute
        Port a(cable.pathA()), b(cable.pathB());
        a.setLine(B300);
        b.setLine(B300);
        ASSERT_EQ(a.fill(0x11, 2000), 2000u);
        cable.pause(Dir::BtoA);
        ASSERT_EQ(b.fill(0x22, 2000), 2000u);
        b.readFor(100);
        ASSERT_LT(cable.taken(Dir::AtoB), 2000u) << "no longer in flight";
    }
    EXPECT_LT(secondsSince(start), 3.0);
}

TEST(LoopbackPlug, SendsEverythingBackIntactOrAsScheduled) {
    LoopbackPlug plug;
    Port p(plug.path());
    p.setLine(B115200);
    const size_t n = 100 * 1024;
    model::Faults faults;
    faults.replace[5000] = 0x42;
    faults.inserts[70000] = {1, 2, 3};
    ASSERT_TRUE(plug.inject(Injection::change(5000, 0x42)));
    ASSERT_TRUE(plug.inject(Injection::insert(70000, {1, 2, 3})));

    Flow loop{&p, &p, model::randomStream(n, 13), 0};
    const Bytes want = model::expected(loop.data, faults);
    loop.want = want.size();
    transfer({&loop}, 10000);
    EXPECT_TRUE(loop.got == want) << loop.got.size() << " of " << want.size() << " bytes";
    EXPECT_EQ(plug.taken(), n);
}

TEST(LoopbackPlug, PausesAndPacesLikeACable) {
    LoopbackPlug plug(Pacing::followPort());
    Port p(plug.path());
    p.setLine(B9600);
    plug.pause();
    ASSERT_EQ(write(p.fd(), "0123456789", 10), 10);
    EXPECT_EQ(p.readFor(100).size(), 0u);
    plug.resume();

    const Clock::time_point start = Clock::now();
    Flow loop{&p, &p, model::randomStream(480, 14), 490};  // half a second at 9600 8N1
    transfer({&loop}, 5000);
    ASSERT_EQ(loop.got.size(), 490u);
    EXPECT_EQ(Bytes(loop.got.begin(), loop.got.begin() + 10),
              Bytes({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
    EXPECT_TRUE(Bytes(loop.got.begin() + 10, loop.got.end()) == loop.data);
    EXPECT_GT(secondsSince(start), 0.3);
}

}  // namespace
}  // namespace demo
