// A connection's work, done by its I/O loop (io_loop.h) whenever its socket
// is ready or a caller asks: take what the server sends into the receive
// ring (through the Telnet scanner) and hand the send buffer to the socket.
//
// After a pass that woke a caller (a reader or an event waiter for the
// bytes that came, a writer or command sender for the bytes that left) the
// loop yields before its next wait: at its raised priority it would
// otherwise take in more before the reader has emptied the ring, cross
// the flow-control mark and hold the server back (receiving through
// ser2net ran at two thirds of the rate). A pass that woke nobody (a
// tester's reader pausing between reads on a paced line) goes straight
// back to the wait: a yield there costs a thread switch on a busy machine.
#include "netserial/io_loop.h"
#include "netserial/net_port.h"

#include <algorithm>

namespace qelnet {

namespace {

// Receive steps per pass at most, so that a stream of incoming data cannot
// hold off sending.
constexpr int kReceiveStepsPerPass = 64;

// Until the socket has nothing more (a step that got less than it asked
// for took all there was: no receive just to hear "would block").
void receiveAll(NetPort& port) {
    for (int i = 0; i < kReceiveStepsPerPass; ++i)
        if (ReceiveStep(port) != ReceiveResult::Progress) return;
}

}  // namespace

bool ServeConnection(NetPort& port, unsigned events, uint32_t asked) {
    // A request may come from a read that made room in a full ring.
    if ((events & kNetReadable) || ((asked & kServeReceive) && port.rxPaused)) receiveAll(port);
    if (events & kNetClosed) MarkConnectionLost(port);
    bool sent = false;
    // A closed connection's send step clears what waited for the socket.
    if ((events & (kNetWritable | kNetClosed)) || (asked & kServeSend)) sent = SendStep(port);
    // A flow-control command that found no room in the send buffer is
    // owed; sending may just have made room.
    std::lock_guard<std::mutex> hold(port.rxLock);
    FlowControlStep(port);
    const bool woke = port.callerWoken || sent;
    port.callerWoken = false;
    return woke;
}

NetInterest ConnectionInterest(const NetPort& port) {
    // rxPaused and rxEnd are written by the loop's thread alone.
    NetInterest interest;
    interest.read = !port.rxPaused && !port.rxEnd;
    interest.write = port.sendBlocked.load(std::memory_order_relaxed);
    interest.close = port.connectionLost.load(std::memory_order_relaxed) == 0;
    return interest;
}

void FailConnection(NetPort& port) {
    {
        std::lock_guard<std::mutex> hold(port.rxLock);
        port.rxEnd = true;
        port.rxEvent.notify_all();
    }
    MarkConnectionLost(port);
}

ReceiveResult ReceiveStep(NetPort& port) {
    std::unique_lock<std::mutex> hold(port.rxLock);
    if (port.rxEnd) return ReceiveResult::End;
    const int32_t unread = port.rxCount.load(std::memory_order_relaxed);
    if (unread == 0) port.rxHead = 0;
    const int32_t w = (port.rxHead + unread) % kRingSize;
    // The contiguous free stretch from w. A full ring has none: the bytes
    // stay in the socket (TCP holds the server back) until a read makes
    // room, so nothing unread is ever overwritten.
    const int32_t room = unread == kRingSize ? 0
                         : w >= port.rxHead  ? kRingSize - w
                                             : port.rxHead - w;
    if (room == 0) {
        port.rxPaused = true;
        return ReceiveResult::RingFull;
    }
    port.rxPaused = false;
    const int asked = std::min(room, kReceiveChunk);
    const int n = port.socket.receive(port.rxRing + w, asked);
    if (n == kIoWouldBlock) return ReceiveResult::WouldBlock;
    if (n <= 0) {
        // The end of the stream, or an error: what is in the ring stays
        // readable, and reads fail once it is empty.
        port.rxEnd = true;
        port.rxEvent.notify_all();
        hold.unlock();
        MarkConnectionLost(port);
        return ReceiveResult::End;
    }
    // The scanner compacts the payload in place.
    const int32_t d = static_cast<int32_t>(
        port.scanner.scan(port.rxRing + w, static_cast<size_t>(n), port.rxRing + w, port));
    const int32_t total = unread + d;
    port.rxCount.store(total, std::memory_order_relaxed);
    if (total > 0 && port.eventMask.load(std::memory_order_relaxed)) {
        std::lock_guard<std::mutex> events(port.eventLock);
        const uint32_t mask = port.eventMask.load(std::memory_order_relaxed);
        port.pendingEvents = (port.pendingEvents | EV_RXCHAR) & mask;
        if (port.waitActive && port.pendingEvents) {
            port.commEvent.notify_all();
            port.callerWoken = true;
        }
    }
    FlowControlStep(port);
    if (d) {
        port.rxEvent.notify_all();
        if (port.readersWaiting) port.callerWoken = true;
    }
    return n < asked ? ReceiveResult::Drained : ReceiveResult::Progress;
}

SendResult SendPending(NetPort& port, bool more) {
    SendResult result = SendResult::Empty;
    bool progress = false;
    while (port.txPending > 0) {
        const int n = port.socket.send(port.txBuffer + port.txOffset, port.txPending, more);
        if (n == kIoWouldBlock || n <= 0) {
            result = n == kIoWouldBlock ? SendResult::Blocked : SendResult::Failed;
            break;
        }
        port.sentFrames.advance(port.txBuffer + port.txOffset, static_cast<size_t>(n));
        port.txOffset += n;
        port.txPending -= n;
        progress = true;
    }
    if (port.txPending == 0) port.txOffset = 0;
    port.sendBlocked.store(result == SendResult::Blocked, std::memory_order_relaxed);
    if (progress) port.txEmptyEvent.notify_all();
    return result;
}

bool SendStep(NetPort& port) {
    SendResult result;
    bool handed;
    {
        std::lock_guard<std::mutex> hold(port.txLock);
        const int32_t before = port.txPending;
        result = SendPending(port);
        handed = port.txPending < before;
    }
    if (result == SendResult::Failed) MarkConnectionLost(port);
    return handed;
}

}  // namespace qelnet
