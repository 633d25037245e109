#include "tester/report/interval_log.h"

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "tester/engine/port_worker.h"
#include "tester/session/refresh.h"
#include "tester/report/csv_text.h"
#include "tester/session/row_store.h"

namespace {

int64_t UnixNow() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

// Bytes per second from two readings of a counter `ms` apart. A counter
// that went down was cleared (the Clear command) in between: what it holds
// now came in since.
template <typename Counter>
uint64_t RatePerSecond(Counter now, Counter before, uint32_t ms) {
    if (ms == 0) return 0;
    const uint64_t moved = now >= before ? uint64_t{now} - before : uint64_t{now};
    return moved * 1000 / ms;
}

}  // namespace

std::string MergeLineErrors(const std::string& seen, const std::string& more) {
    if (seen.empty()) return more;
    std::string merged = seen;
    for (size_t i = 0; i < merged.size() && i < more.size(); ++i)
        if (more[i] != '.') merged[i] = more[i];
    return merged;
}

std::string IsoUtc(int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    const std::tm* utc = std::gmtime(&t);  // the loop's thread only
    char text[32] = "";
    if (utc) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    return text;
}

std::string IntervalLogHeader() {
    return "time,port,rx_bytes,rx_blocks,tx_bytes,tx_blocks,rx_rate,tx_rate,rx_errors,"
           "tx_errors,line_errors,line_error_count,error_kind,os_error,state,drops,rx_idle_s";
}

namespace {

// "0.0", "5.2": seconds with one decimal.
std::string RxIdleSeconds(uint32_t ms) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u", ms / 1000, ms % 1000 / 100);
    return text;
}

}  // namespace

std::string IntervalLogLine(const LogSample& sample, const PortSample& port) {
    const PortSnapshot& v = port.values;
    const std::string fields[] = {
        IsoUtc(sample.unixSeconds),
        port.name,
        std::to_string(v.bytesRead),
        std::to_string(v.blocksOk),
        std::to_string(v.bytesWritten),
        std::to_string(v.blocksWritten),
        std::to_string(port.rxRate),
        std::to_string(port.txRate),
        std::to_string(v.rxErrors),
        std::to_string(v.txErrors),
        port.lineErrors,
        std::to_string(v.lineErrorCount),
        port.ready ? v.lastErrorKindText : port.openFailure,
        port.ready ? std::to_string(v.lastOsError) : std::string(),
        port.state,
        std::to_string(v.drops),
        RxIdleSeconds(v.rxIdleMs),
    };
    std::string line;
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i) {
        if (i > 0) line += ',';
        line += CsvField(fields[i]);
    }
    return line;
}

IntervalLog::IntervalLog(uint32_t intervalSeconds, bool keepSamples)
    : intervalMs_(intervalSeconds * 1000u), keepSamples_(keepSamples) {}

IntervalLog::~IntervalLog() {
    if (file_) std::fclose(file_);
}

bool IntervalLog::OpenFile(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    if (file_) std::fclose(file_);
    file_ = file;
    path_ = path;
    if (std::fseek(file_, 0, SEEK_END) == 0 && std::ftell(file_) == 0) Write(IntervalLogHeader());
    error = problem_;
    return problem_.empty();
}

void IntervalLog::Write(const std::string& line) {
    if (!file_ || !problem_.empty()) return;
    const std::string text = line + "\r\n";
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() || std::fflush(file_) != 0)
        problem_ = std::strerror(errno);
}

void IntervalLog::Poll(RowStore& rows) {
    // Line errors are read from the rows' workers at every call: the
    // refresh replaces them every 500 ms.
    const std::vector<RowStore::RowView> views = rows.Snapshot();
    if (lineErrors_.size() < views.size()) lineErrors_.resize(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        const PortWorker* worker = views[i].worker;
        if (worker && (worker->State() == PortState::Open || worker->State() == PortState::Down))
            lineErrors_[i] = MergeLineErrors(lineErrors_[i], worker->CommErrorText());
    }

    // Samples keep to the interval's beat rather than drift by the loop's
    // lateness; after a stall (a suspended process) the beat starts anew.
    const uint32_t now = plat::tickCount();
    if (started_ && plat::ticksBetween(firstTick_, now) < nextDueMs_) return;
    Take(rows);
    const uint32_t elapsed = plat::ticksBetween(firstTick_, now);
    nextDueMs_ += intervalMs_;
    if (nextDueMs_ <= elapsed) nextDueMs_ = elapsed + intervalMs_;
}

void IntervalLog::Final(RowStore& rows) {
    Take(rows);
}

void IntervalLog::Take(RowStore& rows) {
    const uint32_t now = plat::tickCount();
    if (!started_) {
        started_ = true;
        firstTick_ = lastTick_ = now;
    }
    const uint32_t sinceLast = plat::ticksBetween(lastTick_, now);

    LogSample sample;
    sample.unixSeconds = UnixNow();
    sample.elapsedMs = plat::ticksBetween(firstTick_, now);
    const std::vector<RowStore::RowView> views = rows.Snapshot();
    if (lineErrors_.size() < views.size()) lineErrors_.resize(views.size());
    for (size_t i = 0; i < views.size(); ++i) {
        const RowStore::RowView& view = views[i];
        PortSample port;
        port.name = view.cells[kColumnName];
        const PortSnapshot snapshot = view.worker ? view.worker->Snapshot() : PortSnapshot();
        port.ready = view.worker && snapshot.Ready();
        // The State cell's own rule ("Down" for a lost port included).
        port.state = view.worker ? StateCellText(snapshot) : view.cells[kColumnState];
        if (port.ready) {
            port.values = snapshot;
            lineErrors_[i] = MergeLineErrors(lineErrors_[i], port.values.commErrorText);
            if (i < last_.size() && last_[i].ready) {
                const PortSnapshot& before = last_[i].values;
                port.rxRate = RatePerSecond(port.values.bytesRead, before.bytesRead, sinceLast);
                port.txRate =
                    RatePerSecond(port.values.bytesWritten, before.bytesWritten, sinceLast);
            }
        } else {
            port.openFailure = view.worker ? snapshot.openFailure : view.cells[kColumnErrDesc];
        }
        port.lineErrors = lineErrors_[i].empty() ? FormatCommErrors(0) : lineErrors_[i];
        lineErrors_[i].clear();
        Write(IntervalLogLine(sample, port));
        sample.ports.push_back(std::move(port));
    }
    last_ = sample.ports;
    lastTick_ = now;
    if (keepSamples_) samples_.push_back(std::move(sample));
}

uint32_t IntervalLog::ElapsedMs() const {
    return started_ ? plat::ticksBetween(firstTick_, plat::tickCount()) : 0;
}
