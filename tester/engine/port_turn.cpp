#include "tester/engine/port_turn.h"

#include <algorithm>
#include <chrono>

PortTurn::Ticket PortTurn::Join() {
    std::lock_guard<std::mutex> hold(lock_);
    return next_++;
}

bool PortTurn::Await(Ticket ticket, uint32_t ms) {
    std::unique_lock<std::mutex> hold(lock_);
    const auto mine = [&] { return serving_ == ticket; };
    if (ms == kForever) {
        served_.wait(hold, mine);
        return true;
    }
    return served_.wait_for(hold, std::chrono::milliseconds(ms), mine);
}

void PortTurn::Leave(Ticket ticket) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (ticket != serving_) {
            gone_.push_back(ticket);
            return;
        }
        ++serving_;
        for (auto it = std::find(gone_.begin(), gone_.end(), serving_); it != gone_.end();
             it = std::find(gone_.begin(), gone_.end(), serving_)) {
            gone_.erase(it);
            ++serving_;
        }
    }
    served_.notify_all();
}
