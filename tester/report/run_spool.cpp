#include "tester/report/run_spool.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/state_folder.h"
#include "tester/report/output_file.h"

namespace fs = std::filesystem;

std::string SpoolFolder() {
    const std::string state = plat::programStateFolder();
    return state.empty() ? "" : (fs::path(state) / "spool").string();
}

bool SpoolRecord(const std::string& folder, const std::string& runId, const std::string& record,
                 std::string& path, std::string& error) {
    if (folder.empty()) {
        error = "no spool folder: the environment names no home";
        return false;
    }
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        error = code.message();
        return false;
    }
    path = (fs::path(folder) / (runId + ".json")).string();
    return WriteFileWhole(path, record, "spool", error);
}

namespace {

bool ReadWhole(const fs::path& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = std::make_error_code(std::errc::no_such_file_or_directory).message();
        std::error_code code;
        if (fs::exists(path, code)) error = "cannot be read";
        return false;
    }
    std::stringstream whole;
    whole << in.rdbuf();
    text = whole.str();
    return true;
}

}  // namespace

size_t FlushSpool(const std::string& folder, RunHistory& history, std::FILE* err) {
    std::error_code code;
    if (folder.empty() || !fs::is_directory(folder, code)) return 0;
    std::vector<std::pair<fs::file_time_type, fs::path>> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, code))
        if (entry.path().extension() == ".json" && entry.is_regular_file(code))
            files.emplace_back(entry.last_write_time(code), entry.path());
    std::sort(files.begin(), files.end());
    size_t brought = 0;
    for (const auto& file : files) {
        std::string text, error;
        StoredRun run;
        if (!ReadWhole(file.second, text, error) || !ReadStoredRun(text, run, error)) {
            std::fprintf(err,
                         "vesktest: %s in the spool folder is not a run record (%s); it is left "
                         "there\n",
                         file.second.string().c_str(), error.c_str());
            continue;
        }
        if (run.database != history.Where()) continue;  // meant for another database
        if (history.Append(run, error) == AppendOutcome::Failed) {
            std::fprintf(err,
                         "vesktest: the run %s kept in %s could not be added to the history "
                         "database %s either: %s\n",
                         run.id.c_str(), file.second.string().c_str(), history.Where().c_str(),
                         error.c_str());
            break;
        }
        fs::remove(file.second, code);
        ++brought;
    }
    if (brought != 0)
        std::fprintf(err,
                     "vesktest: %zu %s kept in the spool folder %s went into the history "
                     "database %s\n",
                     brought, brought == 1 ? "run" : "runs", folder.c_str(),
                     history.Where().c_str());
    return brought;
}

int ImportRecords(const std::vector<std::string>& files, RunHistory& history, std::FILE* out,
                  std::FILE* err) {
    int exitCode = 0;
    for (const std::string& file : files) {
        std::string text, error;
        StoredRun run;
        if (!ReadWhole(file, text, error) || !ReadStoredRun(text, run, error)) {
            std::fprintf(err, "vesktest: cannot import '%s': %s\n", file.c_str(), error.c_str());
            exitCode = 2;
            continue;
        }
        const AppendOutcome outcome = history.Append(run, error);
        if (outcome == AppendOutcome::Failed) {
            std::fprintf(err,
                         "vesktest: the run %s of '%s' could not be added to the history "
                         "database %s: %s\n",
                         run.id.c_str(), file.c_str(), history.Where().c_str(), error.c_str());
            exitCode = kBatchHistoryFailed;
            break;
        }
        std::fprintf(out, "vesktest: %s: run %s %s\n", file.c_str(), run.id.c_str(),
                     outcome == AppendOutcome::Stored ? "stored" : "already in the history");
    }
    std::fflush(out);
    return exitCode;
}
