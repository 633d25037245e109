#include "tester/demo/injection.h"

#include <algorithm>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/stream_model.h"

namespace demo {
namespace model = ::rig::model;
namespace {

std::vector<uint8_t> bytesOf(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::string textOf(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

std::string run(InjectionSchedule& schedule, const std::string& input) {
    std::vector<uint8_t> out;
    const auto in = bytesOf(input);
    schedule.apply(in.data(), in.size(), out);
    return textOf(out);
}

TEST(InjectionSchedule, DropsChangesAndInsertsAtSenderOffsets) {
    InjectionSchedule s;
    ASSERT_TRUE(s.add(Injection::drop(1)));
    ASSERT_TRUE(s.add(Injection::change(3, 'X')));
    ASSERT_TRUE(s.add(Injection::insert(5, bytesOf("12"))));
    EXPECT_EQ(run(s, "abcdefgh"), "acXe12fgh");
    EXPECT_EQ(s.position(), 8u);
    EXPECT_EQ(s.pending(), 0u);
}

TEST(InjectionSchedule, OffsetsCountTheSendersBytesNotTheDeliveredOnes) {
    InjectionSchedule s;
    ASSERT_TRUE(s.add(Injection::drop(0)));
    ASSERT_TRUE(s.add(Injection::drop(1)));
    ASSERT_TRUE(s.add(Injection::insert(2, bytesOf("<"))));
    ASSERT_TRUE(s.add(Injection::change(2, 'Z')));
    EXPECT_EQ(run(s, "abcd"), "<Zd");
}

TEST(InjectionSchedule, InsertsAtOneOffsetKeepTheirOrderAndPrecedeTheByte) {
    InjectionSchedule s;
    ASSERT_TRUE(s.add(Injection::insert(2, bytesOf("x"))));
    ASSERT_TRUE(s.add(Injection::drop(2)));
    ASSERT_TRUE(s.add(Injection::insert(2, bytesOf("yz"))));
    EXPECT_EQ(run(s, "abcd"), "abxyzd");
}

TEST(InjectionSchedule, DueInsertsGoOutWithoutWaitingForTheNextByte) {
    InjectionSchedule s;
    ASSERT_TRUE(s.add(Injection::insert(0, bytesOf("hello"))));
    ASSERT_TRUE(s.add(Injection::insert(3, bytesOf("!"))));
    std::vector<uint8_t> out;
    s.apply(nullptr, 0, out);
    EXPECT_EQ(textOf(out), "hello");
    EXPECT_EQ(run(s, "abc"), "abc!");  // the sender stops after byte 2

    // A drop or change waits for its byte; an insert added at the current
    // position still goes out on the next pass.
    ASSERT_TRUE(s.add(Injection::change(3, 'Q')));
    ASSERT_TRUE(s.add(Injection::insert(3, bytesOf("+"))));
    out.clear();
    s.apply(nullptr, 0, out);
    EXPECT_EQ(textOf(out), "+");
    EXPECT_EQ(s.pending(), 1u);
    EXPECT_EQ(run(s, "d"), "Q");
}

TEST(InjectionSchedule, RefusesPlacesThatPassedOrAreTaken) {
    InjectionSchedule s;
    EXPECT_EQ(run(s, "abcde"), "abcde");
    EXPECT_FALSE(s.add(Injection::drop(4)));
    EXPECT_FALSE(s.add(Injection::insert(4, bytesOf("x"))));
    EXPECT_TRUE(s.add(Injection::drop(5)));
    EXPECT_FALSE(s.add(Injection::change(5, 'y')));  // one drop or change per byte
    EXPECT_FALSE(s.add(Injection::drop(5)));
    EXPECT_TRUE(s.add(Injection::insert(5, bytesOf("x"))));
    EXPECT_FALSE(s.add(Injection::insert(6, {})));
    EXPECT_FALSE(s.add({Injection::Kind::Change, 7, {1, 2}}));
    EXPECT_EQ(s.pending(), 2u);
    EXPECT_EQ(run(s, "fg"), "xg");
}

// Whatever the chunks a stream arrives in, the receiver gets the same bytes:
// the cable reads in pieces that fall anywhere relative to the faults.
TEST(InjectionSchedule, ResultDoesNotDependOnHowTheStreamIsSplit) {
    const std::vector<uint8_t> sent = model::randomStream(600, 7);
    model::Faults faults;
    faults.inserts[0] = {0xff, 0x00};
    faults.inserts[299] = {1, 2, 3};
    faults.inserts[300] = {4};
    faults.inserts[600] = {0xaa};
    faults.replace[0] = -1;
    faults.replace[1] = 0x55;
    faults.replace[298] = -1;
    faults.replace[299] = -1;
    faults.replace[300] = 0x00;
    faults.replace[599] = 0xff;
    const std::vector<uint8_t> want = model::expected(sent, faults);

    auto schedule = [&] {
        InjectionSchedule s;
        for (const auto& [offset, bytes] : faults.inserts)
            s.add(Injection::insert(offset, bytes));
        for (const auto& [offset, to] : faults.replace) {
            s.add(to < 0 ? Injection::drop(offset)
                         : Injection::change(offset, static_cast<uint8_t>(to)));
        }
        return s;
    };

    for (size_t cut = 0; cut <= sent.size(); ++cut) {
        InjectionSchedule s = schedule();
        std::vector<uint8_t> out;
        s.apply(nullptr, 0, out);
        s.apply(sent.data(), cut, out);
        s.apply(sent.data() + cut, sent.size() - cut, out);
        ASSERT_EQ(out, want) << "split at " << cut;
    }

    std::mt19937 gen(11);
    for (int round = 0; round < 50; ++round) {
        InjectionSchedule s = schedule();
        std::vector<uint8_t> out;
        s.apply(nullptr, 0, out);
        size_t at = 0;
        while (at < sent.size()) {
            const size_t n = std::min<size_t>(sent.size() - at, gen() % 9);
            s.apply(sent.data() + at, n, out);
            at += n;
        }
        ASSERT_EQ(out, want) << "round " << round;
        EXPECT_EQ(s.pending(), 0u);
    }
}

}  // namespace
}  // namespace demo
