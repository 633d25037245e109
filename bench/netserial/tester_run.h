// Running the terminal tester from a benchmark: where it is, and one
// unattended run of it in a folder of its own, with its output kept.
#pragma once

#include <string>
#include <vector>

namespace bench {

// The vesktest next to this program, or $VESKTEST when set. Empty, with a
// message printed, when there is none to run.
std::string FindTester();

struct TesterRun {
    int exitCode = -1;  // -1: it did not end by exit()
    double seconds = 0;
    std::vector<std::string> output;  // stdout and stderr, line by line
};

// Runs `tester` with `args` in `dir` and waits for it.
TesterRun RunTester(const std::string& tester, const std::string& dir,
                    const std::vector<std::string>& args);

}  // namespace bench
