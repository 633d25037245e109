#include "tester/demo/modem_link.h"

namespace demo {

void ModemLink::Set(int side, uint8_t bits, bool on) {
    std::atomic<uint8_t>& mine = outputs_[side & 1];
    const uint8_t before = on ? mine.fetch_or(bits) : mine.fetch_and(static_cast<uint8_t>(~bits));
    if ((before & bits) == (on ? bits : 0)) return;
    Wake((side & 1) ^ 1);
}

void ModemLink::Wake(int side) {
    wake_[side & 1].Set();
}

void ModemLink::SendBreak(int side) {
    const int other = (side & 1) ^ 1;
    breaks_[other].fetch_add(1);
    Wake(other);
}

uint32_t ModemLink::TakeBreaks(int side) {
    return breaks_[side & 1].exchange(0);
}

void ModemLink::SetParity(int side, uint8_t value) {
    parity_[side & 1].store(value);
}

bool ModemLink::ParityDiffers() const {
    auto effective = [](uint8_t v) { return v == 0 ? uint8_t{1} : v; };
    return effective(parity_[0].load()) != effective(parity_[1].load());
}

void ModemLink::SetDtr(int side, bool on) {
    Set(side, kDtr, on);
}

void ModemLink::SetRts(int side, bool on) {
    Set(side, kRts, on);
}

void ModemLink::SetBoth(int side, bool on) {
    Set(side, kDtr | kRts, on);
}

bool ModemLink::Dtr(int side) const {
    return outputs_[side & 1].load() & kDtr;
}

bool ModemLink::Rts(int side) const {
    return outputs_[side & 1].load() & kRts;
}

uint8_t ModemLink::InputsOf(int side) const {
    const uint8_t other = outputs_[(side & 1) ^ 1].load();
    uint8_t state = 0;
    if (other & kRts) state |= 0x10;         // CTS
    if (other & kDtr) state |= 0x20 | 0x80;  // DSR and DCD
    return state;
}

}  // namespace demo
