// Line faults at exact places in a byte stream: drop a byte, change a byte,
// insert bytes. Does no I/O: bytes in, bytes out.
//
// Offsets count the bytes the sender wrote, from 0, whatever earlier
// injections did to the stream the receiver sees. So "drop 10, change 11"
// drops the sender's eleventh byte and changes its twelfth.
//
// An insert at offset k is delivered as soon as the sender's first k bytes
// have passed, before byte k and without waiting for it; an insert at 0 is
// delivered at once (see InjectionSchedule::apply with no input). Several
// inserts at one offset are delivered in the order they were added. One
// offset takes at most one drop or change, besides any inserts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace demo {

struct Injection {
    enum class Kind { Drop, Change, Insert };

    Kind kind = Kind::Drop;
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;  // Change: the one replacement; Insert: what goes in

    static Injection drop(uint64_t offset) { return {Kind::Drop, offset, {}}; }
    static Injection change(uint64_t offset, uint8_t to) { return {Kind::Change, offset, {to}}; }
    static Injection insert(uint64_t offset, std::vector<uint8_t> bytes) {
        return {Kind::Insert, offset, std::move(bytes)};
    }
};

class InjectionSchedule {
  public:
    // Adds one entry. False, and nothing added, when its place has already
    // passed (offset below position(); for an insert, offset == position()
    // still counts as to come), when a drop or change meets another drop or
    // change at the same offset, or when a change or insert carries the
    // wrong number of bytes.
    bool add(const Injection& entry);

    // Passes the sender's next n bytes (stream offsets position() onwards)
    // and appends what the receiver gets to out. With n == 0 it delivers
    // the inserts that are due at the current position.
    void apply(const uint8_t* in, size_t n, std::vector<uint8_t>& out);

    // Bytes of the sender's stream passed so far.
    uint64_t position() const { return position_; }

    // Entries not yet applied.
    size_t pending() const;

  private:
    struct Slot {
        std::vector<uint8_t> inserted;  // every insert at this offset, in order
        bool drop = false;
        bool change = false;
        uint8_t to = 0;
        size_t inserts = 0;
    };

    std::map<uint64_t, Slot> slots_;
    uint64_t position_ = 0;
};

}  // namespace demo
