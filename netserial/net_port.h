// NetPort: one open handle of the library, the TCP connection to a device
// server behind it, and the receive ring and the send buffer. An I/O loop
// (io_loop.h) moves bytes between them and the socket: "the thread" below
// is that loop's thread, the only one that ever serves the connection.
//
// Waiting. Callers wait on condition variables, each with the lock that
// guards what it waits for: readers on `rxEvent` under `rxLock`, writers and
// command senders on `txEmptyEvent` under `txLock`, QnWaitCommEvent on
// `commEvent` under `eventLock`. Every change a waiter may be waiting for
// notifies all of them and each one re-checks its own condition, so a
// purge, a lost connection or a close ends every wait it concerns at once,
// however many threads wait.
//
// Lifetime. A handle names a slot of the handle table (handle_table.h), not
// the object. Every export takes a reference for the length of the call
// (AcquirePort), the I/O loop holds one while it serves the port, and the
// handle holds one until QnCloseHandle; the last one released frees the
// object. So the object is never freed while its loop or a caller still
// uses it, and a closed, stale or made-up handle is refused instead of used.
//
// Lock order: rxLock before txLock and rxLock before eventLock; txLock and
// eventLock are never held together; dcbLock (held across QnSetCommState)
// may be held while taking txLock; replyLock is taken last, under any.
#pragma once

#include "netserial/net_socket.h"
#include "netserial/reply_check.h"
#include "netserial/telnet_codec.h"
#include "platform/win32_types.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qelnet {

constexpr int32_t kRingSize = 32768;
constexpr int32_t kTxBufferSize = 32768;
// Receive-side flow control towards the server.
constexpr int32_t kSuspendAt = 8192;
constexpr int32_t kResumeBelow = 4096;
// Most bytes taken from the socket in one receive step.
constexpr int32_t kReceiveChunk = 1024;

class IoLoop;

struct NetPort final : TelnetSink {
    // Out of line, where the loop it may own is a complete type. (Its
    // locks already make the port neither copyable nor movable.)
    ~NetPort();

    uint32_t remoteAddress = 0;  // network byte order
    uint16_t remotePort = 0;     // host byte order
    NetSocket socket;

    // The I/O loop that serves it (set before the loop sees the port, then
    // fixed), and with IoThreads -1 the loop of its own, freed with it.
    IoLoop* loop = nullptr;
    std::unique_ptr<IoLoop> ownLoop;
    // ServiceRequest bits the loop has not taken yet (io_loop.h).
    std::atomic<uint32_t> serviceAsked{0};
    // Under the loop's lock: the loop serves the port and takes its
    // requests; the next port on the loop's request list.
    bool attached = false;
    NetPort* nextAsked = nullptr;
    // The loop thread's own list of the ports it serves.
    NetPort* prevServed = nullptr;
    NetPort* nextServed = nullptr;

    // 1 while there is no usable connection: before connect, and from the
    // moment the peer's close or a socket error is seen.
    std::atomic<int32_t> connectionLost{1};
    // Set by QnCloseHandle: every wait on this port ends with FALSE.
    std::atomic<int32_t> closing{0};
    std::atomic<int32_t> refs{1};

    // Read and write time-outs (QnSetCommTimeouts).
    std::mutex timeoutsLock;
    COMMTIMEOUTS timeouts{};

    // Line settings as QnGetCommState reports them; QnSetCommState holds
    // dcbLock throughout so that two of them cannot interleave.
    std::mutex dcbLock;
    DCB dcb{};
    bool sendAllSettings = true;

    // Receive side, all under rxLock.
    std::mutex rxLock;
    std::condition_variable rxEvent;  // payload arrived, a read must abort, or the stream ended
    TelnetScanner scanner;            // the thread's alone
    std::atomic<int32_t> rxCount{0};  // also read without the lock (cbInQue)
    int32_t rxHead = 0;
    bool rxSuspended = false;    // FLOWCONTROL-SUSPEND sent, RESUME not yet
    bool rxPaused = false;       // the thread stopped taking from the socket: the ring was full
    bool rxEnd = false;          // the socket reported the end of the stream or an error
    uint32_t readAbort = 0;      // bumped to end the reads waiting at that moment
    int32_t readersWaiting = 0;  // QnReadFile calls asleep on rxEvent
    bool callerWoken = false;    // a receive step woke a waiting caller (the thread clears it)

    // Send side, all under txLock.
    std::mutex txLock;
    std::condition_variable txEmptyEvent;  // bytes left txBuffer, flow or state changed
    int32_t txPending = 0;
    int32_t txOffset = 0;
    bool txFlowAllowed = true;  // the server has not asked us to stop sending data
    // The last send would have blocked: the thread waits for the socket to
    // take more. Written under txLock, read by the thread without it.
    std::atomic<bool> sendBlocked{false};
    uint32_t writeAbort = 0;  // bumped to end the writes waiting at that moment
    TelnetFrameTracker sentFrames;

    // Events, under eventLock.
    std::mutex eventLock;
    std::condition_variable commEvent;
    std::atomic<uint32_t> eventMask{0};  // written under eventLock; read without it to skip work
    uint32_t pendingEvents = 0;
    int32_t waitActive = 0;

    std::atomic<uint32_t> errorWord{0};
    std::atomic<uint32_t> modemState{0};

    // The line settings asked of the server, matched to its answers
    // (reply_check.h): an answer that differs sets CE_MODE in errorWord.
    // Noted by QueueSend under txLock, answered on the thread under
    // rxLock; replyLock is taken last and held only for the match.
    std::mutex replyLock;
    ReplyCheck replies;

    // The buffers last: the fields a receive or send step touches then
    // share a few cache lines instead of lying 32 KiB apart, which with a
    // few hundred connections served by one thread is a cache miss each.
    uint8_t rxRing[kRingSize];        // under rxLock
    uint8_t txBuffer[kTxBufferSize];  // under txLock

    // TelnetSink: effects of the server's notifications, applied on the
    // thread with rxLock held.
    void onLineState(uint8_t value) override;
    void onModemState(uint8_t value) override;
    void onServerFlow(bool allowed) override;
    void onComPortAnswer(uint8_t code, const uint8_t* value, size_t length) override;
};

// Handles and references.

// The live NetPort behind `handle` with a reference taken, or null for a
// null, invalid, closed or unknown handle.
NetPort* AcquirePort(HANDLE handle);
// Drops a reference; the last one frees the port (closing its socket).
void ReleasePort(NetPort* port);
// Frees a port whose last reference its caller has just dropped.
void FreePort(NetPort* port);

// Holds a reference for the length of an export.
class PortRef {
  public:
    explicit PortRef(HANDLE handle) : port_(AcquirePort(handle)) {}
    ~PortRef() {
        if (port_) ReleasePort(port_);
    }
    PortRef(const PortRef&) = delete;
    PortRef& operator=(const PortRef&) = delete;
    NetPort* operator->() const { return port_; }
    NetPort& operator*() const { return *port_; }
    explicit operator bool() const { return port_ != nullptr; }

  private:
    NetPort* port_;
};

// Opens a connection for a port name ("a.b.c.d:port"): the NetPort served by
// an I/O loop and the opening negotiation queued, behind a new handle; null
// on any failure, with everything released.
HANDLE OpenNetPort(const char* portName);

// Unregisters the handle, takes the port from its loop (waiting up to
// 1000 ms for the loop to let go), ends every waiting call and drops the
// handle's reference. False for a handle that is not live.
bool CloseNetPort(HANDLE handle);

// The send buffer.

enum class QueueWait {
    // Wait for room (caller threads); give up on close or a lost connection.
    ForRoom,
    // Never wait (the I/O thread, or while rxLock is held): fail
    // when the bytes do not fit now.
    Never,
};

// Appends command bytes behind whatever is pending and wakes the thread.
// A command is not held back by the server's flow control. Returns false
// when it could not be queued. Never writes past txBuffer.
bool QueueSend(NetPort& port, const uint8_t* bytes, size_t length, QueueWait wait);
inline bool QueueSend(NetPort& port, const TelnetCommand& command,
                      QueueWait wait = QueueWait::ForRoom) {
    return QueueSend(port, command.bytes, command.size, wait);
}

// Makes room for `length` more bytes behind the pending ones (moving them to
// the front of txBuffer when the tail is too short). txLock held. False
// when they do not fit at all.
bool MakeTxRoom(NetPort& port, int32_t length);

// Receive-side flow control: queues FLOWCONTROL-SUSPEND once `kSuspendAt`
// bytes are unread and FLOWCONTROL-RESUME once fewer than `kResumeBelow`
// are. A command that does not fit now is retried at the next call (after
// every receive, read, purge and send). rxLock held.
void FlowControlStep(NetPort& port);

// Marks the connection lost and wakes every waiter that cares.
void MarkConnectionLost(NetPort& port);

// One pass of the connection's work on its loop's thread: the socket's
// `events` (NetEvents), then what callers `asked` (ServiceRequest bits).
// True when it woke a waiting caller.
bool ServeConnection(NetPort& port, unsigned events, uint32_t asked);

// What the connection's socket is to be watched for now.
NetInterest ConnectionInterest(const NetPort& port);

// The socket can no longer be watched: the stream ends here and the
// connection is lost.
void FailConnection(NetPort& port);

// Progress: bytes came and more may wait; Drained: bytes came, fewer than
// asked for, so the socket had no more.
enum class ReceiveResult { Progress, Drained, WouldBlock, RingFull, End };
ReceiveResult ReceiveStep(NetPort& port);

// Hands the pending bytes to the socket until it would block or nothing is
// left. txLock held. Failed: the connection failed (the caller then marks
// it lost, without txLock). `more`: the caller has the next piece of the
// same write ready (NetSocket::send), and owes the socket a send without
// it or a push() when it returns Empty.
enum class SendResult { Empty, Blocked, Failed };
SendResult SendPending(NetPort& port, bool more = false);

// The thread's send step: SendPending, then marks a failed
// connection lost. True when it handed bytes to the socket.
bool SendStep(NetPort& port);

}  // namespace qelnet
