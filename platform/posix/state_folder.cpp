#include "platform/state_folder.h"

#include <cstdlib>

namespace plat {

std::string programStateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return std::string(state) + "/vesktest";
    const char* home = std::getenv("HOME");
    if (home && home[0] != '\0') return std::string(home) + "/.local/state/vesktest";
    return "";
}

}  // namespace plat
