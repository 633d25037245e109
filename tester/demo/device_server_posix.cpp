#include "tester/demo/device_server.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "netserial/telnet_codec.h"
#include "tester/demo/line_format.h"
#include "tester/demo/modem_link.h"

namespace demo {

namespace {

constexpr size_t kChunk = 4096;

// SET-CONTROL values that ask for the state of DTR and of RTS.
constexpr uint8_t kDtrQuery = 7;
constexpr uint8_t kRtsQuery = 10;

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// A device server's buffers are a few KB, not the megabytes a loopback
// socket grows to: small socket buffers (inherited by the accepted
// connection) keep the client's writes within a few KB of the line, as
// with the real thing, instead of the line running on for many seconds
// after the client stopped sending.
constexpr int kSocketBuffer = 4096;

int ListenLoopback(uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail("socket");
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        Fail("listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// The client's side of the session: its socket, what waits to go each way,
// and whether it lets the line's data come.
struct Session : qelnet::TelnetSink {
    Session(int lineFd, uint32_t baudRate, ModemLink* modemLink, int linkSide)
        : line(lineFd), baud(baudRate), link(modemLink), side(linkSide) {}

    const int line;
    uint32_t baud;  // the line's speed, as the client last set it
    ModemLink* const link;
    const int side;
    uint8_t modemMask = 0;  // the client's SET-MODEMSTATE-MASK
    int modemSent = -1;     // the modem state the client last heard of; -1: none yet
    int fd = -1;
    qelnet::TelnetScanner scanner;
    std::vector<uint8_t> toLine;
    size_t toLinePos = 0;
    std::vector<uint8_t> toClient;
    size_t toClientPos = 0;
    bool flowAllowed = true;

    bool LinePending() const { return toLinePos < toLine.size(); }
    bool ClientPending() const { return toClientPos < toClient.size(); }

    void onLineState(uint8_t) override {}
    void onModemState(uint8_t) override {}
    // The scanner reports the client's FLOWCONTROL-SUSPEND and -RESUME
    // (codes 8 and 9) as the peer's flow control, whichever side sent them.
    void onServerFlow(bool allowed) override { flowAllowed = allowed; }

    // The line commands, answered as RFC 2217 asks (the code plus 100 and
    // the value now in force). The speed and the stop bits reach the line,
    // so the demo cable paces the network pair as the operator set it; a
    // pseudo-terminal cannot hold data bits or parity (it stays 8N), so
    // those are acknowledged as asked, as ser2net does over a pty.
    void onComPortCommand(uint8_t code, const uint8_t* value, size_t length) override {
        using namespace qelnet::telnet;
        std::vector<uint8_t> answer(value, value + length);
        switch (code) {
            case kSetBaudRate: {
                const uint32_t asked = static_cast<uint32_t>(value[0]) << 24 |
                                       static_cast<uint32_t>(value[1]) << 16 |
                                       static_cast<uint32_t>(value[2]) << 8 | value[3];
                if (asked != 0 && SetLineSpeed(line, asked)) baud = asked;
                answer = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                          static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
                break;
            }
            case kSetStopSize:
                if (value[0] != 0) SetStopBits(line, value[0] == 1 ? 1 : 2);
                break;
            case kPurgeData:
                // 1: what the line has received; 2: what waits to go out on
                // it; 3: both. Only the tty's queues: payload that came in
                // the same segment as the command is not the line's yet.
                if (value[0] & 1) tcflush(line, TCIFLUSH);
                if (value[0] & 2) tcflush(line, TCOFLUSH);
                break;
            case kSetControl:
                if (link) answer[0] = Control(value[0]);
                break;
            case kSetModemStateMask:
                modemMask = value[0];
                break;
            default:
                break;
        }
        Answer(static_cast<uint8_t>(code + 100), answer);
        // The state as it is now, once the client has said what it wants
        // to hear of: it starts from nothing (the library from all off).
        if (code == kSetModemStateMask) NotifyModem(true);
    }

    // SET-CONTROL on the linked lines; the value RFC 2217 answers with.
    uint8_t Control(uint8_t value) {
        using namespace qelnet::telnet;
        switch (value) {
            case kControlDtrOn:
            case kControlDtrOff:
                link->SetDtr(side, value == kControlDtrOn);
                return value;
            case kControlRtsOn:
            case kControlRtsOff:
                link->SetRts(side, value == kControlRtsOn);
                return value;
            case kDtrQuery:
                return link->Dtr(side) ? kControlDtrOn : kControlDtrOff;
            case kRtsQuery:
                return link->Rts(side) ? kControlRtsOn : kControlRtsOff;
            default:
                return value;
        }
    }

    // Tells the client what its port's modem lines are when that changed
    // (or `force`): NOTIFY-MODEMSTATE with the lines in the upper four
    // bits and what changed since the last one in the lower four (delta
    // CTS, delta DSR, RI's trailing edge, delta DCD), under its mask.
    void NotifyModem(bool force) {
        if (!link || fd < 0) return;
        const uint8_t state = link->InputsOf(side);
        if (!force && state == modemSent) return;
        const uint8_t before = modemSent < 0 ? 0 : static_cast<uint8_t>(modemSent);
        const uint8_t changed = static_cast<uint8_t>(state ^ before);
        uint8_t deltas = 0;
        if (changed & 0x10) deltas |= 0x01;
        if (changed & 0x20) deltas |= 0x02;
        if ((before & 0x40) && !(state & 0x40)) deltas |= 0x04;
        if (changed & 0x80) deltas |= 0x08;
        modemSent = state;
        if (modemMask == 0) return;
        Answer(qelnet::telnet::kNotifyModemState,
               {static_cast<uint8_t>((state | deltas) & modemMask)});
    }

    // A client connected: the port is opened for it, which raises its
    // lines; one that goes drops them.
    void Opened(int client) {
        fd = client;
        if (link) link->SetBoth(side, true);
    }

    void Answer(uint8_t code, const std::vector<uint8_t>& value) {
        std::vector<uint8_t> escaped(value.size() * 2);
        escaped.resize(qelnet::EscapeIac(escaped.data(), value.data(), value.size()));
        toClient.insert(toClient.end(), {255, 250, 44, code});
        toClient.insert(toClient.end(), escaped.begin(), escaped.end());
        toClient.insert(toClient.end(), {255, 240});
    }

    void Reset() {
        CloseFd(fd);
        if (link) link->SetBoth(side, false);
        modemMask = 0;
        modemSent = -1;
        scanner = qelnet::TelnetScanner();
        toLine.clear();
        toLinePos = 0;
        toClient.clear();
        toClientPos = 0;
        flowAllowed = true;
    }
};

// Writes what is pending without blocking; false when the fd failed.
bool Flush(int fd, std::vector<uint8_t>& bytes, size_t& pos, bool socket) {
    while (pos < bytes.size()) {
        const ssize_t n = socket ? send(fd, bytes.data() + pos, bytes.size() - pos, MSG_NOSIGNAL)
                                 : write(fd, bytes.data() + pos, bytes.size() - pos);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        pos += static_cast<size_t>(n);
    }
    bytes.clear();
    pos = 0;
    return true;
}

}  // namespace

bool DeviceServerAvailable() {
    return true;
}

DeviceServer::DeviceServer(const std::string& linePath, uint32_t baudRate, ModemLink* link,
                           int side)
    : link_(link), side_(side) {
    try {
        line_ = open(linePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (line_ < 0) Fail("open the device server's line");
        if (!SetLineSpeed(line_, baudRate)) Fail("set the device server's line speed");
        baudRate_ = baudRate;
        listener_ = ListenLoopback(port_);
        wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake_ < 0) Fail("eventfd");
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        CloseFd(wake_);
        CloseFd(listener_);
        CloseFd(line_);
        throw;
    }
}

DeviceServer::~DeviceServer() {
    const uint64_t one = 1;
    ssize_t ignored = write(wake_, &one, sizeof one);
    (void)ignored;
    thread_.join();
    CloseFd(wake_);
    CloseFd(listener_);
    CloseFd(line_);
}

std::string DeviceServer::PortName() const {
    return "127.0.0.1:" + std::to_string(port_);
}

void DeviceServer::Run() {
    Session session(line_, baudRate_, link_, side_);
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
        const bool connected = session.fd >= 0;
        pollfd fds[5] = {{wake_, POLLIN, 0},
                         {listener_, POLLIN, 0},
                         {line_, 0, 0},
                         {-1, 0, 0},
                         {link_ ? link_->WakeFd(side_) : -1, POLLIN, 0}};
        // The line is read only when its bytes have somewhere to go (or,
        // without a client, to be dropped), written when payload waits.
        if (!connected || (!session.ClientPending() && session.flowAllowed))
            fds[2].events |= POLLIN;
        if (session.LinePending()) fds[2].events |= POLLOUT;
        if (connected) {
            fds[3].fd = session.fd;
            if (!session.LinePending()) fds[3].events |= POLLIN;
            if (session.ClientPending()) fds[3].events |= POLLOUT;
        }
        if (poll(fds, 5, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (fds[4].revents & POLLIN) {
            link_->Drain(side_);
            session.NotifyModem(false);
        }

        if (fds[1].revents & POLLIN) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (client >= 0 && connected) {
                close(client);  // one client per line
            } else if (client >= 0) {
                const int on = 1;
                setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                session.Opened(client);
                clients_.fetch_add(1, std::memory_order_relaxed);
                hasClient_.store(1, std::memory_order_relaxed);
                continue;
            }
        }

        if (connected && (fds[3].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = recv(session.fd, buffer.data(), buffer.size(), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                session.Reset();
                hasClient_.store(0, std::memory_order_relaxed);
                continue;
            }
            if (n > 0) {
                session.toLine.resize(static_cast<size_t>(n));
                const size_t payload = session.scanner.scan(buffer.data(), static_cast<size_t>(n),
                                                            session.toLine.data(), session);
                session.toLine.resize(payload);
                session.toLinePos = 0;
                toLine_.fetch_add(payload, std::memory_order_relaxed);
            }
        }
        if (fds[2].revents & POLLIN) {
            const ssize_t n = read(line_, buffer.data(), buffer.size());
            if (n > 0 && session.fd < 0)
                dropped_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
            if (n > 0 && session.fd >= 0) {
                // Behind any answer to a command queued in this same pass.
                const size_t at = session.toClient.size();
                session.toClient.resize(at + static_cast<size_t>(n) * 2);
                session.toClient.resize(at + qelnet::EscapeIac(session.toClient.data() + at,
                                                               buffer.data(),
                                                               static_cast<size_t>(n)));
                toClient_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
            }
        }
        if (session.LinePending() && !Flush(line_, session.toLine, session.toLinePos, false)) {
            session.toLine.clear();  // the line failed: what was for it is lost
            session.toLinePos = 0;
        }
        if (session.fd >= 0 && session.ClientPending() &&
            !Flush(session.fd, session.toClient, session.toClientPos, true)) {
            session.Reset();
            hasClient_.store(0, std::memory_order_relaxed);
        }
    }
}

}  // namespace demo
