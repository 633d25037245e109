// A check that takes seconds (the modem lines; flow control, breaks and
// parity), on a thread of its own, for a front end that must not wait for
// it. Start and Stop on one thread (the front end's).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/thread.h"

// Runs work(0) .. work(count - 1) side by side, each on a thread of its
// own (one that cannot have a thread runs on the caller's, after the
// others), and returns when all have ended.
void SideBySide(size_t count, const std::function<void(size_t)>& work);

class CheckThread {
  public:
    // The check: it asks `cancelled` while it waits and ends early when it
    // says so; whatever it reports, it reports itself before returning.
    using Work = std::function<void(const std::function<bool()>& cancelled)>;

    CheckThread() = default;
    // Stop, as long as it takes.
    ~CheckThread();
    CheckThread(const CheckThread&) = delete;
    CheckThread& operator=(const CheckThread&) = delete;

    // Starts `work`. False when a check still runs (or has not returned),
    // or the thread cannot start.
    bool Start(Work work);

    // A check has started and has not yet returned.
    bool Running() const { return thread_.running(); }

    // Asks a running check to end early and waits up to boundMs for it.
    // True once no check runs.
    bool Stop(uint32_t boundMs);

  private:
    static void Entry(void* self);

    plat::Thread thread_;
    Work work_;
    std::atomic<bool> cancel_{false};
};
