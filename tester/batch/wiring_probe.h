// The identification probe of an unattended run: before the test traffic,
// every open port sends a short frame of its own, four times, while every
// port listens; what each port hears is the bench's wiring (wiring.h).
//
// A frame names its sender's row and carries a number drawn for the run,
// so that bytes left on a line from an earlier run, or by another program,
// and noise are never taken for it; a source counts only when at least two
// whole copies of its frame arrived.
//
// Two senders wired to one receiver (a fault the probe is there to find)
// would garble each other if they sent at once, and the receiver would
// seem to hear nobody. So the copies go out in time slots: copy k of row r
// in slot base(k) + r mod m(k), with m = 5, 7, 11, 13 (36 slots in all).
// Two rows meet in copy k only when they are congruent modulo m(k), and
// no two rows below 256 are congruent modulo three of those at once: of
// any two senders' four copies, at least two of each arrive clear.
//
// A frame is 15 bytes, all of them below
// 0x20 and none of them XON (0x11) or XOFF (0x13), so that it crosses a line
// of 5 to 8 data bits, with or without parity and software flow control,
// unchanged:
//
//   0x1E 0x1C            the start
//   12 symbols 0x01..0x10, one nibble each (value + 1), high nibble first:
//     the row (2), the run's number (8), a CRC-8 of those five bytes (2)
//   0x1D                 the end
//
// The test blocks cannot hold a frame: their bytes run up in steps of one
// (the pattern) or are the tag's and the sequence number's, none of which
// has 0x1E followed by 0x1C.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/win32_types.h"
#include "tester/batch/wiring.h"

class PortWorker;

constexpr size_t kProbeFrameBytes = 15;
constexpr uint32_t kProbeCopies = 4;
constexpr uint32_t kProbeCopiesNeeded = 2;

// The frame of `row` (0..255) for the run's number `nonce`.
void EncodeProbeFrame(uint32_t row, uint32_t nonce, uint8_t frame[kProbeFrameBytes]);

// Finds whole, intact frames in a stream of bytes however it is cut into
// reads; calls `found(row, nonce)` for each.
class ProbeScanner {
  public:
    void Feed(const uint8_t* bytes, size_t count,
              const std::function<void(uint32_t row, uint32_t nonce)>& found);

  private:
    int state_ = 0;  // 0 looking for 0x1E, 1 after it, 2 in the symbols
    size_t symbols_ = 0;
    uint8_t nibbles_[12] = {};
};

constexpr uint32_t kProbeSlots = 36;

// The slot (0..kProbeSlots-1) of copy `copy` of row `row`.
uint32_t ProbeSlot(uint32_t copy, uint32_t row);

// How long the probe takes. A slot is a frame's time on the line and a
// quarter more, at least 5 ms more (what a thread's wake-up may be late).
// A port that hears someone stops once the slots are over and its line
// has been quiet for quietMs; one that hears nobody listens until the
// limit: the slots, two frame times and what a device server or an
// adapter adds on the way.
struct ProbeTiming {
    uint32_t frameMs = 0;  // a frame's time on the line at the settings' speed
    uint32_t slotMs = 0;
    uint32_t latencyMs = 1000;  // what the way may add
    uint32_t quietMs = 300;
    // Afterwards each port drops what still comes until it has been quiet
    // for quietMs, at most this long: stray bytes would be the test's first
    // receive error.
    uint32_t drainLimitMs = 10000;

    uint32_t SendMs() const { return kProbeSlots * slotMs; }
    uint32_t ListenLimitMs() const { return SendMs() + 2 * frameMs + latencyMs; }
};

// The timing for lines with these settings (speed, data bits, parity,
// stop bits).
ProbeTiming ProbeTimingFor(const DCB& settings);

// Probes the ports of `workers` (by row; null where a row's port did not
// open, which is then not probed): the copies go out from the calling
// thread, slot by slot, while each port listens on a thread of its own.
// Returns what each heard. The workers must be open and idle (no direction
// running) and stay alive throughout. `stop`, asked while it listens, cuts
// the probe short (null: never).
Wiring RunWiringProbe(const std::vector<PortWorker*>& workers, const ProbeTiming& timing,
                      uint32_t nonce, const std::function<bool()>& stop);

// A number for a run: different from run to run and from process to process.
uint32_t DrawProbeNonce();
