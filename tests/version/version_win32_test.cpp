#include "tester/version/version.h"

#include <gtest/gtest.h>

// This test program carries the tester's resources, version record
// included, under a file name other than the program's: the record is read
// from the running file itself, whatever it is called.
TEST(ReadProgramVersion, ReadsTheRunningFilesOwnRecord) {
    SetVersionFromWords(0, 0);
    ASSERT_TRUE(ReadProgramVersion());
    EXPECT_EQ(MainWindowTitle(), "VeskTest (Win32) - ver 1.1.2 (build 001)");
}
