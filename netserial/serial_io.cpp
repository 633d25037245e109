// The exports that wait: QnReadFile, QnWriteFile and QnWaitCommEvent.
//
// Each waits on its condition variable and re-checks, at every wake-up,
// everything that ends it: its own condition, the time limit, the handle
// being closed, the connection being lost, and (reads and writes) an abort
// purge issued after the call began. A failure leaves a definite last error
// so that the caller can tell a cancellation from an I/O error.
#include "netserial/deadline.h"
#include "netserial/export_guard.h"
#include "netserial/io_loop.h"
#include "netserial/net_port.h"
#include "netserial/qelnet.h"
#include "netserial/settings.h"
#include "platform/last_error.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace qelnet {

namespace {

BOOL fail(uint32_t error) {
    plat::setLastError(error);
    return FALSE;
}

// Waits on `cv` until notified or the deadline; false once the deadline has
// passed (without waiting).
bool waitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& hold,
               const Deadline& deadline) {
    if (!deadline.limited()) {
        cv.wait(hold);
        return true;
    }
    const uint32_t left = deadline.left();
    if (left == 0) return false;
    cv.wait_for(hold, std::chrono::milliseconds(left));
    return true;
}

COMMTIMEOUTS currentTimeouts(NetPort& port) {
    std::lock_guard<std::mutex> hold(port.timeoutsLock);
    return port.timeouts;
}

bool closing(const NetPort& port) {
    return port.closing.load(std::memory_order_relaxed) != 0;
}

bool lost(const NetPort& port) {
    return port.connectionLost.load(std::memory_order_relaxed) != 0;
}

// Copies up to `most` unread bytes out of the ring. rxLock held.
uint32_t TakeReceived(NetPort& port, uint8_t* to, uint32_t most) {
    const int32_t unread = port.rxCount.load(std::memory_order_relaxed);
    const int32_t k = static_cast<int32_t>(std::min<uint32_t>(most, static_cast<uint32_t>(unread)));
    if (k > 0) {
        const int32_t first = std::min(k, kRingSize - port.rxHead);
        std::memcpy(to, port.rxRing + port.rxHead, static_cast<size_t>(first));
        std::memcpy(to + first, port.rxRing, static_cast<size_t>(k - first));
        port.rxHead = (port.rxHead + k) % kRingSize;
        port.rxCount.store(unread - k, std::memory_order_relaxed);
        // The thread stopped taking from the socket while the ring was full.
        if (port.rxPaused) RequestService(port, kServeReceive);
    }
    FlowControlStep(port);
    return static_cast<uint32_t>(k);
}

}  // namespace

}  // namespace qelnet

using namespace qelnet;

BOOL WINAPI QnReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD readCount, LPVOID) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (!port) return fail(ERROR_INVALID_HANDLE);
        if (!buffer || !readCount) return fail(ERROR_INVALID_PARAMETER);
        const ReadPlan plan = PlanRead(currentTimeouts(*port), toRead);
        uint8_t* out = static_cast<uint8_t*>(buffer);
        DWORD got = 0;

        std::unique_lock<std::mutex> hold(port->rxLock);
        // Refused when lost, but only once everything received before the loss
        // has been read.
        if (port->rxEnd && port->rxCount.load(std::memory_order_relaxed) == 0)
            return fail(ERROR_NETNAME_DELETED);
        *readCount = 0;
        if (toRead == 0) return TRUE;
        const uint32_t abortAt = port->readAbort;
        for (;;) {
            got += TakeReceived(*port, out + got, toRead - got);
            *readCount = got;
            if (got == toRead || (plan.anyByte && got > 0)) return TRUE;
            // Bytes already copied are reported in the count also on failure:
            // they are no longer in the ring.
            if (closing(*port) || port->readAbort != abortAt) return fail(ERROR_OPERATION_ABORTED);
            if (port->rxEnd && port->rxCount.load(std::memory_order_relaxed) == 0)
                return got > 0 ? TRUE : fail(ERROR_NETNAME_DELETED);
            ++port->readersWaiting;
            const bool waited = waitUntil(port->rxEvent, hold, plan.deadline);
            --port->readersWaiting;
            if (!waited) return TRUE;
        }
    });
}

BOOL WINAPI QnWriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD writtenCount,
                        LPVOID) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (!port) return fail(ERROR_INVALID_HANDLE);
        if (!buffer || !writtenCount) return fail(ERROR_INVALID_PARAMETER);
        if (closing(*port)) return fail(ERROR_OPERATION_ABORTED);
        if (lost(*port)) return fail(ERROR_NETNAME_DELETED);
        *writtenCount = 0;
        if (toWrite == 0) return TRUE;
        const Deadline deadline = PlanWrite(currentTimeouts(*port), toWrite);
        const uint32_t block = static_cast<uint32_t>(gLibrarySettings.writeBlockSize);
        const uint8_t* in = static_cast<const uint8_t*>(buffer);
        DWORD queued = 0;

        std::unique_lock<std::mutex> hold(port->txLock);
        const uint32_t abortAt = port->writeAbort;
        // 0 while the write may go on; otherwise the error that ends it.
        auto ended = [&]() -> uint32_t {
            if (closing(*port) || port->writeAbort != abortAt) return ERROR_OPERATION_ABORTED;
            if (lost(*port)) return ERROR_NETNAME_DELETED;
            return 0;
        };
        // Every chunk but the last goes to the socket marked "more to come",
        // so that TCP sends full segments, as it does for one large send,
        // instead of a segment per chunk: small segments cost the server's
        // TCP a wake-up and an acknowledgement each, and their overhead fills
        // its receive buffer before the window closes (the kernel then
        // compacts the queue). `held` is set while the socket may hold such
        // bytes back; they go out before the writer waits or returns.
        bool held = false;
        auto release = [&] {
            if (held) port->socket.push();
            held = false;
        };
        while (queued < toWrite) {
            // A chunk goes in only when everything queued before it (commands
            // included) has been handed to the socket, and while the server
            // lets us send.
            for (;;) {
                if (uint32_t error = ended()) {
                    release();
                    return fail(error);
                }
                if (port->txPending == 0 && port->txFlowAllowed) break;
                release();
                if (!waitUntil(port->txEmptyEvent, hold, deadline)) {
                    *writtenCount = queued;
                    return TRUE;
                }
            }
            const uint32_t chunk = std::min<uint32_t>(toWrite - queued, block);
            MakeTxRoom(*port, static_cast<int32_t>(2 * chunk));  // empty: always fits
            port->txPending += static_cast<int32_t>(
                EscapeIac(port->txBuffer + port->txOffset + port->txPending, in + queued, chunk));
            queued += chunk;
            // The writer hands its chunk to the socket itself, sparing the two
            // thread switches of a hand-over per chunk; the I/O loop
            // takes over when the socket would block (or has failed), and its
            // sends, never marked, push out anything held back.
            const bool more = queued < toWrite;
            const SendResult sent = SendPending(*port, more);
            held = more && sent == SendResult::Empty;
            if (sent != SendResult::Empty) RequestService(*port, kServeSend);
        }
        // Everything is queued; wait until it has been handed to the socket.
        // Running out of time here does not change the result.
        for (;;) {
            if (uint32_t error = ended()) return fail(error);
            if (port->txPending == 0 || !waitUntil(port->txEmptyEvent, hold, deadline)) break;
        }
        *writtenCount = queued;
        return TRUE;
    });
}

BOOL WINAPI QnWaitCommEvent(HANDLE handle, LPDWORD events, LPVOID) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (!port) return fail(ERROR_INVALID_HANDLE);
        if (!events) return fail(ERROR_INVALID_PARAMETER);
        if (lost(*port)) return fail(ERROR_NETNAME_DELETED);
        std::unique_lock<std::mutex> hold(port->eventLock);
        // Events already pending end the wait at once, as with the serial API:
        // an event that came just before the call is not missed.
        ++port->waitActive;
        uint32_t error = 0;
        for (;;) {
            if (port->pendingEvents) break;
            if (closing(*port)) {
                error = ERROR_OPERATION_ABORTED;
                break;
            }
            if (lost(*port)) {
                error = ERROR_NETNAME_DELETED;
                break;
            }
            port->commEvent.wait(hold);
        }
        --port->waitActive;
        if (error) return fail(error);
        *events = port->pendingEvents;
        port->pendingEvents = 0;
        return TRUE;
    });
}
