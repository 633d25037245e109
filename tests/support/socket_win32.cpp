#include "tests/support/socket_shim.h"

#include <winsock2.h>
#include <ws2tcpip.h>

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

SOCKET raw(Handle s) {
    return static_cast<SOCKET>(s);
}

Handle wrap(SOCKET s) {
    return s == INVALID_SOCKET ? kNoSocket : static_cast<Handle>(s);
}

Handle fail(SOCKET s) {
    const int saved = WSAGetLastError();
    closesocket(s);
    WSASetLastError(saved);
    return kNoSocket;
}

}  // namespace

// Winsock stays started until the process ends; the rigs live as long as
// the test program.
bool startup() {
    static const int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0) WSASetLastError(result);
    return result == 0;
}

Handle listenLoopback(uint16_t& port) {
    if (!startup()) return kNoSocket;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    // Without it Windows lets another socket bind the same port over ours.
    BOOL exclusive = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in a = loopback(0);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return fail(s);
    if (listen(s, 16) != 0) return fail(s);
    int len = sizeof a;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return fail(s);
    port = ntohs(a.sin_port);
    return wrap(s);
}

Handle acceptOne(Handle listener) {
    return wrap(accept(raw(listener), nullptr, nullptr));
}

Handle connectLoopback(uint16_t port) {
    if (!startup()) return kNoSocket;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    sockaddr_in a = loopback(port);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return fail(s);
    return wrap(s);
}

bool setNoDelay(Handle s) {
    BOOL on = TRUE;
    return setsockopt(raw(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

// Winsock counts in int; the rigs never move 2 GB in one call, but the
// clamp keeps a large request from turning negative.
long sendSome(Handle s, const void* data, size_t n) {
    const int len = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
    const int r = send(raw(s), static_cast<const char*>(data), len, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

long recvSome(Handle s, void* data, size_t n) {
    const int len = n > 0x40000000 ? 0x40000000 : static_cast<int>(n);
    const int r = recv(raw(s), static_cast<char*>(data), len, 0);
    return r == SOCKET_ERROR ? -1 : r;
}

Wait waitReadable(Handle s, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = raw(s);
    p.events = POLLRDNORM;
    const int r = WSAPoll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (r == SOCKET_ERROR) return Wait::Failed;
    return r == 0 ? Wait::Timeout : Wait::Ready;
}

void shutdownSend(Handle s) {
    shutdown(raw(s), SD_SEND);
}

void setAbortiveClose(Handle s) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    setsockopt(raw(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

bool abortiveCloseResets() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
}

void closeSocket(Handle s) {
    closesocket(raw(s));
}

int lastError() {
    return WSAGetLastError();
}

std::string errorText(int code) {
    char text[256];
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "Winsock error " + std::to_string(code) : s;
}

bool isReset(int code) {
    return code == WSAECONNRESET || code == WSAECONNABORTED;
}

}  // namespace sock
}  // namespace rig
