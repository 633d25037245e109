#include "tests/support/tcp_server.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace rig {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, never negative.
int remainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
}

}  // namespace

TcpConnection::TcpConnection(sock::Handle handle) : handle_(handle) {}

TcpConnection::~TcpConnection() {
    close();
}

std::unique_ptr<TcpConnection> TcpConnection::connect(uint16_t port, std::string* error) {
    const sock::Handle h = sock::connectLoopback(port);
    if (h == sock::kNoSocket) {
        if (error) {
            const int code = sock::lastError();
            *error =
                "connecting to 127.0.0.1:" + std::to_string(port) + ": " + sock::errorText(code);
        }
        return nullptr;
    }
    sock::setNoDelay(h);
    return std::make_unique<TcpConnection>(h);
}

TcpConnection::Status TcpConnection::fail() {
    error_.store(sock::lastError(), std::memory_order_relaxed);
    return Status::Failed;
}

bool TcpConnection::send(const void* data, size_t n) {
    if (!open()) return false;
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const long sent = sock::sendSome(handle_, p, n);
        if (sent <= 0) {
            fail();
            return false;
        }
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

TcpConnection::Status TcpConnection::receive(std::vector<uint8_t>& out, int timeoutMs, size_t max) {
    if (!open()) return Status::Failed;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const sock::Wait w = sock::waitReadable(handle_, remainingMs(deadline));
        if (w == sock::Wait::Failed) return fail();
        if (w == sock::Wait::Timeout) {
            if (Clock::now() >= deadline) return Status::Timeout;
            continue;  // interrupted early
        }
        const size_t before = out.size();
        out.resize(before + max);
        const long n = sock::recvSome(handle_, out.data() + before, max);
        out.resize(before + static_cast<size_t>(std::max(0L, n)));
        if (n > 0) return Status::Data;
        return n == 0 ? Status::Closed : fail();
    }
}

TcpConnection::Status TcpConnection::receiveExactly(std::vector<uint8_t>& out, size_t n,
                                                    int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const size_t goal = out.size() + n;
    while (out.size() < goal) {
        const Status s = receive(out, remainingMs(deadline), goal - out.size());
        if (s != Status::Data) return s;
    }
    return Status::Data;
}

TcpConnection::Status TcpConnection::waitClosed(int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<uint8_t> discard;
    for (;;) {
        discard.clear();
        const Status s = receive(discard, remainingMs(deadline));
        if (s != Status::Data) return s;
    }
}

void TcpConnection::close() {
    if (!open()) return;
    sock::shutdownSend(handle_);
    sock::closeSocket(handle_);
    handle_ = sock::kNoSocket;
}

void TcpConnection::abort() {
    if (!open()) return;
    sock::setAbortiveClose(handle_);
    sock::closeSocket(handle_);
    handle_ = sock::kNoSocket;
}

std::string TcpConnection::errorText() const {
    const int code = error();
    return code == 0 ? std::string() : sock::errorText(code);
}

LoopbackServer::LoopbackServer() {
    listener_ = sock::listenLoopback(port_);
    if (listener_ == sock::kNoSocket) {
        throw std::runtime_error("listening on 127.0.0.1: " + sock::errorText(sock::lastError()));
    }
}

LoopbackServer::~LoopbackServer() {
    close();
}

std::unique_ptr<TcpConnection> LoopbackServer::accept(int timeoutMs) {
    if (listener_ == sock::kNoSocket) return nullptr;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const sock::Wait w = sock::waitReadable(listener_, remainingMs(deadline));
        if (w == sock::Wait::Failed) return nullptr;
        if (w == sock::Wait::Ready) break;
        if (Clock::now() >= deadline) return nullptr;
    }
    const sock::Handle h = sock::acceptOne(listener_);
    if (h == sock::kNoSocket) return nullptr;
    sock::setNoDelay(h);
    return std::make_unique<TcpConnection>(h);
}

void LoopbackServer::close() {
    if (listener_ == sock::kNoSocket) return;
    sock::closeSocket(listener_);
    listener_ = sock::kNoSocket;
}

}  // namespace rig
