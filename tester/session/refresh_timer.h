// The session's refresh timer: RefreshRows at once and then every 500 ms on
// a thread of its own, so that a slow screen, a modal form or a window
// thread held up in a dialog never holds the rows back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/event.h"
#include "platform/thread.h"

class RowSink;
class WorkerGroup;
struct PortSnapshot;

// Told, after each tick on the timer's thread, every worker's snapshot as
// the tick read it (in row order); `last` is the session's final look,
// once the timer has stopped (tester_session.h), on the front end's
// thread. Keep it short: the next tick waits for it.
using RefreshObserver = std::function<void(const std::vector<PortSnapshot>& ports, bool last)>;

constexpr uint32_t kRefreshPeriodMs = 500;
constexpr uint32_t kRefreshStopMs = 5000;

class RefreshTimer {
  public:
    // `workers` and `rows` (and what `observer` uses) must outlive the
    // timer's thread (Stop, or the destructor).
    RefreshTimer(WorkerGroup& workers, RowSink& rows, RefreshObserver observer = nullptr);
    // Stops the timer.
    ~RefreshTimer();
    RefreshTimer(const RefreshTimer&) = delete;
    RefreshTimer& operator=(const RefreshTimer&) = delete;

    // Starts ticking; false when the thread cannot start, and the session
    // then runs without refresh.
    bool Start();
    // Ends the ticks and waits, at most `boundMs`, for a tick in progress to
    // finish. True once none runs: no tick reads a worker or writes a row any
    // more. False when a tick is still held after the bound (a port call
    // stuck in a driver, a list that serves nobody): its thread may still
    // write the rows.
    bool Stop(uint32_t boundMs = kRefreshStopMs);
    // Ticks run so far.
    uint32_t Ticks() const;

  private:
    static void Entry(void* self);
    void Run();

    WorkerGroup& workers_;
    RowSink& rows_;
    const RefreshObserver observer_;
    plat::Event stop_{plat::Event::ManualReset};
    plat::Thread thread_;
    bool started_ = false;
    std::atomic<uint32_t> ticks_{0};
};
