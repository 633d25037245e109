#include "tester/engine/line_check.h"

#include <map>
#include <memory>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "platform/win32_types.h"
#include "tester/engine/pair_drain.h"
#include "tester/engine/port_worker.h"

namespace {

struct Output {
    const char* name;
    DWORD on;
    DWORD off;
    DWORD usual;  // the inputs a null-modem cable wires to it
};
const Output kOutputs[] = {
    {"RTS", SETRTS, CLRRTS, MS_CTS_ON},
    {"DTR", SETDTR, CLRDTR, MS_DSR_ON | MS_RLSD_ON},
};

struct Input {
    const char* name;
    DWORD bit;
};
const Input kInputs[] = {
    {"CTS", MS_CTS_ON}, {"DSR", MS_DSR_ON}, {"DCD", MS_RLSD_ON}, {"RI", MS_RING_ON}};
constexpr DWORD kInputBits = MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON;

// Why a step of the check could not go on.
enum class Stop { None, NoLines, Lost, Failed, Cancelled };

struct Halt {
    Stop stop = Stop::None;
    std::string why;  // for Failed: the system's words
};

// `dcb` with the lines in the check's hands.
DCB Freed(const DCB& dcb) {
    DCB freed = dcb;
    freed.fRtsControl = RTS_CONTROL_DISABLE;
    freed.fDtrControl = DTR_CONTROL_DISABLE;
    freed.fOutxCtsFlow = 0;
    freed.fOutxDsrFlow = 0;
    freed.fDsrSensitivity = 0;
    return freed;
}

bool Ready(const PortWorker* w) {
    return w && w->notReady.load(std::memory_order_relaxed) == 0 &&
           w->portHandle.load(std::memory_order_relaxed) != INVALID_HANDLE_VALUE;
}

// One job's ports and calls, each call classified.
class Checker {
  public:
    Checker(const LineCheckTiming& timing, const std::function<bool()>& cancelled)
        : timing_(timing), cancelled_(cancelled) {}

    bool Escape(PortWorker& w, DWORD function) {
        return Classify(w, w.OnPort([&](PortAccess& port, HANDLE handle) {
            return port.EscapeFunction(handle, function);
        }));
    }

    bool Status(PortWorker& w, DWORD& status) {
        DWORD bits = 0;
        const BOOL ok = w.OnPort(
            [&](PortAccess& port, HANDLE handle) { return port.GetModemStatus(handle, &bits); });
        status = bits & kInputBits;
        return Classify(w, ok);
    }

    // The lines under the check's control, both low: no handshake, no
    // RS-485, RTS and DTR disabled, then each dropped once more, which
    // tells at once whether the port has modem lines. The flow-control
    // settings go with the handshake: a port paused by its CTS must not
    // stop the escapes.
    bool TakeLines(PortWorker& w) {
        DCB freed = Freed(w.WantedDcb());
        DWORD status = 0;
        return Classify(w, w.OnPort([&](PortAccess& port, HANDLE handle) {
                   return port.SetState(handle, &freed);
               })) &&
               Escape(w, CLRRTS) && Escape(w, CLRDTR) && Status(w, status);
    }

    // The port's own settings again, lines and all: those it had, or new
    // ones the operator gave it meanwhile. False (and the check failed,
    // unless it had stopped already) when the port refuses them.
    bool GiveBack(PortWorker& w) {
        DCB mine = w.WantedDcb();
        return Classify(w, w.OnPort([&](PortAccess& port, HANDLE handle) {
            return port.SetState(handle, &mine);
        }));
    }

    // pair_drain.h says why.
    bool Drain(PortWorker& a, PortWorker& b) {
        return DrainPair(*this, a, b, timing_.quietMs, timing_.drainMs);
    }

    // Once both ends' outputs are low, their inputs may take a while to
    // say so: a device server that polls its UART notifies up to a second
    // later. Waits (up to followMs) for `w`'s inputs to read all low, so
    // that a line still high from before is not taken for one that never
    // follows. Inputs wired high elsewhere only cost the wait.
    bool Quiet(PortWorker& w) {
        DWORD status = 0;
        return Await(w, 0, false, status);
    }

    // Waits until `w`'s inputs have not changed for settleMs (at most
    // followMs); false when stopped.
    bool Settle(PortWorker& w, DWORD& status) {
        if (!Status(w, status)) return false;
        const uint32_t start = plat::tickCount();
        uint32_t since = start;
        for (;;) {
            const uint32_t now = plat::tickCount();
            if (plat::ticksBetween(since, now) >= timing_.settleMs ||
                plat::ticksBetween(start, now) >= timing_.followMs)
                return true;
            if (!Pause()) return false;
            DWORD next = 0;
            if (!Status(w, next)) return false;
            if (next != status) {
                status = next;
                since = plat::tickCount();
            }
        }
    }

    // Waits up to followMs until `w`'s inputs differ from `base` (when
    // `differ`) or equal it again (when not); `status` is the last read.
    bool Await(PortWorker& w, DWORD base, bool differ, DWORD& status) {
        const uint32_t start = plat::tickCount();
        for (;;) {
            if (!Status(w, status)) return false;
            if ((status != base) == differ) return true;
            if (plat::ticksBetween(start, plat::tickCount()) >= timing_.followMs) return true;
            if (!Pause()) return false;
        }
    }

    // The inputs of `to` that follow each output of `from`.
    bool Follow(PortWorker& from, PortWorker& to, DWORD (&followers)[2]) {
        for (int o = 0; o < 2; ++o) {
            DWORD base = 0, high = 0, low = 0;
            if (!Settle(to, base)) return false;
            if (!Escape(from, kOutputs[o].on)) return false;
            if (!Await(to, base, true, high)) return false;
            // A second line may follow a moment after the first.
            if (high != base && !Settle(to, high)) return false;
            if (!Escape(from, kOutputs[o].off)) return false;
            if (!Await(to, base, false, low)) return false;
            // On with the output and off again with it: follows.
            followers[o] = (high & ~base) & ~(low & ~base);
        }
        return true;
    }

    const Halt& halted() const { return halt_; }

    // The calls DrainPair makes, each classified.
    bool Purge(PortWorker& w, DWORD flags) {
        return Classify(w, w.OnPort([&](PortAccess& port, HANDLE handle) {
            return port.Purge(handle, flags);
        }));
    }

    // The bytes received and not yet read.
    bool Queued(PortWorker& w, DWORD& bytes) {
        COMSTAT status{};
        DWORD errors = 0;
        const BOOL ok = w.OnPort([&](PortAccess& port, HANDLE handle) {
            return port.ClearError(handle, &errors, &status);
        });
        bytes = status.cbInQue;
        return Classify(w, ok);
    }

    bool Classify(PortWorker& w, BOOL ok) {
        if (ok) return true;
        const plat::Error error = plat::currentError();
        if (halt_.stop != Stop::None) return false;
        if (w.portAccess.NoModemLines(error)) {
            halt_.stop = Stop::NoLines;
        } else if ((!error.system && error.code == ERROR_NOT_READY) || w.portAccess.IsLost(error)) {
            // OnPort's word for a port that is down, or the loss itself.
            halt_.stop = Stop::Lost;
        } else {
            halt_.stop = Stop::Failed;
            halt_.why = w.portAccess.ErrorText(error);
        }
        return false;
    }

    bool Pause() {
        if (cancelled_ && cancelled_()) {
            halt_.stop = Stop::Cancelled;
            return false;
        }
        plat::sleepMs(timing_.pollMs);
        return true;
    }

  private:
    const LineCheckTiming& timing_;
    const std::function<bool()>& cancelled_;
    Halt halt_;
};

std::string Describe(const DWORD (&followers)[2]) {
    std::string text;
    auto add = [&](const Output& out, const Input& in, bool followed) {
        text += text.empty() ? "" : ", ";
        text += std::string(out.name) + ">" + in.name + (followed ? " ok" : " none");
    };
    for (int o = 0; o < 2; ++o) {
        const Output& out = kOutputs[o];
        for (const Input& in : kInputs)
            if (out.usual & in.bit) add(out, in, (followers[o] & in.bit) != 0);
        for (const Input& in : kInputs)
            if (!(out.usual & in.bit) && (followers[o] & in.bit)) add(out, in, true);
    }
    return text;
}

LineCheckResult Verdict(LineVerdict verdict, std::string text) {
    LineCheckResult r;
    r.verdict = verdict;
    r.text = std::move(text);
    return r;
}

LineCheckResult FromHalt(const Halt& halt) {
    switch (halt.stop) {
        case Stop::NoLines:
            return HaltResult(CheckHalt::NotSupported, halt.why);
        case Stop::Cancelled:
            return HaltResult(CheckHalt::Cancelled, halt.why);
        case Stop::Lost:
            return HaltResult(CheckHalt::Lost, halt.why);
        default:
            return HaltResult(CheckHalt::Failed, halt.why);
    }
}

// One job: both ends taken, each way checked, both ends given back.
void CheckJob(const LineCheckJob& job, const LineCheckTiming& timing,
              const std::function<bool()>& cancelled, LineCheckResult& a, LineCheckResult& b) {
    const bool loop = job.a == job.b;
    if (!Ready(job.a) || !Ready(job.b)) {
        a = Verdict(LineVerdict::NotChecked, Ready(job.a) ? "far end not open" : "not open");
        b = Verdict(LineVerdict::NotChecked, Ready(job.b) ? "far end not open" : "not open");
        return;
    }
    // Test traffic would queue the check's commands behind its blocks (a
    // device server gets them late, or never, with the handshake off and
    // its line held), and the check's lines would stall the traffic.
    auto running = [](const PortWorker* w) {
        return w->txRunning.load(std::memory_order_relaxed) != 0 ||
               w->rxRunning.load(std::memory_order_relaxed) != 0;
    };
    if (running(job.a) || running(job.b)) {
        a = b = Verdict(LineVerdict::NotChecked, "stop the test first");
        return;
    }
    Checker check(timing, cancelled);
    bool ok = check.Drain(*job.a, *job.b);
    ok = ok && check.TakeLines(*job.a) && (loop || check.TakeLines(*job.b));
    ok = ok && check.Quiet(*job.a) && (loop || check.Quiet(*job.b));
    DWORD fromA[2] = {0, 0}, fromB[2] = {0, 0};
    ok = ok && check.Follow(*job.a, *job.b, fromA);
    ok = ok && (loop || check.Follow(*job.b, *job.a, fromB));
    ok = check.GiveBack(*job.a) && ok;
    if (!loop) ok = check.GiveBack(*job.b) && ok;
    if (!ok) {
        a = b = FromHalt(check.halted());
        return;
    }
    auto judge = [](const DWORD(&followers)[2]) {
        // A wired output line that reaches no input at all is broken; an
        // unwired carrier detect (DTR>DCD none) is common and no fault.
        const bool every = followers[0] != 0 && followers[1] != 0;
        return Verdict(every ? LineVerdict::Passed : LineVerdict::Failed, Describe(followers));
    };
    a = judge(fromA);
    b = loop ? a : judge(fromB);
}

}  // namespace

LineCheckResult HaltResult(CheckHalt halt, const std::string& why) {
    switch (halt) {
        case CheckHalt::NotSupported:
            return Verdict(LineVerdict::NotSupported, "not supported");
        case CheckHalt::Cancelled:
            return Verdict(LineVerdict::NotChecked, "stopped");
        case CheckHalt::Lost:
            return Verdict(LineVerdict::NotChecked, "port lost");
        case CheckHalt::Failed:
            break;
    }
    return Verdict(LineVerdict::Failed, "failed: " + why);
}

std::vector<LineCheckJob> PairForLineCheck(const std::vector<PortWorker*>& workers) {
    std::map<int32_t, PortWorker*> byRow;
    for (PortWorker* w : workers)
        if (w) byRow[w->rowIndex] = w;
    std::vector<LineCheckJob> jobs;
    for (const auto& [row, worker] : byRow) {
        const auto partner = byRow.find(row ^ 1);
        if (partner == byRow.end()) {
            jobs.push_back({worker, worker});
        } else if (row % 2 == 0) {
            jobs.push_back({worker, partner->second});
        }
    }
    return jobs;
}

std::vector<LineCheckOutcome> RunLineCheck(const std::vector<LineCheckJob>& jobs,
                                           const LineCheckTiming& timing,
                                           const std::function<bool()>& cancelled) {
    std::vector<LineCheckResult> a(jobs.size()), b(jobs.size());
    SideBySide(jobs.size(), [&](size_t i) { CheckJob(jobs[i], timing, cancelled, a[i], b[i]); });
    std::vector<LineCheckOutcome> outcomes;
    for (size_t i = 0; i < jobs.size(); ++i) {
        outcomes.push_back({jobs[i].a, jobs[i].b, a[i]});
        if (jobs[i].b != jobs[i].a) outcomes.push_back({jobs[i].b, jobs[i].a, b[i]});
    }
    return outcomes;
}

bool LineCheckThread::Start(std::vector<LineCheckJob> jobs, const LineCheckTiming& timing,
                            Done done) {
    return thread_.Start([jobs = std::move(jobs), timing,
                          done = std::move(done)](const std::function<bool()>& cancelled) {
        const std::vector<LineCheckOutcome> outcomes = RunLineCheck(jobs, timing, cancelled);
        if (done) done(outcomes);
    });
}
