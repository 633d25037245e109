#include "netserial/telnet_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace qelnet;
using Bytes = std::vector<uint8_t>;

namespace {

// Effects in stream order, as text: "L10" line state 10, "M48" modem state
// 48, "F0"/"F1" server flow off/on, "C1=0.0.37.128" a line command and its
// value bytes (what a device server's side of the line acts on).
struct RecordingSink : TelnetSink {
    std::vector<std::string> effects;
    void onLineState(uint8_t v) override { effects.push_back("L" + std::to_string(v)); }
    void onModemState(uint8_t v) override { effects.push_back("M" + std::to_string(v)); }
    void onServerFlow(bool on) override { effects.push_back(on ? "F1" : "F0"); }
    void onComPortCommand(uint8_t code, const uint8_t* value, size_t length) override {
        std::string e = "C" + std::to_string(code) + "=";
        for (size_t i = 0; i < length; ++i)
            e += (i ? "." : "") + std::to_string(value[i]);
        effects.push_back(e);
    }
};

struct Scanned {
    Bytes payload;
    std::vector<std::string> effects;
};

// Scans `in` in pieces of the given sizes (the rest in one last piece).
Scanned scanInPieces(const Bytes& in, const std::vector<size_t>& pieces = {}) {
    TelnetScanner scanner;
    RecordingSink sink;
    Scanned out;
    size_t at = 0;
    auto feed = [&](size_t n) {
        Bytes chunk(in.begin() + at, in.begin() + at + n);
        Bytes payload(n + 1, 0xEE);
        size_t d = scanner.scan(chunk.data(), n, payload.data(), sink);
        EXPECT_LE(d, n);
        out.payload.insert(out.payload.end(), payload.begin(), payload.begin() + d);
        at += n;
    };
    for (size_t p : pieces)
        feed(p);
    feed(in.size() - at);
    out.effects = sink.effects;
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes toBytes(const TelnetCommand& c) {
    return Bytes(c.bytes, c.bytes + c.size);
}

}  // namespace

TEST(TelnetScanner, DoubledIacIsOnePayloadByte) {
    EXPECT_EQ(scanInPieces({65, 255, 255, 66}).payload, (Bytes{65, 255, 66}));
}

TEST(TelnetScanner, OnlyNegotiationsTakeAnOptionByte) {
    EXPECT_EQ(scanInPieces({255, 251, 1, 67}).payload, Bytes{67});             // WILL 1
    EXPECT_EQ(scanInPieces({255, 254, 44, 67, 68}).payload, (Bytes{67, 68}));  // DONT 44
    // NOP, GA and the other two-byte commands cost no payload byte.
    EXPECT_EQ(scanInPieces({255, 241, 68, 69}).payload, (Bytes{68, 69}));
    EXPECT_EQ(scanInPieces({70, 255, 249, 71}).payload, (Bytes{70, 71}));
    EXPECT_EQ(scanInPieces({255, 240, 72}).payload, Bytes{72});  // a stray SE
}

TEST(TelnetScanner, ReplyHoldingByte44CostsNoPayload) {
    // The SET-BAUDRATE reply for 300 baud: value 0 0 1 44.
    Bytes in = {255, 250, 44, 101, 0, 0, 1, 44, 255, 240, 'a', 'b', 'c'};
    Scanned s = scanInPieces(in);
    EXPECT_EQ(s.payload, (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(s.effects.empty());
}

TEST(TelnetScanner, NotificationsReachTheSinkWithAnyValue) {
    Bytes in = cat({{255, 250, 44, 107, 48, 255, 240},
                    {'x'},
                    {255, 250, 44, 106, 10, 255, 240},
                    {255, 250, 44, 107, 44, 255, 240},
                    {255, 250, 44, 106, 255, 255, 255, 240},
                    {255, 250, 44, 107, 240, 255, 240},
                    {'y'}});
    Scanned s = scanInPieces(in);
    EXPECT_EQ(s.payload, (Bytes{'x', 'y'}));
    EXPECT_EQ(s.effects, (std::vector<std::string>{"M48", "L10", "M44", "L255", "M240"}));
}

TEST(TelnetScanner, ServerFlowControlIsTakenInBothNumberings) {
    Bytes in = cat({{255, 250, 44, 108, 255, 240},
                    {'a'},
                    {255, 250, 44, 109, 255, 240},
                    {255, 250, 44, 8, 255, 240},
                    {'b'},
                    {255, 250, 44, 9, 255, 240}});
    Scanned s = scanInPieces(in);
    EXPECT_EQ(s.payload, (Bytes{'a', 'b'}));
    EXPECT_EQ(s.effects, (std::vector<std::string>{"F0", "F1", "F0", "F1"}));
}

// What a device server's side of the line receives: the client's line
// commands with their values, a doubled 255 inside a value taken as one.
TEST(TelnetScanner, ClientLineCommandsReachTheSinkWithTheirValues) {
    Bytes in = cat({toBytes(BuildSetBaudRate(9600, true)),
                    {'x'},
                    toBytes(BuildSetBaudRate(0x0000FF00, true)),
                    toBytes(BuildSetStopSize(2)),
                    toBytes(BuildPurgeData(3)),
                    toBytes(BuildHardwareFlow()),
                    {'y'}});
    for (size_t split = 0; split <= in.size(); ++split) {
        Scanned s = scanInPieces(in, {split});
        EXPECT_EQ(s.payload, (Bytes{'x', 'y'})) << "split at " << split;
        EXPECT_EQ(s.effects, (std::vector<std::string>{"C1=0.0.37.128", "C1=0.0.255.0", "C4=2",
                                                       "C12=3", "C5=11", "C5=3"}))
            << "split at " << split;
    }
}

TEST(TelnetScanner, SingleByteForm255BeforeIacSeIsAcceptedToo) {
    // A server that does not double its mask value: 255 IAC SE.
    Bytes in =
        cat({{255, 250, 44, 110, 255, 255, 240}, {'a'}, {255, 250, 44, 106, 255, 255, 240}, {'b'}});
    Scanned s = scanInPieces(in);
    EXPECT_EQ(s.payload, (Bytes{'a', 'b'}));
    EXPECT_EQ(s.effects, std::vector<std::string>{"L255"});
}

TEST(TelnetScanner, OtherSubnegotiationsAreSkippedWhole) {
    // Another option with IAC IAC and 44 inside, the signature text, and an
    // unknown Com Port code.
    Bytes in = cat({{255, 250, 24, 0, 44, 255, 255, 106, 1, 255, 240},
                    {'a'},
                    {255, 250, 44, 100, 'S', 'E', 'R', ' ', 44, 255, 255, 255, 240},
                    {'b'},
                    {255, 250, 44, 77, 1, 2, 3, 255, 240},
                    {'c'}});
    Scanned s = scanInPieces(in);
    EXPECT_EQ(s.payload, (Bytes{'a', 'b', 'c'}));
    EXPECT_TRUE(s.effects.empty());
}

TEST(TelnetScanner, BrokenSubnegotiationEndsAtTheNextCommand) {
    // IAC WILL inside a subnegotiation: the subnegotiation is abandoned and
    // the command taken, so the payload after it survives.
    Bytes in = {255, 250, 44, 101, 0, 255, 251, 3, 'o', 'k'};
    EXPECT_EQ(scanInPieces(in).payload, (Bytes{'o', 'k'}));
}

TEST(TelnetScanner, SplitAtEveryOffsetActsAsIfWhole) {
    Bytes in = cat({{'a', 255, 255},
                    {255, 250, 44, 107, 255, 255, 255, 240},
                    {'b'},
                    {255, 251, 44},
                    {255, 250, 44, 101, 0, 0, 1, 44, 255, 240},
                    {'c', 44},
                    {255, 250, 44, 106, 16, 255, 240},
                    {255, 241, 'd'},
                    {255, 250, 44, 108, 255, 240},
                    {255, 250, 44, 109, 255, 240},
                    {'e'}});
    const Scanned whole = scanInPieces(in);
    EXPECT_EQ(whole.payload, (Bytes{'a', 255, 'b', 'c', 44, 'd', 'e'}));
    EXPECT_EQ(whole.effects, (std::vector<std::string>{"M255", "L16", "F0", "F1"}));
    for (size_t cut = 0; cut <= in.size(); ++cut) {
        Scanned split = scanInPieces(in, {cut});
        EXPECT_EQ(split.payload, whole.payload) << "split at " << cut;
        EXPECT_EQ(split.effects, whole.effects) << "split at " << cut;
    }
    std::vector<size_t> ones(in.size(), 1);
    Scanned byteByByte = scanInPieces(in, ones);
    EXPECT_EQ(byteByByte.payload, whole.payload);
    EXPECT_EQ(byteByByte.effects, whole.effects);
}

TEST(TelnetScanner, ScansInPlace) {
    Bytes in = {'a', 255, 255, 'b', 255, 250, 44, 106, 2, 255, 240, 'c'};
    TelnetScanner scanner;
    RecordingSink sink;
    size_t d = scanner.scan(in.data(), in.size(), in.data(), sink);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + d), (Bytes{'a', 255, 'b', 'c'}));
    EXPECT_EQ(sink.effects, std::vector<std::string>{"L2"});
}

TEST(EscapeIac, DoublesEvery255AndNothingElse) {
    Bytes ff(1000, 255);
    Bytes out(2000);
    ASSERT_EQ(EscapeIac(out.data(), ff.data(), ff.size()), 2000u);
    EXPECT_EQ(out, Bytes(2000, 255));
    Bytes mixed = {13, 10, 255, 0, 250, 240, 255, 255, 7, 255, 255, 255};
    Bytes escaped(24);
    escaped.resize(EscapeIac(escaped.data(), mixed.data(), mixed.size()));
    EXPECT_EQ(escaped, (Bytes{13, 10, 255, 255, 0, 250, 240, 255, 255, 255, 255, 7, 255, 255, 255,
                              255, 255, 255}));
    Scanned back = scanInPieces(out);
    EXPECT_EQ(back.payload, ff);
}

// Random payload, escaped, with random server commands between the pieces,
// scanned in random pieces: the payload comes back unchanged and every
// effect in order.
TEST(TelnetScanner, RandomStreamsKeepPayloadAndEffects) {
    std::mt19937 rng(20240517);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto anyByte = [&]() -> uint8_t {
        static const uint8_t kTricky[] = {255, 250, 240, 44, 251, 241, 106, 107, 108, 8, 9};
        return pick(4) == 0 ? kTricky[pick(sizeof kTricky)] : static_cast<uint8_t>(rng());
    };
    for (int round = 0; round < 300; ++round) {
        Bytes stream, payload;
        std::vector<std::string> effects;
        const int parts = 1 + pick(40);
        for (int p = 0; p < parts; ++p) {
            Bytes data(static_cast<size_t>(pick(60)));
            for (uint8_t& b : data)
                b = anyByte();
            payload.insert(payload.end(), data.begin(), data.end());
            Bytes escaped(data.size() * 2);
            escaped.resize(EscapeIac(escaped.data(), data.data(), data.size()));
            stream.insert(stream.end(), escaped.begin(), escaped.end());
            const uint8_t v = anyByte();
            switch (pick(7)) {
                case 0:
                    stream.insert(stream.end(), {255, 250, 44, 106});
                    effects.push_back("L" + std::to_string(v));
                    break;
                case 1:
                    stream.insert(stream.end(), {255, 250, 44, 107});
                    effects.push_back("M" + std::to_string(v));
                    break;
                case 2:
                    stream.insert(stream.end(), {255, static_cast<uint8_t>(251 + pick(4)), v});
                    continue;
                case 3:
                    stream.insert(stream.end(), {255, static_cast<uint8_t>(241 + pick(9))});
                    continue;
                case 4: {
                    const bool on = pick(2);
                    const uint8_t code = static_cast<uint8_t>((pick(2) ? 100 : 0) + (on ? 9 : 8));
                    stream.insert(stream.end(), {255, 250, 44, code, 255, 240});
                    effects.push_back(on ? "F1" : "F0");
                    continue;
                }
                case 5:  // the reply to SET-BAUDRATE, any value
                    stream.insert(stream.end(), {255, 250, 44, 101});
                    for (int i = 0; i < 3; ++i) {
                        uint8_t b = anyByte();
                        stream.push_back(b);
                        if (b == 255) stream.push_back(255);
                    }
                    break;
                default:
                    continue;
            }
            stream.push_back(v);
            if (v == 255) stream.push_back(255);
            stream.insert(stream.end(), {255, 240});
        }
        std::vector<size_t> pieces;
        for (size_t left = stream.size(); left > 0;) {
            size_t n = std::min(left, static_cast<size_t>(1 + pick(1024)));
            pieces.push_back(n);
            left -= n;
        }
        Scanned s = scanInPieces(stream, pieces);
        ASSERT_EQ(s.payload, payload) << "round " << round;
        ASSERT_EQ(s.effects, effects) << "round " << round;
    }
}

TEST(TelnetCommands, LineCommandsHaveTheirExactBytes) {
    EXPECT_EQ(toBytes(BuildSetBaudRate(115200, true)),
              (Bytes{255, 250, 44, 1, 0, 1, 194, 0, 255, 240}));
    EXPECT_EQ(toBytes(BuildSetBaudRate(9600, true)),
              (Bytes{255, 250, 44, 1, 0, 0, 37, 128, 255, 240}));
    EXPECT_EQ(toBytes(BuildSetDataSize(8)), (Bytes{255, 250, 44, 2, 8, 255, 240}));
    EXPECT_EQ(toBytes(BuildSetParity(1)), (Bytes{255, 250, 44, 3, 1, 255, 240}));
    EXPECT_EQ(toBytes(BuildSetStopSize(3)), (Bytes{255, 250, 44, 4, 3, 255, 240}));
    EXPECT_EQ(toBytes(BuildSetControl(11)), (Bytes{255, 250, 44, 5, 11, 255, 240}));
    EXPECT_EQ(toBytes(BuildHardwareFlow()),
              (Bytes{255, 250, 44, 5, 11, 255, 240, 255, 250, 44, 5, 3, 255, 240}));
    EXPECT_EQ(toBytes(BuildFlowControlSuspend()), (Bytes{255, 250, 44, 8, 255, 240}));
    EXPECT_EQ(toBytes(BuildFlowControlResume()), (Bytes{255, 250, 44, 9, 255, 240}));
    EXPECT_EQ(toBytes(BuildPurgeData(3)), (Bytes{255, 250, 44, 12, 3, 255, 240}));
}

TEST(TelnetCommands, OpeningNegotiationDoublesMaskValues) {
    const Bytes head = {255, 253, 0, 255, 251, 44, 255, 253, 44};
    const Bytes baud0 = {255, 250, 44, 1, 0, 0, 0, 0, 255, 240};
    const Bytes willBinary = {255, 251, 0};
    Bytes doubled = toBytes(BuildOpeningNegotiation(true, true));
    EXPECT_EQ(doubled.size(), 38u);
    EXPECT_EQ(doubled, cat({head,
                            {255, 250, 44, 10, 255, 255, 255, 240},
                            {255, 250, 44, 11, 255, 255, 255, 240},
                            baud0,
                            willBinary}));
    Bytes single = toBytes(BuildOpeningNegotiation(true, false));
    EXPECT_EQ(single, cat({head,
                           {255, 250, 44, 10, 255, 255, 240},
                           {255, 250, 44, 11, 255, 255, 240},
                           baud0,
                           willBinary}));
    Bytes quiet = toBytes(BuildOpeningNegotiation(false, true));
    ASSERT_EQ(quiet.size(), 36u);
    EXPECT_EQ(quiet[13], 0);
    EXPECT_EQ(quiet[20], 0);
    EXPECT_EQ(toBytes(BuildOpeningNegotiation(false, false)), quiet);
}

TEST(TelnetConversions, RefuseWhatTheServerCannotBeAskedFor) {
    for (uint32_t rate : {1u, 300u, 14400u, 115200u, 230400u, 921600u, 0xFFFFFFFFu})
        EXPECT_TRUE(BaudRateAccepted(rate)) << rate;
    EXPECT_FALSE(BaudRateAccepted(0));  // that would ask for the current rate
    EXPECT_EQ(DataSizeValue(5), 5);
    EXPECT_EQ(DataSizeValue(4), 0);
    EXPECT_EQ(DataSizeValue(9), 0);
    EXPECT_EQ(ParityValue(0), 1);  // NOPARITY
    EXPECT_EQ(ParityValue(4), 5);  // SPACEPARITY
    EXPECT_EQ(ParityValue(5), 0);
    EXPECT_EQ(StopSizeValue(0), 1);
    EXPECT_EQ(StopSizeValue(1), 3);  // one and a half
    EXPECT_EQ(StopSizeValue(2), 2);
    EXPECT_EQ(StopSizeValue(3), 0);
    const uint8_t controls[] = {0, 0, 0, 11, 12, 8, 9, 0, 5, 6, 0};
    for (uint32_t f = 0; f <= 10; ++f)
        EXPECT_EQ(EscapeFunctionControl(f), controls[f]) << "function " << f;
    EXPECT_EQ(PurgeDataValue(8), 1);
    EXPECT_EQ(PurgeDataValue(4), 2);
    EXPECT_EQ(PurgeDataValue(15), 3);
    EXPECT_EQ(PurgeDataValue(3), 0);
}

TEST(TelnetFrameTracker, RemainderCompletesTheUnitInProgress) {
    const Bytes stream = cat({{'a', 255, 255, 'b'},
                              toBytes(BuildSetControl(8)),
                              {255, 255, 255, 255, 255, 255, 'c'},
                              toBytes(BuildOpeningNegotiation(true, true)),
                              {'z'}});
    // For every cut, the remainder must end exactly at a unit boundary: the
    // scanner, fed the sent part and the remainder, is back between units.
    // The sent part is accounted for in two sends, split anywhere, as the
    // socket may take it.
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TelnetFrameTracker tracker(true);
        tracker.advance(stream.data(), cut);
        size_t rest = tracker.remainder(stream.data() + cut, stream.size() - cut);
        for (size_t first = 0; first <= cut; ++first) {
            TelnetFrameTracker twoSends(true);
            twoSends.advance(stream.data(), first);
            twoSends.advance(stream.data() + first, cut - first);
            ASSERT_EQ(twoSends.remainder(stream.data() + cut, stream.size() - cut), rest)
                << "cut " << cut << " split at " << first;
        }
        TelnetScanner scanner;
        RecordingSink sink;
        Bytes out(stream.size());
        scanner.scan(stream.data(), cut + rest, out.data(), sink);
        EXPECT_TRUE(scanner.idle()) << "cut " << cut << " rest " << rest;
        if (cut == 1 || cut == 4) {
            EXPECT_EQ(rest, 0u);
        }
    }
    // What a purge keeps of the same stream: its commands, whole.
    Bytes commands = stream;
    commands.resize(TelnetFrameTracker(true).keepCommands(commands.data(), commands.size()));
    EXPECT_EQ(commands,
              cat({toBytes(BuildSetControl(8)), toBytes(BuildOpeningNegotiation(true, true))}));
    TelnetFrameTracker pair(true);
    pair.advance(stream.data(), 2);  // 'a' and the first 255 of the pair
    EXPECT_EQ(pair.remainder(stream.data() + 2, stream.size() - 2), 1u);
    // Without doubling, a mask of 255 sits right before IAC SE.
    const Bytes single = toBytes(BuildOpeningNegotiation(true, false));
    TelnetFrameTracker legacy(false);
    legacy.advance(single.data(), 14);  // up to and including the first mask
    EXPECT_EQ(legacy.remainder(single.data() + 14, single.size() - 14), 2u);
}
