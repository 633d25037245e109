// Opening and closing connections, the receive ring and the flow control
// towards the server, connection loss: the library against the in-process
// device server over loopback TCP.
#include "tests/netserial/net_test.h"

#include "platform/last_error.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <thread>

using namespace qtest;

namespace {

HANDLE open(const std::string& name) {
    return QnCreateFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
}

// Reads until `n` bytes came or a read fails.
std::vector<uint8_t> readAll(HANDLE h, size_t n) {
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer(4096);
    while (got.size() < n) {
        DWORD count = 0;
        if (!QnReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr))
            break;
        got.insert(got.end(), buffer.begin(), buffer.begin() + count);
    }
    return got;
}

DWORD unread(HANDLE h) {
    DWORD errors = 0;
    COMSTAT stat{};
    QnClearCommError(h, &errors, &stat);
    return stat.cbInQue;
}

// Polls until cbInQue reaches n (the ring fills on another thread).
bool waitUnread(HANDLE h, DWORD n) {
    Stopwatch clock;
    while (unread(h) < n) {
        if (clock.ms() > kLong) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

const std::vector<uint8_t> kOptions = {255, 253, 0, 255, 251, 44, 255, 253, 44};
const std::vector<uint8_t> kBaudZero = {255, 250, 44, 1, 0, 0, 0, 0, 255, 240};
const std::vector<uint8_t> kWillBinary = {255, 251, 0};

std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The first n bytes a freshly opened port sends (and nothing more soon
// after).
std::vector<uint8_t> firstBytes(size_t n) {
    DeviceServer server;
    HANDLE h = open(server.name());
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(server.accept());
    EXPECT_TRUE(server.waitRaw(n));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QnCloseHandle(h);
    return server.raw();
}

}  // namespace

class Connection : public NetTest {};

TEST_F(Connection, OpeningNegotiationComesFirstWithDoubledMasks) {
    EXPECT_EQ(firstBytes(38), join({kOptions,
                                    {255, 250, 44, 10, 255, 255, 255, 240},
                                    {255, 250, 44, 11, 255, 255, 255, 240},
                                    kBaudZero,
                                    kWillBinary}));
}

TEST_F(Connection, OpeningNegotiationFollowsTheSettings) {
    qelnet::gLibrarySettings.disableRemoteState = 1;
    EXPECT_EQ(firstBytes(36), join({kOptions,
                                    {255, 250, 44, 10, 0, 255, 240},
                                    {255, 250, 44, 11, 0, 255, 240},
                                    kBaudZero,
                                    kWillBinary}));
    qelnet::gLibrarySettings.disableRemoteState = 0;
    qelnet::gLibrarySettings.subnegIacDoubling = 0;
    EXPECT_EQ(firstBytes(36), join({kOptions,
                                    {255, 250, 44, 10, 255, 255, 240},
                                    {255, 250, 44, 11, 255, 255, 240},
                                    kBaudZero,
                                    kWillBinary}));
}

TEST_F(Connection, BadNamesAreRefusedWithoutConnecting) {
    DeviceServer server;
    const std::string port = std::to_string(server.port());
    for (const std::string& name :
         {std::string("127.0.0.1"), std::string("127.0.0.1:"), std::string("localhost:") + port,
          std::string("255.255.255.255:") + port, std::string("127.0.0.1.5:") + port,
          std::string(""), std::string(":") + port}) {
        EXPECT_EQ(open(name), INVALID_HANDLE_VALUE) << name;
    }
    EXPECT_EQ(QnCreateFile(nullptr, 0, 0, nullptr, 0, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(server.accept(200));
}

TEST_F(Connection, PortPartIsReadLikeAtoiIntoSixteenBits) {
    // Wraps: port + 65536 is port; extra colons and parts are ignored.
    for (int form = 0; form < 4; ++form) {
        DeviceServer server;
        const std::string port = std::to_string(server.port());
        const std::string names[] = {"127.0.0.1:" + std::to_string(server.port() + 65536u),
                                     "::127.0.0.1:" + port, "127.0.0.1:" + port + ":whatever",
                                     "127.0.0.1:" + port + "x"};
        HANDLE h = open(names[form]);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << names[form];
        EXPECT_TRUE(server.accept()) << names[form];
        EXPECT_TRUE(QnCloseHandle(h));
    }
}

TEST_F(Connection, RefusedConnectGivesAnInvalidHandle) {
    DeviceServer server;
    const std::string name = server.name();
    server.stopListening();
    EXPECT_EQ(open(name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(open("127.0.0.1:notanumber"), INVALID_HANDLE_VALUE);  // port 0
}

TEST_F(Connection, CloseRefusesDeadHandlesAndClosesInOrder) {
    EXPECT_FALSE(QnCloseHandle(nullptr));
    EXPECT_FALSE(QnCloseHandle(INVALID_HANDLE_VALUE));
    DeviceServer server;
    HANDLE h = openOn(server);
    EXPECT_TRUE(QnCloseHandle(h));
    EXPECT_TRUE(server.waitClientClosed());
    EXPECT_FALSE(QnCloseHandle(h));  // already closed: refused, not freed twice
    int somewhere = 0;
    EXPECT_FALSE(QnCloseHandle(&somewhere));
}

// A handle kept after its close names nothing, even once its slot serves a
// new connection (the next open takes the freed slot): every export refuses
// it with ERROR_INVALID_HANDLE, and nothing reaches the new connection.
TEST_F(Connection, StaleHandleIsRefusedAfterANewConnection) {
    DeviceServer first;
    HANDLE stale = openOn(first);
    ASSERT_TRUE(QnCloseHandle(stale));
    DeviceServer second;
    HANDLE h = openOn(second);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(setTimeouts(h, MAXDWORD, 0, 0));
    ASSERT_TRUE(second.sendPayload({1, 2, 3}));
    ASSERT_TRUE(waitUnread(h, 3));

    uint8_t buffer[16] = {'x'};
    DWORD count = 77, value = 0;
    DCB dcb{};
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    COMMTIMEOUTS timeouts{};
    COMSTAT stat{};
    const std::pair<const char*, std::function<BOOL(HANDLE)>> calls[] = {
        {"QnReadFile", [&](HANDLE x) { return QnReadFile(x, buffer, 3, &count, nullptr); }},
        {"QnWriteFile", [&](HANDLE x) { return QnWriteFile(x, buffer, 1, &count, nullptr); }},
        {"QnSetCommState", [&](HANDLE x) { return QnSetCommState(x, &dcb); }},
        {"QnGetCommState", [&](HANDLE x) { return QnGetCommState(x, &dcb); }},
        {"QnSetCommTimeouts", [&](HANDLE x) { return QnSetCommTimeouts(x, &timeouts); }},
        {"QnGetCommTimeouts", [&](HANDLE x) { return QnGetCommTimeouts(x, &timeouts); }},
        {"QnPurgeComm", [&](HANDLE x) { return QnPurgeComm(x, PURGE_RXCLEAR | PURGE_TXCLEAR); }},
        {"QnClearCommError", [&](HANDLE x) { return QnClearCommError(x, &value, &stat); }},
        {"QnSetCommMask", [&](HANDLE x) { return QnSetCommMask(x, EV_RXCHAR); }},
        {"QnGetCommMask", [&](HANDLE x) { return QnGetCommMask(x, &value); }},
        {"QnWaitCommEvent", [&](HANDLE x) { return QnWaitCommEvent(x, &value, nullptr); }},
        {"QnGetCommModemStatus", [&](HANDLE x) { return QnGetCommModemStatus(x, &value); }},
        {"QnEscapeCommFunction", [&](HANDLE x) { return QnEscapeCommFunction(x, SETDTR); }},
        {"QnSetCommBreak", [&](HANDLE x) { return QnSetCommBreak(x); }},
        {"QnClearCommBreak", [&](HANDLE x) { return QnClearCommBreak(x); }},
        {"QnCloseHandle", [&](HANDLE x) { return QnCloseHandle(x); }},
    };
    for (const auto& [name, call] : calls) {
        plat::setLastError(0);
        EXPECT_FALSE(call(stale)) << name;
        EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_INVALID_HANDLE)) << name;
    }
    EXPECT_EQ(count, 77u) << "a refused call wrote its count";

    // The new connection saw none of it: its bytes are unread, its settings
    // untouched, and the first thing its server receives is what h sends.
    EXPECT_EQ(unread(h), 3u);
    ASSERT_TRUE(QnGetCommState(h, &dcb));
    EXPECT_EQ(dcb.BaudRate, 0u);
    ASSERT_TRUE(QnEscapeCommFunction(h, CLRBREAK));
    ASSERT_TRUE(second.waitCommands(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(second.commands(), std::vector<ComPortCommand>{Command(5, {6})});
    EXPECT_TRUE(second.payload().empty());
    EXPECT_TRUE(QnCloseHandle(h));
}

TEST_F(Connection, HandleOfALostConnectionClosesNormally) {
    DeviceServer server;
    HANDLE h = openOn(server);
    server.closeClient();
    DWORD count = 0;
    uint8_t byte = 0;
    EXPECT_FALSE(QnReadFile(h, &byte, 1, &count, nullptr));  // waits for the loss, then fails
    EXPECT_TRUE(QnCloseHandle(h));
}

// A full ring stops the receiving instead of overwriting unread bytes: the
// rest waits in TCP, nothing is lost and CE_RXOVER is never raised.
TEST_F(Connection, FullRingHoldsTheServerBackAndLosesNothing) {
    DeviceServer server;
    HANDLE h = openOn(server);
    const std::vector<uint8_t> data = testPattern(200000);
    std::thread sender([&] { server.sendPayload(data); });
    ASSERT_TRUE(waitUnread(h, qelnet::kRingSize));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(QnClearCommError(h, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, static_cast<DWORD>(qelnet::kRingSize));
    EXPECT_EQ(errors & CE_RXOVER, 0u);
    ASSERT_TRUE(setTimeouts(h, MAXDWORD, MAXDWORD, 2000));
    EXPECT_EQ(readAll(h, data.size()), data);
    sender.join();
    ASSERT_TRUE(QnClearCommError(h, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    QnCloseHandle(h);
}

// A server on the same machine streams megabytes to a reader, with the
// default settings. Over loopback TCP's segments are 32 to 64 KiB; a
// receive window narrower than that holds the server back for its persist
// timer (200 ms) every time it fills, and this transfer took minutes. The
// bound catches that stall, not timing: it normally takes well under a
// second.
TEST_F(Connection, LoopbackServerStreamsWithoutStalling) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(setTimeouts(h, MAXDWORD, MAXDWORD, 1000));
    const std::vector<uint8_t> data = testPattern(8 * 1024 * 1024, 9);
    std::thread sender([&] { server.sendPayload(data); });
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer(65536);
    Stopwatch clock;
    while (got.size() < data.size() && clock.ms() < 30000) {
        DWORD count = 0;
        if (!QnReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr))
            break;
        got.insert(got.end(), buffer.begin(), buffer.begin() + count);
    }
    EXPECT_EQ(got.size(), data.size()) << "after " << clock.ms() << " ms";
    EXPECT_TRUE(got == data);
    QnCloseHandle(h);
    sender.join();
}

TEST_F(Connection, SuspendOnceAt8192UnreadAndResumeBelow4096) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(server.sendPayload(testPattern(8191)));
    ASSERT_TRUE(waitUnread(h, 8191));
    ASSERT_TRUE(server.sendPayload(testPattern(1, 2)));
    ASSERT_TRUE(server.waitCommands(1));
    ASSERT_TRUE(server.sendPayload(testPattern(10000, 3)));
    ASSERT_TRUE(waitUnread(h, 18192));
    ASSERT_TRUE(setTimeouts(h, MAXDWORD, 0, 0));
    std::vector<uint8_t> buffer(20000);
    DWORD count = 0;
    // Down to exactly 4096 unread: still suspended.
    ASSERT_TRUE(QnReadFile(h, buffer.data(), 18192 - 4096, &count, nullptr));
    EXPECT_EQ(count, 18192u - 4096u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(server.commands(), std::vector<ComPortCommand>{Command(8)});
    ASSERT_TRUE(QnReadFile(h, buffer.data(), 1, &count, nullptr));
    ASSERT_TRUE(server.waitCommands(2));
    EXPECT_EQ(server.commands(), (std::vector<ComPortCommand>{Command(8), Command(9)}));
    QnCloseHandle(h);
}

// A purge that empties the ring while the server is suspended sends the
// resume; otherwise the server would stay suspended for good.
TEST_F(Connection, PurgeOfTheRingEndsTheSuspend) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(server.sendPayload(testPattern(9000)));
    ASSERT_TRUE(server.waitCommands(1));
    ASSERT_TRUE(QnPurgeComm(h, PURGE_RXCLEAR));
    ASSERT_TRUE(server.waitCommands(3));
    EXPECT_EQ(server.commands(),
              (std::vector<ComPortCommand>{Command(8), Command(12, {1}), Command(9)}));
    EXPECT_EQ(unread(h), 0u);
    ASSERT_TRUE(server.sendPayload({1, 2, 3}));
    ASSERT_TRUE(waitUnread(h, 3));
    QnCloseHandle(h);
}

TEST_F(Connection, DataReceivedBeforeTheLossStaysReadable) {
    DeviceServer server;
    HANDLE h = openOn(server);
    const std::vector<uint8_t> data = testPattern(3000);
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0));
    ASSERT_TRUE(server.sendPayload(data));
    server.closeClient();
    std::vector<uint8_t> got(3000);
    DWORD count = 0;
    // Give the loss time to be seen before reading.
    Stopwatch clock;
    while (portOf(h).connectionLost.load() == 0 && clock.ms() < kLong)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(QnReadFile(h, got.data(), 3000, &count, nullptr));
    EXPECT_EQ(count, 3000u);
    EXPECT_EQ(got, data);
    plat::setLastError(0);
    EXPECT_FALSE(QnReadFile(h, got.data(), 1, &count, nullptr));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_NETNAME_DELETED));
    EXPECT_FALSE(QnWriteFile(h, got.data(), 1, &count, nullptr));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_NETNAME_DELETED));
    QnCloseHandle(h);
}

TEST_F(Connection, LossEndsWaitingReadWriteAndEventWait) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0));
    ASSERT_TRUE(QnSetCommMask(h, EV_RXCHAR | EV_CTS));
    ASSERT_TRUE(server.suspend());
    ASSERT_TRUE(waitSuspended(h));
    Stopwatch clock;
    auto reader = std::async(std::launch::async, [&] {
        uint8_t buffer[10];
        DWORD count = 0;
        BOOL ok = QnReadFile(h, buffer, 10, &count, nullptr);
        return std::make_pair(ok, plat::lastError());
    });
    auto writer = std::async(std::launch::async, [&] {
        const std::vector<uint8_t> data = testPattern(3000);
        DWORD count = 0;
        BOOL ok = QnWriteFile(h, data.data(), 3000, &count, nullptr);
        return std::make_pair(ok, plat::lastError());
    });
    auto waiter = std::async(std::launch::async, [&] {
        DWORD events = 0;
        BOOL ok = QnWaitCommEvent(h, &events, nullptr);
        return std::make_pair(ok, plat::lastError());
    });
    // All three are inside their exports (each holds a reference).
    while (portOf(h).refs.load() < 5 && clock.ms() < kLong)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Stopwatch sinceClose;
    server.closeClient();
    for (auto* f : {&reader, &writer, &waiter}) {
        ASSERT_EQ(f->wait_for(std::chrono::milliseconds(kLong)), std::future_status::ready);
        auto [ok, error] = f->get();
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, static_cast<uint32_t>(ERROR_NETNAME_DELETED));
    }
    EXPECT_LT(sinceClose.ms(), kLong);
    EXPECT_TRUE(QnCloseHandle(h));
}

TEST_F(Connection, CloseEndsEveryWaitingCallAndFreesSafely) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0));
    ASSERT_TRUE(QnSetCommMask(h, EV_RXCHAR));
    ASSERT_TRUE(server.suspend());
    ASSERT_TRUE(waitSuspended(h));
    Stopwatch clock;
    std::atomic<int> aborted{0};
    auto expectAborted = [&](BOOL ok) {
        if (!ok && plat::lastError() == ERROR_OPERATION_ABORTED) ++aborted;
    };
    std::thread reader([&] {
        uint8_t buffer[10];
        DWORD count = 0;
        expectAborted(QnReadFile(h, buffer, 10, &count, nullptr));
    });
    std::thread writer([&] {
        const std::vector<uint8_t> data(5000, 0xFF);
        DWORD count = 0;
        expectAborted(QnWriteFile(h, data.data(), 5000, &count, nullptr));
    });
    std::thread waiter([&] {
        DWORD events = 0;
        expectAborted(QnWaitCommEvent(h, &events, nullptr));
    });
    while (portOf(h).refs.load() < 5 && clock.ms() < kLong)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(QnCloseHandle(h));
    reader.join();
    writer.join();
    waiter.join();
    EXPECT_EQ(aborted.load(), 3);
    EXPECT_TRUE(server.waitClientClosed());
}

// A call woken by the close may drop the port's last reference itself, after
// it has set its error; freeing the port (socket, thread handle) must leave
// that error for the caller to read.
TEST_F(Connection, LastReleaseKeepsTheCallersError) {
    DeviceServer server;
    HANDLE h = openOn(server);
    qelnet::NetPort* port = qelnet::AcquirePort(h);
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(QnCloseHandle(h));
    EXPECT_EQ(port->refs.load(), 1);
    plat::setLastError(ERROR_OPERATION_ABORTED);
    qelnet::ReleasePort(port);
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
    EXPECT_TRUE(server.waitClientClosed());
}

// Hundreds of connections at once, each with a stream of its own both ways
// (most served by the pool's loops, some by threads of their own), while
// other connections open and close beside them and one server drops its
// client halfway: every byte arrives on its own connection, in order;
// only the dropped connection is lost, and a new one to the same server
// carries data again.
TEST_F(Connection, HundredsAtOnceKeepTheirOwnStreams) {
    constexpr size_t kPorts = 200;
    constexpr size_t kDrivers = 8;
    constexpr size_t kPiece = 1024;
    constexpr size_t kRounds = 24;
    constexpr size_t kDropped = kPorts / 2;
    std::vector<std::unique_ptr<DeviceServer>> servers;
    std::vector<HANDLE> handles;
    std::vector<std::vector<uint8_t>> up, down, got(kPorts);
    for (size_t i = 0; i < kPorts; ++i) {
        // Every tenth with a thread of its own (IoThreads -1), beside the pool.
        qelnet::gLibrarySettings.ioThreads = i % 10 == 3 ? -1 : 0;
        servers.push_back(std::make_unique<DeviceServer>());
        handles.push_back(openOn(*servers.back()));
        ASSERT_NE(handles.back(), INVALID_HANDLE_VALUE) << "connection " << i;
        ASSERT_TRUE(setTimeouts(handles.back(), MAXDWORD, 0, 0));
        up.push_back(testPattern(kPiece * kRounds, static_cast<uint32_t>(1000 + i)));
        down.push_back(testPattern(kPiece * kRounds, static_cast<uint32_t>(5000 + i)));
    }
    auto take = [&](size_t i) {
        uint8_t buffer[4096];
        DWORD count = 0;
        const BOOL ok = QnReadFile(handles[i], buffer, sizeof buffer, &count, nullptr);
        got[i].insert(got[i].end(), buffer, buffer + count);
        return ok;
    };

    // Beside them, connections come and go: each checks a message both
    // ways, and every other one is closed with data still coming to it.
    std::atomic<bool> stop{false};
    std::atomic<int> churned{0};
    std::thread churn([&] {
        for (uint32_t n = 0; !stop; ++n) {
            DeviceServer server;
            HANDLE h = openOn(server);
            const std::vector<uint8_t> message = testPattern(300, n);
            DWORD count = 0;
            EXPECT_TRUE(QnWriteFile(h, message.data(), 300, &count, nullptr));
            EXPECT_TRUE(server.waitPayload(300));
            EXPECT_EQ(server.payload(), message);
            EXPECT_TRUE(server.sendPayload(n % 2 ? message : testPattern(60000, n)));
            if (n % 2) {
                EXPECT_TRUE(setTimeouts(h, 0, 0, 0));
                std::vector<uint8_t> back(300);
                EXPECT_TRUE(QnReadFile(h, back.data(), 300, &count, nullptr));
                EXPECT_EQ(back, message);
            }
            EXPECT_TRUE(QnCloseHandle(h));
            EXPECT_TRUE(server.waitClientClosed());
            ++churned;
        }
    });

    // The drivers move every stream a piece at a time, round after round,
    // so that all of them are under way at once; halfway they wait for the
    // dropped connection to be seen lost.
    std::atomic<bool> dropSeen{false};
    std::vector<std::thread> drivers;
    for (size_t d = 0; d < kDrivers; ++d) {
        drivers.emplace_back([&, d] {
            for (size_t round = 0; round < kRounds; ++round) {
                if (round == kRounds / 2) {
                    Stopwatch clock;
                    while (!dropSeen && clock.ms() < kLong)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                for (size_t i = d; i < kPorts; i += kDrivers) {
                    if (i == kDropped) continue;
                    const size_t at = round * kPiece;
                    DWORD count = 0;
                    EXPECT_TRUE(servers[i]->sendPayload(
                        {down[i].begin() + at, down[i].begin() + at + kPiece}));
                    EXPECT_TRUE(
                        QnWriteFile(handles[i], up[i].data() + at, kPiece, &count, nullptr));
                    EXPECT_TRUE(take(i)) << "connection " << i;
                }
            }
            for (size_t i = d; i < kPorts; i += kDrivers) {
                Stopwatch clock;
                while (i != kDropped && got[i].size() < down[i].size() && clock.ms() < kLong)
                    if (!take(i)) break;
            }
        });
    }

    // The dropped connection: some data, then the server closes it.
    ASSERT_TRUE(servers[kDropped]->sendPayload(down[kDropped]));
    while (got[kDropped].size() < down[kDropped].size() && take(kDropped)) {
    }
    EXPECT_EQ(got[kDropped], down[kDropped]);
    servers[kDropped]->closeClient();
    plat::setLastError(0);
    Stopwatch clock;
    while (take(kDropped) && clock.ms() < kLong)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(plat::lastError(), static_cast<uint32_t>(ERROR_NETNAME_DELETED));
    for (size_t i = 0; i < kPorts; ++i)
        EXPECT_EQ(portOf(handles[i]).connectionLost.load(), i == kDropped ? 1 : 0) << i;
    dropSeen = true;
    // It comes back: a new connection to the same server.
    EXPECT_TRUE(QnCloseHandle(handles[kDropped]));
    handles[kDropped] = openOn(*servers[kDropped]);
    ASSERT_TRUE(setTimeouts(handles[kDropped], 0, 0, 0));
    DWORD count = 0;
    std::vector<uint8_t> back(kPiece);
    EXPECT_TRUE(servers[kDropped]->sendPayload(up[kDropped]));
    EXPECT_TRUE(QnReadFile(handles[kDropped], back.data(), kPiece, &count, nullptr));
    EXPECT_TRUE(std::equal(back.begin(), back.end(), up[kDropped].begin()));

    for (std::thread& t : drivers)
        t.join();
    stop = true;
    churn.join();
    EXPECT_GT(churned.load(), 0);
    for (size_t i = 0; i < kPorts; ++i) {
        if (i == kDropped) continue;
        EXPECT_TRUE(got[i] == down[i]) << "connection " << i << ": device to client differs";
        EXPECT_TRUE(servers[i]->waitPayload(up[i].size())) << "connection " << i;
        EXPECT_TRUE(servers[i]->payload() == up[i]) << "connection " << i << ": client to device";
        EXPECT_EQ(portOf(handles[i]).connectionLost.load(), 0) << i;
    }
    for (HANDLE h : handles)
        EXPECT_TRUE(QnCloseHandle(h));
}
