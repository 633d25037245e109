// The thread's message loop with its two registrations, and the module
// record that finds a thread's loop: the small part of a frame-window
// framework that the tester's window needs.
//
// Message filters are asked about every message the loop takes, the last
// registered first; the first that accepts a message consumes it (this is
// where a window translates its accelerators). Idle handlers are called
// once per idle period, in registration order, when the queue has run dry.
//
// A loop and its registrations belong to one thread. A filter or handler
// may register or remove filters and handlers, itself included, while the
// loop calls it; one that is removed is never called again and may be
// destroyed once the remove call has returned.
#pragma once

#include "platform/win32_types.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

class MessageFilter {
  public:
    // True when the filter has handled the message; it is then neither
    // translated nor dispatched.
    virtual bool PreTranslateMessage(MSG* msg) = 0;

  protected:
    ~MessageFilter() = default;
};

class IdleHandler {
  public:
    virtual void OnIdle() = 0;

  protected:
    ~IdleHandler() = default;
};

class MessageLoop {
  public:
    void AddMessageFilter(MessageFilter* filter);
    bool RemoveMessageFilter(MessageFilter* filter);
    void AddIdleHandler(IdleHandler* handler);
    bool RemoveIdleHandler(IdleHandler* handler);

    // Runs until the quit message and returns the value it carries. A
    // failure to take a message is ignored and the loop goes on.
    int Run();

    // False for the messages that do not end an idle period: mouse moves
    // over the client and non-client area, paint and the system's caret
    // timer (0x0118); a new idle pass after those would run the idle
    // handlers again and again while nothing happens.
    static bool IsIdleMessage(const MSG& msg);

  private:
    bool PreTranslate(MSG* msg);
    void RunIdleHandlers();
    void EndPass();

    // Removed entries are nulled while a pass may be walking the list and
    // swept out between passes.
    std::vector<MessageFilter*> filters_;
    std::vector<IdleHandler*> idleHandlers_;
    int passes_ = 0;
};

// Waits up to timeoutMs (plat::kInfinite style 0xFFFFFFFF waits for ever)
// for `object` while serving the messages that other threads send to this
// thread's windows, so that a thread blocked in SendMessage to us can finish
// what we wait for. Posted messages stay queued. True when the object was
// signalled.
bool WaitServingSentMessages(HANDLE object, uint32_t timeoutMs);

// The framework's module record: the instance handle and each thread's
// message loop.
class AppModule {
  public:
    void Init(HINSTANCE instance);
    void Term();
    HINSTANCE instance() const { return instance_; }

    // Registers `loop` as the calling thread's loop. False when the thread
    // already has one.
    bool AddMessageLoop(MessageLoop* loop);
    // Removes the calling thread's loop. False when it had none.
    bool RemoveMessageLoop();
    // The calling thread's loop, or null.
    MessageLoop* GetMessageLoop() const;

  private:
    HINSTANCE instance_ = nullptr;
    mutable std::mutex lock_;
    std::map<DWORD, MessageLoop*> loops_;
};

extern AppModule appModule;
