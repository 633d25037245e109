// Test-side helpers for the rig tests: random streams that hold every byte
// value, and a byte-at-a-time model of what an injection schedule should
// deliver, written independently of InjectionSchedule so that the two can
// check each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

namespace rig {
namespace model {

// n bytes (n >= 256) that contain all 256 values, in random order.
inline std::vector<uint8_t> randomStream(size_t n, uint32_t seed) {
    std::vector<uint8_t> bytes(n);
    std::mt19937 gen(seed);
    for (size_t i = 0; i < n; ++i) {
        bytes[i] = i < 256 ? static_cast<uint8_t>(i) : static_cast<uint8_t>(gen());
    }
    std::shuffle(bytes.begin(), bytes.end(), gen);
    return bytes;
}

struct Faults {
    std::map<uint64_t, std::vector<uint8_t>> inserts;  // offset -> bytes, in order
    std::map<uint64_t, int> replace;                   // offset -> new byte, or -1 to drop
};

// What the receiver gets when `sent` passes a line with these faults.
inline std::vector<uint8_t> expected(const std::vector<uint8_t>& sent, const Faults& f) {
    std::vector<uint8_t> out;
    for (uint64_t i = 0; i <= sent.size(); ++i) {
        auto ins = f.inserts.find(i);
        if (ins != f.inserts.end()) out.insert(out.end(), ins->second.begin(), ins->second.end());
        if (i == sent.size()) break;
        auto rep = f.replace.find(i);
        if (rep == f.replace.end()) {
            out.push_back(sent[i]);
        } else if (rep->second >= 0) {
            out.push_back(static_cast<uint8_t>(rep->second));
        }
    }
    return out;
}

}  // namespace model
}  // namespace rig
