#include "tester/session/refresh_timer.h"

#include "tester/session/refresh.h"

RefreshTimer::RefreshTimer(WorkerGroup& workers, RowSink& rows, RefreshObserver observer)
    : workers_(workers), rows_(rows), observer_(std::move(observer)) {}

RefreshTimer::~RefreshTimer() {
    Stop();
}

bool RefreshTimer::Start() {
    if (started_) return true;
    started_ = thread_.start(Entry, this);
    return started_;
}

bool RefreshTimer::Stop(uint32_t boundMs) {
    if (!started_) return true;
    stop_.set();
    // A tick ends within one pass over the rows, unless a port call or a
    // list operation holds it: hence the bound.
    if (!thread_.join(boundMs)) return false;
    started_ = false;
    return true;
}

uint32_t RefreshTimer::Ticks() const {
    return ticks_.load(std::memory_order_relaxed);
}

void RefreshTimer::Entry(void* self) {
    static_cast<RefreshTimer*>(self)->Run();
}

void RefreshTimer::Run() {
    std::vector<PortSnapshot> taken;
    do {
        if (RefreshRows(workers_, rows_, observer_ ? &taken : nullptr) && observer_)
            observer_(taken, false);
        ticks_.fetch_add(1, std::memory_order_relaxed);
    } while (stop_.wait(kRefreshPeriodMs) == plat::kWaitTimeout);
}
