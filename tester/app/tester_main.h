// vesktest's entry: the command line, then --help, the demo ports, an
// unattended run or the terminal front end.
#pragma once

#include <string>
#include <vector>

// Runs as the words after the program's name ask. Returns the exit code:
// kExitUsage for a command line that cannot be used (after a message on
// stderr), 0 after --help, the unattended run's code, or the front end's.
int RunVesktest(const std::vector<std::string>& args);
