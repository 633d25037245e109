#include "tester/ui/tui/refresh_timer.h"

#include "tester/ui/refresh.h"

RefreshTimer::RefreshTimer(PortList& rows) : rows_(rows) {}

RefreshTimer::~RefreshTimer() {
    Stop();
}

bool RefreshTimer::Start() {
    if (started_) return true;
    started_ = thread_.start(Entry, this);
    return started_;
}

void RefreshTimer::Stop() {
    if (!started_) return;
    stop_.set();
    // A tick ends within one pass over the rows; RefreshRows never waits
    // for this thread, so the join cannot hang on the caller.
    thread_.join(plat::kInfinite);
    started_ = false;
}

uint32_t RefreshTimer::Ticks() const {
    return ticks_.load(std::memory_order_relaxed);
}

void RefreshTimer::Entry(void* self) {
    static_cast<RefreshTimer*>(self)->Run();
}

void RefreshTimer::Run() {
    do {
        RefreshRows(rows_);
        ticks_.fetch_add(1, std::memory_order_relaxed);
    } while (stop_.wait(kRefreshPeriodMs) == plat::kWaitTimeout);
}
