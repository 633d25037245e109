#include "tester/engine/test_block.h"

#include <cstdio>
#include <cstring>

uint32_t UsableBlockSize(uint32_t configured) {
    if (configured < kMinBlockSize) return kMinBlockSize;
    if (configured > kMaxBlockSize) return kMaxBlockSize;
    return configured;
}

BlockPattern MakeBlockPattern(uint32_t byteSize) {
    const uint32_t mask = byteSize >= 8 ? 0xFFu : (1u << byteSize) - 1u;
    BlockPattern p;
    for (uint32_t k = 0; k < 256; ++k) {
        uint32_t v = k & mask;
        if (v == 0x11) v = 0x12;  // XON
        if (v == 0x13) v = 0x14;  // XOFF
        p.period[k] = static_cast<uint8_t>(v);
    }
    return p;
}

void BuildTestBlock(uint8_t* block, const BlockPattern& pattern) {
    std::memset(block, 0, kBlockBufferSize);
    std::memcpy(block, blockTag, kTagLength);
    StampBlock(block, 0);
    const uint32_t payload = kMaxBlockSize - kPayloadOffset;
    for (uint32_t k = 0; k < payload; k += 256) {
        const uint32_t n = payload - k < 256 ? payload - k : 256;
        std::memcpy(block + kPayloadOffset + k, pattern.period, n);
    }
}

uint32_t NextSequence(uint32_t sequence) {
    return sequence + 1 >= kSequenceLimit ? 0 : sequence + 1;
}

void StampBlock(uint8_t* block, uint32_t sequence) {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%08u", sequence);
    std::memcpy(block + kSequenceOffset, digits, static_cast<size_t>(n) + 1);
}

int32_t FindTag(const uint8_t* tag, uint32_t tagLength, const uint8_t* range,
                uint32_t rangeLength) {
    if (tagLength == 0 || rangeLength < tagLength) return -1;
    // How far the window may move when its last byte is c: the distance
    // from c's last place in the tag (the tag's own last byte excluded) to
    // the tag's end. Capped to what a byte holds; a shorter skip is safe.
    const uint32_t m = tagLength;
    uint8_t skip[256];
    std::memset(skip, m > 255 ? 255 : static_cast<int>(m), sizeof skip);
    for (uint32_t i = 0; i + 1 < m; ++i) {
        const uint32_t d = m - 1 - i;
        skip[tag[i]] = static_cast<uint8_t>(d > 255 ? 255 : d);
    }
    const uint8_t last = tag[m - 1];
    for (uint32_t p = 0; p <= rangeLength - m;) {
        const uint8_t c = range[p + m - 1];
        if (c == last && std::memcmp(range + p, tag, m - 1) == 0) return static_cast<int32_t>(p);
        p += skip[c];
    }
    return -1;
}

int32_t ReadSequence(const uint8_t* text, uint32_t length) {
    uint32_t i = 0;
    while (i < length && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

namespace {

bool PayloadMatches(const uint8_t* payload, uint32_t length, const BlockPattern& pattern) {
    for (uint32_t k = 0; k < length; k += 256) {
        const uint32_t n = length - k < 256 ? length - k : 256;
        if (std::memcmp(payload + k, pattern.period, n) != 0) return false;
    }
    return true;
}

// Length of the longest tail of block[0, size) that is a beginning of the
// tag and its zero, short of the whole (a whole one would have been found).
uint32_t CutOffTagAtEnd(const uint8_t* block, uint32_t size) {
    const auto* tag = reinterpret_cast<const uint8_t*>(blockTag);
    for (uint32_t k = kTagWithZeroLength - 1; k > 0; --k)
        if (k <= size && std::memcmp(block + size - k, tag, k) == 0) return k;
    return 0;
}

// Keeps block[from, size) at the start of the block.
void KeepFrom(ReceiveState& s, uint32_t from) {
    std::memmove(s.rxBlock, s.rxBlock + from, s.blockSize - from);
    s.rxFill = s.blockSize - from;
}

}  // namespace

CheckResult CheckBlock(ReceiveState& s, const BlockPattern& pattern) {
    const auto* tag = reinterpret_cast<const uint8_t*>(blockTag);
    uint8_t* rx = s.rxBlock;
    const uint32_t size = s.blockSize;

    const int32_t at = FindTag(tag, kTagLength, rx, size);
    if (at < 0) {
        KeepFrom(s, size - (kTagLength - 1));
        return {false, 1, 0};
    }
    if (at > 0) {
        KeepFrom(s, static_cast<uint32_t>(at));
        return {false, 1, 0};
    }

    uint32_t errors = 0;
    const int32_t sequence = ReadSequence(rx + kSequenceOffset, size - kSequenceOffset);
    const uint32_t expected =
        s.lastRxSeq == -1 ? 0 : NextSequence(static_cast<uint32_t>(s.lastRxSeq));
    const uint32_t got = static_cast<uint32_t>(sequence);
    // How far ahead of the expected number this one is, counted round the
    // numbers' circle (a number a peer stamped past it is simply far off).
    const uint32_t skipped = got < kSequenceLimit && expected < kSequenceLimit
                                 ? (got + kSequenceLimit - expected) % kSequenceLimit
                                 : got - expected;
    if (skipped != 0) ++errors;
    const bool first = s.lastRxSeq == -1;
    s.lastRxSeq = sequence;

    if (PayloadMatches(rx + kPayloadOffset, size - kPayloadOffset, pattern)) {
        s.rxFill = 0;
        // A whole block further on than expected: the ones in between never
        // came. A step back (the far end started again) loses nothing, and
        // before the first block nothing was expected yet.
        const uint32_t lost = !first && skipped < kMaxLostRun ? skipped : 0;
        return {true, errors, lost};
    }
    ++errors;
    const int32_t next =
        FindTag(tag, kTagWithZeroLength, rx + kSequenceOffset, size - kSequenceOffset);
    if (next >= 0) {
        KeepFrom(s, kSequenceOffset + static_cast<uint32_t>(next));
        return {false, errors, 0};
    }
    // No next block starts in this one: a byte was changed, lost or added
    // inside it. Keeping a cut-off tag at the end makes a lost byte cost
    // nothing more; everything else is given up, so the block is not
    // examined again.
    KeepFrom(s, size - CutOffTagAtEnd(rx, size));
    return {false, errors, 0};
}
