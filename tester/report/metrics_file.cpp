#include "tester/report/metrics_file.h"

#include <chrono>

#include "platform/clock.h"
#include "tester/report/output_file.h"

namespace {

// A rename onto a file that a reader holds open fails on Windows while it
// reads (windows_exporter's collector does not let others delete the file
// it reads): a few tries a moment apart get past a scrape.
constexpr int kWriteTries = 5;
constexpr uint32_t kRetryPauseMs = 20;

}  // namespace

MetricsFile::MetricsFile(std::string path, uint32_t intervalSeconds, MetricLabels labels)
    : path_(std::move(path)),
      intervalMs_((intervalSeconds == 0 ? 1u : intervalSeconds) * 1000u),
      labels_(std::move(labels)),
      startedMs_(UnixMsNow()) {}

void MetricsFile::Sample(const std::vector<PortSnapshot>& ports) {
    // A write still under way (Finish's) makes this one needless.
    {
        std::lock_guard<std::mutex> gate(writeGate_);
        if (writing_ || finished_) return;
        writing_ = true;
    }
    Sampled(ports);
    EndWriting();
}

void MetricsFile::EndWriting() {
    {
        std::lock_guard<std::mutex> gate(writeGate_);
        writing_ = false;
    }
    writeDone_.notify_all();
}

void MetricsFile::Sampled(const std::vector<PortSnapshot>& ports) {
    // Writes keep to the interval's beat rather than drift by the
    // refresh's lateness; after a stall the beat starts anew.
    const uint32_t now = plat::tickCount();
    if (!started_) {
        started_ = true;
        firstTick_ = lastTick_ = now;
    } else if (plat::ticksBetween(firstTick_, now) < nextDueMs_) {
        return;
    }
    Write(ports, true, std::nullopt);
    const uint32_t elapsed = plat::ticksBetween(firstTick_, now);
    nextDueMs_ += intervalMs_;
    if (nextDueMs_ <= elapsed) nextDueMs_ = elapsed + intervalMs_;
}

void MetricsFile::SetChecks(std::vector<PortChecks> byRow) {
    std::lock_guard<std::mutex> hold(lock_);
    checks_ = std::move(byRow);
}

void MetricsFile::Finish(const std::vector<PortSnapshot>& ports,
                         std::optional<RunOutcome> outcome) {
    {
        std::unique_lock<std::mutex> gate(writeGate_);
        if (!writeDone_.wait_for(gate, std::chrono::milliseconds(kMetricsFinishWaitMs),
                                 [this] { return !writing_; }))
            return;
        finished_ = true;
        writing_ = true;
    }
    if (!started_) {
        started_ = true;
        firstTick_ = lastTick_ = plat::tickCount();
    }
    Write(ports, false, outcome);
    EndWriting();
}

void MetricsFile::Write(const std::vector<PortSnapshot>& ports, bool running,
                        std::optional<RunOutcome> outcome) {
    const uint32_t now = plat::tickCount();
    const uint32_t sinceLast = plat::ticksBetween(lastTick_, now);
    RunMetrics run;
    run.labels = labels_;
    run.running = running;
    run.startedMs = startedMs_;
    run.ports.resize(ports.size());
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (size_t i = 0; i < ports.size(); ++i) {
            const auto row = static_cast<size_t>(ports[i].rowIndex);
            if (row < checks_.size()) run.ports[i].checks = checks_[row];
        }
    }
    if (lastBytes_.size() < ports.size()) lastBytes_.resize(ports.size(), 0);
    for (size_t i = 0; i < ports.size(); ++i) {
        PortMetrics& port = run.ports[i];
        port.values = ports[i];
        // The session has ended: whatever its last look found running,
        // nothing runs or waits for a byte any more.
        if (!running) {
            port.values.rxRunning = port.values.txRunning = 0;
            port.values.rxIdleMs = 0;
        }
        // A count that went down was cleared in between: what it holds now
        // came since.
        const uint64_t bytes = port.values.bytesRead;
        const uint64_t moved = bytes >= lastBytes_[i] ? bytes - lastBytes_[i] : bytes;
        if (sinceLast != 0 && writesMade_ != 0) port.rxRate = moved * 1000 / sinceLast;
        lastBytes_[i] = bytes;
    }
    run.outcome = outcome ? *outcome : OutcomeSoFar(run.ports);
    lastTick_ = now;
    ++writesMade_;

    const std::string text = FormatMetrics(run);
    std::string why;
    for (int attempt = 0; attempt < kWriteTries; ++attempt) {
        if (attempt > 0) plat::sleepMs(kRetryPauseMs);
        if (WriteFileWhole(path_, text, "metrics", why)) {
            std::lock_guard<std::mutex> hold(lock_);
            ++writes_;
            return;
        }
    }
    Report(why);
}

void MetricsFile::Report(const std::string& why) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!problem_.empty()) return;
        problem_ = why.empty() ? "unknown error" : why;
    }
    if (problemHandler_)
        problemHandler_("cannot write the metrics file '" + path_ + "': " + why +
                        "; the test goes on, and the file is tried again every interval");
}

std::string MetricsFile::Problem() const {
    std::lock_guard<std::mutex> hold(lock_);
    return problem_;
}

uint32_t MetricsFile::Writes() const {
    std::lock_guard<std::mutex> hold(lock_);
    return writes_;
}
