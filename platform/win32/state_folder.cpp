#include "platform/state_folder.h"

#include <windows.h>

namespace plat {

std::string programStateFolder() {
    char folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("LOCALAPPDATA", folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return "";
    return std::string(folder, length) + "\\VeskTest";
}

}  // namespace plat
