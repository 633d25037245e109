// The cable inside the program that carries the demo's network pairs on
// Windows, read and written the way the device server does: it waits on
// the end's wake-up and due time (Prepare, WaitAny), then reads or writes
// without blocking. Built for both platforms, so the Winsock wake-ups run
// under Wine.
#include "tester/demo/memory_cable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
constexpr int kLongMs = 20000;  // catches hangs, not timing

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Waits as the server does for `line`, at most until `deadline`.
void AwaitLine(demo::DeviceLine& line, bool wantWrite, Clock::time_point deadline) {
    demo::Watch watch;
    int64_t dueNs = -1;
    line.Prepare(wantWrite, watch, dueNs);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    int64_t timeoutMs = left > 0 ? left : 0;
    if (dueNs >= 0) timeoutMs = std::min<int64_t>(timeoutMs, (dueNs - NowNs() + 999999) / 1000000);
    ASSERT_TRUE(demo::WaitAny(&watch, 1, static_cast<int>(std::max<int64_t>(0, timeoutMs))));
}

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + seed);
    return bytes;
}

// Writes `bytes` into `from` as room comes, on a thread of its own, and
// reads at `to` until they are all there; the seconds it took.
double Carry(demo::DeviceLine& from, demo::DeviceLine& to, const Bytes& bytes, Bytes& got) {
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds(kLongMs);
    std::thread writer([&] {
        for (size_t at = 0; at < bytes.size() && Clock::now() < deadline;) {
            const long n = from.Write(bytes.data() + at, bytes.size() - at);
            EXPECT_GE(n, 0);
            if (n > 0) at += static_cast<size_t>(n);
            if (at < bytes.size()) AwaitLine(from, true, deadline);
        }
    });
    uint8_t buffer[1500];
    while (got.size() < bytes.size() && Clock::now() < deadline) {
        AwaitLine(to, false, deadline);
        const long n = to.Read(buffer, sizeof buffer);
        EXPECT_GE(n, 0);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    writer.join();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Each way at its sender's pace: never faster than the line (a chunk may
// arrive up to a quantum early), every byte in order, and a writer finds no
// room beyond the line's buffer.
TEST(MemoryCable, CarriesEveryByteInOrderAtItsSendersPace) {
    auto cable = demo::MakeMemoryCable(115200);
    demo::DeviceLine& a = *cable.first;
    demo::DeviceLine& b = *cable.second;
    b.SetSpeed(57600);
    b.SetStopBits(2);

    const Bytes there = Pattern(23040, 1);  // 2.0 s at 115200, 10 bits a character
    const Bytes back = Pattern(5760, 2);    // 1.1 s at 57600, 11 bits a character
    Bytes gotThere, gotBack;
    double backSeconds = 0;
    std::thread backward([&] { backSeconds = Carry(b, a, back, gotBack); });
    const double thereSeconds = Carry(a, b, there, gotThere);
    backward.join();
    EXPECT_TRUE(gotThere == there) << gotThere.size() << " bytes";
    EXPECT_TRUE(gotBack == back) << gotBack.size() << " bytes";
    EXPECT_GE(thereSeconds, 2.0 - 0.02);
    EXPECT_GE(backSeconds, 1.1 - 0.02);

    const Bytes many = Pattern(3 * demo::kLineBuffer, 3);
    const long taken = a.Write(many.data(), many.size());
    EXPECT_GE(taken, static_cast<long>(demo::kLineBuffer));
    EXPECT_LT(taken, static_cast<long>(2 * demo::kLineBuffer)) << "the buffer and a chunk at most";
}

// PURGE-DATA: what waits to go is dropped, what arrived unread too; what
// is already on the line still arrives.
TEST(MemoryCable, APurgeDropsWhatWaitsAndWhatArrivedUnread) {
    auto cable = demo::MakeMemoryCable(9600);  // a chunk of 10 ms is 9 characters
    demo::DeviceLine& a = *cable.first;
    demo::DeviceLine& b = *cable.second;
    const Bytes bytes = Pattern(2000, 4);
    ASSERT_EQ(a.Write(bytes.data(), bytes.size()), 2000);
    a.Purge(false, true);
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(200);
    uint8_t buffer[4096];
    while (Clock::now() < deadline) {
        AwaitLine(b, false, deadline);
        const long n = b.Read(buffer, sizeof buffer);
        if (n > 0) got.insert(got.end(), buffer, buffer + n);
    }
    EXPECT_FALSE(got.empty()) << "the first chunk had left";
    EXPECT_LT(got.size(), 100u);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin()));

    // An idle line takes its first chunk at once: it has arrived, unread.
    ASSERT_EQ(b.Write(bytes.data(), 9), 9);
    demo::Watch watch;
    int64_t dueNs = -1;
    a.Prepare(false, watch, dueNs);
    EXPECT_TRUE(dueNs >= 0 && dueNs <= NowNs()) << "something to read now";
    a.Purge(true, false);
    EXPECT_EQ(a.Read(buffer, sizeof buffer), 0);
    dueNs = -1;
    a.Prepare(false, watch, dueNs);
    EXPECT_EQ(dueNs, -1) << "nothing more to come";
}

}  // namespace
