#include "tests/support/socket_shim.h"

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rig {
namespace sock {

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

Handle fail(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return kNoSocket;
}

}  // namespace

bool startup() {
    return true;
}

Handle listenLoopback(uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    sockaddr_in a = loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return fail(fd);
    if (listen(fd, 16) != 0) return fail(fd);
    socklen_t len = sizeof a;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return fail(fd);
    port = ntohs(a.sin_port);
    return fd;
}

Handle acceptOne(Handle listener) {
    int fd;
    do {
        fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoSocket : fd;
}

Handle connectLoopback(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kNoSocket;
    sockaddr_in a = loopback(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return fail(fd);
    return fd;
}

bool setNoDelay(Handle s) {
    const int on = 1;
    return setsockopt(static_cast<int>(s), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

long sendSome(Handle s, const void* data, size_t n) {
    ssize_t r;
    do {
        r = send(static_cast<int>(s), data, n, MSG_NOSIGNAL);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

long recvSome(Handle s, void* data, size_t n) {
    ssize_t r;
    do {
        r = recv(static_cast<int>(s), data, n, 0);
    } while (r < 0 && errno == EINTR);
    return static_cast<long>(r);
}

Wait waitReadable(Handle s, int timeoutMs) {
    pollfd p{static_cast<int>(s), POLLIN, 0};
    const int r = poll(&p, 1, timeoutMs);
    if (r < 0) return errno == EINTR ? Wait::Timeout : Wait::Failed;
    return r == 0 ? Wait::Timeout : Wait::Ready;
}

void shutdownSend(Handle s) {
    shutdown(static_cast<int>(s), SHUT_WR);
}

void setAbortiveClose(Handle s) {
    linger l{1, 0};
    setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

bool abortiveCloseResets() {
    return true;
}

void closeSocket(Handle s) {
    close(static_cast<int>(s));
}

int lastError() {
    return errno;
}

std::string errorText(int code) {
    return std::strerror(code);
}

bool isReset(int code) {
    return code == ECONNRESET || code == EPIPE;
}

}  // namespace sock
}  // namespace rig
