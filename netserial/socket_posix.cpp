// BSD sockets. The connection thread sleeps in one poll over the socket and
// the read end of a wake pipe; stop() raises a flag and writes to the pipe.
// The socket is polled only for what the thread can act on: POLLIN while the
// receive ring has room, POLLOUT only while a send would block, POLLRDHUP
// until the peer's close has been seen. When none of them is wanted the
// socket is left out of the poll altogether, so that a hung-up socket (which
// reports POLLHUP whatever is asked) cannot make the loop spin.
#include "netserial/net_socket.h"

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

// Idle: probes from half the bound on, one a second. With TCP_USER_TIMEOUT
// set, Linux drops the connection once nothing has come back for the whole
// bound, whether keep-alive probes or data went unanswered; the probe count
// gives the same bound where the user time-out is not known.
void NetSocket::setLostTimeout(uint32_t seconds) {
    if (seconds == 0) return;
    const int on = 1;
    const int idle = static_cast<int>(seconds / 2 > 0 ? seconds / 2 : 1);
    const int interval = 1;
    const int probes = static_cast<int>(seconds) - idle > 0 ? static_cast<int>(seconds) - idle : 1;
    const unsigned int userTimeout = seconds * 1000u;
    ::setsockopt(impl_->fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(impl_->fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

int NetSocket::receive(uint8_t* buffer, int size) {
    ssize_t n = ::recv(impl_->fd, buffer, static_cast<size_t>(size), 0);
    if (n >= 0) return static_cast<int>(n);
    return wouldBlock(errno) ? kIoWouldBlock : kIoFailed;
}

int NetSocket::send(const uint8_t* data, int size) {
    // MSG_NOSIGNAL: a send to a peer that has gone must fail, not raise
    // SIGPIPE in the caller's process.
    ssize_t n = ::send(impl_->fd, data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    return wouldBlock(errno) ? kIoWouldBlock : kIoFailed;
}

unsigned NetSocket::wait(Interest interest) {
    if (impl_->stopped.load(std::memory_order_relaxed)) return kNetStopped;
    short events = (interest.read ? POLLIN : 0) | (interest.write ? POLLOUT : 0) |
                   (interest.close ? POLLRDHUP : 0);
    pollfd fds[2] = {{impl_->wakeRead, POLLIN, 0}, {events ? impl_->fd : -1, events, 0}};
    int r = ::poll(fds, 2, -1);
    if (r < 0) return errno == EINTR ? 0u : unsigned{kNetFailed};
    unsigned result = 0;
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
