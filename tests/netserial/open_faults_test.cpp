// Failures on the way to a handle: every allocation of QnCreateFile failing
// in turn, and a sockets layer that cannot start. A program of its own: it
// replaces operator new (tests/support/alloc_trigger.h), and the walk must
// be the process's first open, so that the allocations made only once (the
// first block of the handle table) are among those it fails.
#include "netserial/qelnet.h"
#include "netserial/settings.h"
#include "platform/last_error.h"
#include "platform/message_box.h"
#include "platform/win32_types.h"
#include "tests/support/alloc_trigger.h"
#include "tests/support/tcp_server.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kLong = 10000;

HANDLE open(const std::string& name) {
    return QnCreateFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
}

std::string nameOf(const rig::LoopbackServer& server) {
    return "127.0.0.1:" + std::to_string(server.port());
}

}  // namespace

// Allocation n of the open path fails, for n = 1, 2, ... until an open gets
// through without reaching the trigger. Each failed open returns
// INVALID_HANDLE_VALUE with ERROR_NOT_ENOUGH_MEMORY (no exception reaches
// the caller), frees every block it allocated, and closes the connection
// it may already have made.
TEST(OpenFaults, EveryAllocationOnTheOpenPathFailsCleanly) {
    rig::LoopbackServer server;
    const std::string name = nameOf(server);
    uint32_t walked = 0;
    for (uint32_t n = 1;; ++n) {
        ASSERT_LT(n, 200u) << "the open path never stops allocating";
        const long long before = rig::AllocTrigger::live();
        plat::setLastError(0);
        rig::AllocTrigger::arm(n);
        HANDLE h = open(name);
        const bool failedOne = rig::AllocTrigger::disarm();
        const uint32_t error = plat::lastError();
        // A connect has finished before QnCreateFile returns, so a
        // connection it made waits in the backlog already.
        std::unique_ptr<rig::TcpConnection> connection = server.accept(failedOne ? 50 : kLong);
        if (!failedOne) {
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            ASSERT_NE(connection, nullptr);
            EXPECT_TRUE(QnCloseHandle(h));
            EXPECT_NE(connection->waitClosed(kLong), rig::TcpConnection::Status::Timeout);
            break;
        }
        walked = n;
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "allocation " << n;
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_NOT_ENOUGH_MEMORY)) << "allocation " << n;
        if (connection) {
            EXPECT_NE(connection->waitClosed(kLong), rig::TcpConnection::Status::Timeout)
                << "allocation " << n << ": the connection was left open";
        }
        connection.reset();
        EXPECT_EQ(rig::AllocTrigger::live(), before) << "allocation " << n << ": memory leaked";
    }
    EXPECT_GT(walked, 0u) << "the open path allocated nothing: the trigger is not in place";
}

// The sockets layer starts at the first open, not when the library loads. If
// it cannot start, the box says so once, however many opens come at the
// same time, and every open fails with the system's error; the process
// goes on, and opens work once the layer can start.
TEST(LibraryStart, SocketsThatCannotStartAreReportedOnceAndTheProcessGoesOn) {
    static int boxes = 0;
    static std::string text, caption;
    plat::MessageBoxHook previous =
        plat::setMessageBoxHook([](const char* t, const char* c, unsigned) {
            ++boxes;
            text = t;
            caption = c;
            return IDOK;
        });
    constexpr uint32_t kNotReady = 10091;  // WSASYSNOTREADY
    qelnet::ResetLibraryStart([]() -> uint32_t { return kNotReady; });
    rig::LoopbackServer server;
    const std::string name = nameOf(server);

    std::vector<std::thread> openers;
    std::vector<uint32_t> errors(4, 0);
    std::vector<HANDLE> handles(4, nullptr);
    for (size_t i = 0; i < handles.size(); ++i) {
        openers.emplace_back([&, i] {
            handles[i] = open(name);
            errors[i] = plat::lastError();
        });
    }
    for (std::thread& t : openers)
        t.join();
    for (size_t i = 0; i < handles.size(); ++i) {
        EXPECT_EQ(handles[i], INVALID_HANDLE_VALUE);
        EXPECT_EQ(errors[i], kNotReady);
    }
    EXPECT_EQ(open(name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::lastError(), kNotReady);
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(text, "Problem with WinSock2 DLL");
    EXPECT_EQ(caption, "QELNET.DLL");
    EXPECT_EQ(server.accept(100), nullptr) << "an open went on without the sockets layer";

    qelnet::ResetLibraryStart();
    HANDLE h = open(name);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_NE(server.accept(kLong), nullptr);
    EXPECT_TRUE(QnCloseHandle(h));
    EXPECT_EQ(boxes, 1);
    plat::setMessageBoxHook(previous);
}
