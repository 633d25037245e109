#include "tests/support/tcp_server.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/stream_model.h"

namespace rig {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using Status = TcpConnection::Status;

// A client made of bare shim calls, so that the server side is checked
// against something other than itself.
class PlainClient {
  public:
    explicit PlainClient(uint16_t port) : s_(sock::connectLoopback(port)) {}
    ~PlainClient() {
        if (s_ != sock::kNoSocket) sock::closeSocket(s_);
    }
    bool connected() const { return s_ != sock::kNoSocket; }

    bool sendAll(const Bytes& data) {
        size_t at = 0;
        while (at < data.size()) {
            const long n = sock::sendSome(s_, data.data() + at, data.size() - at);
            if (n <= 0) return false;
            at += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads until n bytes came, the peer closed, or 5 s passed; the result
    // of the last recv is left in `last`.
    Bytes receive(size_t n) {
        Bytes got;
        const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
        while (got.size() < n && Clock::now() < end) {
            if (sock::waitReadable(s_, 100) != sock::Wait::Ready) continue;
            uint8_t buf[4096];
            last = sock::recvSome(s_, buf, sizeof buf);
            if (last < 0) error = sock::lastError();
            if (last <= 0) break;
            got.insert(got.end(), buf, buf + last);
        }
        return got;
    }

    long last = 1;
    int error = 0;
    sock::Handle s_;
};

TEST(LoopbackServer, ListensOnAFreeLoopbackPort) {
    LoopbackServer one, two;
    EXPECT_NE(one.port(), 0);
    EXPECT_NE(one.port(), two.port());
    PlainClient client(one.port());
    ASSERT_TRUE(client.connected());
    EXPECT_NE(one.accept(2000), nullptr);
}

TEST(LoopbackServer, AcceptTimesOutWhenNobodyConnects) {
    LoopbackServer server;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(server.accept(100), nullptr);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
}

TEST(LoopbackServer, RefusesConnectionsOnceClosed) {
    LoopbackServer server;
    const uint16_t port = server.port();
    server.close();
    PlainClient client(port);
    EXPECT_FALSE(client.connected());
    EXPECT_EQ(server.accept(10), nullptr);
}

TEST(TcpConnection, CarriesEveryByteValueBothWays) {
    LoopbackServer server;
    PlainClient client(server.port());
    ASSERT_TRUE(client.connected());
    auto conn = server.accept(2000);
    ASSERT_NE(conn, nullptr);

    // Both directions at once, larger than the socket buffers, so neither
    // side may wait for the other to finish first.
    const Bytes up = model::randomStream(512 * 1024, 1);
    const Bytes down = model::randomStream(512 * 1024, 2);
    bool sentUp = false;
    std::thread uploader([&] { sentUp = client.sendAll(up); });
    bool sentDown = false;
    std::thread downloader([&] { sentDown = conn->send(down); });
    Bytes gotUp;
    EXPECT_EQ(conn->receiveExactly(gotUp, up.size(), 10000), Status::Data);
    const Bytes gotDown = client.receive(down.size());
    uploader.join();
    downloader.join();
    EXPECT_TRUE(sentUp);
    EXPECT_TRUE(sentDown);
    EXPECT_TRUE(gotUp == up) << gotUp.size() << " bytes arrived";
    EXPECT_TRUE(gotDown == down) << gotDown.size() << " bytes arrived";
}

TEST(TcpConnection, ReceiveReturnsWhatCameOrTimesOut) {
    LoopbackServer server;
    PlainClient client(server.port());
    auto conn = server.accept(2000);
    ASSERT_NE(conn, nullptr);

    Bytes got;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(conn->receive(got, 100), Status::Timeout);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_TRUE(got.empty());

    ASSERT_TRUE(client.sendAll({'a', 'b', 'c'}));
    EXPECT_EQ(conn->receiveExactly(got, 3, 2000), Status::Data);
    EXPECT_EQ(got, Bytes({'a', 'b', 'c'}));
    // Fewer bytes than asked for: the time runs out, what came is kept.
    ASSERT_TRUE(client.sendAll({'d'}));
    EXPECT_EQ(conn->receiveExactly(got, 2, 200), Status::Timeout);
    EXPECT_EQ(got, Bytes({'a', 'b', 'c', 'd'}));
}

TEST(TcpConnection, SeesThePeerCloseAfterItsLastBytes) {
    LoopbackServer server;
    auto client = std::make_unique<PlainClient>(server.port());
    auto conn = server.accept(2000);
    ASSERT_NE(conn, nullptr);
    ASSERT_TRUE(client->sendAll({'b', 'y', 'e'}));
    client.reset();

    Bytes got;
    EXPECT_EQ(conn->receiveExactly(got, 10, 2000), Status::Closed);
    EXPECT_EQ(got, Bytes({'b', 'y', 'e'}));
    EXPECT_EQ(conn->waitClosed(100), Status::Closed);
}

TEST(TcpConnection, CloseEndsTheStreamInOrder) {
    LoopbackServer server;
    PlainClient client(server.port());
    auto conn = server.accept(2000);
    ASSERT_NE(conn, nullptr);
    ASSERT_TRUE(conn->send(std::string("last words")));
    conn->close();
    EXPECT_FALSE(conn->open());
    EXPECT_FALSE(conn->send(std::string("x")));

    const Bytes got = client.receive(100);
    EXPECT_EQ(std::string(got.begin(), got.end()), "last words");
    EXPECT_EQ(client.last, 0) << "no end of stream";
}

TEST(TcpConnection, AbortResetsTheConnection) {
    LoopbackServer server;
    PlainClient client(server.port());
    auto conn = server.accept(2000);
    ASSERT_NE(conn, nullptr);
    conn->abort();

    client.receive(1);
    if (!sock::abortiveCloseResets()) {
        EXPECT_EQ(client.last, 0) << "the connection did not end";
        return;
    }
    EXPECT_LT(client.last, 0) << "an orderly close, not a reset";
    EXPECT_TRUE(sock::isReset(client.error)) << sock::errorText(client.error);
}

TEST(TcpConnection, ConnectsToALoopbackServerAndReportsARefusal) {
    LoopbackServer server;
    std::string error;
    auto client = TcpConnection::connect(server.port(), &error);
    ASSERT_NE(client, nullptr) << error;
    auto conn = server.accept(2000);
    ASSERT_NE(conn, nullptr);
    ASSERT_TRUE(client->send(std::string("ping")));
    Bytes got;
    EXPECT_EQ(conn->receiveExactly(got, 4, 2000), Status::Data);

    const uint16_t port = server.port();
    server.close();
    EXPECT_EQ(TcpConnection::connect(port, &error), nullptr);
    EXPECT_NE(error.find(std::to_string(port)), std::string::npos) << error;
}

TEST(TcpConnection, ReportsAResetByThePeer) {
    LoopbackServer server;
    auto client = TcpConnection::connect(server.port());
    ASSERT_NE(client, nullptr);
    auto conn = server.accept(2000);
    ASSERT_NE(conn, nullptr);
    client->abort();
    Bytes got;
    if (!sock::abortiveCloseResets()) {
        EXPECT_EQ(conn->receive(got, 2000), Status::Closed);
        return;
    }
    EXPECT_EQ(conn->receive(got, 2000), Status::Failed);
    EXPECT_TRUE(sock::isReset(conn->error())) << conn->errorText();
}

}  // namespace
}  // namespace rig
