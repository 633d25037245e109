// Network ports: the binding of the network library and the routing of
// every operation to it, against stand-in libraries (whole, lacking an
// export, missing). Runs natively and under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/last_error.h"
#include "platform/message_box.h"
#include "tester/port/network_library.h"
#include "tester/port/port_access.h"
#include "tests/port/fake_qelnet.h"

namespace {

std::atomic<int> boxes{0};
std::string boxText, boxCaption;
unsigned boxFlags = 0;

// Stands for the user: looks at the box for a while, then presses OK.
int countingBox(const char* text, const char* caption, unsigned flags) {
    boxText = text;
    boxCaption = caption;
    boxFlags = flags;
    boxes.fetch_add(1);
    plat::sleepMs(150);
    return IDOK;
}

HANDLE openPort(PortAccess& port, const char* name) {
    return port.Open(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

FakeQnRecord* fakeRecord() {
    plat::LibraryHandle lib = plat::loadLibrary("vesk_fake_qelnet");
    if (!lib) return nullptr;
    auto state = reinterpret_cast<FakeQnStateFn>(plat::findSymbol(lib, "FakeQnState"));
    return state ? state() : nullptr;
}

class NetworkPort : public ::testing::Test {
  protected:
    void SetUp() override {
        boxes = 0;
        previousHook_ = plat::setMessageBoxHook(countingBox);
    }
    void TearDown() override {
        plat::setMessageBoxHook(previousHook_);
        UseNetworkLibraryForTesting("qelnet");
    }
    plat::MessageBoxHook previousHook_ = nullptr;
};

}  // namespace

TEST_F(NetworkPort, RejectedNamesFailWithoutTouchingTheLibrary) {
    UseNetworkLibraryForTesting("vesk_fake_qelnet");
    const char* names[] = {"10.0.0.5",      "10.0.0.256:950", "10.0.0.5:65536", "10..0.5:950",
                           "1.2.3.4.5:950", "10.0.0.5:",      "host.lan:950",   "",
                           "   ",           "COM0",           "COM256",         "COM"};
    for (const char* name : names) {
        PortAccess port;
        EXPECT_EQ(openPort(port, name), INVALID_HANDLE_VALUE) << name;
    }
    EXPECT_FALSE(libraryLoaded.load());
    EXPECT_EQ(boxes.load(), 0);
}

TEST_F(NetworkPort, EveryOperationReachesTheLibraryAsCalled) {
    UseNetworkLibraryForTesting("vesk_fake_qelnet");
    FakeQnRecord* rec = fakeRecord();
    ASSERT_NE(rec, nullptr);
    std::memset(rec, 0, sizeof *rec);

    PortAccess port;
    int security = 0;
    HANDLE h = port.Open(" 10.0.0.5:950\t", GENERIC_READ | GENERIC_WRITE, 0, &security,
                         OPEN_EXISTING, 0x80, nullptr);
    ASSERT_EQ(h, FAKE_QN_HANDLE);
    EXPECT_TRUE(port.IsNetwork());
    EXPECT_TRUE(libraryLoaded.load());
    EXPECT_STREQ(rec->name, "10.0.0.5:950") << "trimmed, otherwise as written";
    EXPECT_EQ(rec->access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(rec->security, &security);
    EXPECT_EQ(rec->disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(rec->flags, 0x80u) << "no overlapped flag for the library";

    char buffer[16] = {};
    DWORD n = 0;
    EXPECT_TRUE(port.Read(h, buffer, sizeof buffer, &n));
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(rec->buffer, buffer);
    EXPECT_EQ(rec->count, sizeof buffer);
    EXPECT_EQ(rec->overlapped, nullptr);
    EXPECT_TRUE(port.Write(h, "block", 5, &n));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(rec->count, 5u);
    EXPECT_EQ(rec->overlapped, nullptr);

    DCB dcb{};
    EXPECT_TRUE(port.GetState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, 4321u);
    dcb.BaudRate = 9600;
    EXPECT_TRUE(port.SetState(h, &dcb));
    EXPECT_EQ(rec->baudRate, 9600u);
    COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 100, 0, 0};
    EXPECT_TRUE(port.SetTimeouts(h, &t));
    EXPECT_EQ(rec->readConstant, 100u);
    const DWORD all = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    EXPECT_TRUE(port.Purge(h, all));
    EXPECT_EQ(rec->purgeFlags, all);
    DWORD errors = 0;
    COMSTAT stat{};
    EXPECT_TRUE(port.ClearError(h, &errors, &stat));
    EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME));
    EXPECT_EQ(stat.cbInQue, 7u);
    EXPECT_TRUE(port.CancelPending(h));
    // The modem lines serve the line check alone: this library has neither
    // QnEscapeCommFunction nor QnGetCommModemStatus and is bound all the
    // same; its ports have no modem lines.
    DWORD status = 0;
    EXPECT_FALSE(port.GetModemStatus(h, &status));
    EXPECT_TRUE(port.NoModemLines(plat::currentError()));
    EXPECT_FALSE(port.EscapeFunction(h, SETRTS));
    EXPECT_TRUE(port.NoModemLines(plat::currentError()));
    // Nor QnSetCommBreak and QnClearCommBreak: no break on its ports.
    EXPECT_FALSE(port.SetBreak(h));
    EXPECT_TRUE(port.NoModemLines(plat::currentError()));
    EXPECT_FALSE(port.ClearBreak(h));
    EXPECT_TRUE(port.NoModemLines(plat::currentError()));
    EXPECT_EQ(port.Kind(), DeviceKind::Network);
    EXPECT_TRUE(port.Close(h));
    EXPECT_EQ(rec->handle, FAKE_QN_HANDLE);
    for (int i = 0; i < kFakeExportCount; ++i)
        EXPECT_EQ(rec->calls[i], 1) << "export " << i;
    EXPECT_EQ(boxes.load(), 0);

    // Unbound again (as before the first open): nothing is called, and only
    // the cancel succeeds.
    UseNetworkLibraryForTesting("vesk_no_qelnet_here");
    std::memset(rec, 0, sizeof *rec);
    EXPECT_FALSE(port.Read(h, buffer, sizeof buffer, &n));
    EXPECT_FALSE(port.Write(h, "x", 1, &n));
    EXPECT_FALSE(port.GetState(h, &dcb));
    EXPECT_FALSE(port.SetState(h, &dcb));
    EXPECT_FALSE(port.SetTimeouts(h, &t));
    EXPECT_FALSE(port.Purge(h, all));
    EXPECT_FALSE(port.ClearError(h, &errors, &stat));
    EXPECT_FALSE(port.Close(h));
    EXPECT_TRUE(port.CancelPending(h));
    for (int i = 0; i < kFakeExportCount; ++i)
        EXPECT_EQ(rec->calls[i], 0) << "export " << i;
}

TEST_F(NetworkPort, TenPortsWithTheLibraryMissingShowOneBox) {
    UseNetworkLibraryForTesting("vesk_no_qelnet_here");
    constexpr int kPorts = 10;
    std::vector<HANDLE> handles(kPorts, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kPorts; ++i)
        threads.emplace_back([i, &handles] {
            PortAccess port;
            std::string name = "192.168.0." + std::to_string(20 + i) + ":950";
            handles[i] = openPort(port, name.c_str());
        });
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kPorts; ++i)
        EXPECT_EQ(handles[i], INVALID_HANDLE_VALUE) << "port " << i;
    EXPECT_EQ(boxes.load(), 1);
    EXPECT_EQ(boxText, "Not found qelnet.dll");
    EXPECT_EQ(boxCaption, "DLL Loading");
    EXPECT_EQ(boxFlags, static_cast<unsigned>(MB_OK | MB_ICONWARNING));
    EXPECT_TRUE(libraryWarned);
    EXPECT_FALSE(libraryLoaded.load());

    PortAccess later;
    EXPECT_EQ(openPort(later, "10.0.0.5:950"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(boxes.load(), 1) << "tried again, but warned only once";
}

TEST_F(NetworkPort, LibraryLackingAnExportCountsAsMissing) {
    UseNetworkLibraryForTesting("vesk_partial_qelnet");
    ASSERT_NE(plat::loadLibrary("vesk_partial_qelnet"), nullptr) << "the stand-in is not built";
    PortAccess port;
    EXPECT_EQ(openPort(port, "10.0.0.5:950"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(boxes.load(), 1);
    EXPECT_EQ(boxText, "Not found qelnet.dll");
    EXPECT_FALSE(libraryLoaded.load());
    EXPECT_EQ(libraryExports.QnCreateFile, nullptr) << "all nine slots or none";

    // The whole library appears later (installed while the tester runs):
    // the next open binds it, and a later loss would warn again.
    UseNetworkLibraryForTesting("vesk_fake_qelnet");
    libraryWarned = true;
    EXPECT_EQ(openPort(port, "10.0.0.5:950"), FAKE_QN_HANDLE);
    EXPECT_FALSE(libraryWarned);
    EXPECT_EQ(boxes.load(), 1);
}
