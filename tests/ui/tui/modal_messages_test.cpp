#include "tester/ui/tui/modal_messages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/message_box.h"
#include "platform/win32_types.h"

namespace {

using namespace std::chrono_literals;

// Generous: catches a hang, not timing.
bool WaitUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(ModalMessages, TheCallerWaitsUntilTheOperatorClosesItsBox) {
    ModalMessages messages;
    std::atomic<int> returned{0};
    std::thread port([&] {
        EXPECT_EQ(messages.Show("Error 'GETCOMMSTATE' for COM3", "Error", MB_OK), IDOK);
        returned = 1;
    });
    ASSERT_TRUE(WaitUntil([&] { return messages.Waiting() == 1; }));
    ModalMessage shown;
    ASSERT_TRUE(messages.Front(shown));
    EXPECT_EQ(shown.caption, "Error");
    EXPECT_EQ(shown.text, "Error 'GETCOMMSTATE' for COM3");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(returned.load(), 0);  // still open: the caller still waits

    messages.Dismiss();
    port.join();
    EXPECT_EQ(returned.load(), 1);
    EXPECT_FALSE(messages.Front(shown));
}

TEST(ModalMessages, BoxesAreShownOneAtATimeInTheOrderTheyCame) {
    ModalMessages messages;
    std::thread first([&] { messages.Show("first", "A", MB_OK); });
    ASSERT_TRUE(WaitUntil([&] { return messages.Waiting() == 1; }));
    std::atomic<bool> secondBack{false};
    std::thread second([&] {
        messages.Show("second", "B", MB_OK);
        secondBack = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return messages.Waiting() == 2; }));

    ModalMessage shown;
    ASSERT_TRUE(messages.Front(shown));
    EXPECT_EQ(shown.text, "first");
    messages.Dismiss();
    first.join();
    EXPECT_FALSE(secondBack.load());  // closing the first box does not close the second
    ASSERT_TRUE(messages.Front(shown));
    EXPECT_EQ(shown.text, "second");
    messages.Dismiss();
    second.join();
}

TEST(ModalMessages, LeavingTheScreenLetsEveryCallerGoAndKeepsTheTexts) {
    ModalMessages messages;
    std::thread waiting([&] { messages.Show("Not found qelnet.dll", "DLL Loading", MB_OK); });
    ASSERT_TRUE(WaitUntil([&] { return messages.Waiting() == 1; }));

    messages.Close();
    waiting.join();  // would hang if the shut-down had to wait for a box
    EXPECT_EQ(messages.Show("late", "Error", MB_OK), IDOK);  // returns at once

    const std::vector<ModalMessage> unshown = messages.TakeUnshown();
    ASSERT_EQ(unshown.size(), 2u);
    EXPECT_EQ(unshown[0].caption, "DLL Loading");
    EXPECT_EQ(unshown[1].text, "late");
    EXPECT_TRUE(messages.TakeUnshown().empty());
    EXPECT_EQ(messages.Waiting(), 0u);

    // A second screen in the same process queues again.
    messages.Reopen();
    std::thread again([&] { messages.Show("again", "Error", MB_OK); });
    ASSERT_TRUE(WaitUntil([&] { return messages.Waiting() == 1; }));
    messages.Dismiss();
    again.join();
}

TEST(ModalMessages, ThePlatformsBoxesGoToTheTerminalQueue) {
    TerminalMessages().Reopen();
    RouteBoxesToTerminal(true);
    std::thread port([] { plat::messageBox("Not found qelnet.dll", "DLL Loading", MB_OK); });
    ASSERT_TRUE(WaitUntil([] { return TerminalMessages().Waiting() == 1; }));
    ModalMessage shown;
    ASSERT_TRUE(TerminalMessages().Front(shown));
    EXPECT_EQ(shown.caption, "DLL Loading");
    TerminalMessages().Dismiss();
    port.join();
    RouteBoxesToTerminal(false);
}

}  // namespace
