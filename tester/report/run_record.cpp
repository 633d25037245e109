#include "tester/report/run_record.h"

#include <chrono>
#include <cstdio>
#include <random>

#include "tester/config/configuration.h"
#include "tester/engine/port_worker.h"
#include "tester/report/final_table.h"
#include "tester/report/line_check_text.h"
#include "platform/name_table.h"

namespace {

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and
// back (the civil-date algorithms of H. Hinnant): plain arithmetic, the same
// on every platform and thread, unlike gmtime.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool Digits(const std::string& text, size_t at, size_t count, unsigned& value) {
    if (at + count > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

// "1<2 2<1 3<3": whom each port hears, for the rows that know it.
std::string WiringOf(const std::vector<BatchRow>& rows) {
    std::string wiring;
    for (const BatchRow& row : rows) {
        if (row.source.empty()) continue;
        if (!wiring.empty()) wiring += ' ';
        wiring += row.cells[kColumnNumber] + "<" + row.source;
    }
    return wiring;
}

std::string SummaryLineOf(const RunRecord& r) {
    if (r.steps.empty()) return SummaryLine(r.summary);
    std::string line = SweepSummaryLine(r.steps, r.summary.abort);
    if (r.settings.lines && LinesFailed(r.rows)) line += "; " + LinesVerdictLine(r.rows);
    return line;
}

}  // namespace

const char* RunOutcomeName(RunOutcome outcome) {
    static const char* const kNames[] = {"PASS", "FAIL", "ERROR", "ABORTED"};
    return plat::NameOf(outcome, kNames);
}

const char* PortVerdictName(PortVerdict verdict) {
    static const char* const kNames[] = {"PASS", "FAIL", "ERROR", "SKIPPED"};
    return plat::NameOf(verdict, kNames);
}

PortVerdict PortVerdictOf(const BatchRow& row) {
    if (row.outcome == PortOutcome::NotTested) return PortVerdict::Skipped;
    if (!row.ready || row.outcome == PortOutcome::NotOpened) return PortVerdict::Error;
    if (row.values.drops != 0) return PortVerdict::Error;
    return row.outcome == PortOutcome::Passed ? PortVerdict::Pass : PortVerdict::Fail;
}

std::string FrameText(uint32_t byteSize, uint32_t parity, uint32_t stopBits) {
    static const char kParityLetters[] = "NOEMS";
    std::string text = std::to_string(byteSize);
    text += parity < 5 ? kParityLetters[parity] : '?';
    return text + NameOf(StopBitsNames, stopBits);
}

RunOutcome RunOutcomeOf(const RunRecord& r) {
    if (r.stopped || r.summary.abort.aborted) return RunOutcome::Aborted;
    bool notOpened = r.summary.notOpened != 0;
    bool failed = r.summary.exitCode != kBatchPassed;
    if (!r.steps.empty()) {
        const int swept = SweepExitCode(r.steps);
        notOpened = notOpened || swept == kBatchNotOpened;
        failed = swept != kBatchPassed || (r.settings.lines && LinesFailed(r.rows));
    }
    if (notOpened) return RunOutcome::Error;
    return failed ? RunOutcome::Fail : RunOutcome::Pass;
}

RunRecord MakeRunRecord(RunSettings settings, int64_t startedMs, std::vector<BatchRow> rows,
                        BatchSummary summary, std::vector<SweepStep> steps, int exitCode,
                        bool stopped) {
    RunRecord r;
    r.runId = NewRunId();
    r.settings = std::move(settings);
    r.startedMs = startedMs;
    r.endedMs = UnixMsNow();
    r.rows = std::move(rows);
    r.summary = std::move(summary);
    r.steps = std::move(steps);
    r.exitCode = exitCode;
    r.stopped = stopped || r.summary.abort.aborted;
    r.testRanMs = r.summary.abort.aborted
                      ? r.summary.abort.ranMs
                      : r.settings.seconds * 1000ull *
                            (r.settings.sweepRates.empty() ? 1 : r.settings.sweepRates.size());
    r.wiring = WiringOf(r.rows);
    r.outcome = RunOutcomeOf(r);
    r.summaryLine = SummaryLineOf(r);
    return r;
}

int64_t UnixMsNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string Rfc3339Utc(int64_t unixMs) {
    int64_t days = unixMs / 86400000;
    int64_t msOfDay = unixMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    const int64_t s = msOfDay / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<long long>(y), m, d, static_cast<int>(s / 3600),
                  static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
                  static_cast<int>(msOfDay % 1000));
    return text;
}

bool ParseUtcTime(const std::string& text, int64_t& unixMs) {
    unsigned y, m, d, hh = 0, mm = 0, ss = 0, ms = 0;
    if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, m) ||
        text[7] != '-' || !Digits(text, 8, 2, d))
        return false;
    if (m < 1 || m > 12 || d < 1) return false;
    static const unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kMonthDays[m - 1] || (m == 2 && d == 29 && !leap)) return false;
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != 't') || !Digits(text, 11, 2, hh) || text[13] != ':' ||
            !Digits(text, 14, 2, mm) || text.size() < 17 || text[16] != ':' ||
            !Digits(text, 17, 2, ss) || hh > 23 || mm > 59 || ss > 59)
            return false;
        size_t at = 19;
        if (at < text.size() && text[at] == '.') {
            unsigned scale = 100;
            for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
                ms += static_cast<unsigned>(text[at] - '0') * scale;
                scale /= 10;
            }
            if (text[at - 1] == '.') return false;
        }
        if (at + 1 != text.size() || (text[at] != 'Z' && text[at] != 'z')) return false;
    }
    unixMs = (DaysFromCivil(y, m, d) * 86400 + hh * 3600 + mm * 60 + ss) * 1000 + ms;
    return true;
}

std::string NewRunId() {
    std::random_device device;
    std::mt19937_64 random((static_cast<uint64_t>(device()) << 32) ^ device() ^
                           static_cast<uint64_t>(UnixMsNow()));
    uint64_t high = random(), low = random();
    high = (high & ~uint64_t{0xF000}) | 0x4000;                    // version 4
    low = (low & ~(uint64_t{0xC} << 60)) | (uint64_t{0x8} << 60);  // the variant
    char text[40];
    std::snprintf(text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx",
                  static_cast<unsigned long long>(high >> 32),
                  static_cast<unsigned long long>((high >> 16) & 0xFFFF),
                  static_cast<unsigned long long>(high & 0xFFFF),
                  static_cast<unsigned long long>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}
