// The demo device server's seam to the system's sockets: a listener on
// 127.0.0.1, its clients' non-blocking transfers, wake-ups that other
// threads set, and one wait over all of them. server_socket_posix.cpp
// implements it with BSD sockets, eventfds and poll; server_socket_win32.cpp
// with Winsock 2, WSAPoll and, for a wake-up, a UDP socket connected to
// itself (WSAPoll watches sockets and nothing else).
//
// The wait is level-triggered on both: a handle stays ready while data
// waits, a wake-up stays set until cleared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace demo {

// A socket; on POSIX also any descriptor the wait may watch (a tty).
using NetHandle = intptr_t;
constexpr NetHandle kNoHandle = -1;

// Results of ReceiveSome and SendSome besides a byte count.
constexpr long kIoWouldBlock = -1;
constexpr long kIoFailed = -2;

// Listens on 127.0.0.1 on a port the system picks (returned in `port`),
// with `bufferBytes` socket buffers that the accepted connections inherit.
// Starts the sockets layer first (once per process). Throws
// std::system_error.
NetHandle ListenLoopback(uint16_t& port, int bufferBytes);

// The next waiting connection, non-blocking and without Nagle's delay;
// kNoHandle when there is none.
NetHandle AcceptClient(NetHandle listener);

// Non-blocking: a byte count (0 from ReceiveSome: the peer closed),
// kIoWouldBlock or kIoFailed.
long ReceiveSome(NetHandle socket, uint8_t* buffer, size_t size);
long SendSome(NetHandle socket, const uint8_t* bytes, size_t count);

// Closes the socket and sets `socket` to kNoHandle; nothing when it is.
void CloseSocket(NetHandle& socket);

// Set from any thread, any number of times; seen by the wait until
// cleared. One Clear takes every Set before it.
class Wakeup {
  public:
    Wakeup();  // throws std::system_error
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void Set();
    void Clear();
    NetHandle Handle() const { return handle_; }

  private:
    NetHandle handle_ = kNoHandle;
};

// One handle of a wait: what is asked, and what was found. A handle that
// hung up or failed is found readable (and writable when asked), so that
// the next transfer finds out. kNoHandle entries are left out.
struct Watch {
    NetHandle handle = kNoHandle;
    bool read = false;
    bool write = false;
    bool readable = false;
    bool writable = false;
};

// Waits until a watched handle is ready or `timeoutMs` has passed (-1:
// no limit). False when the wait itself failed.
bool WaitAny(Watch* watches, size_t count, int timeoutMs);

}  // namespace demo
