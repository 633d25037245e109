// Where a peer program of the rigs is installed (ser2net, sredird...).
#pragma once

#include <string>

namespace rig {

// A regular file the caller may execute.
bool IsExecutable(const std::string& path);

// $<override> when set (empty when that is not executable), else the first
// `name` on the PATH, then in /usr/sbin and /usr/local/sbin (not on an
// ordinary user's PATH). Empty when there is none.
std::string FindProgram(const char* name, const char* override);

}  // namespace rig
