#include "platform/clock.h"
#include "platform/event.h"
#include "platform/last_error.h"
#include "platform/message_box.h"
#include "platform/mutex.h"
#include "platform/thread.h"
#include "platform/win32_types.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

TEST(RecursiveMutex, OwnerMayRelockOthersMayNot) {
    plat::RecursiveMutex m;
    m.lock();
    EXPECT_TRUE(m.try_lock());
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = m.try_lock(); }).join();
    EXPECT_FALSE(otherGotIt);
    m.unlock();
    std::thread([&] { otherGotIt = m.try_lock(); }).join();
    EXPECT_FALSE(otherGotIt) << "one unlock of two must not release it";
    m.unlock();
    std::thread([&] {
        otherGotIt = m.try_lock();
        if (otherGotIt) m.unlock();
    }).join();
    EXPECT_TRUE(otherGotIt);
}

TEST(RecursiveMutex, ExcludesConcurrentWriters) {
    plat::RecursiveMutex m;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            std::lock_guard<plat::RecursiveMutex> hold(m);
            counter = counter + 1;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 200000);
}

namespace {

struct Blocked {
    plat::Event release{plat::Event::ManualReset};
    std::atomic<bool> finished{false};
};

void blockUntilReleased(void* arg) {
    auto* b = static_cast<Blocked*>(arg);
    b->release.wait(plat::kInfinite);
    plat::sleepMs(20);
    b->finished = true;
}

}  // namespace

TEST(Thread, JoinReturnsOnlyAfterTheThreadEnded) {
    Blocked b;
    plat::Thread t;
    ASSERT_TRUE(t.start(blockUntilReleased, &b));
    EXPECT_TRUE(t.running());
    EXPECT_FALSE(t.start(blockUntilReleased, &b)) << "one thread per object";
    uint32_t start = plat::tickCount();
    EXPECT_FALSE(t.join(50));
    EXPECT_GE(plat::ticksBetween(start, plat::tickCount()), 25u);
    EXPECT_FALSE(b.finished);
    b.release.set();
    EXPECT_TRUE(t.join(5000));
    EXPECT_TRUE(b.finished) << "join returned before the thread's work was done";
    EXPECT_FALSE(t.running());
    EXPECT_TRUE(t.join(0));
}

TEST(Thread, DestroyingARunningThreadLetsItFinish) {
    static Blocked b;  // outlives the Thread object on purpose
    {
        plat::Thread t;
        ASSERT_TRUE(t.start(blockUntilReleased, &b));
    }
    b.release.set();
    for (int i = 0; i < 500 && !b.finished; ++i)
        plat::sleepMs(10);
    EXPECT_TRUE(b.finished);
}

TEST(Thread, RaiseAndRestorePriority) {
    bool raisedOk = false, raisedSeen = false, restoredSeen = true;
    plat::Thread t;
    struct Result {
        bool* ok;
        bool* seen;
        bool* restored;
    } r{&raisedOk, &raisedSeen, &restoredSeen};
    ASSERT_TRUE(t.start(
        [](void* p) {
            auto* res = static_cast<Result*>(p);
            *res->ok = plat::raiseThreadPriority();
            *res->seen = plat::threadPriorityRaised();
            plat::restoreThreadPriority();
            *res->restored = plat::threadPriorityRaised();
        },
        &r));
    ASSERT_TRUE(t.join(5000));
    if (!raisedOk) GTEST_SKIP() << "the system refuses to raise thread priority here";
    EXPECT_TRUE(raisedSeen);
    EXPECT_FALSE(restoredSeen);
}

TEST(LastError, IsPerThread) {
    // Thread creation and joining may themselves change the last error, so
    // each thread sets and reads its own value between the two hand-overs.
    plat::Event mainSet(plat::Event::ManualReset), otherSet(plat::Event::ManualReset);
    uint32_t seenHere = 0, seenThere = 0;
    std::thread other([&] {
        mainSet.wait(plat::kInfinite);
        plat::setLastError(ERROR_GEN_FAILURE);
        otherSet.set();
        seenThere = plat::lastError();
    });
    plat::setLastError(ERROR_OPERATION_ABORTED);
    mainSet.set();
    otherSet.wait(plat::kInfinite);
    seenHere = plat::lastError();
    other.join();
    EXPECT_EQ(seenHere, 995u);
    EXPECT_EQ(seenThere, 31u);
}

namespace {
std::string seenText, seenCaption;
unsigned seenFlags = 0;
int recordBox(const char* text, const char* caption, unsigned flags) {
    seenText = text;
    seenCaption = caption;
    seenFlags = flags;
    return IDOK;
}
}  // namespace

TEST(OwnerlessBox, GoesThroughTheInstalledHook) {
    plat::MessageBoxHook previous = plat::setMessageBoxHook(recordBox);
    EXPECT_EQ(plat::messageBox("Not found", "Loading", MB_OK | MB_ICONWARNING), IDOK);
    EXPECT_EQ(seenText, "Not found");
    EXPECT_EQ(seenCaption, "Loading");
    EXPECT_EQ(seenFlags, 0x30u);
    EXPECT_EQ(plat::setMessageBoxHook(previous), &recordBox);
}
