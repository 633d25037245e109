#include "tester/batch/batch_record.h"

#include "tester/batch/rate_check.h"
#include "tester/config/configuration.h"

namespace {

RunSettings SettingsOf(const BatchOptions& options) {
    const PortSettings& p = configuration.portSettings;
    RunSettings s;
    s.configPath = configPath;
    s.seconds = options.seconds;
    s.pairs = options.pairs;
    s.lines = options.lines;
    s.checkRate = options.checkRate;
    s.drainLimitSeconds = options.drainLimitMs / 1000;
    s.sweepRates = options.sweepRates;
    // A sweep leaves its last speed in the configuration: the file's own
    // is the one the run did not change, the first speed's is the one it
    // began with.
    s.baudRate = options.sweepRates.empty() ? uint32_t{p.baudRate} : options.sweepRates.front();
    s.byteSize = p.byteSize;
    s.parity = p.parity;
    s.stopBits = p.stopBits;
    s.flowControl = p.flowControl;
    s.blockSize = p.blockSize;
    s.rateTolerance = kRateTolerance;
    s.notPacedRatio = kNotPacedRatio;
    return s;
}

}  // namespace

int KeepRunRecord(const BatchOptions& options, int64_t startedMs,
                  const std::vector<BatchRow>& final, const BatchSummary& summary,
                  const std::vector<SweepStep>& sweep, int exitCode, std::FILE* err) {
    RunRecord record = MakeRunRecord(SettingsOf(options), startedMs, final, summary, sweep,
                                     exitCode, summary.abort.aborted);
    record.programTitle = options.programTitle;
    return WriteRunOutputs(record, options.outputs, err);
}
