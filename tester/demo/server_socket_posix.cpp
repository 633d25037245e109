#include "tester/demo/server_socket.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace demo {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int Fd(NetHandle handle) {
    return static_cast<int>(handle);
}

}  // namespace

NetHandle ListenLoopback(uint16_t& port, int bufferBytes) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail("socket");
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        Fail("listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

NetHandle AcceptClient(NetHandle listener) {
    const int client = accept4(Fd(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return kNoHandle;
    const int on = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return client;
}

long ReceiveSome(NetHandle socket, uint8_t* buffer, size_t size) {
    for (;;) {
        const ssize_t n = recv(Fd(socket), buffer, size, 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kIoWouldBlock : kIoFailed;
    }
}

long SendSome(NetHandle socket, const uint8_t* bytes, size_t count) {
    for (;;) {
        const ssize_t n = send(Fd(socket), bytes, count, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kIoWouldBlock : kIoFailed;
    }
}

void CloseSocket(NetHandle& socket) {
    if (socket != kNoHandle) close(Fd(socket));
    socket = kNoHandle;
}

Wakeup::Wakeup() {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) Fail("eventfd");
    handle_ = fd;
}

Wakeup::~Wakeup() {
    close(Fd(handle_));
}

void Wakeup::Set() {
    const uint64_t one = 1;
    // Fails only when the counter is saturated: set anyway.
    ssize_t ignored = write(Fd(handle_), &one, sizeof one);
    (void)ignored;
}

void Wakeup::Clear() {
    uint64_t value;
    ssize_t ignored = read(Fd(handle_), &value, sizeof value);
    (void)ignored;
}

bool WaitAny(Watch* watches, size_t count, int timeoutMs) {
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i].fd = watches[i].handle == kNoHandle ? -1 : Fd(watches[i].handle);
        fds[i].events =
            static_cast<short>((watches[i].read ? POLLIN : 0) | (watches[i].write ? POLLOUT : 0));
    }
    int n;
    do {
        n = poll(fds.data(), fds.size(), timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    for (size_t i = 0; i < count; ++i) {
        const short r = fds[i].revents;
        watches[i].readable = (r & (POLLIN | POLLHUP | POLLERR)) != 0;
        watches[i].writable = watches[i].write && (r & (POLLOUT | POLLHUP | POLLERR)) != 0;
    }
    return true;
}

}  // namespace demo
