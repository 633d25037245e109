// A file an unattended run was asked to write (the CSV report, the HTML
// page): written whole under a temporary name beside it and then renamed
// into place, so that a reader never finds half a file, and a file that
// cannot be written is the run's failure, said in words.
#pragma once

#include <cstdio>
#include <string>

// Writes `text` to `path`. False, after "vesktest: cannot write <what>
// '<path>': <reason>" on `err`, when it cannot (the folder is missing or
// read-only, the disk is full); a file that was there is then left as it
// was.
bool WriteOutputFile(const std::string& path, const char* what, const std::string& text,
                     std::FILE* err);
