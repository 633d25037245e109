// Writing: escaping, chunks, the send buffer's limits, the server's flow
// control, and the purges. Some tests take the port from its I/O loop,
// fill the socket while the server does not read, and run the send step
// themselves, so that what sits in the send buffer can be seen between
// steps; the socket and the server stay real.
#include "tests/netserial/net_test.h"

#include "netserial/io_loop.h"

#include "platform/last_error.h"

#include <algorithm>
#include <future>
#include <thread>

using namespace qtest;
using qelnet::NetPort;

namespace {

// Takes the port from its I/O loop; from then on the test runs SendStep.
void takeFromLoop(HANDLE h) {
    ASSERT_TRUE(qelnet::DetachPort(portOf(h), kLong));
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

// Runs send steps (as the loop would when the socket can take more) until the buffer
// is empty.
void drain(HANDLE h) {
    Stopwatch clock;
    while (pending(h) > 0 && clock.ms() < kLong) {
        qelnet::SendStep(portOf(h));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// With the port out of its loop and the server not reading, fills the socket with
// 'f' bytes until it would block, then drops what the socket did not take,
// so that the send buffer is empty and the next bytes queued stay there.
// Returns the filler bytes the server will receive.
size_t fillSocket(HANDLE h) {
    NetPort& port = portOf(h);
    const std::vector<uint8_t> filler(4096, 'f');
    size_t queued = 0;
    for (int i = 0; i < 100000; ++i) {
        if (!qelnet::QueueSend(port, filler.data(), filler.size(), qelnet::QueueWait::Never)) break;
        queued += filler.size();
        qelnet::SendStep(port);
        std::lock_guard<std::mutex> hold(port.txLock);
        if (port.sendBlocked) {
            queued -= static_cast<size_t>(port.txPending);
            port.txPending = 0;
            port.txOffset = 0;
            return queued;
        }
    }
    ADD_FAILURE() << "the socket never filled";
    return queued;
}

// Runs send steps until `done` is ready.
template <typename Future>
void sendUntil(HANDLE h, Future& done) {
    Stopwatch clock;
    while (done.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready &&
           clock.ms() < kLong)
        qelnet::SendStep(portOf(h));
}

size_t escapedSize(const std::vector<uint8_t>& data, size_t from, size_t n) {
    return n + static_cast<size_t>(std::count(data.begin() + from, data.begin() + from + n, 0xFF));
}

std::future<std::pair<BOOL, DWORD>> writeAsync(HANDLE h, const std::vector<uint8_t>& data) {
    return std::async(std::launch::async, [h, &data] {
        DWORD count = 0;
        BOOL ok = QnWriteFile(h, data.data(), static_cast<DWORD>(data.size()), &count, nullptr);
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
    ASSERT_TRUE(QnWriteFile(h, data.data(), static_cast<DWORD>(data.size()), &count, nullptr));
    EXPECT_EQ(count, data.size());
    ASSERT_TRUE(server.waitPayload(data.size()));
    EXPECT_EQ(server.payload(), data);
    const std::vector<uint8_t> ff(1000, 0xFF);
    ASSERT_TRUE(QnWriteFile(h, ff.data(), 1000, &count, nullptr));
    // On the wire every 255 is doubled: 1000 of them take 2000 bytes.
    const size_t onWire = escapedSize(data, 0, data.size()) + 2000;
    ASSERT_TRUE(server.waitRaw(onWire));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(server.raw().size(), onWire);
    EXPECT_EQ(server.payload().size(), data.size() + 1000);
    QnCloseHandle(h);
}

// A chunk of WriteBlockSize goes into the send buffer only once the one
// before has left it. (A writer hands its chunk to the socket itself, so a
// chunk stays in the buffer only while the socket is full.)
TEST_F(SerialIo, ChunkWaitsInTheSendBufferUntilItHasLeft) {
    DeviceServer server;
    HANDLE h = openOn(server);
    takeFromLoop(h);
    server.pauseReading();
    const size_t filler = fillSocket(h);
    const std::vector<uint8_t> data = testPattern(3000);
    auto writer = writeAsync(h, data);
    const int32_t first = waitPendingNot(h, 0);
    EXPECT_EQ(first, static_cast<int32_t>(escapedSize(data, 0, 1024)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(pending(h), first);  // the second chunk waits
    EXPECT_FALSE(ready(writer, 0));
    server.resumeReading();
    sendUntil(h, writer);
    ASSERT_TRUE(ready(writer));
    EXPECT_EQ(writer.get(), std::make_pair(BOOL{TRUE}, DWORD{3000}));
    ASSERT_TRUE(server.waitPayload(filler + 3000));
    const std::vector<uint8_t> got = server.payload();
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + filler, got.end()), data);
    QnCloseHandle(h);
}

// 16384 bytes of 255 fill all 32768 bytes of the send buffer; a command
// then waits for room instead of writing past it.
TEST_F(SerialIo, CommandWaitsForRoomInAFullSendBuffer) {
    qelnet::gLibrarySettings.writeBlockSize = qelnet::kMaxWriteBlockSize;
    DeviceServer server;
    HANDLE h = openOn(server);
    takeFromLoop(h);
    server.pauseReading();
    const size_t filler = fillSocket(h);
    const std::vector<uint8_t> ff(16384, 0xFF);
    auto writer = writeAsync(h, ff);
    ASSERT_EQ(waitPendingNot(h, 0), qelnet::kTxBufferSize);
    auto command = std::async(std::launch::async, [h] { return QnEscapeCommFunction(h, SETDTR); });
    EXPECT_EQ(command.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_EQ(pending(h), qelnet::kTxBufferSize);
    server.resumeReading();
    sendUntil(h, command);
    ASSERT_EQ(command.wait_for(std::chrono::milliseconds(kLong)), std::future_status::ready);
    EXPECT_TRUE(command.get());
    sendUntil(h, writer);
    ASSERT_TRUE(ready(writer));
    EXPECT_EQ(writer.get().second, 16384u);
    drain(h);  // the command, queued behind the chunk
    ASSERT_TRUE(server.waitCommands(1));
    const std::vector<uint8_t> got = server.payload();
    ASSERT_EQ(got.size(), filler + 16384);
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + filler, got.end()), ff);
    ASSERT_EQ(server.commands().size(), 1u);
    EXPECT_EQ(server.commands()[0], Command(5, {8}));
    EXPECT_EQ(server.commands()[0].atPayload, filler + 16384);
    QnCloseHandle(h);
}

// After a send step either nothing is left or the socket would block (and
// the loop then waits for it to take more): no remainder is stranded.
TEST_F(SerialIo, SendStepSendsUntilNothingIsLeftOrTheSocketWouldBlock) {
    DeviceServer server;
    HANDLE h = openOn(server);
    takeFromLoop(h);
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
    ASSERT_TRUE(QnWriteFile(h, data.data(), static_cast<DWORD>(data.size()), &count, nullptr));
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
        ASSERT_TRUE(QnWriteFile(h, data.data(), 3000, &count, nullptr));
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
    takeFromLoop(h);  // from here on nothing is sent but by the test
    server.pauseReading();
    const size_t filler = fillSocket(h);
    const std::vector<uint8_t> data = testPattern(500);
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 50));
    DWORD count = 0;
    // Queued, not sent: data and a setting behind it. The data goes; the
    // setting was made and stays.
    ASSERT_TRUE(QnWriteFile(h, data.data(), 500, &count, nullptr));
    const int32_t queued = pending(h);
    ASSERT_GT(queued, 0);
    ASSERT_TRUE(QnEscapeCommFunction(h, SETRTS));
    ASSERT_EQ(pending(h), queued + 7);
    ASSERT_TRUE(QnPurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR));
    ASSERT_TRUE(QnClearCommError(h, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 0u);
    EXPECT_EQ(pending(h), 14);  // SET-CONTROL and PURGE-DATA
    server.resumeReading();
    drain(h);
    ASSERT_TRUE(server.waitCommands(2));
    EXPECT_EQ(server.commands(), (std::vector<ComPortCommand>{Command(5, {11}), Command(12, {3})}));
    EXPECT_EQ(server.payload(), std::vector<uint8_t>(filler, 'f'));
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
    ASSERT_TRUE(QnWriteFile(h, ff.data(), static_cast<DWORD>(ff.size()), &count, nullptr));
    ASSERT_TRUE(QnPurgeComm(h, PURGE_TXCLEAR | PURGE_TXABORT));
    server.resumeReading();
    const std::vector<uint8_t> marker = {'e', 'n', 'd', 0xFF, 'x'};
    ASSERT_TRUE(setTimeouts(h, 0, 0, 0, 0, 0));
    ASSERT_TRUE(QnWriteFile(h, marker.data(), 5, &count, nullptr));
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
        BOOL ok = QnReadFile(h, buffer, 16, &count, nullptr);
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
    ASSERT_TRUE(QnWriteFile(h, data.data(), 5000, &count, nullptr));
    EXPECT_EQ(count, 5000u);
    ASSERT_TRUE(server.sendPayload({42}));
    uint8_t byte = 0;
    ASSERT_TRUE(QnReadFile(h, &byte, 1, &count, nullptr));
    EXPECT_EQ(byte, 42);
    QnCloseHandle(h);
}
