#include "netserial/net_port.h"

#include "netserial/handle_table.h"
#include "netserial/io_loop.h"
#include "netserial/settings.h"
#include "platform/last_error.h"

#include <cstring>
#include <memory>
#include <new>

namespace qelnet {

namespace {

// The port part of a name, read like atoi and kept in 16 bits: larger
// numbers wrap (65537 is port 1), text that is not a number reads as 0.
uint16_t portNumber(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    uint32_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = (value * 10 + static_cast<uint32_t>(*text - '0')) & 0xFFFFu;
    return static_cast<uint16_t>(negative ? 0u - value : value);
}

// Splits "a.b.c.d:port" at colons the way strtok does (empty parts are
// skipped, whatever follows the port part is ignored), without allocating.
// False when a part is missing or the address is not numeric IPv4.
bool parsePortName(const char* name, uint32_t* address, uint16_t* port) {
    while (*name == ':')
        ++name;
    const char* colon = std::strchr(name, ':');
    if (!colon) return false;
    const char* portPart = colon;
    while (*portPart == ':')
        ++portPart;
    if (!*portPart) return false;
    // The longest IPv4 text inet_addr takes is far shorter; longer is no address.
    char text[64];
    const size_t length = static_cast<size_t>(colon - name);
    if (length >= sizeof text) return false;
    std::memcpy(text, name, length);
    text[length] = '\0';
    if (!ParseIpv4(text, address)) return false;
    *port = portNumber(portPart);
    return true;
}

// Takes the port from its loop, ends every wait on it and drops the
// handle's reference. The port is no longer behind a handle.
void shutDown(NetPort* port) {
    port->closing.store(1, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> hold(port->rxLock);
        port->rxEvent.notify_all();
    }
    {
        std::lock_guard<std::mutex> hold(port->txLock);
        port->txEmptyEvent.notify_all();
    }
    {
        std::lock_guard<std::mutex> hold(port->eventLock);
        port->commEvent.notify_all();
    }
    // Normally the loop lets go at once. If it does not within the second,
    // it holds its own reference and drops it when it does.
    DetachPort(*port, 1000);
    ReleasePort(port);
}

}  // namespace

NetPort::~NetPort() = default;

NetPort* AcquirePort(HANDLE handle) {
    return LookUpHandle(handle);
}

void ReleasePort(NetPort* port) {
    if (port->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) FreePort(port);
}

void FreePort(NetPort* port) {
    // The last reference may be dropped by a call on its way out after it
    // has set its error (a wait ended by a close); closing the socket and
    // a loop's objects must not overwrite that code.
    const uint32_t error = plat::lastError();
    port->socket.close();
    delete port;
    plat::setLastError(error);
}

HANDLE OpenNetPort(const char* portName) {
    uint32_t address = 0;
    uint16_t remotePort = 0;
    if (!portName || !parsePortName(portName, &address, &remotePort)) {
        plat::setLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (const uint32_t error = LibraryStart()) {
        plat::setLastError(error);
        return nullptr;
    }
    // Until a loop serves it, the port is this function's alone: anything
    // that fails (an allocation of a loop's thread included, which throws)
    // frees it whole, socket and all.
    std::unique_ptr<NetPort> port(new (std::nothrow) NetPort);
    if (!port) {
        plat::setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    port->remoteAddress = address;
    port->remotePort = remotePort;
    const LibrarySettings& settings = gLibrarySettings;
    port->sentFrames.reset(settings.subnegIacDoubling != 0);
    port->replies.Reset(settings.subnegIacDoubling != 0);
    if (const uint32_t error = port->socket.create()) {
        port.reset();
        plat::setLastError(error);
        return nullptr;
    }
    if (!port->socket.connect(address, port->remotePort)) {
        const uint32_t error = plat::lastError();
        port.reset();
        plat::setLastError(error);
        return nullptr;
    }
    // Cannot fail for a socket just created; were it to, the open would go
    // on as an internal fault, as the rest of the library treats them.
    port->socket.setNonBlocking();
    port->connectionLost.store(0, std::memory_order_relaxed);
    const int32_t segment = PathSegmentSize(port->socket.segmentSize(), address);
    port->socket.setOptions(settings.tcpNoDelay, SocketBufferFor(settings.recvBufSize, segment),
                            SocketBufferFor(settings.sendBufSize, segment));
    port->socket.setLostTimeout(static_cast<uint32_t>(settings.serverLostTimeout));
    // The last step that can fail for want of memory or threads: the first
    // open makes the pool, which is kept from then on.
    if (!AttachPort(*port, settings.ioThreads)) {
        port.reset();
        plat::setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    NetPort* running = port.release();
    QueueSend(
        *running,
        BuildOpeningNegotiation(settings.disableRemoteState == 0, settings.subnegIacDoubling != 0),
        QueueWait::ForRoom);
    HANDLE handle = RegisterHandle(running);
    if (!handle) {
        shutDown(running);
        plat::setLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return handle;
}

bool CloseNetPort(HANDLE handle) {
    NetPort* port = UnregisterHandle(handle);
    if (!port) return false;
    shutDown(port);
    return true;
}

bool MakeTxRoom(NetPort& port, int32_t length) {
    if (port.txPending == 0) port.txOffset = 0;
    if (port.txOffset + port.txPending + length <= kTxBufferSize) return true;
    if (port.txPending + length > kTxBufferSize) return false;
    std::memmove(port.txBuffer, port.txBuffer + port.txOffset, static_cast<size_t>(port.txPending));
    port.txOffset = 0;
    return true;
}

bool QueueSend(NetPort& port, const uint8_t* bytes, size_t length, QueueWait wait) {
    if (length > static_cast<size_t>(kTxBufferSize)) return false;
    const int32_t size = static_cast<int32_t>(length);
    {
        std::unique_lock<std::mutex> hold(port.txLock);
        for (;;) {
            if (port.closing.load(std::memory_order_relaxed) ||
                port.connectionLost.load(std::memory_order_relaxed))
                return false;
            if (MakeTxRoom(port, size)) break;
            if (wait == QueueWait::Never) return false;
            port.txEmptyEvent.wait(hold);
        }
        {
            // Noted before the bytes can leave, so no answer comes first.
            std::lock_guard<std::mutex> noting(port.replyLock);
            port.replies.Expect(bytes, length);
        }
        std::memcpy(port.txBuffer + port.txOffset + port.txPending, bytes, length);
        port.txPending += size;
    }
    RequestService(port, kServeSend);
    return true;
}

void FlowControlStep(NetPort& port) {
    const int32_t unread = port.rxCount.load(std::memory_order_relaxed);
    if (!port.rxSuspended && unread >= kSuspendAt) {
        if (QueueSend(port, BuildFlowControlSuspend(), QueueWait::Never)) port.rxSuspended = true;
    } else if (port.rxSuspended && unread < kResumeBelow) {
        if (QueueSend(port, BuildFlowControlResume(), QueueWait::Never)) port.rxSuspended = false;
    }
}

void MarkConnectionLost(NetPort& port) {
    port.connectionLost.store(1, std::memory_order_relaxed);
    {
        // Nothing queued can reach the server any more; waiting writers and
        // command senders give up.
        std::lock_guard<std::mutex> hold(port.txLock);
        port.txPending = 0;
        port.txOffset = 0;
        port.txEmptyEvent.notify_all();
    }
    {
        std::lock_guard<std::mutex> hold(port.rxLock);
        port.rxEvent.notify_all();
    }
    {
        std::lock_guard<std::mutex> hold(port.eventLock);
        port.commEvent.notify_all();
    }
}

void NetPort::onLineState(uint8_t value) {
    // RFC 2217 puts break, framing, parity and overrun at the bit positions
    // of CE_BREAK, CE_FRAME, CE_RXPARITY and CE_OVERRUN.
    errorWord.fetch_or(value & (CE_BREAK | CE_FRAME | CE_RXPARITY | CE_OVERRUN),
                       std::memory_order_relaxed);
    std::lock_guard<std::mutex> hold(eventLock);
    if (eventMask.load(std::memory_order_relaxed) && waitActive && pendingEvents)
        commEvent.notify_all();
}

void NetPort::onModemState(uint8_t value) {
    // Changes are found by comparing with the last value (the server's own
    // delta bits are not used), so the first notification counts every line
    // that is on as a change. The value is stored before any waiter is
    // woken, so that a caller woken by the event reads the new state.
    const uint32_t previous = modemState.exchange(value, std::memory_order_relaxed);
    const uint32_t changed = ((previous ^ value) >> 4) & 0x0F;
    std::lock_guard<std::mutex> hold(eventLock);
    const uint32_t mask = eventMask.load(std::memory_order_relaxed);
    if (!mask) return;
    if (changed & 0x1) pendingEvents |= EV_CTS;
    if (changed & 0x2) pendingEvents |= EV_DSR;
    if (changed & 0x8) pendingEvents |= EV_RLSD;
    pendingEvents &= mask;
    if (waitActive && pendingEvents) commEvent.notify_all();
}

void NetPort::onComPortAnswer(uint8_t code, const uint8_t* value, size_t length) {
    bool differs;
    {
        std::lock_guard<std::mutex> hold(replyLock);
        differs = !replies.Answer(code, value, length);
    }
    if (differs) errorWord.fetch_or(CE_MODE, std::memory_order_relaxed);
}

void NetPort::onServerFlow(bool allowed) {
    std::lock_guard<std::mutex> hold(txLock);
    txFlowAllowed = allowed;
    txEmptyEvent.notify_all();
}

}  // namespace qelnet
