#include "tester/demo/uart_model.h"

#include <algorithm>

namespace demo {

namespace {

constexpr uint8_t kNoFlow = 1;
constexpr uint8_t kXonXoffFlow = 2;
constexpr uint8_t kHardwareFlow = 3;

}  // namespace

UartModel::UartModel() : ring_(kReceiveBuffer) {}

void UartModel::SetFlow(uint8_t control) {
    if (control != kNoFlow && control != kXonXoffFlow && control != kHardwareFlow) return;
    flow_ = control;
    stoppedByXoff_ = false;
    if (!Hardware()) rtsHeld_ = false;
    if (!XonXoff()) {
        xoffSent_ = false;
        flowCharacter_ = -1;
    }
    Watermarks();
}

bool UartModel::Hardware() const {
    return flow_ == kHardwareFlow && !faults_.ignoreHandshake;
}

bool UartModel::XonXoff() const {
    return flow_ == kXonXoffFlow && !faults_.ignoreHandshake;
}

void UartModel::Receive(const uint8_t* bytes, size_t count, bool parityDiffers) {
    if (count == 0) return;
    if (parityDiffers && !faults_.hideParity) lineState_ |= kLineParityError;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (XonXoff() && (b == kXon || b == kXoff)) {
            stoppedByXoff_ = b == kXoff;
            continue;
        }
        if (count_ == ring_.size()) {
            ++lost_;
            lineState_ |= kLineOverrun;
            continue;
        }
        ring_[(head_ + count_) % ring_.size()] = b;
        ++count_;
    }
    Watermarks();
}

void UartModel::Break() {
    lineState_ |= kLineBreak;
}

size_t UartModel::Take(uint8_t* out, size_t most) {
    const size_t n = std::min(most, count_);
    for (size_t i = 0; i < n; ++i)
        out[i] = ring_[(head_ + i) % ring_.size()];
    head_ = (head_ + n) % ring_.size();
    count_ -= n;
    Watermarks();
    return n;
}

void UartModel::Purge() {
    head_ = 0;
    count_ = 0;
    Watermarks();
}

uint8_t UartModel::TakeLineState() {
    const uint8_t bits = lineState_;
    lineState_ = 0;
    return bits;
}

int UartModel::TakeFlowCharacter() {
    const int c = flowCharacter_;
    flowCharacter_ = -1;
    return c;
}

bool UartModel::MaySend(bool cts) const {
    if (Hardware() && !cts) return false;
    if (XonXoff() && stoppedByXoff_) return false;
    return true;
}

// Held off at the high-water mark and let go below the low one, so that
// the far end is not stopped and started for every character.
void UartModel::Watermarks() {
    if (count_ >= kHighWater) {
        if (Hardware()) rtsHeld_ = true;
        if (XonXoff() && !xoffSent_) {
            xoffSent_ = true;
            flowCharacter_ = kXoff;
        }
    } else if (count_ < kLowWater) {
        rtsHeld_ = false;
        if (xoffSent_) {
            xoffSent_ = false;
            flowCharacter_ = kXon;
        }
    }
}

}  // namespace demo
