#include "tester/engine/latency_histogram.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// The table is large; the tests keep theirs off the stack.
std::unique_ptr<LatencyHistogram> Fresh() {
    return std::make_unique<LatencyHistogram>();
}

TEST(LatencyHistogram, BucketsTileEveryTimeWithinOneSixtyFourthOfIt) {
    using H = LatencyHistogram;
    EXPECT_EQ(H::BucketLow(0), 0u);
    for (size_t i = 0; i + 1 < H::kBuckets; ++i) {
        const uint64_t low = H::BucketLow(i);
        const uint64_t width = H::BucketWidth(i);
        ASSERT_EQ(H::BucketLow(i + 1), low + width) << "a gap or an overlap after bucket " << i;
        ASSERT_EQ(H::BucketOf(low), i);
        ASSERT_EQ(H::BucketOf(low + width - 1), i);
        if (i >= H::kExact) {
            ASSERT_LE(width * 64, low) << i;
        }
    }
    EXPECT_EQ(H::BucketLow(H::kBuckets - 1) + H::BucketWidth(H::kBuckets - 1), H::kLimitUs);
    EXPECT_EQ(H::BucketOf(H::kLimitUs), H::kBuckets - 1);
    EXPECT_EQ(H::BucketOf(UINT64_MAX), H::kBuckets - 1);
}

TEST(LatencyHistogram, SummaryOfKnownTimes) {
    auto h = Fresh();
    EXPECT_EQ(h->Summarise().count, 0u);
    EXPECT_EQ(h->Summarise().maxUs, 0u);

    // Below 128 us every time is exact.
    for (uint64_t us : {30, 10, 20})
        h->Record(us);
    LatencySummary s = h->Summarise();
    EXPECT_EQ(s.count, 3u);
    EXPECT_EQ(s.minUs, 10u);
    EXPECT_EQ(s.p50Us, 20u);
    EXPECT_EQ(s.p99Us, 30u);
    EXPECT_EQ(s.maxUs, 30u);

    // 1 ms, 2 ms ... 100 ms: the median is 50 ms and p99 99 ms, each within
    // its bucket's half width; the ends are exact.
    h->Reset();
    EXPECT_EQ(h->Summarise().count, 0u);
    for (uint64_t ms = 100; ms >= 1; --ms)
        h->Record(ms * 1000);
    s = h->Summarise();
    EXPECT_EQ(s.count, 100u);
    EXPECT_EQ(s.minUs, 1000u);
    EXPECT_EQ(s.maxUs, 100000u);
    EXPECT_NEAR(static_cast<double>(s.p50Us), 50000.0, 50000.0 / 128);
    EXPECT_NEAR(static_cast<double>(s.p99Us), 99000.0, 99000.0 / 128);

    // The nearest rank: of 1000 round trips, 11 slow ones make p99 slow,
    // 10 do not.
    for (uint64_t slow : {10, 11}) {
        h->Reset();
        for (uint64_t i = 0; i < 1000 - slow; ++i)
            h->Record(2000);
        for (uint64_t i = 0; i < slow; ++i)
            h->Record(500000);
        s = h->Summarise();
        EXPECT_EQ(s.count, 1000u);
        EXPECT_NEAR(static_cast<double>(s.p50Us), 2000.0, 2000.0 / 128);
        if (slow == 11) {
            EXPECT_NEAR(static_cast<double>(s.p99Us), 500000.0, 500000.0 / 128);
        } else {
            EXPECT_NEAR(static_cast<double>(s.p99Us), 2000.0, 2000.0 / 128);
        }
        EXPECT_EQ(s.maxUs, 500000u);
    }

    // A reply that took a day still counts, at its exact time.
    h->Reset();
    h->Record(86400ull * 1000000);
    s = h->Summarise();
    EXPECT_EQ(s.count, 1u);
    EXPECT_EQ(s.minUs, 86400ull * 1000000);
    EXPECT_EQ(s.p99Us, 86400ull * 1000000);
}

}  // namespace
