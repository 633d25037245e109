#include "tester/engine/condition_check.h"

#include <memory>

#include "platform/event.h"
#include "tester/engine/line_borrow.h"
#include "platform/name_table.h"

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

}  // namespace

const char* ConditionCheckName(ConditionCheck check) {
    static const char* const kNames[] = {"flow", "break", "parity"};
    return plat::NameOf(check, kNames);
}

std::vector<ConditionRun> RunConditionChecks(const std::vector<LineCheckJob>& jobs,
                                             const std::vector<ConditionCheck>& checks,
                                             const ConditionTiming& timing,
                                             const std::function<bool()>& cancelled) {
    // Per job, one result per check, each way.
    std::vector<std::vector<LineCheckResult>> a(jobs.size()), b(jobs.size());
    SideBySide(jobs.size(), [&](size_t i) {
        for (ConditionCheck check : checks) {
            LineCheckResult there, back;
            CheckJob(jobs[i], check, timing, cancelled, there, back);
            a[i].push_back(there);
            b[i].push_back(back);
        }
    });
    std::vector<ConditionRun> results;
    for (size_t c = 0; c < checks.size(); ++c) {
        ConditionRun result;
        result.check = checks[c];
        for (size_t i = 0; i < jobs.size(); ++i) {
            result.outcomes.push_back({jobs[i].a, jobs[i].b, a[i][c]});
            if (jobs[i].b != jobs[i].a) result.outcomes.push_back({jobs[i].b, jobs[i].a, b[i][c]});
        }
        results.push_back(std::move(result));
    }
    return results;
}

bool ConditionCheckThread::Start(std::vector<LineCheckJob> jobs, std::vector<ConditionCheck> checks,
                                 const ConditionTiming& timing, Done done) {
    return thread_.Start([jobs = std::move(jobs), checks = std::move(checks), timing,
                          done = std::move(done)](const std::function<bool()>& cancelled) {
        const std::vector<ConditionRun> runs = RunConditionChecks(jobs, checks, timing, cancelled);
        if (done) done(runs);
    });
}
