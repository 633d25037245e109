// Who is wired to whom on the bench: learned by the identification probe
// (wiring_probe.h), declared on the command line (--wiring), or both, when
// a difference fails the run ("port 3 hears port 5, expected port 4").
//
// The map is what each port hears: the rows (0-based) whose identification
// reached it. A null-modem cable between ports 1 and 2 is "1 hears 2, 2
// hears 1"; a loop-back plug on port 5 is "5 hears 5"; a port with nothing
// on it hears nobody; a port that hears two others is a fault of its own
// (a short between two lines, a bus where a point-to-point cable belongs).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Wiring {
    // Per row: the rows it hears, ascending. Rows that were not probed
    // (their port did not open) hear nobody and are marked in `probed`.
    std::vector<std::vector<int32_t>> heard;
    std::vector<bool> probed;

    size_t Size() const { return heard.size(); }
    // The one row `row` hears, or -1 when it hears none or several.
    int32_t SourceOf(int32_t row) const;
    // `row` and its source hear each other (or it hears itself).
    bool Mutual(int32_t row) const;
};

// What the operator declared with --wiring: "pairs" (1-2, 3-4...; a last
// odd port with a loop-back plug), "loop" (every port with a plug) or a map
// of wired ports ("1-2,3-3,4-6": 3-3 is a plug). A port a map leaves out
// has nothing declared: what it hears is not held against anything.
struct WiringDeclaration {
    enum Kind { None, Pairs, Loop, Map };
    Kind kind = None;
    std::vector<std::pair<uint32_t, uint32_t>> links;  // 1-based, as written (Map)
};

// Reads the text of --wiring. False, with why in `error`, for anything but
// "pairs", "loop" or a map of links "a-b" (1 to 255 each) separated by
// commas, each port in one link at most.
bool ParseWiringDeclaration(const std::string& text, WiringDeclaration& declaration,
                            std::string& error);

// The declared map over `rows` rows; rows with nothing declared are not
// `probed` in it. False, with why in `error`, when the declaration names a
// port beyond them.
bool DeclaredWiring(const WiringDeclaration& declaration, size_t rows, Wiring& wiring,
                    std::string& error);

// The source cell of a row (1-based numbers): "2", its own number for a
// loop-back plug, "none", "1+3" for several; "" for a row not probed.
std::string SourceText(const Wiring& wiring, int32_t row);

// The map in one line, row by row, each wired pair once: "1-2, 3-4, 5
// loop, 6 none, 7 hears 2, 8 hears 1+3"; a row that was not probed is left
// out.
std::string WiringLine(const Wiring& wiring);

// The wired pairs and plugs, for the modem-line check and the half-duplex
// pairing: (a, b) with a < b for a pair that hears each other, (a, a) for a
// plug, ascending by a. Rows in none of them are left out.
std::vector<std::pair<int32_t, int32_t>> WiredPairs(const Wiring& wiring);
