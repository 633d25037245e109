// The rate check of an unattended run: what each port received per second
// while its far end sent without a pause, against what the line's settings
// allow, the speed divided by the bits of one character. A driver that
// runs a port at another speed than it was asked for (an unsupported rate
// silently turned into 9600, a divisor that rounds far off) shows here and
// nowhere else: its blocks still arrive intact.
//
// The rate is measured over a window, not the whole run: the window opens
// once the lines have settled (a second after the start; the first blocks
// and a device server's connection are not the line's pace) and closes just
// before the senders stop (the drain that follows is the far end's buffers
// emptying, not the line running full).
//
// Half-duplex ports are not judged: a master's line rests while the slave
// turns each block round, so what it receives says as much about the
// turn-round as about the line. Their round trips say how the line does.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32_types.h"
#include "tester/port/line_rate.h"
#include "tester/report/port_result.h"

class RowStore;

// A port passes when it received within 3% of its line's rate, either way.
constexpr double kRateTolerance = 0.03;
// Above twice its line's rate a port that cannot be paced is not judged: a
// pseudo-terminal carries bytes as fast as its far end takes them, and a
// network port's device server may take the speed as a mere label. It is
// reported ("not a paced line"). A serial device has a line rate, and is
// judged at any ratio: a UART clocked four times too fast is a fault.
constexpr double kNotPacedRatio = 2.0;
// The window opens this long after the test starts. The shortest test
// with a rate check lasts a second more; a window cut below half a second
// (the run stopped early) measures nothing.
constexpr uint32_t kRateSettleMs = 1000;
constexpr uint32_t kRateMinTestSeconds = 2;
constexpr uint32_t kRateMinWindowMs = 500;

// Passed, Slow, Fast or, for a port that is no serial device (`paced`
// false), NotPaced (a line of speed 0: NotMeasured).
RateCheck JudgeRate(uint32_t baud, double expected, double measured, bool paced = false);

// Why the check fails the port ("received 10412 B/s, 9.6% below the
// line's 11520 B/s"); "" when it does not (passed, not judged, not asked).
std::string RateProblem(const RateCheck& check);

// The measuring window over the rows of one test. Open it once the lines
// have settled and Close it just before the senders stop, both on the
// thread that runs the test, while the workers are alive.
class RateWindow {
  public:
    void Open(RowStore& rows);
    bool IsOpen() const { return opened_; }
    // Judges every row of the rows' snapshot, in the same order: a ready
    // port in full duplex on what it received over the window against the
    // rate of the settings it was asked to run at (`asked`: speed, data
    // bits, parity, stop bits; never what the driver reports back), the
    // others as not judged (see RateVerdict). A window that was never
    // opened, or is shorter than kRateMinWindowMs, measures nothing.
    void Close(RowStore& rows, const DCB& asked);
    const std::vector<RateCheck>& Checks() const { return checks_; }

  private:
    using Clock = std::chrono::steady_clock;
    bool opened_ = false;
    Clock::time_point openedAt_{};
    std::vector<uint64_t> bytesAtOpen_;
    std::vector<RateCheck> checks_;
};
