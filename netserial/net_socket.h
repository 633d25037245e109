// The library's seam to the system's sockets: one TCP connection
// (NetSocket), and the means for an I/O thread to sleep until any of many
// connections needs it (NetPoller). socket_posix.cpp implements them with
// BSD sockets and epoll, with an eventfd for the wake-up; socket_win32.cpp
// with Winsock 2 and WSAPoll, with a loopback UDP socket for the wake-up.
//
// Both pollers report readiness, level-triggered: a socket watched for
// reading is reported for as long as data (or the end of the stream) waits,
// and one watched for writing for as long as a send would go through. The
// caller therefore watches a socket only for what it can act on now, and
// one loop body (io_loop.cpp) serves both systems.
#pragma once

#include <cstdint>

namespace qelnet {

// Starts the system's sockets layer for the process (Winsock 2.0 on
// Windows). 0, or the system's error code when it cannot be started.
uint32_t NetStartup();

// Numeric IPv4 address text to the address in network byte order, by the
// system's inet_addr (which takes the shortened and octal/hex forms too).
// False for text it refuses, and for 255.255.255.255, which it cannot tell
// from a refusal.
bool ParseIpv4(const char* text, uint32_t* address);

// Results of NetSocket::receive and NetSocket::send besides a byte count.
constexpr int kIoWouldBlock = -1;
constexpr int kIoFailed = -2;

// What NetPoller::wait reports for a socket.
enum NetEvents : unsigned {
    kNetReadable = 1u << 0,  // data (or the end of the stream) can be received
    kNetWritable = 1u << 1,  // a send that would have blocked can go on
    kNetClosed = 1u << 2,    // the peer closed, or the connection failed
};

// What a socket is watched for. With nothing asked it is out of the poller
// altogether: a hung-up socket reports its hang-up whatever is asked, and
// must not keep the loop spinning once nobody can act on it.
struct NetInterest {
    bool read = false;   // data may be taken
    bool write = false;  // a send would have blocked
    bool close = false;  // the peer's close is still to be noticed
    bool operator==(const NetInterest& o) const {
        return read == o.read && write == o.write && close == o.close;
    }
    bool operator!=(const NetInterest& o) const { return !(*this == o); }
    bool any() const { return read || write || close; }
};

class NetSocket {
  public:
    NetSocket() = default;
    ~NetSocket();  // closes what is still open
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    // Creates the socket: 0, or the error (ERROR_NOT_ENOUGH_MEMORY when
    // memory ran out, else the system's code) with whatever was created
    // released again. Nothing else may be called before it has succeeded.
    uint32_t create();

    // Connects while the socket still blocks: lasts as long as the system's
    // connection attempt. `address` in network byte order.
    bool connect(uint32_t address, uint16_t port);

    // Switches the connected socket to non-blocking mode.
    bool setNonBlocking();

    // TCP_NODELAY, SO_RCVBUF and SO_SNDBUF, in this order; results ignored.
    void setOptions(int32_t noDelay, int32_t receiveBuffer, int32_t sendBuffer);

    // The largest segment TCP sends on this connection (TCP_MAXSEG), 0 when
    // the system does not tell. Once connected.
    int32_t segmentSize();

    // Bounds how long the server may stay silent, or leave data
    // unacknowledged, before the connection fails as lost: keep-alive
    // probes when the line is idle; for data, on Linux serverSilent()
    // watching TCP's own account of the connection (a server that holds its window shut
    // but answers is alive), on Windows TCP_MAXRT. 0 leaves TCP's own
    // bounds (minutes to hours). Best effort; results ignored.
    void setLostTimeout(uint32_t seconds);

    // Non-blocking transfers: a byte count (0 from receive = orderly end of
    // the stream), kIoWouldBlock or kIoFailed.
    //
    // `more` says that the caller sends more at once (the next piece of the
    // same write): the system may then hold the bytes back until they fill
    // a segment (Linux: MSG_MORE; ignored on Windows). A caller that sends
    // with `more` must follow up with a send without it or with push()
    // before it waits for anything, or the bytes may stay in the socket.
    int receive(uint8_t* buffer, int size);
    int send(const uint8_t* data, int size, bool more = false);

    // Sends whatever sends with `more` have left held back in the socket,
    // as a send without `more` would. Callable from any thread.
    void push();

    // The lost-server bound of setLostTimeout, where the system leaves it
    // to us (Linux, data in flight): true while it is still to be watched.
    // The I/O thread then calls serverSilent() about once a second.
    bool silenceWatched() const;
    // True once the server has left data unacknowledged, or window probes
    // unanswered, for the whole bound: the socket is then shut down, and
    // the caller treats the connection as closed. Never true again after.
    bool serverSilent();

    // Shuts both directions down and closes the socket. Only once no
    // poller watches it and no thread uses it.
    void close();

    struct Impl;

  private:
    friend class NetPoller;
    Impl* impl_ = nullptr;
};

// Readiness of many sockets for one I/O thread. Everything but wake() is
// for that thread alone.
class NetPoller {
  public:
    NetPoller() = default;
    ~NetPoller();  // stops watching everything; closes its own objects
    NetPoller(const NetPoller&) = delete;
    NetPoller& operator=(const NetPoller&) = delete;

    // 0, or the error with which the poller could not be made.
    uint32_t create();

    // Watches `socket` for `interest` from now on (nothing: not at all),
    // reporting its events with `token`. Cheap when the interest is what it
    // was. False when the system refused: the socket is then not watched.
    // A socket is taken out (interest nothing) before it is closed.
    bool watch(NetSocket& socket, void* token, const NetInterest& interest);

    struct Ready {
        void* token;
        unsigned events;  // NetEvents
    };

    // Sleeps until a watched socket is ready for what it is watched for,
    // wake() is called, or `timeoutMs` has passed (-1: no limit). Fills at
    // most `most` entries and returns their number (0 after a wake-up or
    // the time-out), or -1 when the wait itself failed.
    int wait(Ready* ready, int most, int timeoutMs);

    // Ends the current or next wait. Any thread.
    void wake();

    struct Impl;

  private:
    Impl* impl_ = nullptr;
};

}  // namespace qelnet
