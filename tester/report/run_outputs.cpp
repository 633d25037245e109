#include "tester/report/run_outputs.h"

#include <memory>
#include <vector>

#include "tester/report/json_record.h"
#include "tester/report/junit_report.h"
#include "tester/report/output_file.h"
#include "tester/report/run_spool.h"

namespace {

struct Output {
    const char* what;  // "JSON record"
    std::string (*format)(const RunRecord&);
    std::unique_ptr<StagedFile> file;
    bool failed = false;
};

// Stages every output that has not failed yet with the record as it
// stands; a failure costs the exit code kBatchOutputFailed. True when
// that changed the code (the others then hold the old one).
bool Stage(std::vector<Output>& outputs, RunRecord& record, int& exitCode, std::FILE* err) {
    const int before = exitCode;
    record.exitCode = exitCode;
    for (Output& output : outputs) {
        std::string error;
        if (output.failed || output.file->Stage(output.format(record), error)) continue;
        std::fprintf(err, "vesktest: cannot write the %s '%s': %s\n", output.what,
                     output.file->Path().c_str(), error.c_str());
        output.failed = true;
        exitCode = WithOutputFailure(exitCode, kBatchOutputFailed);
    }
    return exitCode != before;
}

void StageUntilSettled(std::vector<Output>& outputs, RunRecord& record, int& exitCode,
                       std::FILE* err) {
    // Each round can only raise the code, to kBatchOutputFailed at most.
    while (Stage(outputs, record, exitCode, err)) {
    }
    record.exitCode = exitCode;
}

// The run into the history; when the database cannot take it, the record
// (with the code that failure gives it) into the spool folder.
void AppendToHistory(RunRecord& record, const RunOutputOptions& options, int& exitCode,
                     std::FILE* err) {
    RunHistory& history = *options.history;
    record.database = history.Where();
    record.exitCode = exitCode;
    StoredRun stored;
    std::string error;
    record.databaseStored = ReadStoredRun(FormatJsonRecord(record), stored, error) &&
                            history.Append(stored, error) != AppendOutcome::Failed;
    if (record.databaseStored) return;
    record.databaseError = error;
    exitCode = WithOutputFailure(exitCode, kBatchHistoryFailed);
    record.exitCode = exitCode;
    std::string path, why;
    if (SpoolRecord(options.spoolFolder, record.runId, FormatJsonRecord(record), path, why))
        std::fprintf(err,
                     "vesktest: the run could not be added to the history database %s: %s; its "
                     "record is kept in %s and goes in with the next run that reaches the "
                     "database (or: vesktest --db %s --import %s)\n",
                     record.database.c_str(), error.c_str(), path.c_str(), record.database.c_str(),
                     path.c_str());
    else
        std::fprintf(err,
                     "vesktest: the run could not be added to the history database %s: %s; nor "
                     "could its record be kept in the spool folder %s: %s\n",
                     record.database.c_str(), error.c_str(), options.spoolFolder.c_str(),
                     why.c_str());
}

}  // namespace

int WriteRunOutputs(RunRecord& record, const RunOutputOptions& options, std::FILE* err) {
    record.tags = options.tags;
    record.version = options.version;
    record.commandLine = options.commandLine;
    int exitCode = record.exitCode;
    std::vector<Output> outputs;
    if (!options.jsonPath.empty())
        outputs.push_back(Output{"JSON record", FormatJsonRecord,
                                 std::make_unique<StagedFile>(options.jsonPath, record.runId)});
    if (!options.junitPath.empty())
        outputs.push_back(Output{"JUnit file", FormatJunitReport,
                                 std::make_unique<StagedFile>(options.junitPath, record.runId)});

    StageUntilSettled(outputs, record, exitCode, err);
    if (options.history) AppendToHistory(record, options, exitCode, err);
    // Again, now with whether the history has the run and its final code.
    if (options.history) StageUntilSettled(outputs, record, exitCode, err);
    for (Output& output : outputs) {
        std::string error;
        if (output.failed || output.file->Commit(error)) continue;
        std::fprintf(err, "vesktest: cannot write the %s '%s': %s\n", output.what,
                     output.file->Path().c_str(), error.c_str());
        exitCode = WithOutputFailure(exitCode, kBatchOutputFailed);
    }
    if (options.history && record.databaseStored)
        FlushSpool(options.spoolFolder, *options.history, err);
    std::fflush(err);
    return exitCode;
}
