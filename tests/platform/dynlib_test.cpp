#include "platform/dynlib.h"

#include <gtest/gtest.h>

TEST(DynamicLibrary, LoadsByBaseNameFromTheProgramFolder) {
    plat::LibraryHandle lib = plat::loadLibrary("vesk_fixture");
    ASSERT_NE(lib, nullptr);
    auto answer = reinterpret_cast<int (*)(int)>(plat::findSymbol(lib, "fixtureAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(7), 44);
    EXPECT_EQ(plat::findSymbol(lib, "noSuchExport"), nullptr);
    plat::unloadLibrary(lib);
}

TEST(DynamicLibrary, MissingLibraryGivesNull) {
    EXPECT_EQ(plat::loadLibrary("vesk_no_such_library"), nullptr);
    EXPECT_EQ(plat::loadLibrary(""), nullptr);
    EXPECT_EQ(plat::findSymbol(nullptr, "fixtureAnswer"), nullptr);
}
