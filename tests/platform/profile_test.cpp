// One contract, two implementations: natively these run against our own INI
// code, under Wine against the Win32 profile service. Both must agree on
// everything the configuration relies on.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include "tests/support/scratch_dir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class Profile : public ::testing::Test {
  protected:
    void writeFile(const std::string& text) { rig::ScratchDir::write(path_, text); }
    std::string readFile() { return rig::ScratchDir::read(path_); }
    std::vector<std::string> section(const char* name, uint32_t size = 32768) {
        std::vector<char> buf(size, '\x7f');
        uint32_t n = plat::profileReadSection(name, buf.data(), size, path_.c_str());
        std::vector<std::string> out;
        for (uint32_t i = 0; i < n && buf[i];) {
            out.emplace_back(&buf[i]);
            i += static_cast<uint32_t>(out.back().size()) + 1;
        }
        return out;
    }
    uint32_t readInt(const char* s, const char* k, int32_t def) {
        return plat::profileReadInt(s, k, def, path_.c_str());
    }

    rig::ScratchDir dir_{"vesk-profile-"};
    const std::string path_ = dir_.file("test.ini");
};

}  // namespace

TEST_F(Profile, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(readInt("Misc", "BlockSize", 1024), 1024u);
    writeFile("[Misc]\r\nBlockSize=512\r\n");
    EXPECT_EQ(readInt("Serial", "BlockSize", 77), 77u);
    EXPECT_EQ(readInt("Misc", "HDTimeout", -3), static_cast<uint32_t>(-3));
    EXPECT_EQ(section("Ports").size(), 0u);
}

TEST_F(Profile, ReadsTheLeadingIntegerAsTwosComplement) {
    writeFile(
        "[Window]\r\nTop=-20\r\nLeft=  42  \r\nRight=12abc\r\nBottom=abc\r\n"
        "Plus=+7\r\nBig=4294967295\r\nMin=-2147483648\r\n");
    EXPECT_EQ(readInt("Window", "Top", 0), static_cast<uint32_t>(-20));
    EXPECT_EQ(readInt("Window", "Left", 0), 42u);
    EXPECT_EQ(readInt("Window", "Right", 0), 12u);
    EXPECT_EQ(readInt("Window", "Bottom", 99), 0u);
    EXPECT_EQ(readInt("Window", "Plus", 0), 7u);
    EXPECT_EQ(readInt("Window", "Big", 0), 4294967295u);
    EXPECT_EQ(readInt("Window", "Min", 0), 0x80000000u);
}

TEST_F(Profile, NamesMatchWithoutRegardToCase) {
    writeFile("[serial]\r\nbaudrate=9600\r\n");
    EXPECT_EQ(readInt("SERIAL", "BaudRate", 0), 9600u);
    ASSERT_TRUE(plat::profileWriteString("Serial", "BAUDRATE", "19200", path_.c_str()));
    EXPECT_EQ(readInt("serial", "baudrate", 0), 19200u);
    EXPECT_EQ(readFile().find("9600"), std::string::npos)
        << "the key was added instead of replaced";
}

TEST_F(Profile, WriteCreatesFileSectionAndKey) {
    ASSERT_TRUE(plat::profileWriteString("Misc", "BlockSize", "2048", path_.c_str()));
    ASSERT_TRUE(plat::profileWriteString("Misc", "HDTimeout", "-1", path_.c_str()));
    ASSERT_TRUE(plat::profileWriteString("Window", "Top", "-300", path_.c_str()));
    EXPECT_EQ(readInt("Misc", "BlockSize", 0), 2048u);
    EXPECT_EQ(readInt("Misc", "HDTimeout", 0), 0xFFFFFFFFu);
    EXPECT_EQ(static_cast<int32_t>(readInt("Window", "Top", 0)), -300);
    std::vector<std::string> misc = section("Misc");
    ASSERT_EQ(misc.size(), 2u);
    EXPECT_EQ(misc[0], "BlockSize=2048");
    EXPECT_EQ(misc[1], "HDTimeout=-1");
}

TEST_F(Profile, WriteReplacesInPlaceAndKeepsEveryOtherLine) {
    const std::string before =
        "[Ports]\r\nCOM3\r\n10.0.0.5:950\r\nCOM1\r\n"
        "[Serial]\r\nBaudRate=9600\r\nByteSize=7\r\n"
        "[Window]\r\nTop=10\r\n";
    writeFile(before);
    ASSERT_TRUE(plat::profileWriteString("Serial", "BaudRate", "115200", path_.c_str()));
    std::string expected = before;
    expected.replace(expected.find("9600"), 4, "115200");
    EXPECT_EQ(readFile(), expected);

    ASSERT_TRUE(plat::profileWriteString("Serial", "Parity", "2", path_.c_str()));
    std::vector<std::string> serial = section("Serial");
    ASSERT_EQ(serial.size(), 3u);
    EXPECT_EQ(serial[2], "Parity=2");
    std::vector<std::string> ports = section("Ports");
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0], "COM3");
    EXPECT_EQ(ports[1], "10.0.0.5:950");
    EXPECT_EQ(ports[2], "COM1");
    EXPECT_EQ(readInt("Window", "Top", 0), 10u);
}

TEST_F(Profile, SectionComesBackLineByLineInFileOrder) {
    writeFile("[Ports]\r\nCOM2\r\nCOM3=extra text\r\n  COM7  \r\n\r\n[Other]\r\nX=1\r\n");
    std::vector<std::string> ports = section("ports");
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0], "COM2");
    EXPECT_EQ(ports[1], "COM3=extra text");
    EXPECT_EQ(ports[2], "COM7");
}

TEST_F(Profile, SectionBeyondTheBufferIsCutNotOverrun) {
    std::string text = "[Ports]\r\n";
    for (int i = 1; i <= 200; ++i)
        text += "COM" + std::to_string(i) + "\r\n";
    writeFile(text);
    constexpr uint32_t kSize = 64;
    std::vector<char> buf(kSize + 16, '\x7f');
    uint32_t n = plat::profileReadSection("Ports", buf.data(), kSize, path_.c_str());
    EXPECT_EQ(n, kSize - 2);
    EXPECT_EQ(buf[kSize - 2], '\0');
    EXPECT_EQ(buf[kSize - 1], '\0');
    for (uint32_t i = kSize; i < kSize + 16; ++i)
        EXPECT_EQ(buf[i], '\x7f') << "written past the buffer";
    EXPECT_STREQ(buf.data(), "COM1");
}

TEST_F(Profile, BareFileNameMeansTheCurrentDirectory) {
    fs::path old = fs::current_path();
    fs::current_path(dir_.path());
    bool wrote = plat::profileWriteString("Misc", "BlockSize", "64", "bare.ini");
    uint32_t back = plat::profileReadInt("Misc", "BlockSize", 0, "bare.ini");
    fs::current_path(old);
    EXPECT_TRUE(wrote);
    EXPECT_EQ(back, 64u);
    EXPECT_TRUE(fs::exists(dir_.path() / "bare.ini"));
}
