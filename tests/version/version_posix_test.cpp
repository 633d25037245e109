#include "tester/version/version.h"

#include <gtest/gtest.h>

// The terminal tester has no version record to read: the numbers come from
// the build, the same ones the Windows version record is made from.
TEST(ReadProgramVersion, TakesTheBuildsVersion) {
    SetVersionFromWords(0, 0);
    ASSERT_TRUE(ReadProgramVersion());
    EXPECT_EQ(MainWindowTitle(), "VeskTest (Win32) - ver 1.1.2 (build 001)");
    // The terminal program's title names the kernel it runs on.
    EXPECT_EQ(ProgramTitle(PlatformName()), "VeskTest (Linux) - ver 1.1.2 (build 001)");
}
