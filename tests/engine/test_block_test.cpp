// The test block, the tag search and the block check on byte strings: no
// thread, no port. The streams are real test blocks; the reader below asks
// for blockSize - rxFill bytes at a time and checks each full block, as the
// worker's DuplexReader does, in chunks of random size, since a read may
// return anything from one byte up.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tester/engine/port_worker.h"
#include "tester/engine/test_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

// `count` blocks from number `first` on, as the sender puts them on the
// line.
Bytes Blocks(uint32_t first, uint32_t count, uint32_t size, uint32_t byteSize = 8) {
    Bytes block(kBlockBufferSize);
    BuildTestBlock(block.data(), MakeBlockPattern(byteSize));
    Bytes line;
    for (uint32_t i = 0, n = first; i < count; ++i, n = NextSequence(n)) {
        StampBlock(block.data(), n);
        line.insert(line.end(), block.begin(), block.begin() + size);
    }
    return line;
}

struct Reader {
    explicit Reader(uint32_t size, uint32_t byteSize = 8, unsigned seed = 1)
        : buffer(kBlockBufferSize), pattern(MakeBlockPattern(byteSize)), rng(seed) {
        state = {buffer.data(), size, 0, -1};
    }

    void Feed(const Bytes& line) {
        for (size_t at = 0; at < line.size();) {
            const uint32_t want = state.blockSize - state.rxFill;
            std::uniform_int_distribution<uint32_t> pick(1, want);
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(pick(rng), line.size() - at));
            std::memcpy(buffer.data() + state.rxFill, line.data() + at, n);
            at += n;
            state.rxFill += n;
            if (state.rxFill < state.blockSize) continue;
            const CheckResult r = CheckBlock(state, pattern);
            ASSERT_LT(state.rxFill, state.blockSize) << "a check must consume bytes";
            errors += r.errors;
            ok += r.pass ? 1 : 0;
            lost += r.lost;
        }
    }

    Bytes buffer;
    BlockPattern pattern;
    std::mt19937 rng;
    ReceiveState state;
    uint32_t errors = 0;
    uint32_t ok = 0;
    uint32_t lost = 0;
};

constexpr uint32_t B = 1024;  // its last pattern byte, k = 1007, is 0xEF: no '['

TEST(TestBlock, PatternAvoidsXonXoffAndKeepsToTheDataBits) {
    for (uint32_t bits = 5; bits <= 8; ++bits) {
        const uint32_t mask = (1u << bits) - 1;
        const BlockPattern p = MakeBlockPattern(bits);
        for (uint32_t k = 0; k < 256; ++k) {
            const uint32_t v = k & mask;
            const uint32_t want = v == 0x11 ? 0x12 : v == 0x13 ? 0x14 : v;
            EXPECT_EQ(p.period[k], want) << bits << " bits, k " << k;
        }
    }
    // Seven bits run 00..7F twice per period.
    const BlockPattern seven = MakeBlockPattern(7);
    EXPECT_EQ(0, std::memcmp(seven.period, seven.period + 128, 128));
    EXPECT_EQ(seven.period[127], 0x7F);
}

TEST(TestBlock, BuildsHeaderPatternAndZeroTail) {
    Bytes block(kBlockBufferSize, 0xEE);
    BuildTestBlock(block.data(), MakeBlockPattern(8));
    EXPECT_EQ(0, std::memcmp(block.data(),
                             "[VESK]\0"
                             "00000000\0",
                             16));
    EXPECT_EQ(block[16], 0x00);
    EXPECT_EQ(block[16 + 0x11], 0x12);
    EXPECT_EQ(block[16 + 0x13], 0x14);
    EXPECT_EQ(block[16 + 256 + 0xFF], 0xFF);
    EXPECT_EQ(block[63999], (63999 - 16) % 256);
    EXPECT_TRUE(std::all_of(block.begin() + 64000, block.end(), [](uint8_t b) { return b == 0; }));
}

TEST(TestBlock, StampsAtLeastEightDigitsThenRunsIntoThePayload) {
    Bytes block(kBlockBufferSize);
    BuildTestBlock(block.data(), MakeBlockPattern(8));
    StampBlock(block.data(), 42);
    EXPECT_EQ(0, std::memcmp(block.data() + 7, "00000042\0\0\x01", 11));
    StampBlock(block.data(), 123456789);
    EXPECT_EQ(0, std::memcmp(block.data() + 7, "123456789\0\x01", 11));
    StampBlock(block.data(), 4294967295u);
    EXPECT_EQ(0, std::memcmp(block.data() + 7, "4294967295\0", 11));
}

TEST(FindTag, AgreesWithAPlainSearchOnRandomText) {
    const auto* tag = reinterpret_cast<const uint8_t*>(blockTag);
    std::mt19937 rng(7);
    const char alphabet[] = "[VESK]\0x";
    for (int round = 0; round < 3000; ++round) {
        Bytes text(rng() % 40);
        for (auto& b : text)
            b = static_cast<uint8_t>(alphabet[rng() % 8]);
        for (uint32_t len : {kTagLength, kTagWithZeroLength}) {
            auto it = std::search(text.begin(), text.end(), tag, tag + len);
            const int32_t want = it == text.end() ? -1 : static_cast<int32_t>(it - text.begin());
            ASSERT_EQ(FindTag(tag, len, text.data(), static_cast<uint32_t>(text.size())), want);
        }
    }
}

TEST(FindTag, NeedsTheWholeTagInsideTheRange) {
    const auto* tag = reinterpret_cast<const uint8_t*>(blockTag);
    const Bytes text = {'x', '[', 'V', 'E', 'S', 'K', ']'};
    EXPECT_EQ(FindTag(tag, 6, text.data(), 7), 1);
    EXPECT_EQ(FindTag(tag, 6, text.data(), 6), -1);  // cut off by the range's end
    EXPECT_EQ(FindTag(tag, 7, text.data(), 7), -1);  // no zero after it
    EXPECT_EQ(FindTag(tag, 6, text.data(), 3), -1);  // range shorter than the tag
}

TEST(ReadSequence, ReadsLikeTheNumberRuleAndWraps) {
    auto read = [](const char* s, uint32_t n) {
        return ReadSequence(reinterpret_cast<const uint8_t*>(s), n);
    };
    EXPECT_EQ(read("00000042", 9), 42);
    EXPECT_EQ(read(" \t+17x9", 7), 17);
    EXPECT_EQ(read("-5", 2), -5);
    EXPECT_EQ(read("12345", 3), 123);  // never past the block's end
    EXPECT_EQ(read("4294967295", 10), -1);
    EXPECT_EQ(read("4294967296", 10), 0);
    EXPECT_EQ(read("x1", 2), 0);
}

// Past the last number the next is 0, on both ends: no error, nothing
// lost, and the ninth digit never reaches the payload's compared bytes.
TEST(CheckBlock, NumbersStartAgainAfterTheLastWithoutAnError) {
    EXPECT_EQ(NextSequence(kSequenceLimit - 1), 0u);
    Reader r(B);
    r.state.lastRxSeq = static_cast<int32_t>(kSequenceLimit - 101);
    r.Feed(Blocks(kSequenceLimit - 100, 200, B));
    EXPECT_EQ(r.errors, 0u);
    EXPECT_EQ(r.ok, 200u);
    EXPECT_EQ(r.lost, 0u);
    EXPECT_EQ(r.state.lastRxSeq, 99);
    // A block lost right at the turn is one lost block, not a billion.
    Bytes line = Blocks(kSequenceLimit - 3, 6, B);
    line.erase(line.begin() + 2 * B, line.begin() + 3 * B);  // kSequenceLimit - 1
    Reader gap(B);
    gap.state.lastRxSeq = static_cast<int32_t>(kSequenceLimit - 4);
    gap.Feed(line);
    EXPECT_EQ(gap.errors, 1u);
    EXPECT_EQ(gap.lost, 1u);
}

TEST(CheckBlock, CleanStreamPassesEveryBlockInAnyChunking) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        Reader r(B, 8, seed);
        r.Feed(Blocks(0, 200, B));
        EXPECT_EQ(r.ok, 200u);
        EXPECT_EQ(r.errors, 0u);
        EXPECT_EQ(r.state.lastRxSeq, 199);
    }
}

// Each fault is in block 5 of blocks 0..39 and the reader started with
// lastRxSeq -1. The counts, worked out from the check's steps:
struct Fault {
    const char* name;
    void (*apply)(Bytes&);
    uint32_t errors;
    uint32_t ok;
    uint32_t lost = 0;
};

const Fault kFaults[] = {
    // Block 5 is whole but one payload byte differs: tag at 0, sequence
    // follows, payload differs (1). No further tag; its last byte (0xEF)
    // starts no tag, so nothing is kept and block 6 arrives aligned.
    {"changed payload byte", [](Bytes& s) { s[5 * B + 100] ^= 0x40; }, 1, 39},
    // Block 5 lacks a byte, so its buffer ends with block 6's "[":
    // payload differs (1); no whole tag-and-zero follows; the "[" is kept,
    // and with the next 1023 bytes block 6 is complete and in sequence.
    {"dropped byte", [](Bytes& s) { s.erase(s.begin() + 5 * B + 100); }, 1, 39},
    // Block 5's buffer has one byte too many and lacks its last: payload
    // differs (1), nothing kept. The next buffer is that last byte and
    // 1023 bytes of block 6: tag at 1 (1), realigned, block 6 passes.
    {"inserted byte", [](Bytes& s) { s.insert(s.begin() + 5 * B + 100, 0xAA); }, 2, 39},
    // 50 bytes of garbage inside block 5: as an insert, the payload (1),
    // then block 6's tag at 50 (1).
    {"garbage inside a block",
     [](Bytes& s) { s.insert(s.begin() + 5 * B + 500, 50, uint8_t{0xAA}); }, 2, 39},
    // 50 bytes of garbage between blocks 4 and 5: block 5's tag at 50 (1),
    // realigned, block 5 passes in sequence. No block lost.
    {"garbage between blocks", [](Bytes& s) { s.insert(s.begin() + 5 * B, 50, uint8_t{0xAA}); }, 1,
     40},
    // Block 5 never arrives: block 6 is whole, its number does not follow
    // 4 (1), its payload passes.
    {"lost block", [](Bytes& s) { s.erase(s.begin() + 5 * B, s.begin() + 6 * B); }, 1, 39, 1},
    // Blocks 5 to 9 never arrive: one error, five lost.
    {"lost run", [](Bytes& s) { s.erase(s.begin() + 5 * B, s.begin() + 10 * B); }, 1, 35, 5},
    // The reader comes in at byte 300 of block 2: tag of block 3 at 724
    // (1); block 3 then passes its payload but does not follow -1 (1).
    {"start in mid-block", [](Bytes& s) { s.erase(s.begin(), s.begin() + 2 * B + 300); }, 2, 37},
};

TEST(CheckBlock, EachFaultCostsItsCountAndRecovers) {
    for (const Fault& f : kFaults) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            Bytes line = Blocks(0, 40, B);
            f.apply(line);
            Reader r(B, 8, seed);
            r.Feed(line);
            EXPECT_EQ(r.errors, f.errors) << f.name;
            EXPECT_EQ(r.ok, f.ok) << f.name;
            EXPECT_EQ(r.lost, f.lost) << f.name;
            EXPECT_EQ(r.state.rxFill, 0u) << f.name << ": the stream ends on a block boundary";
            EXPECT_EQ(r.state.lastRxSeq, 39) << f.name;
        }
    }
}

TEST(CheckBlock, PayloadErrorRealignsOnATagFurtherOn) {
    // Blocks 0 and 1 with the second half of block 0 lost: the buffer holds
    // half of block 0 and half of block 1. Payload differs (1); block 1's
    // tag-and-zero at 512 is kept from; block 1 completes and passes.
    Bytes line = Blocks(0, 3, B);
    line.erase(line.begin() + 512, line.begin() + 1024);
    Reader r(B);
    r.Feed(line);
    EXPECT_EQ(r.errors, 1u);
    EXPECT_EQ(r.ok, 2u);
}

TEST(CheckBlock, NoTagAtAllKeepsTheLastFiveBytes) {
    Reader r(64);
    Bytes noise(64, 'x');
    noise[60] = '[';
    noise[61] = 'V';
    r.Feed(noise);
    EXPECT_EQ(r.errors, 1u);
    ASSERT_EQ(r.state.rxFill, 5u);
    EXPECT_EQ(0, std::memcmp(r.buffer.data(), "x[Vxx", 5));
}

TEST(CheckBlock, BlockEndingInABracketCostsOneMoreForAChangedByte) {
    // With 364-byte blocks the last pattern byte (k = 347 = 256 + 91) is
    // '[', which the check cannot tell from a cut-off next tag: it is kept.
    // The next buffer is "[" and 363 bytes of block 6, tag at 1 (1 more).
    // A dropped byte, which keeping exists for, still costs only 1.
    const uint32_t size = 364;
    Bytes changed = Blocks(0, 20, size);
    changed[5 * size + 100] ^= 0x40;
    Reader r(size);
    r.Feed(changed);
    EXPECT_EQ(r.errors, 2u);
    EXPECT_EQ(r.ok, 19u);

    Bytes dropped = Blocks(0, 20, size);
    dropped.erase(dropped.begin() + 5 * size + 100);
    Reader d(size);
    d.Feed(dropped);
    EXPECT_EQ(d.errors, 1u);
    EXPECT_EQ(d.ok, 19u);
}

TEST(CheckBlock, AnyCorruptionEndsInCleanBlocks) {
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        Bytes line = Blocks(0, 12, 64);
        for (int edits = 1 + rng() % 4; edits > 0; --edits) {
            const size_t at = rng() % (6 * 64);
            switch (rng() % 3) {
                case 0:
                    line[at] = static_cast<uint8_t>(rng());
                    break;
                case 1:
                    line.erase(line.begin() + at);
                    break;
                default:
                    line.insert(line.begin() + at, static_cast<uint8_t>(rng()));
            }
        }
        Reader r(64, 8, static_cast<unsigned>(round));
        r.Feed(line);
        // Blocks 8..11 are untouched: once the reader is back in step, the
        // last of them passes in sequence.
        EXPECT_EQ(r.state.lastRxSeq, 11) << round;
        EXPECT_EQ(r.state.rxFill, 0u) << round;
    }
}

TEST(TestBlock, SevenAndFiveBitStreamsCheckClean) {
    for (uint32_t bits : {5u, 7u}) {
        Reader r(256, bits);
        r.Feed(Blocks(0, 50, 256, bits));
        EXPECT_EQ(r.ok, 50u) << bits;
        EXPECT_EQ(r.errors, 0u) << bits;
    }
}

TEST(Engine, SmallTables) {
    EXPECT_EQ(UsableBlockSize(0), 32u);
    EXPECT_EQ(UsableBlockSize(1024), 1024u);
    EXPECT_EQ(UsableBlockSize(70000), 64000u);
    EXPECT_EQ(DefaultReplyTimeoutMs(1024, 9600), 3200u);
    EXPECT_EQ(DefaultReplyTimeoutMs(1024, 115200), 266u);
    EXPECT_EQ(DefaultReplyTimeoutMs(64000, 300), 6400000u);
    EXPECT_EQ(DefaultReplyTimeoutMs(1024, 0), DefaultReplyTimeoutMs(1024, 300));
    const std::string codes[] = {"..", "RD", "SY", "DA", "WR", "TO", "SE", "??"};
    for (int32_t kind = 0; kind < 8; ++kind)
        EXPECT_EQ(ErrorKindText(kind), codes[kind]);
    EXPECT_STREQ(ErrorKindText(-1), "??");
}

}  // namespace
