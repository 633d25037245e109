#include "tester/batch/rate_check.h"

#include <cmath>
#include <cstdio>

#include "tester/engine/port_worker.h"
#include "tester/session/row_store.h"

namespace {

// Each ready row's bytes received into `counts` (0 for the others), and
// when they were read. Reading them takes a moment, longer on a busy
// machine; its middle is the fairest edge for the window, where a clock
// read before or after would count the moment on one side only.
std::chrono::steady_clock::time_point ReadCounts(RowStore& rows, std::vector<uint64_t>& counts) {
    const auto before = std::chrono::steady_clock::now();
    counts.assign(static_cast<size_t>(rows.RowCount()), 0);
    for (size_t r = 0; r < counts.size(); ++r) {
        const PortWorker* worker = rows.GetRowWorker(static_cast<int32_t>(r));
        if (!worker) continue;
        const PortSnapshot port = worker->Snapshot();
        if (port.Ready()) counts[r] = port.bytesRead;
    }
    return before + (std::chrono::steady_clock::now() - before) / 2;
}

std::string Rate(double bytesPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
    return text;
}

}  // namespace

RateCheck JudgeRate(uint32_t baud, double expected, double measured, bool paced) {
    RateCheck check;
    check.baud = baud;
    check.expected = expected;
    check.measured = measured;
    if (!(expected > 0)) {
        check.verdict = RateVerdict::NotMeasured;
        return check;
    }
    check.ratio = measured / expected;
    if (check.ratio > kNotPacedRatio && !paced) {
        check.verdict = RateVerdict::NotPaced;
    } else if (check.ratio > 1 + kRateTolerance) {
        check.verdict = RateVerdict::Fast;
    } else if (check.ratio < 1 - kRateTolerance) {
        check.verdict = RateVerdict::Slow;
    } else {
        check.verdict = RateVerdict::Passed;
    }
    return check;
}

std::string RateProblem(const RateCheck& check) {
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.1f%%", std::fabs(check.ratio - 1) * 100);
    switch (check.verdict) {
        case RateVerdict::Slow:
        case RateVerdict::Fast:
            return "received " + Rate(check.measured) + ", " + percent +
                   (check.verdict == RateVerdict::Slow ? " below" : " above") + " the line's " +
                   Rate(check.expected);
        case RateVerdict::NotMeasured:
            return "rate not measured: the test was stopped within " +
                   std::to_string(kRateMinTestSeconds) + " s";
        default:
            return "";
    }
}

void RateWindow::Open(RowStore& rows) {
    openedAt_ = ReadCounts(rows, bytesAtOpen_);
    opened_ = true;
}

void RateWindow::Close(RowStore& rows, const DCB& asked) {
    std::vector<uint64_t> atClose;
    const Clock::time_point closedAt = ReadCounts(rows, atClose);
    const auto count = static_cast<int32_t>(atClose.size());
    const double seconds =
        opened_ ? std::chrono::duration<double>(closedAt - openedAt_).count() : 0;
    const bool longEnough = opened_ && seconds * 1000 >= kRateMinWindowMs;
    checks_.assign(static_cast<size_t>(count), RateCheck());
    for (int32_t r = 0; r < count; ++r) {
        PortWorker* worker = rows.GetRowWorker(r);
        if (!worker) continue;
        const PortSnapshot port = worker->Snapshot();
        if (!port.Ready()) continue;
        RateCheck& check = checks_[static_cast<size_t>(r)];
        check.baud = asked.BaudRate;
        check.expected = LineBytesPerSecond(asked);
        if (port.mode != ModeDuplex) {
            check.verdict = RateVerdict::HalfDuplex;
            continue;
        }
        const uint64_t closing = atClose[static_cast<size_t>(r)];
        // A count that went back was started again inside the window.
        if (!longEnough || static_cast<size_t>(r) >= bytesAtOpen_.size() ||
            closing < bytesAtOpen_[static_cast<size_t>(r)]) {
            check.verdict = RateVerdict::NotMeasured;
            continue;
        }
        const uint64_t bytes = closing - bytesAtOpen_[static_cast<size_t>(r)];
        check = JudgeRate(asked.BaudRate, check.expected, static_cast<double>(bytes) / seconds,
                          port.kind == DeviceKind::Serial);
    }
}
