#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "tester/demo/device_line.h"
#include "tester/demo/line_format.h"

namespace demo {

namespace {

// A tty: polled for reading, and for writing while data waits for it.
class TtyLine : public DeviceLine {
  public:
    explicit TtyLine(int fd) : fd_(fd) {}
    ~TtyLine() override { close(fd_); }

    long Read(uint8_t* buffer, size_t size) override { return Result(read(fd_, buffer, size)); }
    long Write(const uint8_t* bytes, size_t count) override {
        return Result(write(fd_, bytes, count));
    }
    bool SetSpeed(uint32_t baud) override { return SetLineSpeed(fd_, baud); }
    void SetStopBits(uint8_t stopBits) override { demo::SetStopBits(fd_, stopBits); }
    void Purge(bool received, bool unsent) override {
        if (received) tcflush(fd_, TCIFLUSH);
        if (unsent) tcflush(fd_, TCOFLUSH);
    }
    void Prepare(bool wantWrite, Watch& watch, int64_t&) override {
        watch.handle = fd_;
        watch.read = true;
        watch.write = wantWrite;
    }

  private:
    static long Result(ssize_t n) {
        if (n >= 0) return static_cast<long>(n);
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    }

    const int fd_;
};

}  // namespace

std::unique_ptr<DeviceLine> OpenTtyLine(const std::string& path, uint32_t baudRate) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "open the line " + path);
    if (!SetLineSpeed(fd, baudRate)) {
        const int error = errno;
        close(fd);
        throw std::system_error(error, std::generic_category(), "set the speed of " + path);
    }
    return std::make_unique<TtyLine>(fd);
}

}  // namespace demo
