#include "tester/engine/latency_histogram.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint64_t kNone = UINT64_MAX;  // minUs_ while nothing is recorded

uint32_t HighBit(uint64_t v) {
    uint32_t bit = 0;
    while (v >>= 1)
        ++bit;
    return bit;
}

}  // namespace

size_t LatencyHistogram::BucketOf(uint64_t us) {
    if (us >= kLimitUs) return kBuckets - 1;
    if (us < kExact) return static_cast<size_t>(us);
    const uint32_t bit = HighBit(us);  // kSubBits + 1 .. kTopBit
    const uint64_t sub = (us >> (bit - kSubBits)) - kPerOctave;
    return static_cast<size_t>(kExact + (bit - kSubBits - 1) * kPerOctave + sub);
}

uint64_t LatencyHistogram::BucketLow(size_t i) {
    if (i < kExact) return i;
    const uint64_t octave = (i - kExact) / kPerOctave;
    const uint64_t sub = (i - kExact) % kPerOctave;
    return (kPerOctave + sub) << (octave + 1);
}

uint64_t LatencyHistogram::BucketWidth(size_t i) {
    if (i < kExact) return 1;
    return uint64_t{1} << ((i - kExact) / kPerOctave + 1);
}

void LatencyHistogram::Record(uint64_t us) {
    counts_[BucketOf(us)].fetch_add(1, kRelaxed);
    if (us < minUs_.load(kRelaxed)) minUs_.store(us, kRelaxed);
    if (us > maxUs_.load(kRelaxed)) maxUs_.store(us, kRelaxed);
}

void LatencyHistogram::Reset() {
    for (std::atomic<uint64_t>& count : counts_)
        count.store(0, kRelaxed);
    minUs_.store(kNone, kRelaxed);
    maxUs_.store(0, kRelaxed);
}

LatencySummary LatencyHistogram::Summarise() const {
    // One pass takes the counts; everything else is made from that copy.
    static_assert(kBuckets < 4096, "the copy lives on the stack");
    uint64_t counts[kBuckets];
    LatencySummary s;
    size_t lowest = kBuckets, highest = 0;
    for (size_t i = 0; i < kBuckets; ++i) {
        counts[i] = counts_[i].load(kRelaxed);
        if (counts[i] == 0) continue;
        s.count += counts[i];
        if (lowest == kBuckets) lowest = i;
        highest = i;
    }
    if (s.count == 0) return s;

    const uint64_t exactMin = minUs_.load(kRelaxed);
    const uint64_t exactMax = maxUs_.load(kRelaxed);
    s.minUs = BucketOf(exactMin) == lowest ? exactMin : BucketLow(lowest);
    s.maxUs =
        BucketOf(exactMax) == highest ? exactMax : BucketLow(highest) + BucketWidth(highest) - 1;

    auto at = [&](uint64_t percent) {
        // The nearest rank: the smallest r with r >= count x percent / 100.
        uint64_t rank = (s.count * percent + 99) / 100;
        if (rank == 0) rank = 1;
        uint64_t seen = 0;
        size_t i = lowest;
        for (; i < highest; ++i) {
            seen += counts[i];
            if (seen >= rank) break;
        }
        uint64_t value = BucketLow(i) + BucketWidth(i) / 2;
        if (value < s.minUs) value = s.minUs;
        if (value > s.maxUs) value = s.maxUs;
        return value;
    };
    s.p50Us = at(50);
    s.p99Us = at(99);
    return s;
}
