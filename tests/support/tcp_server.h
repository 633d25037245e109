// A TCP server on 127.0.0.1 for tests, and the connections it accepts (or
// that a test opens to some other loopback server). Portable: Winsock 2 on
// Windows, so the same tests run under Wine.
//
// Synchronous on purpose: a test accepts, sends and receives on its own
// thread, with a time-out on everything that waits, so a missing peer fails
// the test instead of hanging it. A rig that must answer on its own (an
// RFC 2217 device server) runs these calls on a thread of its own.
// A connection may send on one thread while it receives on another, as a
// full-duplex device server does; everything else is one thread at a time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/socket_shim.h"

namespace rig {

class TcpConnection {
  public:
    enum class Status {
        Data,     // bytes arrived (receiveExactly: all of them)
        Timeout,  // the time ran out first
        Closed,   // the peer closed in order (end of stream)
        Failed,   // reset by the peer, or already closed here; see error()
    };

    // Takes over a connected socket.
    explicit TcpConnection(sock::Handle handle);
    ~TcpConnection();  // closes in order, if still open
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Connects to 127.0.0.1:port, with Nagle off. nullptr when refused; the
    // reason is in *error when given.
    static std::unique_ptr<TcpConnection> connect(uint16_t port, std::string* error = nullptr);

    // Sends all of it (blocking while the peer's window is full). False on
    // failure.
    bool send(const void* data, size_t n);
    bool send(const std::vector<uint8_t>& bytes) { return send(bytes.data(), bytes.size()); }
    bool send(const std::string& text) { return send(text.data(), text.size()); }

    // Appends what arrives within timeoutMs, returning as soon as anything
    // came (at most max bytes).
    Status receive(std::vector<uint8_t>& out, int timeoutMs, size_t max = 64 * 1024);
    // Appends until exactly n more bytes came, the time ran out, or the
    // connection ended; whatever did come is appended in every case.
    Status receiveExactly(std::vector<uint8_t>& out, size_t n, int timeoutMs);
    // Reads and throws away until the peer closes; Closed or Failed when it
    // ended, Timeout when it still stands after timeoutMs.
    Status waitClosed(int timeoutMs);

    // Orderly close: the peer reads what was sent, then end of stream.
    void close();
    // Abortive close: the peer's next read or write fails with a reset
    // (under Wine the peer sees an orderly close; sock::abortiveCloseResets).
    void abort();

    bool open() const { return handle_ != sock::kNoSocket; }
    // The system's code behind the last Failed (0 when none).
    int error() const { return error_.load(std::memory_order_relaxed); }
    std::string errorText() const;

  private:
    Status fail();

    sock::Handle handle_;
    std::atomic<int> error_{0};
};

class LoopbackServer {
  public:
    // Listens on 127.0.0.1 on a free port. Throws std::runtime_error.
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t port() const { return port_; }

    // The next connection, or nullptr when none came within timeoutMs. A
    // client's connect succeeds before accept runs (the backlog holds it).
    std::unique_ptr<TcpConnection> accept(int timeoutMs);

    // Stops listening; later connects are refused.
    void close();

  private:
    sock::Handle listener_ = sock::kNoSocket;
    uint16_t port_ = 0;
};

}  // namespace rig
