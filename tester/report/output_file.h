// Writing a whole output file so that no reader ever sees half of it: the
// text goes to a temporary file beside the target (same folder, so the
// same file system), which is flushed, closed and then renamed over the
// target in one step. A CI server or a script that picks up the file the
// moment it appears reads either the old file or the whole new one.
#pragma once

#include <string>

// One output in two steps, so that a run can learn which of its files can
// be written before any of them (or its database row) states the exit
// code: Stage writes the temporary "<path>.<tag>.tmp" (again, when the
// text has changed), Commit renames it over the target. A temporary that
// was never committed is removed when the object goes.
class StagedFile {
  public:
    // `tag` keeps two runs that write the same file apart: the run id.
    StagedFile(std::string path, const std::string& tag);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // False, with the system's words in `error`, when the temporary cannot
    // be written or the target is a folder (which no rename replaces).
    bool Stage(const std::string& text, std::string& error);
    bool Commit(std::string& error);
    const std::string& Path() const { return path_; }

  private:
    std::string path_, temporary_;
    bool staged_ = false;
};

// Writes `text` to `path` through the temporary "<path>.<tag>.tmp" (`tag`
// keeps two runs that write the same file apart: the run id). False, with
// the system's words in `error`, when it cannot; the temporary file is
// then removed and the target is left as it was.
bool WriteFileWhole(const std::string& path, const std::string& text, const std::string& tag,
                    std::string& error);
