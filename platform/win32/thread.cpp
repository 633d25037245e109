#include "platform/thread.h"

#include "platform/win32_types.h"

namespace plat {

struct Thread::State {
    Entry entry = nullptr;
    void* arg = nullptr;
    HANDLE handle = nullptr;
    bool joined = false;
};

namespace {

constexpr SIZE_T kStackReservation = 256 * 1024;

DWORD WINAPI threadMain(LPVOID p) {
    auto* handOver = static_cast<std::shared_ptr<Thread::State>*>(p);
    std::shared_ptr<Thread::State> state = std::move(*handOver);
    delete handOver;
    state->entry(state->arg);
    return 0;
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() {
    if (state_ && state_->handle) CloseHandle(state_->handle);
}

bool Thread::start(Entry entry, void* arg) {
    if (state_ && !state_->joined) return false;
    if (state_ && state_->handle) CloseHandle(state_->handle);
    auto state = std::make_shared<State>();
    state->entry = entry;
    state->arg = arg;
    auto* handOver = new std::shared_ptr<State>(state);
    // Each network port costs three threads, and at the program's default
    // 2 MB reservation 254 of them would take 1.5 GB of a 32-bit process's
    // 2 GB of addresses. No thread here keeps more than a few KB on its
    // stack (buffers live in the objects that own them).
    state->handle = CreateThread(nullptr, kStackReservation, threadMain, handOver,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!state->handle) {
        delete handOver;
        state_.reset();
        return false;
    }
    state_ = std::move(state);
    return true;
}

bool Thread::join(uint32_t timeoutMs) {
    if (!state_ || state_->joined) return true;
    if (WaitForSingleObject(state_->handle, timeoutMs) != WAIT_OBJECT_0) return false;
    state_->joined = true;
    return true;
}

bool Thread::running() const {
    return state_ && !state_->joined && WaitForSingleObject(state_->handle, 0) == WAIT_TIMEOUT;
}

namespace {
thread_local int savedPriority = THREAD_PRIORITY_NORMAL;
thread_local bool raised = false;
}  // namespace

bool raiseThreadPriority() {
    if (raised) return true;
    int current = GetThreadPriority(GetCurrentThread());
    if (current == THREAD_PRIORITY_ERROR_RETURN) return false;
    if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST)) return false;
    savedPriority = current;
    raised = true;
    return true;
}

void restoreThreadPriority() {
    if (!raised) return;
    SetThreadPriority(GetCurrentThread(), savedPriority);
    raised = false;
}

bool threadPriorityRaised() {
    return raised && GetThreadPriority(GetCurrentThread()) > savedPriority;
}

}  // namespace plat
