#include "platform/profile.h"

#include "platform/win32_types.h"

#include <string>

namespace plat {

namespace {

// The profile service looks for a bare file name in the Windows folder; we
// mean the current directory, as everywhere else.
std::string resolve(const char* path) {
    std::string p(path ? path : "");
    if (!p.empty() && p.find_first_of("\\/:") == std::string::npos) p = ".\\" + p;
    return p;
}

}  // namespace

uint32_t profileReadInt(const char* section, const char* key, int32_t defaultValue,
                        const char* path) {
    return GetPrivateProfileIntA(section, key, defaultValue, resolve(path).c_str());
}

bool profileWriteString(const char* section, const char* key, const char* value, const char* path) {
    return WritePrivateProfileStringA(section, key, value, resolve(path).c_str()) != 0;
}

uint32_t profileReadSection(const char* section, char* buffer, uint32_t size, const char* path) {
    return GetPrivateProfileSectionA(section, buffer, size, resolve(path).c_str());
}

}  // namespace plat
