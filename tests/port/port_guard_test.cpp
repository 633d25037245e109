#include "tester/port/port_guard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"

TEST(PortGuard, OperationsNeedTheOpenHandleAndNoCloseUnderWay) {
    PortGuard g;
    EXPECT_FALSE(g.enter(5)) << "nothing open yet";
    g.opened(5);
    EXPECT_FALSE(g.enter(6)) << "another handle";
    ASSERT_TRUE(g.enter(5));
    g.leave();
    EXPECT_FALSE(g.beginClose(6));
    ASSERT_TRUE(g.beginClose(5));
    EXPECT_TRUE(g.closing());
    EXPECT_FALSE(g.enter(5)) << "closing";
    EXPECT_FALSE(g.beginClose(5)) << "one close only";
    EXPECT_TRUE(g.waitIdle(0));
    g.closed();
    EXPECT_FALSE(g.enter(5)) << "a stale handle after the close";
    g.opened(5);
    EXPECT_TRUE(g.enter(5)) << "open again under the same number";
    g.leave();
}

TEST(PortGuard, CloseWaitsForTheOperationsInside) {
    PortGuard g;
    g.opened(3);
    std::atomic<bool> left{false};
    std::atomic<bool> inside{false};
    std::thread op([&] {
        PortGuard::Scope s(g, 3);
        ASSERT_TRUE(s);
        inside = true;
        while (!g.closing())  // a transfer polls for the close and ends
            plat::sleepMs(1);
        plat::sleepMs(30);
        left = true;
    });
    while (!inside)
        plat::sleepMs(1);
    ASSERT_TRUE(g.beginClose(3));
    EXPECT_FALSE(g.waitIdle(5));
    EXPECT_TRUE(g.waitIdle(5000));
    EXPECT_TRUE(left.load()) << "idle before the operation left";
    g.closed();
    op.join();
}

TEST(PortGuard, GuardedCallsOnAClosedPortFailWithInvalidHandle) {
    PortGuard g;
    int calls = 0;
    plat::setLastError(0);
    EXPECT_FALSE(RunGuarded(g, reinterpret_cast<HANDLE>(intptr_t{4}), [&] { return ++calls; }));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
    g.opened(4);
    EXPECT_EQ(RunGuarded(g, reinterpret_cast<HANDLE>(intptr_t{4}), [&] { return ++calls; }), 1);
    EXPECT_EQ(calls, 1);
}
