#include "tester/ui/win32/message_loop.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT kStep = WM_APP + 10;
constexpr UINT kUnblock = WM_APP + 11;
constexpr UINT kSystemTimer = 0x0118;

std::vector<std::string> events;

void Post(UINT message, WPARAM wParam = 0) {
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), message, wParam, 0));
}

class Filter : public MessageFilter {
  public:
    Filter(std::string name, std::function<bool(MSG*)> decide)
        : name_(std::move(name)), decide_(std::move(decide)) {}
    bool PreTranslateMessage(MSG* msg) override {
        if (msg->message < WM_APP) return false;  // only the test's own messages
        events.push_back(name_ + ":" + std::to_string(msg->message - WM_APP));
        return decide_(msg);
    }

  private:
    std::string name_;
    std::function<bool(MSG*)> decide_;
};

class Idle : public IdleHandler {
  public:
    Idle(std::string name, std::function<void(int)> act)
        : name_(std::move(name)), act_(std::move(act)) {}
    void OnIdle() override {
        events.push_back(name_);
        act_(++calls_);
    }
    int calls() const { return calls_; }

  private:
    std::string name_;
    std::function<void(int)> act_;
    int calls_ = 0;
};

// Drops whatever an earlier case left in this thread's queue.
void Drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

class MessageLoopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        events.clear();
        Drain();
    }
};

}  // namespace

TEST_F(MessageLoopTest, RunReturnsTheQuitMessagesValue) {
    MessageLoop loop;
    PostQuitMessage(1);
    EXPECT_EQ(loop.Run(), 1);
    PostQuitMessage(42);
    EXPECT_EQ(loop.Run(), 42);
}

TEST_F(MessageLoopTest, LastRegisteredFilterIsAskedFirstAndTheFirstToAcceptConsumes) {
    MessageLoop loop;
    Filter first("first", [](MSG*) { return false; });
    Filter second("second", [](MSG* m) { return m->wParam == 2; });
    Filter third("third", [](MSG*) { return false; });
    loop.AddMessageFilter(&first);
    loop.AddMessageFilter(&second);
    loop.AddMessageFilter(&third);
    Post(kStep, 1);  // nobody accepts: everyone is asked, last registered first
    Post(kStep, 2);  // "second" accepts: "first" never sees it
    PostQuitMessage(1);
    loop.Run();
    EXPECT_EQ(events, (std::vector<std::string>{"third:10", "second:10", "first:10", "third:10",
                                                "second:10"}));
}

TEST_F(MessageLoopTest, IdleHandlersRunOncePerIdlePeriodInRegistrationOrder) {
    MessageLoop loop;
    Idle* second = nullptr;
    Idle first("idle1", [&](int call) {
        // Two messages in a row make one busy period: one more idle pass.
        if (call == 1) {
            Post(kStep);
            Post(kStep);
        }
        if (call == 2) PostQuitMessage(1);
    });
    Idle secondHandler("idle2", [](int) {});
    second = &secondHandler;
    Filter watch("msg", [](MSG*) { return false; });
    loop.AddIdleHandler(&first);
    loop.AddIdleHandler(second);
    loop.AddMessageFilter(&watch);
    loop.Run();
    EXPECT_EQ(events,
              (std::vector<std::string>{"idle1", "idle2", "msg:10", "msg:10", "idle1", "idle2"}));
}

TEST_F(MessageLoopTest, MouseMovesPaintAndTheCaretTimerDoNotStartAnIdlePeriod) {
    for (UINT quiet : {static_cast<UINT>(WM_MOUSEMOVE), static_cast<UINT>(WM_NCMOUSEMOVE),
                       static_cast<UINT>(WM_PAINT), kSystemTimer}) {
        SCOPED_TRACE(quiet);
        events.clear();
        Drain();
        MessageLoop loop;
        const DWORD self = GetCurrentThreadId();
        std::thread later;
        Idle idle("idle", [&](int call) {
            if (call == 1) {
                // Only the quiet message: the loop must wait for the next
                // real one before it calls the idle handlers again.
                Post(quiet);
                later = std::thread([self] {
                    Sleep(300);
                    PostThreadMessageA(self, kUnblock, 0, 0);
                });
            } else {
                PostQuitMessage(1);
            }
        });
        Filter watch("msg", [](MSG*) { return false; });
        loop.AddIdleHandler(&idle);
        loop.AddMessageFilter(&watch);
        loop.Run();
        later.join();
        EXPECT_EQ(events, (std::vector<std::string>{"idle", "msg:11", "idle"}));
    }
}

TEST_F(MessageLoopTest, AFilterRemovedDuringAPassIsNotCalledAgain) {
    MessageLoop loop;
    Filter* victim = nullptr;
    Filter remover("remover", [&](MSG*) {
        loop.RemoveMessageFilter(victim);
        return false;
    });
    Filter victimFilter("victim", [](MSG*) { return false; });
    victim = &victimFilter;
    loop.AddMessageFilter(&victimFilter);
    loop.AddMessageFilter(&remover);  // asked first
    Post(kStep);
    Post(kStep);
    PostQuitMessage(1);
    loop.Run();
    EXPECT_EQ(events, (std::vector<std::string>{"remover:10", "remover:10"}));
    EXPECT_FALSE(loop.RemoveMessageFilter(&victimFilter));
    EXPECT_TRUE(loop.RemoveMessageFilter(&remover));
}

TEST_F(MessageLoopTest, AnIdleHandlerMayRemoveItself) {
    MessageLoop loop;
    Idle* self = nullptr;
    Idle once("once", [&](int) { loop.RemoveIdleHandler(self); });
    self = &once;
    Idle counter("counter", [&](int call) {
        if (call == 1) Post(kStep);
        if (call == 2) PostQuitMessage(1);
    });
    loop.AddIdleHandler(&once);
    loop.AddIdleHandler(&counter);
    loop.Run();
    EXPECT_EQ(once.calls(), 1);
    EXPECT_EQ(counter.calls(), 2);
}

TEST(AppModule, KeepsOneLoopPerThread) {
    MessageLoop mine, theirs;
    EXPECT_TRUE(appModule.AddMessageLoop(&mine));
    EXPECT_FALSE(appModule.AddMessageLoop(&theirs));
    EXPECT_EQ(appModule.GetMessageLoop(), &mine);
    std::thread other([&] {
        EXPECT_EQ(appModule.GetMessageLoop(), nullptr);
        EXPECT_TRUE(appModule.AddMessageLoop(&theirs));
        EXPECT_EQ(appModule.GetMessageLoop(), &theirs);
        EXPECT_TRUE(appModule.RemoveMessageLoop());
    });
    other.join();
    EXPECT_EQ(appModule.GetMessageLoop(), &mine);
    EXPECT_TRUE(appModule.RemoveMessageLoop());
    EXPECT_FALSE(appModule.RemoveMessageLoop());
    EXPECT_EQ(appModule.GetMessageLoop(), nullptr);
}
