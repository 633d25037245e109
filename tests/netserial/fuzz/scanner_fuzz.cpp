// libFuzzer target for the receive scanner (built with clang,
// -fsanitize=fuzzer,address; see tools/fuzz.sh). For any byte stream, cut
// at places taken from the input itself:
//  - scanning never writes past an output of exactly the input's size, and
//    the payload is never longer than the input;
//  - scanning in place gives the same payload and effects as scanning into
//    a separate buffer;
//  - any payload, escaped, comes back unchanged;
//  - the send-side frame tracker never asks for more bytes than follow.
#include "netserial/telnet_codec.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using namespace qelnet;

namespace {

struct CountingSink : TelnetSink {
    std::vector<int> effects;
    void onLineState(uint8_t v) override { effects.push_back(0x100 | v); }
    void onModemState(uint8_t v) override { effects.push_back(0x200 | v); }
    void onServerFlow(bool on) override { effects.push_back(on ? 0x301 : 0x300); }
};

// Scans `in` in pieces whose sizes come from `cuts`; in place or not.
std::vector<uint8_t> scanPieces(const uint8_t* in, size_t size, const uint8_t* cuts,
                                size_t cutCount, bool inPlace, CountingSink& sink) {
    TelnetScanner scanner;
    std::vector<uint8_t> payload;
    size_t at = 0;
    for (size_t c = 0; at < size; ++c) {
        size_t n = c < cutCount ? 1 + cuts[c] % 64 : size - at;
        if (n > size - at) n = size - at;
        // Exactly n bytes each: ASan reports any write past them.
        uint8_t* piece = new uint8_t[n];
        std::memcpy(piece, in + at, n);
        uint8_t* out = inPlace ? piece : new uint8_t[n];
        const size_t d = scanner.scan(piece, n, out, sink);
        if (d > n) std::abort();
        payload.insert(payload.end(), out, out + d);
        if (!inPlace) delete[] out;
        delete[] piece;
        at += n;
    }
    return payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte says how many of the next bytes are cut sizes.
    const size_t cutCount = data[0] % 16 < size - 1 ? data[0] % 16 : size - 1;
    const uint8_t* cuts = data + 1;
    const uint8_t* stream = data + 1 + cutCount;
    const size_t streamSize = size - 1 - cutCount;

    CountingSink apart, inPlace;
    const std::vector<uint8_t> a = scanPieces(stream, streamSize, cuts, cutCount, false, apart);
    const std::vector<uint8_t> b = scanPieces(stream, streamSize, cuts, cutCount, true, inPlace);
    if (a != b || apart.effects != inPlace.effects) std::abort();
    if (a.size() > streamSize) std::abort();

    // The stream taken as payload: escaped, then scanned, it comes back.
    std::vector<uint8_t> escaped(2 * streamSize + 1);
    escaped.resize(EscapeIac(escaped.data(), stream, streamSize));
    CountingSink none;
    if (scanPieces(escaped.data(), escaped.size(), cuts, cutCount, false, none) !=
            std::vector<uint8_t>(stream, stream + streamSize) ||
        !none.effects.empty())
        std::abort();

    // The tracker's remainder stays within what follows.
    for (bool doubled : {true, false}) {
        TelnetFrameTracker tracker(doubled);
        const size_t sent = cutCount ? cuts[0] % (streamSize + 1) : streamSize / 2;
        tracker.advance(stream, sent);
        if (tracker.remainder(stream + sent, streamSize - sent) > streamSize - sent) std::abort();
    }
    return 0;
}
