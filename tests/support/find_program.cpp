#include "tests/support/find_program.h"

#include <cstdlib>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace rig {

bool IsExecutable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string FindProgram(const char* name, const char* override) {
    const char* forced = std::getenv(override);
    if (forced && *forced) return IsExecutable(forced) ? forced : std::string();
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/usr/local/sbin";
    std::istringstream list(dirs);
    std::string dir;
    while (std::getline(list, dir, ':')) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + name;
        if (IsExecutable(candidate)) return candidate;
    }
    return std::string();
}

}  // namespace rig
