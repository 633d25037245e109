// The library's seam to the system's sockets: one TCP connection with the
// means for its connection thread to sleep until the network, a wake-up or a
// stop request needs it. socket_win32.cpp implements it with Winsock 2
// (WSAEventSelect and one WaitForMultipleObjects over the network event, the
// wake event and the stop event); socket_posix.cpp with BSD sockets and poll
// over the socket and a wake pipe.
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

// What NetSocket::wait reports.
enum WaitResult : unsigned {
    kNetReadable = 1u << 0,  // data (or the end of the stream) can be received
    kNetWritable = 1u << 1,  // a send that would have blocked can go on
    kNetClosed = 1u << 2,    // the peer closed, or the connection failed
    kNetWoken = 1u << 3,     // wake() was called
    kNetStopped = 1u << 4,   // stop() was called; stays reported from then on
    kNetFailed = 1u << 5,    // the wait itself failed
};

class NetSocket {
  public:
    NetSocket() = default;
    ~NetSocket();  // closes what is still open
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    // Creates the socket and the wake and stop objects: 0, or the error
    // (ERROR_NOT_ENOUGH_MEMORY when memory ran out, else the system's code)
    // with whatever was created released again. Nothing else may be called
    // before it has succeeded.
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
    // probes when the line is idle; for data, on Linux wait() watching TCP's
    // own account of the connection (a server that holds its window shut
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

    // What the connection thread asks the network for. With nothing asked,
    // only wake() and stop() end the wait.
    struct Interest {
        bool read;   // data may be taken
        bool write;  // a send would have blocked
        bool close;  // the peer's close is still to be noticed
    };

    // Sleeps until one of the asked network conditions, wake() or stop();
    // returns WaitResult bits. Only the connection thread calls it.
    unsigned wait(Interest interest);

    // Callable from any thread. wake() makes the next (or current) wait
    // return kNetWoken; stop() makes every wait from then on return
    // kNetStopped.
    void wake();
    void stop();

    // Shuts both directions down and closes the socket. Only once the
    // connection thread no longer uses it.
    void close();

    struct Impl;

  private:
    Impl* impl_ = nullptr;
};

}  // namespace qelnet
