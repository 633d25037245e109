#include "netserial/deadline.h"
#include "netserial/io_loop.h"
#include "netserial/net_socket.h"
#include "netserial/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

using namespace qelnet;

namespace {

// An INI file in the working directory, removed at the end of the test.
class IniFile {
  public:
    explicit IniFile(const std::string& text) : path_("settings_test.ini") {
        std::ofstream(path_) << text;
    }
    ~IniFile() { std::remove(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

  private:
    std::string path_;
};

uint32_t fakeNow = 0;
uint32_t fakeTicks() {
    return fakeNow;
}

}  // namespace

TEST(LibrarySettings, MissingFileGivesTheDefaults) {
    LibrarySettings s = ReadLibrarySettings("no_such_qelnet.ini");
    EXPECT_EQ(s.sendBufSize, 1024);
    EXPECT_EQ(s.recvBufSize, 4096);
    EXPECT_EQ(s.tcpNoDelay, 1);
    EXPECT_EQ(s.writeBlockSize, 1024);
    EXPECT_EQ(s.disableRemoteState, 0);
    EXPECT_EQ(s.subnegIacDoubling, 1);
    EXPECT_EQ(s.serverLostTimeout, 10);
}

TEST(LibrarySettings, ValuesAreReadAndNormalised) {
    IniFile ini(
        "[General]\nSendBufSize=2048\nRecvBufSize=8192\nTcpNoDelay=5\nWriteBlockSize=20000\n"
        "DisableRemoteState=7\nSubnegIacDoubling=0\n[Other]\nWriteBlockSize=5\n");
    LibrarySettings s = ReadLibrarySettings(ini.path());
    EXPECT_EQ(s.sendBufSize, 2048);
    EXPECT_EQ(s.recvBufSize, 8192);
    EXPECT_EQ(s.tcpNoDelay, 1);
    EXPECT_EQ(s.writeBlockSize, 16384);
    EXPECT_EQ(s.disableRemoteState, 1);
    EXPECT_EQ(s.subnegIacDoubling, 0);
}

TEST(LibrarySettings, WriteBlockSizeBelowOneGivesTheDefault) {
    for (const char* value : {"0", "-5"}) {
        IniFile ini(std::string("[General]\nWriteBlockSize=") + value + "\nTcpNoDelay=0\n");
        LibrarySettings s = ReadLibrarySettings(ini.path());
        EXPECT_EQ(s.writeBlockSize, 1024) << value;
        EXPECT_EQ(s.tcpNoDelay, 0);
    }
    IniFile ini("[General]\nWriteBlockSize=1\n");
    EXPECT_EQ(ReadLibrarySettings(ini.path()).writeBlockSize, 1);
}

TEST(Deadline, CountsDownAcrossTheTickWrap) {
    fakeNow = 0xFFFFFF00u;
    Deadline d = Deadline::after(0x200, fakeTicks);
    ASSERT_TRUE(d.limited());
    EXPECT_EQ(d.left(), 0x200u);
    fakeNow += 0x150;  // past the wrap
    EXPECT_EQ(d.left(), 0xB0u);
    fakeNow += 0xB0;
    EXPECT_EQ(d.left(), 0u);
    fakeNow += 5000;
    EXPECT_EQ(d.left(), 0u);
}

TEST(Deadline, HugeLimitsMeanNoLimit) {
    fakeNow = 1234;
    EXPECT_FALSE(Deadline::after(MAXDWORD, fakeTicks).limited());
    EXPECT_FALSE(Deadline::after(0x80000000u, fakeTicks).limited());
    EXPECT_TRUE(Deadline::after(0x7FFFFFFFu, fakeTicks).limited());
    EXPECT_EQ(Deadline().left(), MAXDWORD);
}

// The rows of the read time-out table, read at a fixed tick.
TEST(PlanRead, FollowsTheSerialApiTable) {
    fakeNow = 1000;
    auto plan = [](DWORD interval, DWORD multiplier, DWORD constant, DWORD toRead) {
        COMMTIMEOUTS t{interval, multiplier, constant, 0, 0};
        return PlanRead(t, toRead, fakeTicks);
    };
    ReadPlan all = plan(0, 0, 0, 10);
    EXPECT_FALSE(all.deadline.limited());
    EXPECT_FALSE(all.anyByte);

    ReadPlan now = plan(MAXDWORD, 0, 0, 10);
    EXPECT_TRUE(now.deadline.limited());
    EXPECT_EQ(now.deadline.left(), 0u);
    EXPECT_FALSE(now.anyByte);

    ReadPlan any = plan(MAXDWORD, MAXDWORD, 500, 100);
    EXPECT_EQ(any.deadline.left(), 500u);
    EXPECT_TRUE(any.anyByte);

    // The interval plays no part elsewhere: 20, 0, 0 is a limit of 0.
    ReadPlan interval = plan(20, 0, 0, 10);
    EXPECT_EQ(interval.deadline.left(), 0u);
    EXPECT_FALSE(interval.anyByte);

    EXPECT_EQ(plan(0, 10, 50, 7).deadline.left(), 120u);
    EXPECT_EQ(plan(MAXDWORD, MAXDWORD, MAXDWORD, 1).deadline.left(), MAXDWORD);
    EXPECT_FALSE(plan(MAXDWORD, MAXDWORD, MAXDWORD, 1).anyByte);
    // 32-bit arithmetic: 0x80000000 * 2 + 5 wraps to 5.
    EXPECT_EQ(plan(0, 0x80000000u, 5, 2).deadline.left(), 5u);
    // A computed limit of exactly MAXDWORD is no limit.
    EXPECT_FALSE(plan(0, 1, MAXDWORD - 4, 4).deadline.limited());
}

TEST(PlanWrite, NoLimitOnlyWhenBothFieldsAreZero) {
    fakeNow = 50;
    COMMTIMEOUTS none{};
    EXPECT_FALSE(PlanWrite(none, 100, fakeTicks).limited());
    COMMTIMEOUTS limited{0, 0, 0, 2, 30};
    EXPECT_EQ(PlanWrite(limited, 100, fakeTicks).left(), 230u);
    COMMTIMEOUTS constantOnly{0, 0, 0, 0, 7};
    EXPECT_EQ(PlanWrite(constantOnly, 100000, fakeTicks).left(), 7u);
}

// 0 leaves TCP's own bounds; a negative bound means nothing and gives the
// default; beyond an hour TCP's own bounds serve as well.
TEST(LibrarySettings, ServerLostTimeoutIsKeptWithinAnHour) {
    const std::pair<const char*, int32_t> cases[] = {
        {"0", 0}, {"3", 3}, {"3600", 3600}, {"3601", 3600}, {"-1", 10}};
    for (const auto& [value, expected] : cases) {
        IniFile ini(std::string("[General]\nServerLostTimeout=") + value + "\n");
        EXPECT_EQ(ReadLibrarySettings(ini.path()).serverLostTimeout, expected) << value;
    }
}

// The pool follows the machine unless told, and never the ports: 0 is one
// loop per four processors (one to four), -1 a thread per connection, a
// count is taken as it is up to the most there may be.
TEST(LibrarySettings, IoThreadsSizeThePoolByTheMachineUnlessSet) {
    const std::pair<const char*, int32_t> cases[] = {
        {"0", 0}, {"-1", -1}, {"3", 3}, {"99", kMaxIoLoops}, {"-7", 0}};
    for (const auto& [value, expected] : cases) {
        IniFile ini(std::string("[General]\nIoThreads=") + value + "\n");
        EXPECT_EQ(ReadLibrarySettings(ini.path()).ioThreads, expected) << value;
    }
    EXPECT_EQ(ReadLibrarySettings("no_such_qelnet.ini").ioThreads, 0);
    EXPECT_EQ(IoLoopsFor(0, 2), 1);
    EXPECT_EQ(IoLoopsFor(0, 0), 1);  // the system does not say
    EXPECT_EQ(IoLoopsFor(0, 12), 3);
    EXPECT_EQ(IoLoopsFor(0, 64), 4);
    EXPECT_EQ(IoLoopsFor(2, 64), 2);
    EXPECT_EQ(IoLoopsFor(kMaxIoLoops, 2), kMaxIoLoops);
}

// Never less than two of the connection's segments, whatever the setting
// says; the setting where it is larger, or where the segment size is
// unknown.
TEST(LibrarySettings, SocketBuffersHoldTwoSegmentsAtLeast) {
    EXPECT_EQ(SocketBufferFor(4096, 1460), 4096);
    EXPECT_EQ(SocketBufferFor(1024, 1460), 2920);
    EXPECT_EQ(SocketBufferFor(4096, 32741), 65482);
    EXPECT_EQ(SocketBufferFor(4096, 0), 4096);
    EXPECT_EQ(SocketBufferFor(262144, 65483), 262144);
}

// Where the system does not tell the segment size (Wine, older Windows), a
// loopback server is planned for as the loopback's segment; any other
// server leaves the settings as they are.
TEST(LibrarySettings, UnreportedSegmentSizeIsTheLoopbacksOnLoopbackOnly) {
    uint32_t loopback = 0, other = 0;
    ASSERT_TRUE(ParseIpv4("127.0.0.1", &loopback));
    ASSERT_TRUE(ParseIpv4("192.168.1.20", &other));
    EXPECT_EQ(PathSegmentSize(1460, loopback), 1460);
    EXPECT_GE(PathSegmentSize(0, loopback), 65000);
    EXPECT_EQ(PathSegmentSize(0, other), 0);
    EXPECT_EQ(PathSegmentSize(1460, other), 1460);
}
