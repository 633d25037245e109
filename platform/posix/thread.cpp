#include "platform/thread.h"

#include "platform/event.h"

#include <cerrno>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace plat {

// Shared by the Thread object and the running thread, so that either may go
// first: a Thread destroyed while its thread runs leaves the state to the
// thread.
struct Thread::State {
    Entry entry = nullptr;
    void* arg = nullptr;
    pthread_t id{};
    bool joined = false;
    Event done{Event::ManualReset};
};

namespace {

void* threadMain(void* p) {
    auto* handOver = static_cast<std::shared_ptr<Thread::State>*>(p);
    std::shared_ptr<Thread::State> state = std::move(*handOver);
    delete handOver;
    state->entry(state->arg);
    state->done.set();
    return nullptr;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
    if (state_ && !state_->joined) pthread_detach(state_->id);
}

bool Thread::start(Entry entry, void* arg) {
    if (state_ && !state_->joined) return false;
    auto state = std::make_shared<State>();
    if (!state->done.valid()) return false;
    state->entry = entry;
    state->arg = arg;
    auto* handOver = new std::shared_ptr<State>(state);
    if (pthread_create(&state->id, nullptr, threadMain, handOver) != 0) {
        delete handOver;
        return false;
    }
    state_ = std::move(state);
    return true;
}

bool Thread::join(uint32_t timeoutMs) {
    if (!state_ || state_->joined) return true;
    if (state_->done.wait(timeoutMs) != 0) return false;
    pthread_join(state_->id, nullptr);
    state_->joined = true;
    return true;
}

bool Thread::running() const {
    return state_ && !state_->joined && state_->done.wait(0) != 0;
}

// Linux schedules threads of the normal policy by their nice value, which
// setpriority() takes per thread id. Lowering it needs CAP_SYS_NICE; without
// that the thread simply stays at its priority.
namespace {
thread_local int savedNice = 0;
thread_local bool raised = false;
constexpr int kRaiseBy = 5;

pid_t threadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}
}  // namespace

bool raiseThreadPriority() {
    if (raised) return true;
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, threadId());
    if (nice == -1 && errno != 0) return false;
    if (setpriority(PRIO_PROCESS, threadId(), nice - kRaiseBy) != 0) return false;
    savedNice = nice;
    raised = true;
    return true;
}

void restoreThreadPriority() {
    if (!raised) return;
    setpriority(PRIO_PROCESS, threadId(), savedNice);
    raised = false;
}

bool threadPriorityRaised() {
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, threadId());
    if (nice == -1 && errno != 0) return false;
    return raised && nice < savedNice;
}

}  // namespace plat
