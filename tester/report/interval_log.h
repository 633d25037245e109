// The running record of a test: every interval, one sample of every port
// row, appended to a CSV file as it is taken and, for a report at the end,
// kept in memory. A technician who comes back after a night sees when a
// line went bad, not only that it did.
//
// A sample is made of what the rows are made of (PortSnapshot, read as the
// refresh reads them), plus what only a series of samples can tell: the
// rates over the interval and every line error seen during it (the row
// shows only those of the last refresh). The front end's loop calls Poll
// often (every 100 to 250 ms, more often than the 500 ms refresh, so that
// no refresh's line errors are missed); Poll writes when an interval is
// due. Everything runs on that loop's thread, while the session's workers
// are alive.
//
// The CSV, one line per port per sample, CRLF line ends (as --report),
// each line flushed as it is written, so a crash or a kill loses at most
// the sample being taken:
//
//   time,port,rx_bytes,rx_blocks,tx_bytes,tx_blocks,rx_rate,tx_rate,
//   rx_errors,tx_errors,line_errors,line_error_count,error_kind,os_error,
//   state,drops,rx_idle_s
//
//   time         ISO 8601 UTC, whole seconds: 2024-05-01T22:10:05Z
//   *_rate       bytes per second over the interval before the sample
//   line_errors  the O F P B R T letters of every line error seen during
//                the interval ("......" for none)
//   line_error_count  refreshes that found line errors, since the start
//   error_kind   the last error's kind ("..", "RD", "SY"...); for a port
//                that did not open, why not
//   state        the State cell: mode and directions, "Down", "Open",
//                "Not open"
//   drops        how often the port was lost (and opened again)
//   rx_idle_s    seconds since the port last received, while it should
//                (a reader, a slave, a master awaiting echoes): a stalled
//                line shows here long before the run ends
//
// A file that exists is appended to; the header goes only into an empty
// one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tester/session/row_texts.h"

class RowStore;

// One port row at one sample.
struct PortSample {
    std::string name;         // the Name cell
    bool ready = false;       // the port opened; `values` are its worker's
    PortSnapshot values;      // all zero when not ready
    std::string state;        // as the State cell shows it
    std::string openFailure;  // why the port did not open (the ErrDesc cell)
    std::string lineErrors;   // letters of every line error of the interval
    uint64_t rxRate = 0;      // bytes per second over the interval
    uint64_t txRate = 0;
};

struct LogSample {
    int64_t unixSeconds = 0;        // UTC
    uint32_t elapsedMs = 0;         // since the first sample
    std::vector<PortSample> ports;  // in row order
};

// "O.P..." merged with "..P.R.": "O.P.R.". Either may be empty.
std::string MergeLineErrors(const std::string& seen, const std::string& more);

// The CSV header line and one sample's lines, without line ends.
std::string IntervalLogHeader();
std::string IntervalLogLine(const LogSample& sample, const PortSample& port);

// "2024-05-01T22:10:05Z".
std::string IsoUtc(int64_t unixSeconds);

class IntervalLog {
  public:
    // `keepSamples`: keep every sample for Samples() (the HTML report).
    IntervalLog(uint32_t intervalSeconds, bool keepSamples);
    ~IntervalLog();
    IntervalLog(const IntervalLog&) = delete;
    IntervalLog& operator=(const IntervalLog&) = delete;

    // Opens `path` for appending and writes the header into an empty file.
    // False, with the system's reason in `error`, when it cannot.
    bool OpenFile(const std::string& path, std::string& error);

    // Notes the line errors the rows show now; takes a sample when the
    // interval is due (the first at the first call).
    void Poll(RowStore& rows);
    // A last sample now, whatever the interval: the run's end.
    void Final(RowStore& rows);

    const std::vector<LogSample>& Samples() const { return samples_; }
    // Milliseconds since the first sample (0 before it): where a moment
    // falls on the samples' time line.
    uint32_t ElapsedMs() const;
    uint32_t IntervalSeconds() const { return intervalMs_ / 1000; }
    // Why the file could not be written, once it could not; else empty.
    const std::string& Problem() const { return problem_; }

  private:
    void Take(RowStore& rows);
    void Write(const std::string& line);

    const uint32_t intervalMs_;
    const bool keepSamples_;
    std::FILE* file_ = nullptr;
    std::string path_;
    std::string problem_;
    bool started_ = false;
    uint32_t firstTick_ = 0;
    uint32_t lastTick_ = 0;
    uint32_t nextDueMs_ = 0;               // since firstTick_
    std::vector<PortSample> last_;         // the previous sample's ports
    std::vector<std::string> lineErrors_;  // per row, since the last sample
    std::vector<LogSample> samples_;
};
