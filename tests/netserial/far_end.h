// The far end of a pseudo-terminal cable: the serial port at the other side
// of the device server, opened raw and non-blocking. For the ser2net tests
// and the benchmark. Linux only.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace qtest {

class FarEnd {
  public:
    explicit FarEnd(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~FarEnd() {
        if (fd_ >= 0) ::close(fd_);
    }
    FarEnd(const FarEnd&) = delete;
    FarEnd& operator=(const FarEnd&) = delete;
    bool opened() const { return fd_ >= 0; }

    // Writes all of it, waiting while the line is full.
    bool write(const uint8_t* data, size_t n) {
        size_t at = 0;
        while (at < n) {
            const ssize_t k = ::write(fd_, data + at, n - at);
            if (k > 0) {
                at += static_cast<size_t>(k);
            } else if (k < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return false;
            }
        }
        return true;
    }
    bool write(const std::vector<uint8_t>& data) { return write(data.data(), data.size()); }

    // Reads until n bytes came or timeoutMs passed; returns what came.
    std::vector<uint8_t> read(size_t n, int timeoutMs) {
        std::vector<uint8_t> got(n);
        size_t at = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (at < n && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t k = ::read(fd_, got.data() + at, n - at);
            if (k > 0) at += static_cast<size_t>(k);
        }
        got.resize(at);
        return got;
    }

    // Sends back everything it reads until `stop` is set.
    void echo(const std::atomic<bool>& stop) {
        std::vector<uint8_t> buffer(65536);
        while (!stop.load()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t k = ::read(fd_, buffer.data(), buffer.size());
            if (k > 0 && !write(buffer.data(), static_cast<size_t>(k))) return;
        }
    }

  private:
    int fd_;
};

}  // namespace qtest
