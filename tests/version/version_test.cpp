#include "tester/version/version.h"

#include <gtest/gtest.h>

namespace {

void SetVersion(uint32_t major, uint32_t minor, uint32_t patch, uint32_t build) {
    SetVersionFromWords(major << 16 | minor, patch << 16 | build);
}

}  // namespace

TEST(MainWindowTitle, ShowsTheFileVersion) {
    SetVersionFromWords(0x00010001, 0x00020001);  // 1.1.2.1
    EXPECT_EQ(versionMajor, 1u);
    EXPECT_EQ(versionMinor, 1u);
    EXPECT_EQ(versionPatch, 2u);
    EXPECT_EQ(versionBuild, 1u);
    EXPECT_EQ(MainWindowTitle(), "VeskTest (Win32) - ver 1.1.2 (build 001)");
}

TEST(MainWindowTitle, PadsTheBuildToThreeDigitsAndNoFurther) {
    SetVersion(2, 10, 0, 7);
    EXPECT_EQ(MainWindowTitle(), "VeskTest (Win32) - ver 2.10.0 (build 007)");
    SetVersion(1, 1, 2, 1234);
    EXPECT_EQ(MainWindowTitle(), "VeskTest (Win32) - ver 1.1.2 (build 1234)");
    SetVersion(65535, 65535, 65535, 65535);
    EXPECT_EQ(MainWindowTitle(), "VeskTest (Win32) - ver 65535.65535.65535 (build 65535)");
}

TEST(MainWindowTitle, WithoutAVersionRecordReadsZero) {
    SetVersion(0, 0, 0, 0);
    EXPECT_EQ(MainWindowTitle(), "VeskTest (Win32) - ver 0.0.0 (build 000)");
}
