// Writing a whole output file so that no reader ever sees half of it: the
// text goes to a temporary file beside the target (same folder, so the
// same file system), which is flushed, closed and then renamed over the
// target in one step. A CI server or a script that picks up the file the
// moment it appears reads either the old file or the whole new one.
#pragma once

#include <string>

// Writes `text` to `path` through the temporary "<path>.<tag>.tmp" (`tag`
// keeps two runs that write the same file apart: the run id). False, with
// the system's words in `error`, when it cannot; the temporary file is
// then removed and the target is left as it was.
bool WriteFileWhole(const std::string& path, const std::string& text, const std::string& tag,
                    std::string& error);
