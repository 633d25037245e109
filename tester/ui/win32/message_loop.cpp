#include "tester/ui/win32/message_loop.h"

#include <algorithm>

AppModule appModule;

namespace {

template <typename T>
void Add(std::vector<T*>& list, T* entry) {
    if (entry) list.push_back(entry);
}

template <typename T>
bool Remove(std::vector<T*>& list, T* entry, bool walking) {
    auto at = std::find(list.begin(), list.end(), entry);
    if (!entry || at == list.end()) return false;
    if (walking)
        *at = nullptr;
    else
        list.erase(at);
    return true;
}

template <typename T>
void Sweep(std::vector<T*>& list) {
    list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
}

// The system's caret-blink timer, posted like WM_TIMER but not documented.
constexpr UINT kSystemTimer = 0x0118;

}  // namespace

void MessageLoop::AddMessageFilter(MessageFilter* filter) {
    Add(filters_, filter);
}

bool MessageLoop::RemoveMessageFilter(MessageFilter* filter) {
    return Remove(filters_, filter, passes_ > 0);
}

void MessageLoop::AddIdleHandler(IdleHandler* handler) {
    Add(idleHandlers_, handler);
}

bool MessageLoop::RemoveIdleHandler(IdleHandler* handler) {
    return Remove(idleHandlers_, handler, passes_ > 0);
}

bool MessageLoop::IsIdleMessage(const MSG& msg) {
    switch (msg.message) {
        case WM_MOUSEMOVE:
        case WM_NCMOUSEMOVE:
        case WM_PAINT:
        case kSystemTimer:
            return false;
        default:
            return true;
    }
}

bool MessageLoop::PreTranslate(MSG* msg) {
    // Index-based from the back: a filter may add or remove filters (or
    // run a dialog whose own loop knows nothing of ours) while we walk.
    // One added meanwhile is first asked about the next message.
    ++passes_;
    bool handled = false;
    for (size_t i = filters_.size(); i > 0 && !handled; --i) {
        MessageFilter* filter = filters_[i - 1];
        if (filter) handled = filter->PreTranslateMessage(msg);
    }
    EndPass();
    return handled;
}

void MessageLoop::RunIdleHandlers() {
    ++passes_;
    for (size_t i = 0; i < idleHandlers_.size(); ++i) {
        IdleHandler* handler = idleHandlers_[i];
        if (handler) handler->OnIdle();
    }
    EndPass();
}

void MessageLoop::EndPass() {
    if (--passes_ > 0) return;
    Sweep(filters_);
    Sweep(idleHandlers_);
}

int MessageLoop::Run() {
    bool idle = true;
    MSG msg{};
    for (;;) {
        if (idle && !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            RunIdleHandlers();
            idle = false;
        }
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (!got) break;
        if (!PreTranslate(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (IsIdleMessage(msg)) idle = true;
    }
    return static_cast<int>(msg.wParam);
}

bool WaitServingSentMessages(HANDLE object, uint32_t timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        // Serve what is already waiting first: the wait below only wakes for
        // messages sent after the queue was last looked at.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            DWORD spent = GetTickCount() - start;
            left = spent >= timeoutMs ? 0 : timeoutMs - spent;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &object, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1) return false;  // timed out or failed
    }
}

void AppModule::Init(HINSTANCE instance) {
    std::lock_guard<std::mutex> hold(lock_);
    instance_ = instance;
}

void AppModule::Term() {
    std::lock_guard<std::mutex> hold(lock_);
    loops_.clear();
    instance_ = nullptr;
}

bool AppModule::AddMessageLoop(MessageLoop* loop) {
    std::lock_guard<std::mutex> hold(lock_);
    return loop && loops_.emplace(GetCurrentThreadId(), loop).second;
}

bool AppModule::RemoveMessageLoop() {
    std::lock_guard<std::mutex> hold(lock_);
    return loops_.erase(GetCurrentThreadId()) != 0;
}

MessageLoop* AppModule::GetMessageLoop() const {
    std::lock_guard<std::mutex> hold(lock_);
    auto at = loops_.find(GetCurrentThreadId());
    return at == loops_.end() ? nullptr : at->second;
}
