#include "tests/support/ser2net.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/cable.h"
#include "tests/support/stream_model.h"
#include "tests/support/tcp_server.h"

namespace rig {
namespace {

using Bytes = std::vector<uint8_t>;
using Status = TcpConnection::Status;

#define SKIP_WITHOUT_SER2NET()                                                     \
    do {                                                                           \
        if (Ser2net::program().empty()) GTEST_SKIP() << Ser2net::missingMessage(); \
    } while (0)

// The far end of the cable: the device ser2net serves.
class Device {
  public:
    explicit Device(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Device() {
        if (fd_ >= 0) close(fd_);
    }
    bool opened() const { return fd_ >= 0; }

    bool write(const Bytes& data) {
        size_t at = 0;
        while (at < data.size()) {
            const ssize_t n = ::write(fd_, data.data() + at, data.size() - at);
            if (n > 0) {
                at += static_cast<size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                poll(&p, 1, 100);
            } else {
                return false;
            }
        }
        return true;
    }

    Bytes read(size_t n, int timeoutMs) {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            poll(&p, 1, 20);
            uint8_t buf[4096];
            const ssize_t r = ::read(fd_, buf, std::min(sizeof buf, n - got.size()));
            if (r > 0) got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

  private:
    int fd_;
};

// Telnet doubles 0xFF in data; the bytes on the wire for `data`.
Bytes telnetEscaped(const Bytes& data) {
    Bytes out;
    for (uint8_t b : data) {
        out.push_back(b);
        if (b == 0xff) out.push_back(0xff);
    }
    return out;
}

TEST(Ser2net, CarriesBytesBetweenARawClientAndTheCable) {
    SKIP_WITHOUT_SER2NET();
    NullModemCable cable;
    Ser2net server({cable.pathA(), "115200n81", true});
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    EXPECT_NE(server.rawPort(), 0);
    EXPECT_NE(server.rawPort(), server.telnetPort());
    Device device(cable.pathB());
    ASSERT_TRUE(device.opened());

    auto client = TcpConnection::connect(server.rawPort(), &error);
    ASSERT_NE(client, nullptr) << error;
    const Bytes up = model::randomStream(4096, 1);
    ASSERT_TRUE(client->send(up));
    EXPECT_TRUE(device.read(up.size(), 5000) == up);

    const Bytes down = model::randomStream(4096, 2);
    ASSERT_TRUE(device.write(down));
    Bytes got;
    EXPECT_EQ(client->receiveExactly(got, down.size(), 5000), Status::Data);
    EXPECT_TRUE(got == down) << got.size() << " bytes arrived\n" << server.log();
}

// The telnet accepter offers RFC 2217 and escapes 0xFF both ways.
TEST(Ser2net, TelnetAccepterSpeaksRfc2217) {
    SKIP_WITHOUT_SER2NET();
    NullModemCable cable;
    Ser2net server({cable.pathA()});
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    EXPECT_EQ(server.rawPort(), 0);
    Device device(cable.pathB());

    auto client = TcpConnection::connect(server.telnetPort(), &error);
    ASSERT_NE(client, nullptr) << error;
    Bytes greeting;
    const Bytes doComPort = {0xff, 0xfd, 44};  // IAC DO COM-PORT-OPTION
    while (std::search(greeting.begin(), greeting.end(), doComPort.begin(), doComPort.end()) ==
           greeting.end()) {
        ASSERT_EQ(client->receive(greeting, 2000), Status::Data)
            << "no IAC DO COM-PORT-OPTION in " << greeting.size() << " bytes";
    }

    const Bytes up = model::randomStream(1024, 3);
    ASSERT_TRUE(client->send(telnetEscaped(up)));
    EXPECT_TRUE(device.read(up.size(), 5000) == up);

    const Bytes down = {'o', 'k', 0xff, 0x00, 0xff};
    ASSERT_TRUE(device.write(down));
    Bytes got;
    const Bytes want = telnetEscaped(down);
    EXPECT_EQ(client->receiveExactly(got, want.size(), 5000), Status::Data);
    EXPECT_EQ(got, want);
}

TEST(Ser2net, StopLeavesNoProcessAndNoListener) {
    SKIP_WITHOUT_SER2NET();
    NullModemCable cable;
    Ser2net server({cable.pathA(), "9600n81", true});
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    const pid_t pid = server.pid();
    const uint16_t port = server.telnetPort();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), 0);
    auto client = TcpConnection::connect(port);
    EXPECT_NE(client, nullptr);  // stop() must not wait for clients to leave

    server.stop();
    EXPECT_FALSE(server.running());
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH) << "ser2net still exists (not reaped?)";
    EXPECT_EQ(TcpConnection::connect(port), nullptr);
    server.stop();  // twice is harmless
}

TEST(Ser2net, StartReportsAProgramThatDoesNotServe) {
    // /bin/true stands in for a ser2net that exits at once.
    ASSERT_EQ(setenv("SER2NET", "/bin/true", 1), 0);
    NullModemCable cable;
    Ser2net server({cable.pathA()});
    std::string error;
    const bool started = server.start(&error);
    unsetenv("SER2NET");
    EXPECT_FALSE(started);
    EXPECT_FALSE(server.running());
    EXPECT_NE(error.find("ended before it listened"), std::string::npos) << error;
}

}  // namespace
}  // namespace rig
