#include "netserial/reply_check.h"

#include <cstring>

#include "netserial/telnet_codec.h"

namespace qelnet {

namespace {

uint32_t BaudOf(const uint8_t* v) {
    return (uint32_t{v[0]} << 24) | (uint32_t{v[1]} << 16) | (uint32_t{v[2]} << 8) | v[3];
}

}  // namespace

int ReplyCheck::KindOf(uint8_t code, const uint8_t* value, size_t length) {
    using namespace telnet;
    switch (code) {
        case kSetBaudRate:
            return length == 4 ? 0 : -1;
        case kSetDataSize:
            return 1;
        case kSetParity:
            return 2;
        case kSetStopSize:
            return 3;
        case kSetControl: {
            if (length != 1) return -1;
            const uint8_t v = value[0];
            if (v <= 3) return 4;
            if (v <= 6) return 5;
            if (v <= 9) return 6;
            if (v <= 12) return 7;
            if (v <= 16) return 8;
            if (v <= 19) return 9;
            return -1;
        }
        default:
            return -1;
    }
}

void ReplyCheck::Note(uint8_t code, const uint8_t* value, size_t length) {
    const int kind = KindOf(code, value, length);
    if (kind < 0 || length > 4) return;
    Request r{};
    std::memcpy(r.value, value, length);
    r.length = static_cast<uint8_t>(length);
    if (code == telnet::kSetControl) {
        r.query =
            value[0] == 0 || value[0] == 4 || value[0] == 7 || value[0] == 10 || value[0] == 13;
    } else {
        r.query = true;
        for (size_t i = 0; i < length; ++i)
            if (value[i] != 0) r.query = false;
    }
    Queue& q = queues_[kind];
    if (q.count == kDepth) {
        // A server that answers none of this kind: the oldest goes.
        q.head = (q.head + 1) % kDepth;
        --q.count;
    }
    q.items[(q.head + q.count) % kDepth] = r;
    ++q.count;
}

void ReplyCheck::Expect(const uint8_t* bytes, size_t length) {
    using namespace telnet;
    size_t i = 0;
    while (i + 3 < length) {
        if (bytes[i] != IAC || bytes[i + 1] != SB || bytes[i + 2] != kOptionComPort) {
            // IAC IAC in payload or a two- or three-byte command: step over
            // the IAC and what follows it, so a doubled 255 is never taken
            // for the start of a command.
            i += bytes[i] == IAC ? 2 : 1;
            continue;
        }
        const uint8_t code = bytes[i + 3];
        uint8_t value[4];
        size_t n = 0;
        size_t j = i + 4;
        bool ended = false;
        while (j < length) {
            if (bytes[j] == IAC && j + 1 < length && bytes[j + 1] == SE) {
                ended = true;
                j += 2;
                break;
            }
            // 255 in a value: IAC IAC, or in the single-byte form one 255.
            const bool doubled =
                doubled_ && bytes[j] == IAC && j + 1 < length && bytes[j + 1] == IAC;
            if (n < sizeof value) value[n] = bytes[j];
            ++n;
            j += doubled ? 2 : 1;
        }
        if (ended && n <= sizeof value) Note(code, value, n);
        i = j;
    }
}

bool ReplyCheck::Answer(uint8_t code, const uint8_t* value, size_t length) {
    if (code <= 100) return true;
    const uint8_t request = static_cast<uint8_t>(code - 100);
    // An answer to SET-CONTROL is matched by the group of the value
    // answered, which is the group asked about.
    const int kind = KindOf(request, value, length);
    if (kind < 0) return true;
    Queue& q = queues_[kind];
    if (q.count == 0) return true;
    const Request r = q.items[q.head];
    q.head = (q.head + 1) % kDepth;
    --q.count;
    if (r.query || r.length != length) return true;
    if (request == telnet::kSetBaudRate) {
        const double asked = BaudOf(r.value);
        const double off = (BaudOf(value) - asked) / asked;
        return off <= kBaudTolerance && off >= -kBaudTolerance;
    }
    return std::memcmp(r.value, value, length) == 0;
}

void ReplyCheck::Reset(bool subnegDoubled) {
    for (Queue& q : queues_)
        q = Queue{};
    doubled_ = subnegDoubled;
}

}  // namespace qelnet
