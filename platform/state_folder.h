// Where the program keeps what it must not lose between runs and that is
// nobody's document: the user's own state folder.
#pragma once

#include <string>

namespace plat {

// The program's folder under the user's state folder, not made yet:
// $XDG_STATE_HOME/vesktest (~/.local/state/vesktest without it) on POSIX,
// %LOCALAPPDATA%\VeskTest on Windows. "" when the environment names no
// home at all.
std::string programStateFolder();

}  // namespace plat
