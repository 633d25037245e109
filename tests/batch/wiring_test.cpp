// The wiring of a bench: what --wiring takes, the map's line and cells,
// the identification frames on the line, and the verdicts that depend on
// who hears whom.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tester/batch/delivery.h"
#include "tester/batch/verdict.h"
#include "tester/batch/wiring.h"
#include "tester/batch/wiring_probe.h"

namespace {

Wiring Heard(const std::vector<std::vector<int32_t>>& heard) {
    Wiring wiring;
    wiring.heard = heard;
    wiring.probed.assign(heard.size(), true);
    return wiring;
}

TEST(Wiring, DeclarationsAreReadOrRefusedInWords) {
    WiringDeclaration d;
    std::string why;
    ASSERT_TRUE(ParseWiringDeclaration("pairs", d, why));
    EXPECT_EQ(d.kind, WiringDeclaration::Pairs);
    ASSERT_TRUE(ParseWiringDeclaration("1-2,3-3,4-6", d, why));
    EXPECT_EQ(d.links, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 2}, {3, 3}, {4, 6}}));
    for (const char* bad : {"", "1-", "1-2,", "0-1", "1-256", "a-b", "1--2", "1-2;3-4", "12"}) {
        EXPECT_FALSE(ParseWiringDeclaration(bad, d, why)) << bad;
        EXPECT_NE(why.find("--wiring takes"), std::string::npos) << why;
    }
    EXPECT_FALSE(ParseWiringDeclaration("1-2,2-3", d, why));
    EXPECT_EQ(why, "--wiring names port 2 in two links");

    // Over the configured rows: pairs leave a last odd port with a plug;
    // a map's ports must be configured; ports it leaves out declare nothing.
    Wiring w;
    ParseWiringDeclaration("pairs", d, why);
    ASSERT_TRUE(DeclaredWiring(d, 5, w, why));
    EXPECT_EQ(WiringLine(w), "1-2, 3-4, 5 loop");
    ParseWiringDeclaration("1-4,2-2", d, why);
    ASSERT_TRUE(DeclaredWiring(d, 5, w, why));
    EXPECT_EQ(WiringLine(w), "1-4, 2 loop");
    EXPECT_EQ(SourceText(w, 2), "") << "nothing declared for port 3";
    ParseWiringDeclaration("1-9", d, why);
    EXPECT_FALSE(DeclaredWiring(d, 5, w, why));
    EXPECT_EQ(why, "--wiring names port 9, but 5 ports are configured");
}

TEST(Wiring, TheMapSaysWhoHearsWhom) {
    // 1-2 wired, 3 with a plug, 4 hears nothing, 5 hears 2 only, 6 hears 1
    // and 3 at once, 7 not opened.
    Wiring w = Heard({{1}, {0}, {2}, {}, {1}, {0, 2}, {}});
    w.probed[6] = false;
    EXPECT_EQ(WiringLine(w), "1-2, 3 loop, 4 none, 5 hears 2, 6 hears 1+3");
    EXPECT_EQ(SourceText(w, 0), "2");
    EXPECT_EQ(SourceText(w, 2), "3");
    EXPECT_EQ(SourceText(w, 3), "none");
    EXPECT_EQ(SourceText(w, 5), "1+3");
    EXPECT_EQ(SourceText(w, 6), "");
    EXPECT_EQ(WiredPairs(w), (std::vector<std::pair<int32_t, int32_t>>{{0, 1}, {2, 2}}));
    EXPECT_EQ(w.SourceOf(4), 1);
    EXPECT_FALSE(w.Mutual(4));
    EXPECT_EQ(w.SourceOf(5), -1);
}

// Frames in a stream cut anywhere, among other bytes, on lines of fewer
// data bits: found whole, once each; a damaged one, and none of the test
// blocks' bytes, is ever taken for one.
TEST(WiringProbe, FramesAreFoundWholeWhereverTheStreamIsCut) {
    uint8_t frame[kProbeFrameBytes];
    EncodeProbeFrame(7, 0xDEADBEEF, frame);
    for (uint8_t b : frame) {
        EXPECT_LT(b, 0x20) << "crosses 5 data bits unchanged";
        EXPECT_NE(b, 0x11);
        EXPECT_NE(b, 0x13);
    }
    std::vector<uint8_t> stream = {'[', 'V', 'E', 'S', 'K', ']', 0, 0x1E, 0x1E};
    stream.insert(stream.end(), frame, frame + kProbeFrameBytes);
    for (int k = 0; k < 64; ++k)
        stream.push_back(static_cast<uint8_t>(k & 0x1F));  // a 5-bit block's pattern
    stream.insert(stream.end(), frame, frame + kProbeFrameBytes);
    EncodeProbeFrame(2, 0x12345678, frame);
    stream.insert(stream.end(), frame, frame + kProbeFrameBytes);
    frame[6] ^= 0x01;  // one symbol changed on the line
    stream.insert(stream.end(), frame, frame + kProbeFrameBytes);

    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        ProbeScanner scanner;
        std::map<std::pair<uint32_t, uint32_t>, int> found;
        auto note = [&](uint32_t row, uint32_t nonce) { ++found[{row, nonce}]; };
        scanner.Feed(stream.data(), cut, note);
        scanner.Feed(stream.data() + cut, stream.size() - cut, note);
        const std::map<std::pair<uint32_t, uint32_t>, int> wanted = {{{7, 0xDEADBEEF}, 2},
                                                                     {{2, 0x12345678}, 1}};
        EXPECT_EQ(found, wanted) << "cut at " << cut;
    }
}

// Two ports that talk into one receiver garble the copies they send at
// once: any two rows share at most two of their four copies' slots, so at
// least two copies of each arrive clear.
TEST(WiringProbe, AnyTwoSendersKeepTwoCopiesClearOfEachOther) {
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t b = a + 1; b < 256; ++b) {
            uint32_t shared = 0;
            for (uint32_t copy = 0; copy < kProbeCopies; ++copy) {
                ASSERT_LT(ProbeSlot(copy, a), kProbeSlots);
                for (uint32_t other = 0; other < kProbeCopies; ++other)
                    if (ProbeSlot(copy, a) == ProbeSlot(other, b)) ++shared;
            }
            ASSERT_LE(shared, kProbeCopies - kProbeCopiesNeeded) << a << " and " << b;
        }
    }
}

TEST(WiringProbe, ItTakesItsTimeOnSlowLines) {
    DCB line{};
    line.BaudRate = 115200;
    line.ByteSize = 8;
    // A frame of 15 bytes of 10 bits takes 1.3 ms; a slot 5 ms more.
    EXPECT_EQ(ProbeTimingFor(line).frameMs, 2u);
    EXPECT_EQ(ProbeTimingFor(line).slotMs, 7u);
    EXPECT_EQ(ProbeTimingFor(line).SendMs(), 36 * 7u);
    line.BaudRate = 300;
    EXPECT_EQ(ProbeTimingFor(line).frameMs, 501u);
    EXPECT_EQ(ProbeTimingFor(line).slotMs, 501u + 125);
    EXPECT_EQ(ProbeTimingFor(line).ListenLimitMs(), 36 * 626u + 2 * 501 + 1000);
}

BatchRow Port(int number, uint64_t blocksOk, uint64_t blocksWritten) {
    BatchRow row;
    row.ready = true;
    row.cells[0] = std::to_string(number);
    row.cells[1] = "P" + std::to_string(number);
    row.values.rowIndex = number - 1;
    row.values.blockSize = 1024;
    row.values.blocksOk = blocksOk;
    row.values.bytesRead = blocksOk * 1024;
    row.values.blocksWritten = blocksWritten;
    row.values.bytesWritten = blocksWritten * 1024;
    return row;
}

// What a receiver got is held against what its source sent; a port that
// hears another than declared, or two at once, fails; so does a stall.
TEST(WiringVerdict, DeliveryWiringAndStallsFailInNumbers) {
    std::vector<BatchRow> rows = {Port(1, 100, 649139), Port(2, 144409, 100)};
    rows[1].values.rxFill = 721;
    rows[1].values.bytesRead += 721;
    AccountDelivery(rows, Heard({{1}, {0}}));
    EXPECT_EQ(PortProblems(rows[0]), std::vector<std::string>{});
    EXPECT_EQ(PortProblems(rows[1]),
              (std::vector<std::string>{"received 144409 of the 649139 blocks port 1 sent",
                                        "last block cut short: 721 of 1024 bytes"}));

    BatchRow crossed = Port(3, 10, 10);
    crossed.source = "5";
    crossed.declared = "4";
    EXPECT_EQ(PortProblems(crossed), std::vector<std::string>{"hears port 5, expected port 4"});
    crossed.source = "none";
    crossed.declared = "3";
    EXPECT_EQ(PortProblems(crossed), std::vector<std::string>{"hears nothing, expected itself"});
    crossed.source = "1+5";
    crossed.declared = "";
    EXPECT_EQ(PortProblems(crossed), std::vector<std::string>{"hears port 1 and port 5 at once"});

    BatchRow stalled = Port(4, 10, 10);
    stalled.stalls = {Stall{3000, 5000}, Stall{12000, 2400}};
    EXPECT_EQ(PortProblems(stalled),
              std::vector<std::string>{"nothing received for 5.0 s from 00:00:03 (2 stalls)"});
}

}  // namespace
