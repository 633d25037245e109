#include "tester/demo/injection.h"

namespace demo {

bool InjectionSchedule::add(const Injection& entry) {
    switch (entry.kind) {
        case Injection::Kind::Insert:
            if (entry.bytes.empty() || entry.offset < position_) return false;
            break;
        case Injection::Kind::Change:
            if (entry.bytes.size() != 1) return false;
            [[fallthrough]];
        case Injection::Kind::Drop:
            // The byte at position_ itself has not passed yet.
            if (entry.offset < position_) return false;
            break;
    }

    auto found = slots_.find(entry.offset);
    if (entry.kind != Injection::Kind::Insert && found != slots_.end() &&
        (found->second.drop || found->second.change)) {
        return false;
    }
    Slot& slot = slots_[entry.offset];
    switch (entry.kind) {
        case Injection::Kind::Insert:
            slot.inserted.insert(slot.inserted.end(), entry.bytes.begin(), entry.bytes.end());
            ++slot.inserts;
            break;
        case Injection::Kind::Change:
            slot.change = true;
            slot.to = entry.bytes[0];
            break;
        case Injection::Kind::Drop:
            slot.drop = true;
            break;
    }
    return true;
}

size_t InjectionSchedule::pending() const {
    size_t count = 0;
    for (const auto& [offset, slot] : slots_) {
        count += slot.inserts + (slot.drop ? 1 : 0) + (slot.change ? 1 : 0);
    }
    return count;
}

void InjectionSchedule::apply(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
    const uint64_t base = position_;
    const uint64_t end = base + n;
    for (;;) {
        auto next = slots_.begin();
        // Plain bytes up to the next slot (or the end of the input) go through
        // in one piece.
        const uint64_t stop = next == slots_.end() ? end : std::min(end, next->first);
        if (stop > position_) {
            const uint8_t* from = in + (position_ - base);
            out.insert(out.end(), from, from + (stop - position_));
            position_ = stop;
        }
        if (next == slots_.end() || next->first != position_) return;

        Slot& slot = next->second;
        out.insert(out.end(), slot.inserted.begin(), slot.inserted.end());
        slot.inserted.clear();
        slot.inserts = 0;
        if (!slot.drop && !slot.change) {
            slots_.erase(next);
            continue;
        }
        if (position_ == end) return;  // the byte the slot acts on has not come yet
        if (slot.change) out.push_back(slot.to);
        ++position_;  // the sender's byte is dropped, or replaced above
        slots_.erase(next);
    }
}

}  // namespace demo
