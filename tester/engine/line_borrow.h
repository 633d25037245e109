// What the checks of flow control, breaks and parity (condition_check.h)
// do to a job's ports, on the check's own thread: they start and stop the
// workers' directions as the Read and Write commands do, read their
// counters, put line settings and breaks on the ports through
// PortWorker::OnPort, and read the line errors. A call that fails stops the
// job: the reason (no such function on this port, the port lost, the
// system's words, a cancel) becomes the job's result.
//
// Line errors are read twice over: the port's own (ClearError through the
// worker) and those the refresh took meanwhile (lineErrorBits, which the
// refresh fills from its own reads under workerReadLock), so neither
// reader hides one from the other.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/win32_types.h"
#include "tester/engine/condition_check.h"
#include "tester/port/port_access.h"

class PortWorker;

// A counter watched over time: when it last moved.
struct CountWatch {
    uint64_t count;
    uint32_t movedAt;
    void See(uint64_t now, uint32_t tick) {
        if (now == count) return;
        count = now;
        movedAt = tick;
    }
};

class LineBorrow {
  public:
    LineBorrow(const LineCheckJob& job, const ConditionTiming& timing,
               const std::function<bool()>& cancelled);

    const ConditionTiming& timing() const { return timing_; }

    // Whether the job may be checked; when not, why, for both ports ("not
    // open", "far end not open", "stop the test first").
    bool Admit(LineCheckResult& a, LineCheckResult& b);

    // Before a check: what is still on its way between the ends is
    // dropped (quietMs without a byte, drainMs at most), both ports' line
    // errors forgotten, and each receiver set to take its partner's next
    // block as the next in its stream (Expect).
    bool Begin();
    // After it, whatever happened: directions stopped, settings given back,
    // the line drained as by Begin, counters zeroed and the mode as it was.
    void End();

    // `to` takes `from`'s next block as the next of its stream, whatever
    // it assembled or last saw before (PortWorker::ForgetReceived). False
    // when `to`'s receiver did not let go: the job stops, failed.
    bool Expect(PortWorker& to, PortWorker& from);

    // The directions, as the Read and Write commands flip them.
    void Read(PortWorker& w, bool on);
    void Write(PortWorker& w, bool on);

    // The line errors `w` reported since they were last forgotten; with
    // `fresh`, also those reported since the last call (the refresh's
    // reads in between included).
    bool Errors(PortWorker& w, DWORD& bits, DWORD* fresh = nullptr);
    bool ForgetErrors(PortWorker& w);

    // Waits until `reader` has received nothing for quietMs (at most
    // drainMs); until `writer` has written `blocks` blocks in all (false
    // also when that takes longer than the blocks' time on the line and
    // startMs); a pause of pollMs. False when the job stopped.
    bool Quiet(PortWorker& reader);
    // Once `from`'s sender has stopped: waits until `to` has every block
    // `from` wrote since `written0` (counting from `ok0`), or, when some
    // never come (lost on the way), until it is quiet as Quiet says. A
    // quiet spell alone would end the wait early on a line that is slow
    // for a moment (a busy device server) and count blocks on their way
    // as lost.
    bool Arrived(PortWorker& to, PortWorker& from, uint64_t ok0, uint64_t written0);
    bool WrittenAtLeast(PortWorker& writer, uint64_t blocks, bool& reached);
    bool Pause();
    bool Sleep(uint32_t ms);

    // Calls on the port, each classified when it fails.
    bool SetLine(PortWorker& w, const DCB& dcb);
    bool GiveBack(PortWorker& w);
    bool Break(PortWorker& w, bool on);
    bool Purge(PortWorker& w, DWORD flags);
    DeviceKind KindOf(PortWorker& w);

    // One block's time on `w`'s line, in ms (at least 1).
    uint32_t BlockMs(PortWorker& w);

    // Whether either port was lost and opened again since Admit (the worker
    // reconnects by itself): what the check saw then is no result.
    bool Reconnected() const;

    // Why the job stopped, as its result; or none.
    bool Stopped() const { return stop_ != Stop::None; }
    LineCheckResult StoppedResult() const;

    // The bytes received and not yet read (for DrainPair, pair_drain.h).
    bool Queued(PortWorker& w, DWORD& bytes);

  private:
    enum class Stop { None, NotSupported, Lost, Failed, Cancelled };

    bool Classify(PortWorker& w, BOOL ok);
    bool Quiet(PortWorker& reader, const std::function<bool()>& done);
    bool Drain();

    PortWorker& a_;
    PortWorker& b_;
    const ConditionTiming& timing_;
    const std::function<bool()>& cancelled_;
    uint32_t modeA_ = 0;
    uint32_t modeB_ = 0;
    uint32_t dropsA_ = 0;
    uint32_t dropsB_ = 0;
    bool settingsLent_[2] = {false, false};  // a_'s, b_'s
    DCB lentA_{};                            // what SetLine last lent them
    DCB lentB_{};
    DWORD errorsA_ = 0;
    DWORD errorsB_ = 0;
    uint32_t errorReads_[2] = {0, 0};  // a_'s, b_'s lineErrorCount at the last Errors
    Stop stop_ = Stop::None;
    std::string why_;
};

// One way of each check, `from` sending to `to` (the same worker for a
// loop-back plug): the result of `from`.
LineCheckResult CheckFlowWay(LineBorrow& job, PortWorker& from, PortWorker& to);
LineCheckResult CheckBreakWay(LineBorrow& job, PortWorker& from, PortWorker& to);
LineCheckResult CheckParityWay(LineBorrow& job, PortWorker& from, PortWorker& to);

// "port 2", as the checks' texts name a port.
std::string PortNumber(const PortWorker& w);
// "1.2 s".
std::string SecondsText(uint32_t ms);
// Blocks counted from `w0`/`r0`/`e0` as the carry after a break or a
// burst: "4 blocks after it arrived whole", or "only 2 of 4 blocks after
// it arrived whole"; `whole` says which.
std::string CarriedText(uint64_t written, uint64_t ok, uint32_t damaged, bool& whole);
