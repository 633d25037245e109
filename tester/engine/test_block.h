// The full-duplex test block and its check, as functions over byte buffers
// with no thread, port or worker behind them: the worker's threads run
// exactly these, and the tests run them on byte strings.
//
// A block on the line, `blockSize` bytes:
//   offset 0   "[VESK]"                     the tag
//   offset 6   0
//   offset 7   the sequence number, "%08u"  (a ninth digit from 10^8 on)
//   offset 15  0                            (the digits' terminator)
//   offset 16  the pattern: payload byte k is (k mod 256) masked to the
//              data bits, with XON (0x11) sent as 0x12 and XOFF (0x13) as
//              0x14, so that a line with XON/XOFF flow control carries it.
// Both ends must use the same block size and data bits: each end checks
// what it receives against its own pattern.
//
// Sequence numbers run from 0 to 999 999 999 and then start again at 0,
// which the receiver takes as the number that follows. Up to there the
// block is what it always was: eight digits, and from 10^8 a ninth on the
// zero at offset 15, whose terminator then falls on payload byte 0, itself
// 0. A tenth digit would fall on the payload and fail every block on a
// clean line, which a night at 921600 bit/s with small blocks reaches.
#pragma once

#include <cstdint>

constexpr char blockTag[] = "[VESK]";
constexpr uint32_t kTagLength = 6;
// The tag with the zero byte after it (blockTag's own terminator), which a
// realignment after a bad payload looks for.
constexpr uint32_t kTagWithZeroLength = 7;

constexpr uint32_t kSequenceOffset = 7;
constexpr uint32_t kPayloadOffset = 16;

// Each worker buffer, and the range of block sizes the engine sends.
constexpr uint32_t kBlockBufferSize = 65536;
constexpr uint32_t kMinBlockSize = 32;
constexpr uint32_t kMaxBlockSize = 64000;

// The block size the engine uses for a configured one: the configuration
// keeps it within 32..64000, but a record that was never loaded holds 0,
// and a block outside that range would overrun the buffers. Clamped.
uint32_t UsableBlockSize(uint32_t configured);

// One period (256 bytes) of the payload pattern for `byteSize` data bits.
// A byte size of 8 or more takes all 8 bits.
struct BlockPattern {
    uint8_t period[256];
};
BlockPattern MakeBlockPattern(uint32_t byteSize);

// Fills the whole buffer (kBlockBufferSize bytes): tag, zero, "00000000",
// zero, then the pattern for payload positions below 63984 and zeroes
// beyond them.
void BuildTestBlock(uint8_t* block, const BlockPattern& pattern);

// The numbers a sender stamps: 0 to kSequenceLimit - 1, then 0 again.
constexpr uint32_t kSequenceLimit = 1000000000;
// The number after `sequence` on the line.
uint32_t NextSequence(uint32_t sequence);

// Writes `sequence` as at least 8 decimal digits with leading zeros and a
// zero byte after them at offset 7. Up to 11 bytes: from 10^8 on the digits
// run into the payload, as on the line of every peer.
void StampBlock(uint8_t* block, uint32_t sequence);

// The first position p in range[0, rangeLength) where all tagLength bytes
// of `tag` occur, or -1 (also when the range is shorter than the tag).
// Horspool's skip table: one pass that mostly skips a tag length at a time.
int32_t FindTag(const uint8_t* tag, uint32_t tagLength, const uint8_t* range, uint32_t rangeLength);

// The sequence number in `length` bytes of text: leading white space, one
// sign, then decimal digits up to the first non-digit or the end of the
// text. Taken modulo 2^32, as the sender's counter wraps, and returned as
// the signed field it goes into.
int32_t ReadSequence(const uint8_t* text, uint32_t length);

// The receive side's state that a check works on: the worker's rxBlock,
// blockSize, rxFill and lastRxSeq.
struct ReceiveState {
    uint8_t* rxBlock;
    uint32_t blockSize;
    uint32_t rxFill;
    int32_t lastRxSeq;
};

// `errors` receive errors to count (each of them a "SY"); `pass` counts a
// good block; `lost` blocks never arrived (the numbers a good block skipped
// ahead of the last one received).
struct CheckResult {
    bool pass;
    uint32_t errors;
    uint32_t lost;
};

// A jump ahead by this many blocks or more is no run of lost blocks but a
// far end that started counting again (or a number misread): nothing is
// counted lost for it.
constexpr uint32_t kMaxLostRun = kSequenceLimit / 2;

// Checks the full block in state.rxBlock (state.rxFill >= blockSize >= 32):
// - no tag anywhere: 1 error; the last 5 bytes (a tag cut off by the block
//   end, maybe) are kept at the start.
// - tag at p > 0: 1 error; the bytes from p on are kept at the start.
// - tag at 0: a sequence number that does not follow lastRxSeq (the number
//   after kSequenceLimit - 1 is 0) is 1 error;
//   lastRxSeq takes it either way. Then the payload against `pattern`:
//   equal passes (rxFill 0), and the numbers it skipped ahead are `lost`
//   (none for the first block, lastRxSeq -1); different is 1 error, and the block is given
//   up from the next tag-and-zero in it on, or, when there is none, all but
//   its longest tail that is a beginning of "[VESK]\0" (the start of the
//   next block, cut off by this one's end after a lost byte).
// Whatever fails leaves rxFill below blockSize, so every check consumes
// bytes and the next tag is found after at most one more block.
CheckResult CheckBlock(ReceiveState& state, const BlockPattern& pattern);
