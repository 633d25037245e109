// Writing: escaping, chunks, the send buffer's limits, the server's flow
// control, and the purges. Some tests stop the port's connection thread and
// run its send step themselves, so that what sits in the send buffer can be
// seen between steps; the socket and the server stay real.
#include "tests/netserial/net_test.h"

#include "platform/last_error.h"

#include <algorithm>
#include <future>
#include <thread>

using namespace qtest;
using qelnet::NetPort;

namespace {

// Ends the connection thread; from then on the test runs SendStep.
void stopThread(HANDLE h) {
    portOf(h).socket.stop();
    ASSERT_TRUE(portOf(h).thread.join(kLong));
}

int32_t pending(HANDLE h) {
    std::lock_guard<std::mutex> hold(portOf(h).txLock);
    return portOf(h).txPending;
}

// Waits until the send buffer holds something other than `not`.
int32_t waitPendingNot(HANDLE h, int32_t not_) {
    Stopwatch clock;
    int32_t now;
    while ((now = pending(h)) == not_ && clock.ms() < kLong)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return now;
}

// Runs send steps (as the thread would on each POLLOUT) until the buffer
// is empty.
void drain(HANDLE h) {
    Stopwatch clock;
    while (pending(h) > 0 && clock.ms() < kLong) {
        qelnet::SendStep(portOf(h));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

size_t escapedSize(const std::vector<uint8_t>& data, size_t from, size_t n) {
    return n + static_cast<size_t>(std::count(data.begin() + from, data.begin() + from + n, 0xFF));
}

std::future<std::pair<BOOL, DWORD>> writeAsync(HANDLE h, const std::vector<uint8_t>& data) {
    return std::async(std::launch::async, [h, &data] {
        DWORD count = 0;
        BOOL ok = QnWriteFile(h, data.data(), static_cast<DWORD>(data.size()), &count);
        return std::make_pair(ok, ok ? count : plat::lastError());
    });
}

bool ready(std::future<std::pair<BOOL, DWORD>>& f, int ms = kLong) {
    return f.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready;
}

}  // namespace

class SerialIo : public NetTest {};

TEST_F(SerialIo, WritesArriveEscapedAndWhole) {
    DeviceServer server;
    HANDLE h = openOn(server);
    const std::vector<uint8_t> data = testPattern(300000);
    DWORD count = 0;
    ASSERT_TRUE(QnWriteFile(h, data.data(), static_cast<DWORD>(data.size()), &count));
    EXPECT_EQ(count, data.size());
    ASSERT_TRUE(server.waitPayload(data.size()));
    EXPECT_EQ(server.payload(), data);
    const std::vector<uint8_t> ff(1000, 0xFF);
    ASSERT_TRUE(QnWriteFile(h, ff.data(), 1000, &count));
    // On the wire every 255 is doubled: 1000 of them take 2000 bytes.
    const size_t onWire = escapedSize(data, 0, data.size()) + 2000;
    ASSERT_TRUE(server.waitRaw(onWire));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(server.raw().size(), onWire);
    EXPECT_EQ(server.payload().size(), data.size() + 1000);
    QnCloseHandle(h);
}

// 3000 bytes with WriteBlockSize 1024 go into the send buffer as 1024, 1024
// and 952, each only once the one before has left it.
TEST_F(SerialIo, ChunksFollowWriteBlockSizeOneAtATime) {
    DeviceServer server;
    HANDLE h = openOn(server);
    stopThread(h);
    const std::vector<uint8_t> data = testPattern(3000);
    auto writer = writeAsync(h, data);
    size_t at = 0;
    for (size_t chunk : {1024u, 1024u, 952u}) {
        const int32_t size = waitPendingNot(h, 0);
        EXPECT_EQ(size, static_cast<int32_t>(escapedSize(data, at, chunk)));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(pending(h), size);  // the next chunk waits
        qelnet::SendStep(portOf(h));
        at += chunk;
    }
    ASSERT_TRUE(ready(writer));
    EXPECT_EQ(writer.get(), std::make_pair(BOOL{TRUE}, DWORD{3000}));
    ASSERT_TRUE(server.waitPayload(3000));
    EXPECT_EQ(server.payload(), data);
    QnCloseHandle(h);
}

// 16384 bytes of 255 fill all 32768 bytes of the send buffer; a command
// then waits for room instead of writing past it.
TEST_F(SerialIo, CommandWaitsForRoomInAFullSendBuffer) {
    qelnet::gLibrarySettings.writeBlockSize = qelnet::kMaxWriteBlockSize;
    DeviceServer server;
    HANDLE h = openOn(server);
    stopThread(h);
    const std::vector<uint8_t> ff(16384, 0xFF);
    auto writer = writeAsync(h, ff);
    ASSERT_EQ(waitPendingNot(h, 0), qelnet::kTxBufferSize);
    auto command = std::async(std::launch::async, [h] { return QnEscapeCommFunction(h, SETDTR); });
    EXPECT_EQ(command.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(pending(h), qelnet::kTxBufferSize);
    drain(h);
    ASSERT_EQ(command.wait_for(std::chrono::milliseconds(kLong)), std::future_status::ready);
    EXPECT_TRUE(command.get());
    drain(h);
    ASSERT_TRUE(ready(writer));
    EXPECT_EQ(writer.get().second, 16384u);
    ASSERT_TRUE(server.waitCommands(1));
    EXPECT_EQ(server.payload(), ff);
    ASSERT_EQ(server.commands().size(), 1u);
    EXPECT_EQ(server.commands()[0], Command(5, {8}));
    EXPECT_EQ(server.commands()[0].atPayload, 16384u);
    QnCloseHandle(h);
}

// After a send step either nothing is left or the socket would block (and
// the thread then waits for it to take more): no remainder is stranded.
TEST_F(SerialIo, SendStepSendsUntilNothingIsLeftOrTheSocketWouldBlock) {
    DeviceServer server;
    HANDLE h = openOn(server);
    stopThread(h);
    server.pauseReading();
    NetPort& port = portOf(h);
    const std::vector<uint8_t> data(30000, 'q');
    size_t queued = 0;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(qelnet::QueueSend(port, data.data(), data.size(), qelnet::QueueWait::Never));
        queued += data.size();
        qelnet::SendStep(port);
        std::lock_guard<std::mutex> hold(port.txLock);
        ASSERT_TRUE(port.txPending == 0 || port.sendBlocked);
        if (port.sendBlocked) break;
    }
    EXPECT_TRUE(port.sendBlocked) << "the server's window never filled";
    server.resumeReading();
    drain(h);
    ASSERT_TRUE(server.waitPayload(queued));
    EXPECT_EQ(server.payload().size(), queued);
    QnCloseHandle(h);
}

TEST_F(SerialIo, TimeLimitedWriteCountsWholeChunksAndExactlyThoseArrive) {
    qelnet::gLibrarySettings.writeBlockSize = 1000;
    DeviceServer server;
    HANDLE h = openOn(server);
    server.pauseReading();
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 500));
    const std::vector<uint8_t> data = testPattern(4000000);
    DWORD count = 0;
    ASSERT_TRUE(QnWriteFile(h, data.data(), static_cast<DWORD>(data.size()), &count));
    EXPECT_LT(count, data.size());
    EXPECT_EQ(count % 1000, 0u);
    server.resumeReading();
    ASSERT_TRUE(server.waitPayload(count));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(server.payload(), std::vector<uint8_t>(data.begin(), data.begin() + count));
    QnCloseHandle(h);
}

TEST_F(SerialIo, ServerSuspendHoldsDataButNotCommands) {
    for (bool rfcCodes : {true, false}) {
        DeviceServer server;
        HANDLE h = openOn(server);
        ASSERT_TRUE(server.suspend(rfcCodes));
        ASSERT_TRUE(waitSuspended(h));
        const std::vector<uint8_t> data = testPattern(3000);
        ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 300));
        DWORD count = 99;
        ASSERT_TRUE(QnWriteFile(h, data.data(), 3000, &count));
        EXPECT_EQ(count, 0u);
        ASSERT_TRUE(QnEscapeCommFunction(h, SETDTR));
        ASSERT_TRUE(server.waitCommands(1));
        EXPECT_TRUE(server.payload().empty());
        // Without a limit the write waits for the resume.
        ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 0));
        auto writer = writeAsync(h, data);
        EXPECT_FALSE(ready(writer, 200));
        ASSERT_TRUE(server.resume(rfcCodes));
        ASSERT_TRUE(ready(writer));
        EXPECT_EQ(writer.get(), std::make_pair(BOOL{TRUE}, DWORD{3000}));
        ASSERT_TRUE(server.waitPayload(3000));
        EXPECT_EQ(server.payload(), data);
        QnCloseHandle(h);
    }
}

TEST_F(SerialIo, PurgeClearsBothSidesAndTellsTheServer) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(server.sendPayload(testPattern(100)));
    Stopwatch clock;
    DWORD errors = 0;
    COMSTAT stat{};
    while (QnClearCommError(h, &errors, &stat) && stat.cbInQue < 100 && clock.ms() < kLong)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(stat.cbInQue, 100u);
    stopThread(h);  // from here on nothing is sent but by the test
    const std::vector<uint8_t> data = testPattern(500);
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 50));
    DWORD count = 0;
    ASSERT_TRUE(QnWriteFile(h, data.data(), 500, &count));  // queued, not sent
    ASSERT_GT(pending(h), 0);
    ASSERT_TRUE(QnPurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR));
    ASSERT_TRUE(QnClearCommError(h, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_EQ(pending(h), 7);  // PURGE-DATA alone
    drain(h);
    ASSERT_TRUE(server.waitCommands(1));
    EXPECT_EQ(server.commands(), std::vector<ComPortCommand>{Command(12, {3})});
    EXPECT_TRUE(server.payload().empty());
    // The abort flags alone send nothing.
    ASSERT_TRUE(QnPurgeComm(h, PURGE_RXABORT));
    ASSERT_TRUE(QnPurgeComm(h, PURGE_TXABORT));
    EXPECT_EQ(pending(h), 0);
    QnCloseHandle(h);
}

// A purge while bytes are half sent keeps the rest of the unit in progress,
// so the server stays in step: what is written after the purge arrives as
// payload, not as a broken command.
TEST_F(SerialIo, PurgeNeverCutsACommandOrAnIacPair) {
    qelnet::gLibrarySettings.writeBlockSize = qelnet::kMaxWriteBlockSize;
    DeviceServer server;
    HANDLE h = openOn(server);
    server.pauseReading();
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 300));
    const std::vector<uint8_t> ff(1000000, 0xFF);
    DWORD count = 0;
    ASSERT_TRUE(QnWriteFile(h, ff.data(), static_cast<DWORD>(ff.size()), &count));
    ASSERT_TRUE(QnPurgeComm(h, PURGE_TXCLEAR | PURGE_TXABORT));
    server.resumeReading();
    const std::vector<uint8_t> marker = {'e', 'n', 'd', 0xFF, 'x'};
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 0));
    ASSERT_TRUE(QnWriteFile(h, marker.data(), 5, &count));
    ASSERT_TRUE(QnEscapeCommFunction(h, SETRTS));
    ASSERT_TRUE(server.waitCommands(2));
    const std::vector<uint8_t> got = server.payload();
    ASSERT_GE(got.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(got.end() - 5, got.end()), marker);
    EXPECT_TRUE(std::all_of(got.begin(), got.end() - 5, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(server.commands(), (std::vector<ComPortCommand>{Command(12, {2}), Command(5, {11})}));
    QnCloseHandle(h);
}

TEST_F(SerialIo, AbortPurgesEndWaitingWritesAndReads) {
    DeviceServer server;
    HANDLE h = openOn(server);
    ASSERT_TRUE(server.suspend());
    ASSERT_TRUE(waitSuspended(h));
    const std::vector<uint8_t> data = testPattern(5000);
    auto writer = writeAsync(h, data);
    auto reader = std::async(std::launch::async, [h] {
        uint8_t buffer[16];
        DWORD count = 0;
        BOOL ok = QnReadFile(h, buffer, 16, &count);
        return std::make_pair(ok, plat::lastError());
    });
    EXPECT_FALSE(ready(writer, 100));
    ASSERT_TRUE(QnPurgeComm(h, PURGE_TXABORT));
    ASSERT_TRUE(ready(writer));
    EXPECT_EQ(writer.get(), std::make_pair(BOOL{FALSE}, DWORD{ERROR_OPERATION_ABORTED}));
    EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    ASSERT_TRUE(QnPurgeComm(h, PURGE_RXABORT));
    ASSERT_EQ(reader.wait_for(std::chrono::milliseconds(kLong)), std::future_status::ready);
    EXPECT_EQ(reader.get(), std::make_pair(BOOL{FALSE}, uint32_t{ERROR_OPERATION_ABORTED}));
    // Later calls are not affected.
    ASSERT_TRUE(server.resume());
    DWORD count = 0;
    ASSERT_TRUE(QnWriteFile(h, data.data(), 5000, &count));
    EXPECT_EQ(count, 5000u);
    ASSERT_TRUE(server.sendPayload({42}));
    uint8_t byte = 0;
    ASSERT_TRUE(QnReadFile(h, &byte, 1, &count));
    EXPECT_EQ(byte, 42);
    QnCloseHandle(h);
}
