// The block check alone, on 1024- and 64000-byte blocks:
// - clean: the tag at 0, the number in sequence, the payload compared;
// - realigning, the next tag late in the buffer (300 bytes from its end):
//   the tag search runs over most of the block;
// - realigning, the next tag early (300 bytes in): the rest of the block
//   is moved to the front;
// - no tag: a block of noise, searched end to end.
// A check changes the buffer, so every iteration first restores it; the
// "refill" line is that copy alone, to be taken off the others.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "tester/engine/test_block.h"

namespace {

struct Buffers {
    explicit Buffers(uint32_t size) : size(size), line(2 * size), rx(kBlockBufferSize) {
        std::vector<uint8_t> block(kBlockBufferSize);
        pattern = MakeBlockPattern(8);
        BuildTestBlock(block.data(), pattern);
        StampBlock(block.data(), 41);
        std::memcpy(line.data(), block.data(), size);
        StampBlock(block.data(), 42);
        std::memcpy(line.data() + size, block.data(), size);
    }
    uint32_t size;
    std::vector<uint8_t> line;  // blocks 41 and 42
    std::vector<uint8_t> rx;
    BlockPattern pattern;
};

void Run(benchmark::State& st, uint32_t offset, bool noise, bool check) {
    Buffers b(static_cast<uint32_t>(st.range(0)));
    if (noise) std::memset(b.line.data(), 'x', b.line.size());
    for (auto _ : st) {
        std::memcpy(b.rx.data(), b.line.data() + offset, b.size);
        if (!check) {
            benchmark::ClobberMemory();
            continue;
        }
        ReceiveState s{b.rx.data(), b.size, b.size, 41};
        CheckResult r = CheckBlock(s, b.pattern);
        benchmark::DoNotOptimize(r);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * b.size);
}

void Clean(benchmark::State& st) {
    Run(st, static_cast<uint32_t>(st.range(0)), false, true);  // block 42, in sequence
}
void RealignLateTag(benchmark::State& st) {
    Run(st, 300, false, true);
}
void RealignEarlyTag(benchmark::State& st) {
    Run(st, static_cast<uint32_t>(st.range(0)) - 300, false, true);
}
void NoTag(benchmark::State& st) {
    Run(st, 0, true, true);
}
void Refill(benchmark::State& st) {
    Run(st, 0, false, false);
}

void FindTagNoTag(benchmark::State& st) {
    std::vector<uint8_t> noise(static_cast<size_t>(st.range(0)));
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(i);  // the pattern
    const auto* tag = reinterpret_cast<const uint8_t*>(blockTag);
    for (auto _ : st) {
        int32_t at = FindTag(tag, kTagLength, noise.data(), static_cast<uint32_t>(noise.size()));
        benchmark::DoNotOptimize(at);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * st.range(0));
}

BENCHMARK(Clean)->Arg(1024)->Arg(64000);
BENCHMARK(RealignLateTag)->Arg(1024)->Arg(64000);
BENCHMARK(RealignEarlyTag)->Arg(1024)->Arg(64000);
BENCHMARK(NoTag)->Arg(1024)->Arg(64000);
BENCHMARK(Refill)->Arg(1024)->Arg(64000);
BENCHMARK(FindTagNoTag)->Arg(1024)->Arg(64000);

}  // namespace

BENCHMARK_MAIN();
