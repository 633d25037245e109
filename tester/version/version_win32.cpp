#include "tester/version/version.h"

#include "platform/win32_types.h"

#include <vector>

namespace {

// The running program's own path, however long. Empty on failure.
std::string OwnModulePath() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::string();
        if (n < path.size()) return std::string(path.data(), n);
        if (path.size() >= 32768) return std::string();
        path.resize(path.size() * 2);
    }
}

}  // namespace

// The record is read from the program's own file, by its full path: looking
// a fixed file name up in the library search order would miss the record
// of a renamed program and could read another program's.
bool ReadProgramVersion() {
    const std::string path = OwnModulePath();
    if (path.empty()) return false;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return false;
    std::vector<char> record(size, 0);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, record.data())) return false;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    SetVersionFromWords(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    return true;
}

std::string PlatformName() {
    return "Win32";
}
