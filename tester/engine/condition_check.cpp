#include "tester/engine/condition_check.h"

#include <memory>

#include "platform/event.h"
#include "tester/engine/line_borrow.h"

namespace {

using Way = LineCheckResult (*)(LineBorrow&, PortWorker&, PortWorker&);

LineCheckResult Lost() {
    LineCheckResult r;
    r.verdict = LineVerdict::NotChecked;
    r.text = "port lost";
    return r;
}

Way WayOf(ConditionCheck check) {
    switch (check) {
        case ConditionCheck::Break:
            return CheckBreakWay;
        case ConditionCheck::Parity:
            return CheckParityWay;
        default:
            return CheckFlowWay;
    }
}

// One check of one job: both ways of a pair, one of a loop-back plug, each
// on a line drained before and given back after.
void CheckJob(const LineCheckJob& job, ConditionCheck check, const ConditionTiming& timing,
              const std::function<bool()>& cancelled, LineCheckResult& a, LineCheckResult& b) {
    LineBorrow borrow(job, timing, cancelled);
    if (!borrow.Admit(a, b)) return;
    const bool loop = job.a == job.b;
    const Way way = WayOf(check);
    if (borrow.Begin()) {
        a = way(borrow, *job.a, *job.b);
        b = loop ? a : borrow.Stopped() ? borrow.StoppedResult() : way(borrow, *job.b, *job.a);
    } else {
        a = b = borrow.StoppedResult();
    }
    if (borrow.Reconnected()) a = b = Lost();
    const bool wasStopped = borrow.Stopped();
    borrow.End();
    // Settings that could not be given back fail the check whatever it
    // found: the port is no longer as the operator set it.
    if (!wasStopped && borrow.Stopped()) a = b = borrow.StoppedResult();
}

struct JobRun {
    const LineCheckJob* job = nullptr;
    const std::vector<ConditionCheck>* checks = nullptr;
    const ConditionTiming* timing = nullptr;
    const std::function<bool()>* cancelled = nullptr;
    std::vector<LineCheckResult> a, b;  // one per check
    plat::Thread thread;
};

void RunJob(JobRun& run) {
    for (ConditionCheck check : *run.checks) {
        LineCheckResult a, b;
        CheckJob(*run.job, check, *run.timing, *run.cancelled, a, b);
        run.a.push_back(a);
        run.b.push_back(b);
    }
}

void RunJobEntry(void* p) {
    RunJob(*static_cast<JobRun*>(p));
}

}  // namespace

const char* ConditionCheckName(ConditionCheck check) {
    switch (check) {
        case ConditionCheck::Break:
            return "break";
        case ConditionCheck::Parity:
            return "parity";
        default:
            return "flow";
    }
}

std::vector<ConditionRun> RunConditionChecks(const std::vector<LineCheckJob>& jobs,
                                             const std::vector<ConditionCheck>& checks,
                                             const ConditionTiming& timing,
                                             const std::function<bool()>& cancelled) {
    std::vector<std::unique_ptr<JobRun>> runs;
    for (const LineCheckJob& job : jobs) {
        runs.push_back(std::make_unique<JobRun>());
        JobRun& run = *runs.back();
        run.job = &job;
        run.checks = &checks;
        run.timing = &timing;
        run.cancelled = &cancelled;
    }
    // Without a thread of its own a job runs here, after the others.
    std::vector<bool> threaded;
    for (auto& run : runs)
        threaded.push_back(run->thread.start(RunJobEntry, run.get()));
    for (size_t i = 0; i < runs.size(); ++i) {
        if (threaded[i]) {
            runs[i]->thread.join(plat::kInfinite);
        } else {
            RunJob(*runs[i]);
        }
    }
    std::vector<ConditionRun> results;
    for (size_t c = 0; c < checks.size(); ++c) {
        ConditionRun result;
        result.check = checks[c];
        for (size_t i = 0; i < jobs.size(); ++i) {
            result.outcomes.push_back({jobs[i].a, jobs[i].b, runs[i]->a[c]});
            if (jobs[i].b != jobs[i].a)
                result.outcomes.push_back({jobs[i].b, jobs[i].a, runs[i]->b[c]});
        }
        results.push_back(std::move(result));
    }
    return results;
}

ConditionCheckThread::~ConditionCheckThread() {
    Stop(plat::kInfinite);
}

bool ConditionCheckThread::Start(std::vector<LineCheckJob> jobs, std::vector<ConditionCheck> checks,
                                 const ConditionTiming& timing, Done done) {
    if (!thread_.join(0)) return false;
    jobs_ = std::move(jobs);
    checks_ = std::move(checks);
    timing_ = timing;
    done_ = std::move(done);
    cancel_.store(false);
    return thread_.start(Entry, this);
}

bool ConditionCheckThread::Stop(uint32_t boundMs) {
    cancel_.store(true);
    return thread_.join(boundMs);
}

void ConditionCheckThread::Entry(void* self) {
    ConditionCheckThread& me = *static_cast<ConditionCheckThread*>(self);
    const std::vector<ConditionRun> runs =
        RunConditionChecks(me.jobs_, me.checks_, me.timing_, [&me] { return me.cancel_.load(); });
    if (me.done_) me.done_(runs);
}
