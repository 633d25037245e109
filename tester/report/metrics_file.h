// The session's metrics as a file that a floor's Prometheus collects
// through the station's node_exporter (Linux) or windows_exporter
// (Windows): their textfile collectors serve every *.prom file of a folder
// as it stands, so the tester opens no port and needs no HTTP code of its
// own. The file is rewritten whole every interval, through a temporary name
// beside it that the collectors ignore (not *.prom) and a rename, so a
// scrape reads the last whole file, never half of one (output_file.h).
//
// The session's refresh observer (refresh_timer.h) hands every refresh's
// snapshots to Sample on the timer's thread; Sample writes when the
// interval is due (the first at once). A run that knows the results of
// its checks gives them (SetChecks) from its own thread. Finish writes the
// last file as the session ends: the ports as they ended, the run no
// longer running and its outcome. The file then stays, so that the floor
// still sees how the station's last session ended (node_exporter's
// node_textfile_mtime_seconds says how old it is).
//
// A file that cannot be written is said once, through the problem handler,
// and never stops the session: every later interval tries again.
//
// Threads: Sample on the refresh timer's thread, SetChecks and Finish on
// the front end's; a small lock guards the checks, and one writer at a
// time owns the writing (no lock is held across the file's I/O). A write
// still held up (a file system that hangs) when Finish comes is waited for
// kMetricsFinishWaitMs at most; the last file is then not written.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tester/report/metrics_text.h"

constexpr uint32_t kMetricsFinishWaitMs = 5000;

class MetricsFile {
  public:
    // Writes `path` every `intervalSeconds` (1 at least), its series
    // labelled with `labels`.
    MetricsFile(std::string path, uint32_t intervalSeconds, MetricLabels labels);
    MetricsFile(const MetricsFile&) = delete;
    MetricsFile& operator=(const MetricsFile&) = delete;

    // Told, once, the first time the file cannot be written, in a sentence
    // for the operator. Called on the thread that wrote (the refresh
    // timer's, or Finish's caller): queue it, do not block. Set it before
    // the session starts.
    using ProblemHandler = std::function<void(const std::string& text)>;
    void SetProblemHandler(ProblemHandler handler) { problemHandler_ = std::move(handler); }

    // A refresh's snapshots, in row order: writes when the interval is due.
    void Sample(const std::vector<PortSnapshot>& ports);

    // The results of the run's checks known so far, by row.
    void SetChecks(std::vector<PortChecks> byRow);

    // The last write, now: `ports` as the session ended (every open port
    // stopped), the run ended, with `outcome` (the run's verdict) or,
    // without one, the outcome so far. Later calls to Sample write
    // nothing.
    void Finish(const std::vector<PortSnapshot>& ports,
                std::optional<RunOutcome> outcome = std::nullopt);

    const std::string& Path() const { return path_; }
    // Why the file could not be written, the first time it could not; ""
    // when every write went through.
    std::string Problem() const;
    // Writes made so far.
    uint32_t Writes() const;

  private:
    // Builds the text of `ports` and writes it (the writing owned).
    void Write(const std::vector<PortSnapshot>& ports, bool running,
               std::optional<RunOutcome> outcome);
    void Report(const std::string& why);
    // Sample's part once it owns the writing; EndWriting gives it up.
    void Sampled(const std::vector<PortSnapshot>& ports);
    void EndWriting();

    const std::string path_;
    const uint32_t intervalMs_;
    const MetricLabels labels_;
    const int64_t startedMs_;
    ProblemHandler problemHandler_;

    mutable std::mutex lock_;  // checks_, problem_, writes_
    std::vector<PortChecks> checks_;
    std::string problem_;
    uint32_t writes_ = 0;

    // Whoever sets writing_ owns what follows it, and the file, until it
    // clears it. A flag and not a lock held across the write, so that
    // Finish can wait for a hung write a bounded time.
    std::mutex writeGate_;  // writing_, finished_
    std::condition_variable writeDone_;
    bool writing_ = false;
    bool finished_ = false;
    bool started_ = false;
    uint32_t firstTick_ = 0;
    uint32_t nextDueMs_ = 0;           // since firstTick_
    uint32_t lastTick_ = 0;            // of the last write
    uint32_t writesMade_ = 0;          // tried, whether or not they went through
    std::vector<uint64_t> lastBytes_;  // bytesRead by row at the last write
};
