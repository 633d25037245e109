#include "tester/report/run_outputs.h"

#include "tester/report/json_record.h"
#include "tester/report/junit_report.h"
#include "tester/report/output_file.h"

namespace {

bool WriteOutput(const char* what, const std::string& path, const std::string& text,
                 const std::string& tag, std::FILE* err) {
    std::string error;
    if (WriteFileWhole(path, text, tag, error)) return true;
    std::fprintf(err, "vesktest: cannot write the %s '%s': %s\n", what, path.c_str(),
                 error.c_str());
    return false;
}

}  // namespace

int WriteRunOutputs(RunRecord& record, const RunOutputOptions& options, std::FILE* err) {
    record.tags = options.tags;
    record.version = options.version;
    record.commandLine = options.commandLine;
    int exitCode = record.exitCode;
    if (options.history) {
        record.database = options.history->Where();
        std::string error;
        record.databaseStored = options.history->Append(record, error);
        if (!record.databaseStored) {
            record.databaseError = error;
            std::fprintf(err,
                         "vesktest: the run could not be added to the history database %s: %s\n",
                         record.database.c_str(), error.c_str());
            exitCode = WithOutputFailure(exitCode, kBatchHistoryFailed);
        }
    }
    record.exitCode = exitCode;
    bool written = true;
    if (!options.jsonPath.empty())
        written = WriteOutput("JSON record", options.jsonPath, FormatJsonRecord(record),
                              record.runId, err) &&
                  written;
    if (!options.junitPath.empty())
        written = WriteOutput("JUnit file", options.junitPath, FormatJunitReport(record),
                              record.runId, err) &&
                  written;
    std::fflush(err);
    return written ? exitCode : kBatchOutputFailed;
}
