#include "tester/version/version.h"

#include <cstdio>

uint32_t versionMajor = 0;
uint32_t versionMinor = 0;
uint32_t versionPatch = 0;
uint32_t versionBuild = 0;

std::string MainWindowTitle() {
    char title[96];
    std::snprintf(title, sizeof title, "VeskTest (Win32) - ver %d.%d.%d (build %03u)",
                  static_cast<int>(versionMajor), static_cast<int>(versionMinor),
                  static_cast<int>(versionPatch), static_cast<unsigned>(versionBuild));
    return title;
}

void SetVersionFromWords(uint32_t mostSignificant, uint32_t leastSignificant) {
    versionMajor = mostSignificant >> 16;
    versionMinor = mostSignificant & 0xFFFF;
    versionPatch = leastSignificant >> 16;
    versionBuild = leastSignificant & 0xFFFF;
}
