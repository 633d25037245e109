// Winsock 2. The socket is bound to `netEvent` with WSAEventSelect for
// FD_READ, FD_WRITE and FD_CLOSE, and the connection thread sleeps in one
// WaitForMultipleObjects over `stopEvent`, `netEvent` and `txWakeEvent`.
// Winsock's notifications are re-enabling, which gives the poll rules of the
// POSIX side for free: FD_READ is not posted again until recv is called (so
// a full receive ring simply stops the notifications), and FD_WRITE only
// after a send has failed with WSAEWOULDBLOCK.
#include "netserial/net_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <new>

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
    WSAEVENT netEvent = WSA_INVALID_EVENT;
    HANDLE txWakeEvent = nullptr;  // auto reset
    HANDLE stopEvent = nullptr;    // manual reset
    bool selected = false;
    bool quiet = false;
};

NetSocket::~NetSocket() {
    if (!impl_) return;
    close();
    if (impl_->netEvent != WSA_INVALID_EVENT) WSACloseEvent(impl_->netEvent);
    if (impl_->txWakeEvent) CloseHandle(impl_->txWakeEvent);
    if (impl_->stopEvent) CloseHandle(impl_->stopEvent);
    delete impl_;
}

uint32_t NetSocket::create() {
    if (!impl_) impl_ = new (std::nothrow) Impl;
    if (!impl_) return ERROR_NOT_ENOUGH_MEMORY;
    uint32_t error = 0;
    impl_->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    impl_->txWakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!impl_->stopEvent || !impl_->txWakeEvent) error = GetLastError();
    if (!error) {
        impl_->netEvent = WSACreateEvent();
        if (impl_->netEvent == WSA_INVALID_EVENT) error = static_cast<uint32_t>(WSAGetLastError());
    }
    if (!error) {
        impl_->socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (impl_->socket == INVALID_SOCKET) error = static_cast<uint32_t>(WSAGetLastError());
    }
    if (!error) return 0;
    if (impl_->netEvent != WSA_INVALID_EVENT) WSACloseEvent(impl_->netEvent);
    if (impl_->txWakeEvent) CloseHandle(impl_->txWakeEvent);
    if (impl_->stopEvent) CloseHandle(impl_->stopEvent);
    impl_->netEvent = WSA_INVALID_EVENT;
    impl_->txWakeEvent = impl_->stopEvent = nullptr;
    // WSA_NOT_ENOUGH_MEMORY is ERROR_NOT_ENOUGH_MEMORY already.
    return error == WSAENOBUFS || error == ERROR_OUTOFMEMORY ? ERROR_NOT_ENOUGH_MEMORY : error;
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

unsigned NetSocket::wait(Interest interest) {
    if (!impl_->selected) {
        WSAEventSelect(impl_->socket, impl_->netEvent, FD_READ | FD_WRITE | FD_CLOSE);
        impl_->selected = true;
    }
    // With nothing asked (the connection is gone and the ring is full, or
    // the stream has ended) the socket leaves the wait; it comes back when a
    // read has made room, and selecting again records FD_READ at once if
    // data is waiting.
    const bool wanted = interest.read || interest.write || interest.close;
    if (wanted == impl_->quiet) {
        WSAEventSelect(impl_->socket, impl_->netEvent, wanted ? FD_READ | FD_WRITE | FD_CLOSE : 0);
        if (!wanted) WSAResetEvent(impl_->netEvent);
        impl_->quiet = !wanted;
    }
    // The stop event comes first, so that a busy connection cannot hold off
    // a close.
    HANDLE objects[3] = {impl_->stopEvent, impl_->netEvent, impl_->txWakeEvent};
    DWORD r = WaitForMultipleObjects(3, objects, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0) return kNetStopped;
    if (r == WAIT_OBJECT_0 + 2) return kNetWoken;
    if (r != WAIT_OBJECT_0 + 1) return kNetFailed;
    WSANETWORKEVENTS events;
    if (WSAEnumNetworkEvents(impl_->socket, impl_->netEvent, &events) != 0) return kNetFailed;
    unsigned result = 0;
    if (events.lNetworkEvents & FD_READ) result |= kNetReadable;
    if (events.lNetworkEvents & FD_WRITE) result |= kNetWritable;
    // The data that arrived before the close is still to be received; recv
    // then reports the end of the stream or the error.
    if (events.lNetworkEvents & FD_CLOSE) result |= kNetClosed | kNetReadable;
    return result;
}

void NetSocket::wake() {
    SetEvent(impl_->txWakeEvent);
}

void NetSocket::stop() {
    SetEvent(impl_->stopEvent);
}

void NetSocket::close() {
    if (!impl_ || impl_->socket == INVALID_SOCKET) return;
    // Back to blocking mode (which needs the event selection cancelled
    // first) before the graceful close.
    WSAEventSelect(impl_->socket, nullptr, 0);
    u_long zero = 0;
    ioctlsocket(impl_->socket, FIONBIO, &zero);
    shutdown(impl_->socket, SD_BOTH);
    closesocket(impl_->socket);
    impl_->socket = INVALID_SOCKET;
}

}  // namespace qelnet
