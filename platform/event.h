// Events and waits with the semantics of Win32 kernel events.
//
// A manual-reset event stays set until reset and releases every waiter; an
// auto-reset event releases exactly one waiter and is clear again. waitAny
// waits for any of several events and reports which one fired; when several
// are set, the first in the caller's order wins (and only that one is
// consumed), as with WaitForMultipleObjects.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Results of the waits besides the index of the object that fired.
constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;

// Most objects one wait can take (the Win32 limit).
constexpr size_t kMaxWaitObjects = 64;

class Event {
  public:
    enum Kind { ManualReset, AutoReset };

    explicit Event(Kind kind, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // False when the system could not create the event; every other
    // operation then fails.
    bool valid() const;

    bool set();
    bool reset();

    // Waits for this event alone: 0 when it fired (consuming it if it is an
    // auto-reset event), kWaitTimeout or kWaitFailed.
    int wait(uint32_t timeoutMs);

    // True when set, without waiting. Consumes an auto-reset event, as a
    // zero-time-out wait does.
    bool tryWait() { return wait(0) == 0; }

    struct Impl;
    Impl* impl() const { return impl_; }

  private:
    Impl* impl_;
};

// Waits until any of the events is set. Returns the index of the event that
// fired (the lowest index when several are set), kWaitTimeout or kWaitFailed.
int waitAny(Event* const* events, size_t count, uint32_t timeoutMs);

// Waits until all of the events are set at the same moment; auto-reset events
// among them are consumed together. Returns 0, kWaitTimeout or kWaitFailed.
int waitAll(Event* const* events, size_t count, uint32_t timeoutMs);

}  // namespace plat
