#include "tester/demo/server_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <system_error>
#include <vector>

namespace demo {

namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(WSAGetLastError(), std::system_category(), what);
}

SOCKET Raw(NetHandle handle) {
    return static_cast<SOCKET>(handle);
}

NetHandle Wrap(SOCKET socket) {
    return socket == INVALID_SOCKET ? kNoHandle : static_cast<NetHandle>(socket);
}

// Winsock stays started until the process ends.
void StartWinsock() {
    static const int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0) throw std::system_error(result, std::system_category(), "WSAStartup");
}

bool NonBlocking(SOCKET socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

// The socket closed with its error kept for the caller.
[[noreturn]] void FailClosing(SOCKET socket, const char* what) {
    const int error = WSAGetLastError();
    closesocket(socket);
    WSASetLastError(error);
    Fail(what);
}

sockaddr_in Loopback() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

long Result(int n) {
    if (n != SOCKET_ERROR) return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kIoWouldBlock : kIoFailed;
}

}  // namespace

NetHandle ListenLoopback(uint16_t& port, int bufferBytes) {
    StartWinsock();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) Fail("socket");
    // Without it Windows lets another socket bind the same port over ours.
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferBytes),
               sizeof bufferBytes);
    setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bufferBytes),
               sizeof bufferBytes);
    sockaddr_in address = Loopback();
    int size = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0 || !NonBlocking(s))
        FailClosing(s, "listen on 127.0.0.1");
    port = ntohs(address.sin_port);
    return Wrap(s);
}

NetHandle AcceptClient(NetHandle listener) {
    const SOCKET client = accept(Raw(listener), nullptr, nullptr);
    if (client == INVALID_SOCKET) return kNoHandle;
    // Non-blocking whatever it inherited from the listener.
    if (!NonBlocking(client)) {
        closesocket(client);
        return kNoHandle;
    }
    BOOL on = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return Wrap(client);
}

long ReceiveSome(NetHandle socket, uint8_t* buffer, size_t size) {
    const int most = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    return Result(recv(Raw(socket), reinterpret_cast<char*>(buffer), most, 0));
}

long SendSome(NetHandle socket, const uint8_t* bytes, size_t count) {
    const int most = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
    return Result(send(Raw(socket), reinterpret_cast<const char*>(bytes), most, 0));
}

void CloseSocket(NetHandle& socket) {
    if (socket != kNoHandle) closesocket(Raw(socket));
    socket = kNoHandle;
}

// A datagram to itself: readable while one waits. Datagrams that do not
// fit the socket's buffer are dropped, and a full buffer is set anyway.
Wakeup::Wakeup() {
    StartWinsock();
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) Fail("socket");
    sockaddr_in address = Loopback();
    int size = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        connect(s, reinterpret_cast<sockaddr*>(&address), size) != 0 || !NonBlocking(s))
        FailClosing(s, "a wake-up socket on 127.0.0.1");
    handle_ = Wrap(s);
}

Wakeup::~Wakeup() {
    closesocket(Raw(handle_));
}

void Wakeup::Set() {
    const char one = 1;
    send(Raw(handle_), &one, 1, 0);
}

void Wakeup::Clear() {
    char buffer[64];
    while (recv(Raw(handle_), buffer, sizeof buffer, 0) > 0) {
    }
}

// WSAPoll takes sockets only, and no entry without a socket: the asked
// handles are gathered first.
bool WaitAny(Watch* watches, size_t count, int timeoutMs) {
    std::vector<WSAPOLLFD> fds;
    std::vector<size_t> of;
    for (size_t i = 0; i < count; ++i) {
        watches[i].readable = watches[i].writable = false;
        if (watches[i].handle == kNoHandle) continue;
        WSAPOLLFD fd{};
        fd.fd = Raw(watches[i].handle);
        fd.events = static_cast<SHORT>((watches[i].read ? POLLRDNORM : 0) |
                                       (watches[i].write ? POLLWRNORM : 0));
        fds.push_back(fd);
        of.push_back(i);
    }
    if (fds.empty()) {
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return true;
    }
    if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs) == SOCKET_ERROR)
        return false;
    for (size_t k = 0; k < fds.size(); ++k) {
        Watch& w = watches[of[k]];
        const SHORT r = fds[k].revents;
        w.readable = (r & (POLLRDNORM | POLLHUP | POLLERR)) != 0;
        w.writable = w.write && (r & (POLLWRNORM | POLLHUP | POLLERR)) != 0;
    }
    return true;
}

}  // namespace demo
