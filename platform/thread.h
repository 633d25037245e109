// Threads that can be joined with a time-out.
//
// A Thread that is destroyed while its thread still runs lets it go on
// (detaches it); it never kills it. Callers that must not free what the
// thread uses join it first, and leave those objects alone when the join
// times out.
#pragma once

#include <cstdint>
#include <memory>

namespace plat {

class Thread {
  public:
    using Entry = void (*)(void* arg);

    Thread();
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread running entry(arg). False when the system could not
    // start it, or when this object already has a thread.
    bool start(Entry entry, void* arg);

    // Waits up to timeoutMs for the thread to end. True once it has ended
    // (also when there is no thread); false when it still runs.
    bool join(uint32_t timeoutMs);

    // True while a started thread has not ended.
    bool running() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

// Priority of the calling thread. Raising may be refused by the system (an
// unprivileged process on Linux cannot raise its threads); both calls are
// best effort, and restore returns the thread to the priority it had before
// the last raise.
bool raiseThreadPriority();
void restoreThreadPriority();

// True when the calling thread currently runs above normal priority.
bool threadPriorityRaised();

}  // namespace plat
