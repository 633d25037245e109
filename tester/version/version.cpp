#include "tester/version/version.h"

#include <cstdio>

uint32_t versionMajor = 0;
uint32_t versionMinor = 0;
uint32_t versionPatch = 0;
uint32_t versionBuild = 0;

std::string ProgramTitle(const std::string& platform) {
    char title[160];
    std::snprintf(title, sizeof title, "VeskTest (%.64s) - ver %d.%d.%d (build %03u)",
                  platform.c_str(), static_cast<int>(versionMajor), static_cast<int>(versionMinor),
                  static_cast<int>(versionPatch), static_cast<unsigned>(versionBuild));
    return title;
}

std::string MainWindowTitle() {
    return ProgramTitle("Win32");
}

void SetVersionFromWords(uint32_t mostSignificant, uint32_t leastSignificant) {
    versionMajor = mostSignificant >> 16;
    versionMinor = mostSignificant & 0xFFFF;
    versionPatch = leastSignificant >> 16;
    versionBuild = leastSignificant & 0xFFFF;
}
