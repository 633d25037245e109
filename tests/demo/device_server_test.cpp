// The demo's RFC 2217 device server with a raw TCP client on one side and
// the far end of its serial line on the other; and the demo ports with
// their configuration.
#include "tester/demo/device_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "netserial/telnet_codec.h"
#include "tester/demo/cable.h"
#include "tester/demo/demo_ports.h"
#include "tester/demo/line_format.h"
#include "tester/demo/memory_cable.h"
#include "tester/demo/modem_link.h"
#include "tests/support/tcp_server.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kLong = 10000;  // catches hangs, not timing

constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253;

// The far end of the server's line: port B of the cable, opened raw.
class FarEnd {
  public:
    explicit FarEnd(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~FarEnd() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool Write(const Bytes& bytes) {
        return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads until `n` bytes came or the time ran out.
    Bytes Read(size_t n, int timeoutMs = kLong) {
        Bytes got;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t buffer[4096];
            const ssize_t r = read(fd_, buffer, sizeof buffer);
            if (r > 0) got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }

  private:
    int fd_;
};

struct Rig {
    demo::NullModemCable line;  // unpaced: these tests are about bytes, not time
    demo::DeviceServer server{line.pathA(), 115200};
    FarEnd far{line.pathB()};
};

// The server serves a client once it has accepted it.
bool WaitForClients(const demo::DeviceServer& server, uint32_t count) {
    for (int i = 0; i < 1000 && server.Clients() < count; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return server.Clients() == count;
}

std::unique_ptr<rig::TcpConnection> Connect(const demo::DeviceServer& server) {
    std::string error;
    auto client = rig::TcpConnection::connect(server.Port(), &error);
    EXPECT_NE(client, nullptr) << error;
    return client;
}

TEST(DeviceServer, UnframesTheClientsStreamOntoTheLine) {
    Rig rig;
    ASSERT_TRUE(rig.far.ok());
    EXPECT_EQ(rig.server.PortName(), "127.0.0.1:" + std::to_string(rig.server.Port()));
    auto client = Connect(rig.server);
    ASSERT_NE(client, nullptr);

    // What the library sends: the opening negotiation, a SET-BAUDRATE,
    // then data with a doubled 255, a command between data bytes, more data.
    const Bytes stream = {IAC, DO, 0,   IAC, WILL, 44, IAC, DO,  44,  IAC, SB,  44, 1,
                          0,   1,  194, 0,   IAC,  SE, 'a', IAC, IAC, 'b', IAC, SB, 44,
                          12,  3,  IAC, SE,  'c',  0,  IAC, IAC, IAC, IAC, 'd'};
    ASSERT_TRUE(client->send(stream));
    const Bytes payload = {'a', 255, 'b', 'c', 0, 255, 255, 'd'};
    EXPECT_EQ(rig.far.Read(payload.size()), payload);
    EXPECT_EQ(rig.server.ToLine(), payload.size());
}

TEST(DeviceServer, DoublesEvery255OnTheWayToTheClient) {
    Rig rig;
    auto client = Connect(rig.server);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(WaitForClients(rig.server, 1));

    Bytes line(3000);
    for (size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(rig.far.Write(line));
    Bytes framed;
    for (uint8_t b : line) {
        framed.push_back(b);
        if (b == 255) framed.push_back(255);
    }
    Bytes got;
    EXPECT_EQ(client->receiveExactly(got, framed.size(), kLong), rig::TcpConnection::Status::Data);
    EXPECT_EQ(got, framed);
}

TEST(DeviceServer, TheClientsFlowControlHoldsTheLinesData) {
    Rig rig;
    auto client = Connect(rig.server);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(WaitForClients(rig.server, 1));

    // FLOWCONTROL-SUSPEND, as the library sends it when its ring fills.
    ASSERT_TRUE(client->send(Bytes{IAC, SB, 44, 8, IAC, SE, 'x'}));
    ASSERT_EQ(rig.far.Read(1), Bytes{'x'});  // the command was taken
    ASSERT_TRUE(rig.far.Write(Bytes{'h', 'e', 'l', 'd'}));
    Bytes got;
    EXPECT_EQ(client->receive(got, 300), rig::TcpConnection::Status::Timeout);
    EXPECT_TRUE(got.empty());

    // FLOWCONTROL-RESUME lets it come.
    ASSERT_TRUE(client->send(Bytes{IAC, SB, 44, 9, IAC, SE}));
    EXPECT_EQ(client->receiveExactly(got, 4, kLong), rig::TcpConnection::Status::Data);
    EXPECT_EQ(got, (Bytes{'h', 'e', 'l', 'd'}));
}

// The operator's settings reach the network pair's line: the speed and the
// stop bits are set on the server's tty (the cable paces by them), every
// command is answered with the value in force, and a query (speed 0)
// changes nothing.
TEST(DeviceServer, FollowsTheClientsLineSettingsAndAnswersThem) {
    Rig rig;
    auto client = Connect(rig.server);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(WaitForClients(rig.server, 1));

    ASSERT_TRUE(client->send(Bytes{IAC, SB, 44, 1, 0, 0,   37, 128, IAC, SE,  // 9600
                                   IAC, SB, 44, 4, 2, IAC, SE,                // two stop bits
                                   IAC, SB, 44, 1, 0, 0,   0,  0,   IAC, SE,  // query
                                   IAC, SB, 44, 2, 7, IAC, SE}));             // 7 data bits
    const Bytes answers = {IAC, SB, 44, 101, 0, 0, 37, 128, IAC, SE, IAC, SB, 44, 104, 2, IAC, SE,
                           IAC, SB, 44, 101, 0, 0, 37, 128, IAC, SE, IAC, SB, 44, 102, 7, IAC, SE};
    Bytes got;
    ASSERT_EQ(client->receiveExactly(got, answers.size(), kLong), rig::TcpConnection::Status::Data);
    EXPECT_EQ(got, answers);

    const int line = open(rig.line.pathA().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(line, 0);
    demo::LineFormat format;
    EXPECT_TRUE(demo::readLineFormat(line, format));
    close(line);
    EXPECT_EQ(format.baud, 9600u);
    EXPECT_EQ(format.stopBits, 2u);
}

TEST(DeviceServer, ServesOneClientAtATimeAndTheNextOneAfterIt) {
    Rig rig;
    auto first = Connect(rig.server);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitForClients(rig.server, 1));

    auto second = Connect(rig.server);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->waitClosed(kLong), rig::TcpConnection::Status::Timeout);
    EXPECT_EQ(rig.server.Clients(), 1u);

    // Without a client, the line's data is dropped, not kept for the next.
    first->close();
    for (int i = 0; i < 1000 && rig.server.HasClient(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(rig.server.HasClient());
    ASSERT_TRUE(rig.far.Write(Bytes{'o', 'l', 'd'}));
    for (int i = 0; i < 1000 && rig.server.Dropped() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(rig.server.Dropped(), 3u);

    auto third = Connect(rig.server);
    ASSERT_NE(third, nullptr);
    ASSERT_TRUE(third->send(Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(rig.far.Read(3), (Bytes{'n', 'e', 'w'}));
    ASSERT_TRUE(rig.far.Write(Bytes{'!'}));
    Bytes got;
    EXPECT_EQ(third->receiveExactly(got, 1, kLong), rig::TcpConnection::Status::Data);
    EXPECT_EQ(got, Bytes{'!'});
    EXPECT_EQ(rig.server.Clients(), 2u);
}

// The two ports of the server on the two ends of one cable, with their
// modem lines joined as a null-modem cable joins them: one side's client
// sets DTR and RTS (SET-CONTROL), the other side's client hears what its
// port sees (NOTIFY-MODEMSTATE: CTS from RTS, DSR and DCD from DTR, with
// RFC 2217's delta bits), once it has set its mask and at every change.
TEST(DeviceServer, JoinsTheModemLinesOfItsTwoPortsAsANullModemCable) {
    demo::NullModemCable line;
    demo::ModemLink link;
    demo::DeviceServer a(line.pathA(), 115200, &link, 0);
    demo::DeviceServer b(line.pathB(), 115200, &link, 1);
    auto clientA = Connect(a);
    ASSERT_NE(clientA, nullptr);
    ASSERT_TRUE(WaitForClients(a, 1));
    auto expect = [](rig::TcpConnection& client, const Bytes& bytes) {
        Bytes got;
        client.receiveExactly(got, bytes.size(), kLong);
        EXPECT_EQ(got, bytes);
    };
    auto notify = [](uint8_t value) { return Bytes{IAC, SB, 44, 107, value, IAC, SE}; };

    // The mask is answered, then the state follows: the far port is closed.
    ASSERT_TRUE(clientA->send(Bytes{IAC, SB, 44, 11, IAC, IAC, IAC, SE}));
    expect(*clientA, {IAC, SB, 44, 111, IAC, IAC, IAC, SE});
    expect(*clientA, notify(0x00));

    // A client on B opens its port, which raises its lines: CTS, DSR and
    // DCD come on at A, each with its delta bit.
    auto clientB = Connect(b);
    ASSERT_NE(clientB, nullptr);
    expect(*clientA, notify(0xB0 | 0x0B));
    EXPECT_TRUE(link.Dtr(1));

    // B drops RTS: answered with the value in force; A loses CTS alone.
    ASSERT_TRUE(clientB->send(Bytes{IAC, SB, 44, 5, 12, IAC, SE}));
    expect(*clientB, {IAC, SB, 44, 105, 12, IAC, SE});
    expect(*clientA, notify(0xA0 | 0x01));
    // A's own lines reach B, which has asked for no notifications: B hears
    // nothing of them, but can ask for its own lines' state.
    ASSERT_TRUE(clientA->send(Bytes{IAC, SB, 44, 5, 9, IAC, SE}));
    expect(*clientA, {IAC, SB, 44, 105, 9, IAC, SE});
    EXPECT_FALSE(link.Dtr(0));
    EXPECT_EQ(link.InputsOf(1), 0x10) << "CTS from A's RTS, which its opening raised";
    ASSERT_TRUE(clientB->send(Bytes{IAC, SB, 44, 5, 7, IAC, SE, IAC, SB, 44, 5, 10, IAC, SE}));
    expect(*clientB, {IAC, SB, 44, 105, 8, IAC, SE, IAC, SB, 44, 105, 12, IAC, SE});

    // B's client goes: its port closes and drops its lines.
    clientB->close();
    expect(*clientA, notify(0x0A));
    Bytes more;
    EXPECT_EQ(clientA->receive(more, 200), rig::TcpConnection::Status::Timeout)
        << "no notification without a change";
}

// What a client hears from the server: the payload, and the notifications
// and flow-control requests among it, as the library's scanner takes them.
struct Heard : qelnet::TelnetSink {
    Bytes data;
    std::vector<uint8_t> lineStates;
    std::vector<uint8_t> modemStates;
    int pauses = 0;
    int goes = 0;
    qelnet::TelnetScanner scanner;

    void onLineState(uint8_t value) override { lineStates.push_back(value); }
    void onModemState(uint8_t value) override { modemStates.push_back(value); }
    void onServerFlow(bool allowed) override { ++(allowed ? goes : pauses); }

    // Takes what comes until `done` holds or kLong ran out.
    bool Until(rig::TcpConnection& client, const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLong);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            Bytes got;
            client.receive(got, 20);
            const size_t n = scanner.scan(got.data(), got.size(), got.data(), *this);
            data.insert(data.end(), got.begin(), got.begin() + static_cast<ptrdiff_t>(n));
        }
        return true;
    }
    // Takes what comes for `ms`.
    void For(rig::TcpConnection& client, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        Until(client, [&] { return std::chrono::steady_clock::now() >= end; });
    }
    bool SawLineState(uint8_t bit) const {
        for (uint8_t v : lineStates)
            if (v & bit) return true;
        return false;
    }
};

Bytes Pattern(size_t n) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(i % 251);  // no 255, no XON or XOFF at 17 and 19...
    for (uint8_t& b : bytes)
        if (b == 0x11 || b == 0x13) b = 0x20;  // ...none at all
    return bytes;
}

Bytes Command(uint8_t code, std::initializer_list<uint8_t> value) {
    Bytes bytes = {IAC, SB, 44, code};
    bytes.insert(bytes.end(), value);
    bytes.insert(bytes.end(), {IAC, SE});
    return bytes;
}

// A UART keeps what its buffer holds for a client that does not take it,
// and loses the rest with an overrun it reports; the client gets every
// byte that was kept, in order, once it takes them again.
TEST(DeviceServer, ALineNobodyTakesOverrunsAndSaysSo) {
    Rig rig;
    ASSERT_TRUE(rig.far.ok());
    auto client = Connect(rig.server);
    ASSERT_NE(client, nullptr);
    ASSERT_TRUE(WaitForClients(rig.server, 1));
    ASSERT_TRUE(client->send(Command(10, {IAC, IAC})));  // every line condition
    ASSERT_TRUE(client->send(Command(8, {})));           // and no data for now
    Heard heard;
    heard.For(*client, 100);

    const Bytes sent = Pattern(demo::UartModel::kReceiveBuffer + 5000);
    for (size_t at = 0; at < sent.size();) {
        const ssize_t n = write(rig.far.fd(), sent.data() + at, sent.size() - at);
        if (n > 0) at += static_cast<size_t>(n);
        if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(heard.Until(*client, [&] { return heard.SawLineState(demo::kLineOverrun); }));
    ASSERT_TRUE(heard.Until(*client, [&] { return rig.server.Overrun() == 5000; }));
    EXPECT_TRUE(heard.data.empty()) << "held while the client said so";
    EXPECT_FALSE(heard.SawLineState(demo::kLineBreak | demo::kLineParityError));

    ASSERT_TRUE(client->send(Command(9, {})));
    ASSERT_TRUE(heard.Until(*client, [&] { return heard.data.size() >= 65536; }));
    heard.For(*client, 200);
    EXPECT_TRUE(heard.data == Bytes(sent.begin(), sent.begin() + 65536)) << "the first 64 KiB";
}

// Two ports of the server on one cable, each with a raw client, as the
// demo's network pairs are: on Linux a pseudo-terminal cable, on Windows
// the cable inside the program. What a handshake does across the link.
struct LinkedPair {
    explicit LinkedPair(bool inMemory) {
        std::unique_ptr<demo::DeviceLine> ends[2];
        if (inMemory) {
            auto cable = demo::MakeMemoryCable(115200);
            ends[0] = std::move(cable.first);
            ends[1] = std::move(cable.second);
        } else {
            pty = std::make_unique<demo::NullModemCable>();
            ends[0] = demo::OpenTtyLine(pty->pathA(), 115200);
            ends[1] = demo::OpenTtyLine(pty->pathB(), 115200);
        }
        a = std::make_unique<demo::DeviceServer>(std::move(ends[0]), 115200, &link, 0);
        b = std::make_unique<demo::DeviceServer>(std::move(ends[1]), 115200, &link, 1);
        clientA = Connect(*a);
        clientB = Connect(*b);
    }

    std::unique_ptr<demo::NullModemCable> pty;
    demo::ModemLink link;
    std::unique_ptr<demo::DeviceServer> a, b;
    std::unique_ptr<rig::TcpConnection> clientA, clientB;
    Heard heardA, heardB;

    bool Ready() { return clientA && clientB && WaitForClients(*a, 1) && WaitForClients(*b, 1); }
    // Both ports set up alike: 921600 bit/s (the transmitter's pace under
    // a handshake), every notification, `control` and `parity`.
    void SetUp(uint8_t control, uint8_t parity = 1) {
        for (auto* client : {clientA.get(), clientB.get()}) {
            client->send(Command(1, {0x00, 0x0E, 0x10, 0x00}));
            client->send(Command(10, {IAC, IAC}));
            client->send(Command(11, {IAC, IAC}));
            client->send(Command(5, {control}));
            client->send(Command(3, {parity}));
        }
        heardA.For(*clientA, 100);
        heardB.For(*clientB, 100);
    }
};

// B stops taking data while A sends 100 KiB. With RTS/CTS or XON/XOFF the
// UART at B holds A's transmitter off (A's client is told to pause, and
// with RTS/CTS sees its CTS go), nothing is lost, and once B takes data
// again every byte arrives in order. A server that ignores the handshake
// lets A send on, and B's UART overruns.
TEST(DeviceServer, AHandshakeHoldsTheFarEndOffAcrossTheLink) {
    const Bytes sent = Pattern(100 * 1024);
    for (int run = 0; run < 8; ++run) {
        const uint8_t control = run & 1 ? 2 : 3;
        const bool ignored = (run & 2) != 0;
        const bool inMemory = (run & 4) != 0;
        {
            SCOPED_TRACE(std::string(control == 3 ? "RTS/CTS" : "XON/XOFF") +
                         (ignored ? ", ignored" : "") + (inMemory ? ", in memory" : ", ptys"));
            LinkedPair pair(inMemory);
            ASSERT_TRUE(pair.Ready());
            pair.a->SetFaultsForTesting({ignored, false, false});
            pair.b->SetFaultsForTesting({ignored, false, false});
            pair.SetUp(control);
            ASSERT_TRUE(pair.clientB->send(Command(8, {})));
            std::thread sender([&] { pair.clientA->send(sent); });

            if (!ignored) {
                ASSERT_TRUE(
                    pair.heardA.Until(*pair.clientA, [&] { return pair.heardA.pauses > 0; }));
                if (control == 3) {
                    ASSERT_TRUE(pair.heardA.Until(*pair.clientA, [&] {
                        return !pair.heardA.modemStates.empty() &&
                               (pair.heardA.modemStates.back() & 0x10) == 0;
                    })) << "CTS off";
                }
                // Held: what A's port took stops growing, long before the
                // 100 KiB are through, and stays so.
                uint64_t crossed = 0;
                for (int still = 0; still < 5; ++still) {
                    if (pair.a->ToLine() != crossed) still = 0;
                    crossed = pair.a->ToLine();
                    pair.heardA.For(*pair.clientA, 100);
                }
                EXPECT_LT(crossed, sent.size() / 2);
                pair.heardA.For(*pair.clientA, 500);
                EXPECT_EQ(pair.a->ToLine(), crossed);
            } else {
                ASSERT_TRUE(
                    pair.heardB.Until(*pair.clientB, [&] { return pair.b->Overrun() > 0; }));
                ASSERT_TRUE(pair.heardB.Until(
                    *pair.clientB, [&] { return pair.heardB.SawLineState(demo::kLineOverrun); }));
                EXPECT_EQ(pair.heardA.pauses, 0);
            }
            ASSERT_TRUE(pair.clientB->send(Command(9, {})));
            const size_t kept = ignored ? 65536 : sent.size();
            EXPECT_TRUE(pair.heardB.Until(*pair.clientB, [&] {
                return pair.heardB.data.size() + pair.b->Overrun() >= sent.size() &&
                       pair.heardB.data.size() >= kept;
            }));
            sender.join();
            if (!ignored) {
                EXPECT_TRUE(pair.heardB.data == sent) << pair.heardB.data.size() << " bytes";
                EXPECT_EQ(pair.b->Overrun(), 0u);
                EXPECT_FALSE(pair.heardB.SawLineState(demo::kLineOverrun));
                EXPECT_TRUE(pair.heardA.Until(*pair.clientA, [&] { return pair.heardA.goes > 0; }));
            } else {
                EXPECT_EQ(pair.heardB.data.size() + pair.b->Overrun(), sent.size());
            }
        }
    }
}

// A break on one side's line is reported at the other side, and
// characters sent with a parity the far end does not share arrive with
// parity errors; faults a test sets keep either from being reported.
TEST(DeviceServer, BreaksAndParityErrorsReachTheFarEnd) {
    for (int run = 0; run < 4; ++run) {
        const bool faulty = (run & 1) != 0;
        const bool inMemory = (run & 2) != 0;
        SCOPED_TRACE(std::string(faulty ? "with faults" : "sound") +
                     (inMemory ? ", in memory" : ", ptys"));
        LinkedPair pair(inMemory);
        ASSERT_TRUE(pair.Ready());
        pair.a->SetFaultsForTesting({false, faulty, faulty});
        pair.b->SetFaultsForTesting({false, faulty, faulty});
        pair.SetUp(1, 3);  // no flow control, even parity
        ASSERT_TRUE(pair.clientA->send(Command(5, {5})));
        ASSERT_TRUE(pair.clientA->send(Command(5, {4})));  // the break's state: on
        ASSERT_TRUE(pair.clientA->send(Command(5, {6})));
        ASSERT_TRUE(pair.clientA->send(Command(5, {4})));  // and off
        Bytes answers;
        ASSERT_EQ(pair.clientA->receiveExactly(answers, 28, kLong),
                  rig::TcpConnection::Status::Data);
        EXPECT_EQ(answers, (Bytes{IAC, SB, 44, 105, 5, IAC, SE, IAC, SB, 44, 105, 5, IAC, SE,
                                  IAC, SB, 44, 105, 6, IAC, SE, IAC, SB, 44, 105, 6, IAC, SE}));
        if (!faulty) {
            ASSERT_TRUE(pair.heardB.Until(
                *pair.clientB, [&] { return pair.heardB.SawLineState(demo::kLineBreak); }));
            EXPECT_EQ(pair.heardB.lineStates, std::vector<uint8_t>{demo::kLineBreak});
        }

        // Alike: clean. A odd, B even: every character flagged, and still
        // delivered as it came.
        ASSERT_TRUE(pair.clientA->send(Bytes{'a', 'b'}));
        ASSERT_TRUE(pair.heardB.Until(*pair.clientB, [&] { return pair.heardB.data.size() == 2; }));
        ASSERT_TRUE(pair.clientA->send(Command(3, {2})));
        ASSERT_TRUE(pair.clientA->send(Bytes{'c', 'd'}));
        ASSERT_TRUE(pair.heardB.Until(*pair.clientB, [&] { return pair.heardB.data.size() == 4; }));
        if (!faulty) {
            ASSERT_TRUE(pair.heardB.Until(
                *pair.clientB, [&] { return pair.heardB.SawLineState(demo::kLineParityError); }));
        }
        pair.heardB.For(*pair.clientB, 300);
        EXPECT_EQ(pair.heardB.data, (Bytes{'a', 'b', 'c', 'd'}));
        const std::vector<uint8_t> reported = {demo::kLineBreak, demo::kLineParityError};
        EXPECT_EQ(pair.heardB.lineStates, faulty ? std::vector<uint8_t>() : reported);
        EXPECT_TRUE(pair.heardA.lineStates.empty()) << "the sender's UART saw nothing wrong";
    }
}

TEST(DemoPorts, ListsItsPortsInAFreshDirectoryAndTidiesUp) {
    char pattern[] = "/tmp/vesk-demo-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string root = pattern;
    setenv("TMPDIR", root.c_str(), 1);

    std::string directory;
    {
        std::string error;
        demo::DemoPorts::Options options;
        options.pairs = 2;
        options.networkPair = true;
        auto ports = demo::DemoPorts::Create(options, error);
        ASSERT_NE(ports, nullptr) << error;
        directory = ports->Directory();
        EXPECT_EQ(directory.rfind(root + "/vesktest-demo.", 0), 0u) << directory;
        ASSERT_EQ(ports->PortNames().size(), 6u);
        EXPECT_TRUE(ports->HasNetworkPair());
        EXPECT_EQ(ports->PortNames()[4].rfind("127.0.0.1:", 0), 0u);
        EXPECT_EQ(ports->PortNames()[5].rfind("127.0.0.1:", 0), 0u) << "both ends";

        std::ifstream file(ports->ConfigPath());
        std::stringstream text;
        text << file.rdbuf();
        EXPECT_EQ(text.str(), demo::DemoConfigurationText(ports->PortNames(), 2, 1));
        EXPECT_NE(text.str().find("[Ports]\n" + ports->PortNames()[0] + "\n"), std::string::npos);
        EXPECT_NE(text.str().find("BaudRate=115200\n"), std::string::npos);
        EXPECT_NE(text.str().find("HDTimeout=0\n"), std::string::npos);
        for (const std::string& name : ports->PortNames()) {
            if (name[0] == '/') {
                EXPECT_EQ(access(name.c_str(), R_OK | W_OK), 0) << name;
            }
        }
    }
    EXPECT_FALSE(std::filesystem::exists(directory));

    {
        std::string error;
        demo::DemoPorts::Options options;
        options.pairs = 1;
        auto ports = demo::DemoPorts::Create(options, error);
        ASSERT_NE(ports, nullptr) << error;
        EXPECT_EQ(ports->PortNames().size(), 2u);
        ports->KeepDirectory();
        directory = ports->Directory();
    }
    EXPECT_TRUE(std::filesystem::exists(directory + "/vesktestw.ini"));
    std::filesystem::remove_all(root);
    unsetenv("TMPDIR");
}

}  // namespace
