#include "tester/engine/line_borrow.h"

#include <cstdio>
#include <mutex>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/pair_drain.h"
#include "tester/engine/port_worker.h"
#include "tester/engine/test_block.h"
#include "tester/port/line_rate.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

bool Ready(const PortWorker& w) {
    return w.notReady.load(kRelaxed) == 0 && w.portHandle.load(kRelaxed) != INVALID_HANDLE_VALUE;
}

bool Running(const PortWorker& w) {
    return w.txRunning.load(kRelaxed) != 0 || w.rxRunning.load(kRelaxed) != 0;
}

LineCheckResult Result(LineVerdict verdict, std::string text) {
    LineCheckResult r;
    r.verdict = verdict;
    r.text = std::move(text);
    return r;
}

}  // namespace

std::string PortNumber(const PortWorker& w) {
    return "port " + std::to_string(w.rowIndex + 1);
}

std::string SecondsText(uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
    return text;
}

std::string CarriedText(uint64_t written, uint64_t ok, uint32_t damaged, bool& whole) {
    whole = ok >= written && damaged == 0;
    const std::string blocks = std::to_string(written) + (written == 1 ? " block" : " blocks");
    if (whole) return blocks + " after it arrived whole";
    const uint64_t arrived = ok < written ? ok : written;
    return "only " + std::to_string(arrived) + " of " + blocks + " after it arrived whole";
}

LineBorrow::LineBorrow(const LineCheckJob& job, const ConditionTiming& timing,
                       const std::function<bool()>& cancelled)
    : a_(*job.a), b_(*job.b), timing_(timing), cancelled_(cancelled) {}

bool LineBorrow::Admit(LineCheckResult& a, LineCheckResult& b) {
    if (!Ready(a_) || !Ready(b_)) {
        a = Result(LineVerdict::NotChecked, Ready(a_) ? "far end not open" : "not open");
        b = Result(LineVerdict::NotChecked, Ready(b_) ? "far end not open" : "not open");
        return false;
    }
    // The check's blocks would mix with the test's, and the counters it
    // reads with the test's counts.
    if (Running(a_) || Running(b_)) {
        a = b = Result(LineVerdict::NotChecked, "stop the test first");
        return false;
    }
    modeA_ = a_.mode.load(kRelaxed);
    modeB_ = b_.mode.load(kRelaxed);
    dropsA_ = a_.drops.load(kRelaxed);
    dropsB_ = b_.drops.load(kRelaxed);
    return true;
}

bool LineBorrow::Reconnected() const {
    return a_.drops.load(kRelaxed) != dropsA_ || b_.drops.load(kRelaxed) != dropsB_;
}

bool LineBorrow::Begin() {
    if (!Drain()) return false;
    return Expect(a_, b_) && Expect(b_, a_) && ForgetErrors(a_) && ForgetErrors(b_);
}

bool LineBorrow::Expect(PortWorker& to, PortWorker& from) {
    if (to.ForgetReceived(from.nextTxSeq.load(kRelaxed))) return true;
    // Its read would mix bytes from before the check into the check's
    // blocks: what the check then found would be no result.
    if (stop_ == Stop::None) {
        stop_ = Stop::Failed;
        why_ = PortNumber(to) + " did not stop reading when asked";
    }
    return false;
}

void LineBorrow::End() {
    for (PortWorker* w : {&a_, &b_}) {
        Read(*w, false);
        Write(*w, false);
    }
    // A stopped sender may still wait in a write that its handshake holds
    // for good (a CTS that never came on): the abort ends it, uncounted.
    for (PortWorker* w : {&a_, &b_})
        w->OnPort(
            [&](PortAccess& port, HANDLE handle) { return port.Purge(handle, PURGE_TXABORT); });
    if (settingsLent_[0]) GiveBack(a_);
    if (settingsLent_[1]) GiveBack(b_);
    // What the check left on its way (a sender that was never held off)
    // must not reach the next test; a cancelled check leaves that to the
    // shut-down.
    if (stop_ != Stop::Cancelled && stop_ != Stop::Lost) Drain();
    // The next test's blocks then follow on, numbers and all.
    Expect(a_, b_);
    Expect(b_, a_);
    // Under the refresh's lock, so that no line error the check caused is
    // counted after the counters were zeroed.
    std::lock_guard<std::mutex> hold(workerReadLock);
    for (PortWorker* w : {&a_, &b_}) {
        DWORD ignored = 0;
        w->OnPort([&](PortAccess& port, HANDLE handle) {
            return port.ClearError(handle, &ignored, nullptr);
        });
        // Late answers to the lent settings were taken just now.
        w->LendLine(false);
        w->Clear();
        w->SetMode(w == &a_ ? modeA_ : modeB_);
    }
}

void LineBorrow::Read(PortWorker& w, bool on) {
    if ((w.rxRunning.load(kRelaxed) != 0) != on) w.ToggleRead();
}

void LineBorrow::Write(PortWorker& w, bool on) {
    if ((w.txRunning.load(kRelaxed) != 0) != on) w.ToggleWrite();
}

bool LineBorrow::Errors(PortWorker& w, DWORD& bits, DWORD* fresh) {
    DWORD own = 0;
    const BOOL ok = w.OnPort(
        [&](PortAccess& port, HANDLE handle) { return port.ClearError(handle, &own, nullptr); });
    if (!Classify(w, ok)) return false;
    w.NoteModeError(own);
    const int side = &w == &a_ ? 0 : 1;
    DWORD& seen = side == 0 ? errorsA_ : errorsB_;
    // The refresh's reads count where they found errors: one since the
    // last look is news too.
    const uint32_t reads = w.lineErrorCount.load(kRelaxed);
    const DWORD refreshed = reads != errorReads_[side] ? w.lineErrorBits.load(kRelaxed) : 0;
    errorReads_[side] = reads;
    if (fresh) *fresh = own | refreshed;
    seen |= own | w.lineErrorBits.load(kRelaxed);
    bits = seen;
    return true;
}

bool LineBorrow::ForgetErrors(PortWorker& w) {
    std::lock_guard<std::mutex> hold(workerReadLock);
    DWORD ignored = 0;
    const BOOL ok = w.OnPort([&](PortAccess& port, HANDLE handle) {
        return port.ClearError(handle, &ignored, nullptr);
    });
    w.lineErrorBits.store(0, kRelaxed);
    (&w == &a_ ? errorsA_ : errorsB_) = 0;
    return Classify(w, ok);
}

bool LineBorrow::Pause() {
    if (cancelled_ && cancelled_()) {
        if (stop_ == Stop::None) stop_ = Stop::Cancelled;
        return false;
    }
    // What a device server answers to the settings the check lent comes a
    // round trip later, and the refresh may be the one to read it.
    for (PortWorker* w : {&a_, &b_}) {
        if (!w->TakeLentRefusal()) continue;
        if (stop_ == Stop::None) {
            stop_ = Stop::Failed;
            why_ = PortNumber(*w) + " answered with other line settings than " +
                   LineSettingsText(w == &a_ ? lentA_ : lentB_);
        }
        return false;
    }
    plat::sleepMs(timing_.pollMs);
    return true;
}

bool LineBorrow::Sleep(uint32_t ms) {
    const uint32_t start = plat::tickCount();
    while (plat::ticksBetween(start, plat::tickCount()) < ms)
        if (!Pause()) return false;
    return true;
}

bool LineBorrow::Quiet(PortWorker& reader) {
    return Quiet(reader, nullptr);
}

bool LineBorrow::Arrived(PortWorker& to, PortWorker& from, uint64_t ok0, uint64_t written0) {
    return Quiet(to, [&] {
        const uint64_t written = from.blocksWritten.load(kRelaxed) - written0;
        return !from.Snapshot().txBusy && to.blocksOk.load(kRelaxed) - ok0 >= written;
    });
}

bool LineBorrow::Quiet(PortWorker& reader, const std::function<bool()>& done) {
    const uint32_t start = plat::tickCount();
    CountWatch read{reader.bytesRead.load(kRelaxed), start};
    for (;;) {
        const uint32_t now = plat::tickCount();
        read.See(reader.bytesRead.load(kRelaxed), now);
        if ((done && done()) || plat::ticksBetween(read.movedAt, now) >= timing_.quietMs ||
            plat::ticksBetween(start, now) >= timing_.drainMs)
            return true;
        if (!Pause()) return false;
    }
}

bool LineBorrow::WrittenAtLeast(PortWorker& writer, uint64_t blocks, bool& reached) {
    const uint64_t now = writer.blocksWritten.load(kRelaxed);
    const uint64_t ahead = blocks > now ? blocks - now : 0;
    const uint32_t bound = timing_.startMs + static_cast<uint32_t>(ahead + 2) * BlockMs(writer);
    const uint32_t start = plat::tickCount();
    for (;;) {
        reached = writer.blocksWritten.load(kRelaxed) >= blocks;
        if (reached || plat::ticksBetween(start, plat::tickCount()) >= bound) return true;
        if (!Pause()) return false;
    }
}

bool LineBorrow::SetLine(PortWorker& w, const DCB& dcb) {
    DCB lent = dcb;
    settingsLent_[&w == &a_ ? 0 : 1] = true;
    (&w == &a_ ? lentA_ : lentB_) = dcb;
    w.LendLine(true);
    return Classify(
        w, w.OnPort([&](PortAccess& port, HANDLE handle) { return port.SetState(handle, &lent); }));
}

bool LineBorrow::GiveBack(PortWorker& w) {
    DCB mine = w.WantedDcb();
    const bool ok = Classify(
        w, w.OnPort([&](PortAccess& port, HANDLE handle) { return port.SetState(handle, &mine); }));
    if (ok) settingsLent_[&w == &a_ ? 0 : 1] = false;
    return ok;
}

bool LineBorrow::Break(PortWorker& w, bool on) {
    return Classify(w, w.OnPort([&](PortAccess& port, HANDLE handle) {
        return on ? port.SetBreak(handle) : port.ClearBreak(handle);
    }));
}

bool LineBorrow::Purge(PortWorker& w, DWORD flags) {
    return Classify(
        w, w.OnPort([&](PortAccess& port, HANDLE handle) { return port.Purge(handle, flags); }));
}

DeviceKind LineBorrow::KindOf(PortWorker& w) {
    return w.Snapshot().kind;
}

uint32_t LineBorrow::BlockMs(PortWorker& w) {
    DCB dcb = w.WantedDcb();
    if (dcb.BaudRate == 0) dcb.BaudRate = 300;
    if (dcb.ByteSize < 5 || dcb.ByteSize > 8) dcb.ByteSize = 8;
    const double size = static_cast<double>(UsableBlockSize(w.Settings().blockSize));
    const double ms = size * 1000.0 / LineBytesPerSecond(dcb);
    return ms < 1.0 ? 1 : ms > UINT32_MAX / 8 ? UINT32_MAX / 8 : static_cast<uint32_t>(ms);
}

LineCheckResult LineBorrow::StoppedResult() const {
    static const CheckHalt kHalts[] = {CheckHalt::Failed, CheckHalt::NotSupported, CheckHalt::Lost,
                                       CheckHalt::Failed, CheckHalt::Cancelled};
    return HaltResult(kHalts[static_cast<int>(stop_)], why_);
}

bool LineBorrow::Classify(PortWorker& w, BOOL ok) {
    if (ok) return true;
    const plat::Error error = plat::currentError();
    if (stop_ != Stop::None) return false;
    if (w.portAccess.NoModemLines(error)) {
        // The same errors as for missing modem lines: a function this
        // port does not have.
        stop_ = Stop::NotSupported;
    } else if ((!error.system && error.code == ERROR_NOT_READY) || w.portAccess.IsLost(error)) {
        stop_ = Stop::Lost;
    } else {
        stop_ = Stop::Failed;
        why_ = w.portAccess.ErrorText(error);
    }
    return false;
}

bool LineBorrow::Queued(PortWorker& w, DWORD& bytes) {
    COMSTAT status{};
    DWORD errors = 0;
    const BOOL ok = w.OnPort(
        [&](PortAccess& port, HANDLE handle) { return port.ClearError(handle, &errors, &status); });
    bytes = status.cbInQue;
    return Classify(w, ok);
}

// As the modem-line check drains (line_check.h): clearing only, both ends,
// until nothing has come for quietMs.
bool LineBorrow::Drain() {
    return DrainPair(*this, a_, b_, timing_.quietMs, timing_.drainMs);
}
