// An in-process RFC 2217 device server for the library's tests, on the
// loopback TCP rig. It serves one client at a time, records every byte the client
// sends (raw, and decoded into payload and Com Port Control commands by a
// decoder of its own, independent of the library's), and sends whatever a
// test asks for: payload, notifications, flow control, a close.
//
// A thread of its own reads the client, so the client never blocks on a
// full window unless the test pauses the reading.
#pragma once

#include "tests/support/tcp_server.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace qtest {

// Generous bounds: they catch hangs, not timing.
constexpr int kLong = 10000;

// One Com Port Control subnegotiation from the client (IAC SB 44 code value
// IAC SE), with the payload length received before it.
struct ComPortCommand {
    uint8_t code = 0;
    std::vector<uint8_t> value;
    size_t atPayload = 0;

    bool operator==(const ComPortCommand& o) const { return code == o.code && value == o.value; }
};

class DeviceServer {
  public:
    DeviceServer();
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    uint16_t port() const { return server_.port(); }
    // "127.0.0.1:<port>", the name the library opens.
    std::string name() const;
    // Stops listening: connects are refused from then on.
    void stopListening() { server_.close(); }

    // Accepts the next client and starts recording anew (a client before
    // it is closed first, as a server that serves one at a time does).
    // False when none came.
    bool accept(int timeoutMs = kLong);

    // What the client sent, raw and decoded.
    std::vector<uint8_t> raw() const;
    std::vector<uint8_t> payload() const;
    std::vector<ComPortCommand> commands() const;
    // Commands with the codes given, in order (others left out).
    std::vector<ComPortCommand> commands(std::initializer_list<uint8_t> codes) const;
    bool waitRaw(size_t n, int timeoutMs = kLong) const;
    bool waitPayload(size_t n, int timeoutMs = kLong) const;
    bool waitCommands(size_t n, int timeoutMs = kLong) const;
    // Forgets what was recorded so far (the decoder keeps its state).
    void forget();

    // Stops (and restarts) reading the client, so that the TCP window fills.
    // Takes effect before it returns.
    void pauseReading();
    void resumeReading();

    bool send(const std::vector<uint8_t>& raw);
    bool sendPayload(const std::vector<uint8_t>& data);  // 255 doubled
    bool notifyLineState(uint8_t value);
    bool notifyModemState(uint8_t value);
    // The server's flow control, as RFC 2217 numbers it (108/109) or as
    // some servers send it (8/9).
    bool suspend(bool rfcCodes = true);
    bool resume(bool rfcCodes = true);

    // Closes the client's connection in order (the client sees FIN).
    void closeClient();
    // True once the client has closed its side.
    bool waitClientClosed(int timeoutMs = kLong) const;

  private:
    void readLoop();
    // Waits until ready() holds (checked with lock_ held) or the time is up.
    template <typename Ready>
    bool waitUntil(int timeoutMs, Ready ready) const;
    void decode(const uint8_t* p, size_t n);

    rig::LoopbackServer server_;
    std::unique_ptr<rig::TcpConnection> client_;
    std::thread reader_;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    bool stop_ = false;
    bool paused_ = false;
    bool idle_ = true;  // the reader is not inside a receive
    bool clientClosed_ = false;
    std::vector<uint8_t> raw_;
    std::vector<uint8_t> payload_;
    std::vector<ComPortCommand> commands_;

    // Decoder state.
    enum class State { Data, Iac, Option, Sb, SbIac } state_ = State::Data;
    std::vector<uint8_t> sb_;
};

// The command the library should have sent, for comparisons.
ComPortCommand Command(uint8_t code, std::vector<uint8_t> value = {});

// For test failure messages: "5:[8]".
void PrintTo(const ComPortCommand& c, std::ostream* out);

}  // namespace qtest
