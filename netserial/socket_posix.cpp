// BSD sockets, and epoll for the I/O thread: one epoll instance per thread
// with an eventfd for wake(). Sockets are watched level-triggered for what
// the thread can act on: EPOLLIN while the receive ring has room, EPOLLOUT
// only while a send would block, EPOLLRDHUP until the peer's close has been
// seen. The interest changes rarely (a full ring, a full socket, the end),
// so an epoll_ctl is the exception: the steady state is one epoll_wait per
// wake-up, whatever the number of sockets that had data.
#include "netserial/net_socket.h"

#include "platform/win32_types.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qelnet {

uint32_t NetStartup() {
    return 0;
}

bool ParseIpv4(const char* text, uint32_t* address) {
    in_addr_t a = inet_addr(text);
    if (a == INADDR_NONE) return false;
    *address = a;
    return true;
}

struct NetSocket::Impl {
    int fd = -1;
    // The lost-server bound in ms (0: none); set before the socket is
    // handed to its I/O thread.
    std::atomic<uint32_t> lostMs{0};
    // The I/O thread's own: whether it found the server gone, and what the
    // poller watches the socket for (epoll's events; 0: not watched).
    bool lostFound = false;
    uint32_t watched = 0;
};

namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool wouldBlock(int e) {
    return e == EAGAIN || e == EWOULDBLOCK || e == EINTR;
}

// The system's error as the library reports it: running out of memory or
// buffers is ERROR_NOT_ENOUGH_MEMORY, anything else keeps its errno value.
uint32_t systemError(int e) {
    return e == ENOMEM || e == ENOBUFS ? ERROR_NOT_ENOUGH_MEMORY : static_cast<uint32_t>(e);
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
    impl_->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (impl_->fd < 0) return systemError(errno);
    return 0;
}

bool NetSocket::connect(uint32_t address, uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    to.sin_port = htons(port);
    int r;
    do {
        r = ::connect(impl_->fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool NetSocket::setNonBlocking() {
    int flags = ::fcntl(impl_->fd, F_GETFL);
    return flags >= 0 && ::fcntl(impl_->fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void NetSocket::setOptions(int32_t noDelay, int32_t receiveBuffer, int32_t sendBuffer) {
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    ::setsockopt(impl_->fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    ::setsockopt(impl_->fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
}

int32_t NetSocket::segmentSize() {
    int mss = 0;
    socklen_t size = sizeof mss;
    if (::getsockopt(impl_->fd, IPPROTO_TCP, TCP_MAXSEG, &mss, &size) != 0) return 0;
    return mss;
}

// Idle: keep-alive probes from half the bound on, one a second, and the
// kernel drops the connection once the bound has passed unanswered.
// Data waiting for an acknowledgement is watched by serverSilent() instead,
// not by
// TCP_USER_TIMEOUT: Linux applies that bound to a shut receive window too,
// and a device server whose serial line is held off (hardware flow control,
// a slow baud rate) keeps its window shut for as long as it likes while
// answering every probe. That server is alive.
void NetSocket::setLostTimeout(uint32_t seconds) {
    if (seconds == 0) return;
    const int on = 1;
    const int idle = static_cast<int>(seconds / 2 > 0 ? seconds / 2 : 1);
    const int interval = 1;
    const int probes = static_cast<int>(seconds) - idle > 0 ? static_cast<int>(seconds) - idle : 1;
    ::setsockopt(impl_->fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    impl_->lostMs.store(seconds * 1000u, std::memory_order_relaxed);
}

int NetSocket::receive(uint8_t* buffer, int size) {
    ssize_t n = ::recv(impl_->fd, buffer, static_cast<size_t>(size), 0);
    if (n >= 0) return static_cast<int>(n);
    return wouldBlock(errno) ? kIoWouldBlock : kIoFailed;
}

int NetSocket::send(const uint8_t* data, int size, bool more) {
    // MSG_NOSIGNAL: a send to a peer that has gone must fail, not raise
    // SIGPIPE in the caller's process.
    const int flags = MSG_NOSIGNAL | (more ? MSG_MORE : 0);
    ssize_t n = ::send(impl_->fd, data, static_cast<size_t>(size), flags);
    if (n >= 0) return static_cast<int>(n);
    return wouldBlock(errno) ? kIoWouldBlock : kIoFailed;
}

// Taking the cork off (never put on) has TCP send what MSG_MORE held back,
// under the socket's own Nagle setting, as a send without MSG_MORE does.
void NetSocket::push() {
    const int off = 0;
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_CORK, &off, sizeof off);
}

// Data sent and not acknowledged, or window probes going unanswered, while
// nothing at all has come back for the whole bound: the server is gone.
// An answered probe of a shut window resets both the probe count and the
// time of the last acknowledgement, so a held-off server never counts.
bool NetSocket::serverSilent() {
    if (!silenceWatched()) return false;
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(impl_->fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return false;
    const bool waiting = info.tcpi_unacked > 0 || info.tcpi_probes >= 2;
    if (!waiting || info.tcpi_last_ack_recv < impl_->lostMs.load(std::memory_order_relaxed))
        return false;
    // Receiving then reports the end of the stream, and the connection is
    // lost the way a closed one is.
    impl_->lostFound = true;
    ::shutdown(impl_->fd, SHUT_RDWR);
    return true;
}

bool NetSocket::silenceWatched() const {
    return impl_->lostMs.load(std::memory_order_relaxed) != 0 && !impl_->lostFound &&
           impl_->fd >= 0;
}

void NetSocket::close() {
    if (!impl_ || impl_->fd < 0) return;
    ::shutdown(impl_->fd, SHUT_RDWR);
    closeFd(impl_->fd);
}

struct NetPoller::Impl {
    int epoll = -1;
    int wake = -1;  // eventfd
};

NetPoller::~NetPoller() {
    if (!impl_) return;
    closeFd(impl_->epoll);
    closeFd(impl_->wake);
    delete impl_;
}

uint32_t NetPoller::create() {
    if (!impl_) impl_ = new (std::nothrow) Impl;
    if (!impl_) return ERROR_NOT_ENOUGH_MEMORY;
    impl_->epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (impl_->epoll < 0) return systemError(errno);
    impl_->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (impl_->wake < 0) return systemError(errno);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = nullptr;  // the wake-up
    if (::epoll_ctl(impl_->epoll, EPOLL_CTL_ADD, impl_->wake, &event) != 0)
        return systemError(errno);
    return 0;
}

bool NetPoller::watch(NetSocket& socket, void* token, const NetInterest& interest) {
    NetSocket::Impl& s = *socket.impl_;
    const uint32_t events = (interest.read ? EPOLLIN : 0u) | (interest.write ? EPOLLOUT : 0u) |
                            (interest.close ? EPOLLRDHUP : 0u);
    if (events == s.watched) return true;
    epoll_event event{};
    event.events = events;
    event.data.ptr = token;
    const int op = s.watched == 0 ? EPOLL_CTL_ADD : events == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
    if (::epoll_ctl(impl_->epoll, op, s.fd, &event) != 0) {
        // A socket that cannot be changed is taken out rather than left
        // reporting what nobody wants.
        if (op == EPOLL_CTL_MOD) ::epoll_ctl(impl_->epoll, EPOLL_CTL_DEL, s.fd, &event);
        s.watched = 0;
        return events == 0;
    }
    s.watched = events;
    return true;
}

int NetPoller::wait(Ready* ready, int most, int timeoutMs) {
    constexpr int kBatch = 128;
    epoll_event events[kBatch];
    const int n = ::epoll_wait(impl_->epoll, events, most < kBatch ? most : kBatch, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : -1;
    int filled = 0;
    for (int i = 0; i < n; ++i) {
        if (!events[i].data.ptr) {
            uint64_t count;
            ssize_t ignored = ::read(impl_->wake, &count, sizeof count);
            (void)ignored;
            continue;
        }
        const uint32_t got = events[i].events;
        unsigned result = 0;
        if (got & EPOLLIN) result |= kNetReadable;
        if (got & EPOLLOUT) result |= kNetWritable;
        // A hang-up or error is found out by receiving: it reports the end
        // of the stream (after any data still buffered) or the error.
        if (got & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) result |= kNetClosed | kNetReadable;
        ready[filled++] = Ready{events[i].data.ptr, result};
    }
    return filled;
}

void NetPoller::wake() {
    const uint64_t one = 1;
    // A counter that cannot take more already holds a wake-up.
    ssize_t ignored = ::write(impl_->wake, &one, sizeof one);
    (void)ignored;
}

}  // namespace qelnet
