// The terminal front end's refresh timer: RefreshRows at once and then
// every 500 ms on a thread of its own, as the window's timer queue runs it,
// so that a slow screen or a modal form never holds the rows back.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/event.h"
#include "platform/thread.h"

class PortList;

constexpr uint32_t kRefreshPeriodMs = 500;

class RefreshTimer {
  public:
    // `rows` must outlive the timer's thread (Stop, or the destructor).
    explicit RefreshTimer(PortList& rows);
    // Stops the timer.
    ~RefreshTimer();
    RefreshTimer(const RefreshTimer&) = delete;
    RefreshTimer& operator=(const RefreshTimer&) = delete;

    // Starts ticking; false when the thread cannot start, and the front end
    // then runs without refresh, as the window does without its timer.
    bool Start();
    // Ends the ticks and waits for a tick in progress to finish. Once it has
    // returned, no tick reads a worker or writes a row any more.
    void Stop();
    // Ticks run so far.
    uint32_t Ticks() const;

  private:
    static void Entry(void* self);
    void Run();

    PortList& rows_;
    plat::Event stop_{plat::Event::ManualReset};
    plat::Thread thread_;
    bool started_ = false;
    std::atomic<uint32_t> ticks_{0};
};
