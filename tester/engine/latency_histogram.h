// The round-trip times of a half-duplex master: for every block, the time
// from its send to its complete, correct echo, kept as counts in a fixed
// table of buckets, so that the reports can give percentiles rather than an
// average that hides the slow replies.
//
// Times are microseconds from a steady clock (the 32-bit millisecond tick
// is too coarse for a block that returns in a few milliseconds). Below
// 128 us every microsecond has a bucket of its own; above, each power of
// two is cut into 64 equal buckets, so a bucket is at most 1/64 of its
// lower bound wide and a percentile, given as its bucket's middle, is
// within 0.8% of the true value. Times of 2^36 us (19 hours) and more share
// the last bucket; the smallest and the largest time are kept exactly.
//
// The table is part of the object (about 16 KB): nothing is allocated when
// a time is recorded. One thread records (the master's TxThread); any
// thread may read or reset, all with relaxed atomics. A reset while a
// time is being recorded may keep or lose that one time; Summarise stays
// consistent either way (it counts the buckets, and an exact smallest or
// largest time that no longer matches its bucket gives way to the
// bucket's bound).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct LatencySummary {
    uint64_t count = 0;  // times recorded; the others are 0 when none
    uint64_t minUs = 0;
    uint64_t p50Us = 0;
    uint64_t p99Us = 0;
    uint64_t maxUs = 0;
};

class LatencyHistogram {
  public:
    static constexpr uint32_t kSubBits = 6;                 // 64 buckets per power of two
    static constexpr uint64_t kPerOctave = 1u << kSubBits;  // 64
    static constexpr uint64_t kExact = 2 * kPerOctave;      // below: one bucket per us
    static constexpr uint32_t kTopBit = 35;                 // the highest bit with buckets
    static constexpr uint64_t kLimitUs = uint64_t{1} << (kTopBit + 1);
    static constexpr size_t kBuckets = kExact + (kTopBit - kSubBits) * kPerOctave;

    LatencyHistogram() { Reset(); }
    LatencyHistogram(const LatencyHistogram&) = delete;
    LatencyHistogram& operator=(const LatencyHistogram&) = delete;

    // One round trip of `us` microseconds. The recording thread's alone.
    void Record(uint64_t us);

    // Forgets every time recorded.
    void Reset();

    // Count, smallest, median (p50), p99 and largest. A percentile is the
    // nearest rank's time (the smallest time that at least that share of
    // the round trips did not exceed), given as its bucket's middle and
    // kept between the smallest and the largest.
    LatencySummary Summarise() const;

    // The bucket of `us`, and the first time and the width of bucket `i`
    // (for the tests and for anyone reading the table).
    static size_t BucketOf(uint64_t us);
    static uint64_t BucketLow(size_t i);
    static uint64_t BucketWidth(size_t i);

  private:
    std::atomic<uint64_t> counts_[kBuckets];
    std::atomic<uint64_t> minUs_;
    std::atomic<uint64_t> maxUs_;
};
