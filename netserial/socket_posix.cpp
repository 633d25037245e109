// BSD sockets. The connection thread sleeps in one poll over the socket and
// the read end of a wake pipe; stop() raises a flag and writes to the pipe.
// The socket is polled only for what the thread can act on: POLLIN while the
// receive ring has room, POLLOUT only while a send would block, POLLRDHUP
// until the peer's close has been seen. When none of them is wanted the
// socket is left out of the poll altogether, so that a hung-up socket (which
// reports POLLHUP whatever is asked) cannot make the loop spin.
#include "netserial/net_socket.h"

#include "platform/clock.h"
#include "platform/win32_types.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef POLLRDHUP
#define POLLRDHUP 0
#endif

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
    int wakeRead = -1;
    int wakeWrite = -1;
    std::atomic<bool> stopped{false};
    // The lost-server bound in ms (0: none); set by the opening thread while
    // the connection thread may already wait.
    std::atomic<uint32_t> lostMs{0};
    // The connection thread's own: when it next asks TCP whether the server
    // still answers (armed at its first look), and whether it found it gone.
    bool checkArmed = false;
    uint32_t nextCheck = 0;
    bool lostFound = false;
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
    closeFd(impl_->wakeRead);
    closeFd(impl_->wakeWrite);
    delete impl_;
}

uint32_t NetSocket::create() {
    if (!impl_) impl_ = new (std::nothrow) Impl;
    if (!impl_) return ERROR_NOT_ENOUGH_MEMORY;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return systemError(errno);
    for (int fd : pipeFds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    impl_->wakeRead = pipeFds[0];
    impl_->wakeWrite = pipeFds[1];
    impl_->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (impl_->fd < 0) {
        const int e = errno;
        closeFd(impl_->wakeRead);
        closeFd(impl_->wakeWrite);
        return systemError(e);
    }
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
// Data waiting for an acknowledgement is watched by wait() instead, not by
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

namespace {

// How often the connection thread asks TCP about the server at most.
constexpr uint32_t kSilenceCheckMs = 1000;

// Data sent and not acknowledged, or window probes going unanswered, while
// nothing at all has come back for the whole bound: the server is gone.
// An answered probe of a shut window resets both the probe count and the
// time of the last acknowledgement, so a held-off server never counts.
bool serverSilent(NetSocket::Impl& impl) {
    const uint32_t now = plat::tickCount();
    if (impl.checkArmed && plat::ticksLeft(now, impl.nextCheck) > 0) return false;
    impl.checkArmed = true;
    impl.nextCheck = now + kSilenceCheckMs;
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(impl.fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return false;
    const bool waiting = info.tcpi_unacked > 0 || info.tcpi_probes >= 2;
    return waiting && info.tcpi_last_ack_recv >= impl.lostMs.load(std::memory_order_relaxed);
}

}  // namespace

unsigned NetSocket::wait(Interest interest) {
    if (impl_->stopped.load(std::memory_order_relaxed)) return kNetStopped;
    short events = (interest.read ? POLLIN : 0) | (interest.write ? POLLOUT : 0) |
                   (interest.close ? POLLRDHUP : 0);
    pollfd fds[2] = {{impl_->wakeRead, POLLIN, 0}, {events ? impl_->fd : -1, events, 0}};
    const bool watch =
        impl_->lostMs.load(std::memory_order_relaxed) != 0 && !impl_->lostFound && impl_->fd >= 0;
    int r = ::poll(fds, 2, watch ? static_cast<int>(kSilenceCheckMs) : -1);
    if (r < 0) return errno == EINTR ? 0u : unsigned{kNetFailed};
    unsigned result = 0;
    if (watch && serverSilent(*impl_)) {
        // Receiving then reports the end of the stream, and the connection
        // is lost the way a closed one is.
        impl_->lostFound = true;
        ::shutdown(impl_->fd, SHUT_RDWR);
        result |= kNetClosed | kNetReadable;
    }
    if (fds[0].revents) {
        uint8_t drain[64];
        while (::read(impl_->wakeRead, drain, sizeof drain) > 0) {
        }
        result |= kNetWoken;
    }
    if (impl_->stopped.load(std::memory_order_relaxed)) result |= kNetStopped;
    const short got = fds[1].revents;
    if (got & POLLIN) result |= kNetReadable;
    if (got & POLLOUT) result |= kNetWritable;
    // A hang-up or error is found out by receiving: it reports the end of the
    // stream (after any data still buffered) or the error.
    if (got & (POLLRDHUP | POLLHUP | POLLERR)) result |= kNetClosed | kNetReadable;
    return result;
}

void NetSocket::wake() {
    const uint8_t one = 1;
    // A full pipe already holds a wake-up; nothing is lost when this fails.
    ssize_t ignored = ::write(impl_->wakeWrite, &one, 1);
    (void)ignored;
}

void NetSocket::stop() {
    impl_->stopped.store(true, std::memory_order_relaxed);
    wake();
}

void NetSocket::close() {
    if (!impl_ || impl_->fd < 0) return;
    ::shutdown(impl_->fd, SHUT_RDWR);
    closeFd(impl_->fd);
}

}  // namespace qelnet
