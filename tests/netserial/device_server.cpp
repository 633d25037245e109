#include "tests/netserial/device_server.h"

#include <algorithm>
#include <chrono>

namespace qtest {

namespace {

constexpr uint8_t IAC = 255, SB = 250, SE = 240;

std::vector<uint8_t> subnegotiation(uint8_t code, std::vector<uint8_t> value = {}) {
    std::vector<uint8_t> out = {IAC, SB, 44, code};
    for (uint8_t b : value) {
        out.push_back(b);
        if (b == IAC) out.push_back(IAC);
    }
    out.push_back(IAC);
    out.push_back(SE);
    return out;
}

}  // namespace

ComPortCommand Command(uint8_t code, std::vector<uint8_t> value) {
    ComPortCommand c;
    c.code = code;
    c.value = std::move(value);
    return c;
}

void PrintTo(const ComPortCommand& c, std::ostream* out) {
    *out << int{c.code} << ":[";
    for (size_t i = 0; i < c.value.size(); ++i)
        *out << (i ? " " : "") << int{c.value[i]};
    *out << "]";
}

DeviceServer::DeviceServer() = default;

DeviceServer::~DeviceServer() {
    closeClient();
}

std::string DeviceServer::name() const {
    return "127.0.0.1:" + std::to_string(port());
}

bool DeviceServer::accept(int timeoutMs) {
    // A client before this one is gone for good: its reader ends first.
    closeClient();
    std::unique_ptr<rig::TcpConnection> client = server_.accept(timeoutMs);
    if (!client) return false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = paused_ = clientClosed_ = false;
        idle_ = true;
        raw_.clear();
        payload_.clear();
        commands_.clear();
        state_ = State::Data;
    }
    client_ = std::move(client);
    reader_ = std::thread([this] { readLoop(); });
    return true;
}

void DeviceServer::readLoop() {
    std::vector<uint8_t> buffer;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            idle_ = true;
            changed_.notify_all();
            changed_.wait(hold, [this] { return stop_ || !paused_; });
            if (stop_) return;
            idle_ = false;
        }
        buffer.clear();
        const auto status = client_->receive(buffer, 20);
        std::lock_guard<std::mutex> hold(lock_);
        if (!buffer.empty()) {
            raw_.insert(raw_.end(), buffer.begin(), buffer.end());
            decode(buffer.data(), buffer.size());
            changed_.notify_all();
        }
        if (status == rig::TcpConnection::Status::Closed ||
            status == rig::TcpConnection::Status::Failed) {
            clientClosed_ = true;
            idle_ = true;
            changed_.notify_all();
            return;
        }
    }
}

// Strict RFC 854/855 decoding of what a client sends. Called with lock_ held.
void DeviceServer::decode(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        switch (state_) {
            case State::Data:
                if (b == IAC) {
                    state_ = State::Iac;
                } else {
                    payload_.push_back(b);
                }
                break;
            case State::Iac:
                if (b == IAC) {
                    payload_.push_back(IAC);
                    state_ = State::Data;
                } else if (b == SB) {
                    sb_.clear();
                    state_ = State::Sb;
                } else {
                    state_ = b >= 251 ? State::Option : State::Data;
                }
                break;
            case State::Option:
                state_ = State::Data;
                break;
            case State::Sb:
                if (b == IAC) {
                    state_ = State::SbIac;
                } else {
                    sb_.push_back(b);
                }
                break;
            case State::SbIac:
                if (b == IAC) {
                    sb_.push_back(IAC);
                    state_ = State::Sb;
                } else {
                    if (sb_.size() >= 2 && sb_[0] == 44) {
                        ComPortCommand c;
                        c.code = sb_[1];
                        c.value.assign(sb_.begin() + 2, sb_.end());
                        c.atPayload = payload_.size();
                        commands_.push_back(c);
                    }
                    state_ = State::Data;  // IAC SE, or a command that ends it early
                }
                break;
        }
    }
}

std::vector<uint8_t> DeviceServer::raw() const {
    std::lock_guard<std::mutex> hold(lock_);
    return raw_;
}

std::vector<uint8_t> DeviceServer::payload() const {
    std::lock_guard<std::mutex> hold(lock_);
    return payload_;
}

std::vector<ComPortCommand> DeviceServer::commands() const {
    std::lock_guard<std::mutex> hold(lock_);
    return commands_;
}

std::vector<ComPortCommand> DeviceServer::commands(std::initializer_list<uint8_t> codes) const {
    std::vector<ComPortCommand> picked;
    for (const ComPortCommand& c : commands())
        if (std::find(codes.begin(), codes.end(), c.code) != codes.end()) picked.push_back(c);
    return picked;
}

template <typename Ready>
bool DeviceServer::waitUntil(int timeoutMs, Ready ready) const {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), ready);
}

bool DeviceServer::waitRaw(size_t n, int timeoutMs) const {
    return waitUntil(timeoutMs, [&] { return raw_.size() >= n; });
}

bool DeviceServer::waitPayload(size_t n, int timeoutMs) const {
    return waitUntil(timeoutMs, [&] { return payload_.size() >= n; });
}

bool DeviceServer::waitCommands(size_t n, int timeoutMs) const {
    return waitUntil(timeoutMs, [&] { return commands_.size() >= n; });
}

void DeviceServer::forget() {
    std::lock_guard<std::mutex> hold(lock_);
    raw_.clear();
    payload_.clear();
    commands_.clear();
}

void DeviceServer::pauseReading() {
    std::unique_lock<std::mutex> hold(lock_);
    paused_ = true;
    changed_.wait(hold, [this] { return idle_; });
}

void DeviceServer::resumeReading() {
    std::lock_guard<std::mutex> hold(lock_);
    paused_ = false;
    changed_.notify_all();
}

bool DeviceServer::send(const std::vector<uint8_t>& raw) {
    return client_ && client_->send(raw);
}

bool DeviceServer::sendPayload(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> escaped;
    escaped.reserve(data.size() * 2);
    for (uint8_t b : data) {
        escaped.push_back(b);
        if (b == IAC) escaped.push_back(IAC);
    }
    return send(escaped);
}

bool DeviceServer::notifyLineState(uint8_t value) {
    return send(subnegotiation(106, {value}));
}

bool DeviceServer::notifyModemState(uint8_t value) {
    return send(subnegotiation(107, {value}));
}

bool DeviceServer::suspend(bool rfcCodes) {
    return send(subnegotiation(rfcCodes ? 108 : 8));
}

bool DeviceServer::resume(bool rfcCodes) {
    return send(subnegotiation(rfcCodes ? 109 : 9));
}

void DeviceServer::closeClient() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        changed_.notify_all();
    }
    if (reader_.joinable()) reader_.join();
    if (client_) client_->close();
}

bool DeviceServer::waitClientClosed(int timeoutMs) const {
    return waitUntil(timeoutMs, [&] { return clientClosed_; });
}

}  // namespace qtest
