// Winsock 2, and WSAPoll for the I/O thread, with a UDP socket on the
// loopback address that wake() sends a datagram to.
//
// WSAPoll rather than an I/O completion port: it reports readiness as epoll
// does, so one loop body serves both systems and the receive ring and the
// send buffer stay the library's own between calls. A completion port
// completes transfers instead: a receive posted into the ring would be
// written by the system while readers take from the ring and a purge
// empties it, so every connection would need a buffer of its own to
// receive into and a copy; a zero-byte receive would give readiness, but
// only for reading. The price of WSAPoll is a pass over the watched
// sockets per wait, small beside a few hundred serial lines.
//
// WSAPoll has no event for the peer's close alone: a socket watched only
// for that (a full receive ring, nothing to send) is left out, and the
// close is seen once a read has made room and the data before it is taken.
#include "netserial/net_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <new>
#include <vector>

namespace qelnet {

namespace {

// TCP_MAXSEG and TCP_MAXRT (Vista and later), which mingw-w64's headers lack.
constexpr int kTcpMaxSeg = 4;
constexpr int kTcpMaxRt = 5;

}  // namespace

uint32_t NetStartup() {
    WSADATA data;
    return static_cast<uint32_t>(WSAStartup(MAKEWORD(2, 0), &data));
}

bool ParseIpv4(const char* text, uint32_t* address) {
    unsigned long a = inet_addr(text);
    if (a == INADDR_NONE) return false;
    *address = static_cast<uint32_t>(a);
    return true;
}

struct NetSocket::Impl {
    SOCKET socket = INVALID_SOCKET;
    // The poller's: the socket's place in its array, -1 when not watched.
    int pollIndex = -1;
};

namespace {

// The system's error as the library reports it. WSA_NOT_ENOUGH_MEMORY is
// ERROR_NOT_ENOUGH_MEMORY already.
uint32_t systemError(uint32_t error) {
    return error == WSAENOBUFS || error == ERROR_OUTOFMEMORY ? ERROR_NOT_ENOUGH_MEMORY : error;
}

}  // namespace

NetSocket::~NetSocket() {
    if (!impl_) return;
    close();
    delete impl_;
}

uint32_t NetSocket::create() {
    if (!impl_) impl_ = new (std::nothrow) Impl;
    if (!impl_) return ERROR_NOT_ENOUGH_MEMORY;
    impl_->socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (impl_->socket == INVALID_SOCKET)
        return systemError(static_cast<uint32_t>(WSAGetLastError()));
    return 0;
}

bool NetSocket::connect(uint32_t address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons(port);
    return ::connect(impl_->socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
}

bool NetSocket::setNonBlocking() {
    u_long one = 1;
    return ioctlsocket(impl_->socket, FIONBIO, &one) == 0;
}

void NetSocket::setOptions(int32_t noDelay, int32_t receiveBuffer, int32_t sendBuffer) {
    setsockopt(impl_->socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    setsockopt(impl_->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
               sizeof receiveBuffer);
    setsockopt(impl_->socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
               sizeof sendBuffer);
}

int32_t NetSocket::segmentSize() {
    int mss = 0;
    int size = sizeof mss;
    if (getsockopt(impl_->socket, IPPROTO_TCP, kTcpMaxSeg, reinterpret_cast<char*>(&mss), &size) !=
        0)
        return 0;
    return mss;
}

// Idle: the keep-alive control code, probes from half the bound on. Windows
// sends ten probes before it gives up (a number it does not let us set), so
// they go a twentieth of the bound apart. Data left unacknowledged:
// TCP_MAXRT, in seconds, where the system knows it.
void NetSocket::setLostTimeout(uint32_t seconds) {
    if (seconds == 0) return;
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = seconds * 1000u / 2;
    values.keepaliveinterval = seconds * 1000u / 20 > 0 ? seconds * 1000u / 20 : 1;
    DWORD returned = 0;
    WSAIoctl(impl_->socket, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
             nullptr, nullptr);
    const DWORD maxRetransmit = seconds;
    setsockopt(impl_->socket, IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&maxRetransmit),
               sizeof maxRetransmit);
}

int NetSocket::receive(uint8_t* buffer, int size) {
    int n = recv(impl_->socket, reinterpret_cast<char*>(buffer), size, 0);
    if (n != SOCKET_ERROR) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kIoWouldBlock : kIoFailed;
}

// Winsock has no "more to come" flag; every send goes out as TCP_NODELAY
// and Nagle decide, and nothing is held back for push() to send.
int NetSocket::send(const uint8_t* data, int size, bool) {
    int n = ::send(impl_->socket, reinterpret_cast<const char*>(data), size, 0);
    if (n != SOCKET_ERROR) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kIoWouldBlock : kIoFailed;
}

void NetSocket::push() {}

// TCP_MAXRT and the keep-alives bound a silent server on Windows.
bool NetSocket::silenceWatched() const {
    return false;
}

bool NetSocket::serverSilent() {
    return false;
}

void NetSocket::close() {
    if (!impl_ || impl_->socket == INVALID_SOCKET) return;
    // Back to blocking mode before the graceful close.
    u_long zero = 0;
    ioctlsocket(impl_->socket, FIONBIO, &zero);
    shutdown(impl_->socket, SD_BOTH);
    closesocket(impl_->socket);
    impl_->socket = INVALID_SOCKET;
}

struct NetPoller::Impl {
    SOCKET wake = INVALID_SOCKET;  // UDP on 127.0.0.1, non-blocking
    sockaddr_in wakeAddress{};
    // The array WSAPoll takes, the wake socket first; beside it, each
    // watched socket's token and its NetSocket's state.
    std::vector<WSAPOLLFD> fds;
    std::vector<void*> tokens;
    std::vector<NetSocket::Impl*> owners;
    // Where the next report starts, so that a busy socket early in the
    // array cannot keep those behind it waiting when more are ready than a
    // wait reports.
    size_t start = 1;
};

NetPoller::~NetPoller() {
    if (!impl_) return;
    for (NetSocket::Impl* owner : impl_->owners)
        if (owner) owner->pollIndex = -1;
    if (impl_->wake != INVALID_SOCKET) closesocket(impl_->wake);
    delete impl_;
}

uint32_t NetPoller::create() {
    if (!impl_) impl_ = new (std::nothrow) Impl;
    if (!impl_) return ERROR_NOT_ENOUGH_MEMORY;
    Impl& p = *impl_;
    p.wake = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (p.wake == INVALID_SOCKET) return systemError(static_cast<uint32_t>(WSAGetLastError()));
    p.wakeAddress.sin_family = AF_INET;
    p.wakeAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof p.wakeAddress;
    u_long one = 1;
    if (bind(p.wake, reinterpret_cast<const sockaddr*>(&p.wakeAddress), size) != 0 ||
        getsockname(p.wake, reinterpret_cast<sockaddr*>(&p.wakeAddress), &size) != 0 ||
        ioctlsocket(p.wake, FIONBIO, &one) != 0)
        return systemError(static_cast<uint32_t>(WSAGetLastError()));
    try {
        p.fds.reserve(64);
        p.tokens.reserve(64);
        p.owners.reserve(64);
        p.fds.push_back(WSAPOLLFD{p.wake, POLLRDNORM, 0});
        p.tokens.push_back(nullptr);
        p.owners.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

bool NetPoller::watch(NetSocket& socket, void* token, const NetInterest& interest) {
    Impl& p = *impl_;
    NetSocket::Impl& s = *socket.impl_;
    const SHORT events =
        static_cast<SHORT>((interest.read ? POLLRDNORM : 0) | (interest.write ? POLLWRNORM : 0));
    if (events == 0) {
        if (s.pollIndex < 0) return true;
        // The last entry takes the place of the one that goes.
        const size_t at = static_cast<size_t>(s.pollIndex);
        const size_t last = p.fds.size() - 1;
        p.fds[at] = p.fds[last];
        p.tokens[at] = p.tokens[last];
        p.owners[at] = p.owners[last];
        p.owners[at]->pollIndex = static_cast<int>(at);
        p.fds.pop_back();
        p.tokens.pop_back();
        p.owners.pop_back();
        s.pollIndex = -1;
        return true;
    }
    if (s.pollIndex < 0) {
        try {
            p.fds.reserve(p.fds.size() + 1);
            p.tokens.reserve(p.fds.size() + 1);
            p.owners.reserve(p.fds.size() + 1);
        } catch (const std::bad_alloc&) {
            return false;
        }
        p.fds.push_back(WSAPOLLFD{s.socket, events, 0});
        p.tokens.push_back(token);
        p.owners.push_back(&s);
        s.pollIndex = static_cast<int>(p.fds.size() - 1);
        return true;
    }
    p.fds[static_cast<size_t>(s.pollIndex)].events = events;
    return true;
}

int NetPoller::wait(Ready* ready, int most, int timeoutMs) {
    Impl& p = *impl_;
    const int n = WSAPoll(p.fds.data(), static_cast<ULONG>(p.fds.size()), timeoutMs);
    if (n == SOCKET_ERROR) return -1;
    if (n == 0) return 0;
    if (p.fds[0].revents) {
        char drain[16];
        while (recv(p.wake, drain, sizeof drain, 0) > 0) {
        }
    }
    const size_t count = p.fds.size() - 1;
    if (p.start > count) p.start = 1;
    int filled = 0;
    for (size_t i = 0; i < count && filled < most; ++i) {
        const size_t at = 1 + (p.start - 1 + i) % count;
        const SHORT got = p.fds[at].revents;
        if (!got) continue;
        unsigned result = 0;
        if (got & POLLRDNORM) result |= kNetReadable;
        if (got & POLLWRNORM) result |= kNetWritable;
        // The end of the stream or the error is found out by receiving.
        if (got & (POLLHUP | POLLERR | POLLNVAL)) result |= kNetClosed | kNetReadable;
        ready[filled++] = Ready{p.tokens[at], result};
        if (filled == most) p.start = 1 + at % count;
    }
    return filled;
}

void NetPoller::wake() {
    Impl& p = *impl_;
    // A full queue already holds a wake-up; nothing is lost when this fails.
    sendto(p.wake, "", 1, 0, reinterpret_cast<const sockaddr*>(&p.wakeAddress),
           sizeof p.wakeAddress);
}

}  // namespace qelnet
