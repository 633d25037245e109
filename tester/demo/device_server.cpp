#include "tester/demo/device_server.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "netserial/telnet_codec.h"
#include "tester/demo/char_delay.h"
#include "tester/demo/device_line.h"
#include "tester/demo/modem_link.h"
#include "tester/demo/server_socket.h"
#include "tester/demo/uart_model.h"

namespace demo {

namespace {

constexpr size_t kChunk = 4096;

// SET-CONTROL values that ask for the state of the break, DTR and RTS.
constexpr uint8_t kBreakQuery = 4;
constexpr uint8_t kDtrQuery = 7;
constexpr uint8_t kRtsQuery = 10;

// With a handshake the client is asked to pause (FLOWCONTROL-SUSPEND) once
// this much of its data waits for the line and to go on below the second
// mark, and its socket is not read beyond the third: what a held
// transmitter keeps back is then the server's few KB, not whatever the
// client's socket buffers take.
constexpr size_t kTxHighWater = 4096;
constexpr size_t kTxLowWater = 1024;
constexpr size_t kTxLimit = 8192;
// The line's data is handed to the client while less than this waits in
// the client's direction; the rest waits in the UART's receive buffer.
constexpr size_t kToClientLimit = 4096;
// The same line condition is reported at most this often.
constexpr int64_t kLineStateEveryNs = 100000000;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A device server's buffers are a few KB, not the megabytes a loopback
// socket grows to: small socket buffers (inherited by the accepted
// connection) keep the client's writes within a few KB of the line, as
// with the real thing, instead of the line running on for many seconds
// after the client stopped sending.
constexpr int kSocketBuffer = 4096;

// The client's side of the session: its socket, what waits to go each way,
// and whether it lets the line's data come.
struct Session : qelnet::TelnetSink {
    Session(DeviceLine& serialLine, uint32_t baudRate, ModemLink* modemLink, int linkSide)
        : line(serialLine), baud(baudRate), link(modemLink), side(linkSide) {}

    DeviceLine& line;
    uint32_t baud;  // the line's speed, as the client last set it
    ModemLink* const link;
    const int side;
    uint8_t modemMask = 0;  // the client's SET-MODEMSTATE-MASK
    int modemSent = -1;     // the modem state the client last heard of; -1: none yet
    uint8_t lineMask = 0;   // the client's SET-LINESTATE-MASK
    uint8_t lineBits = 0;   // line conditions not yet reported
    uint8_t lineSentBits = 0;
    int64_t lineSentAt = 0;
    // The character format, for the transmitter's pace under a handshake.
    uint8_t dataBits = 8;
    bool parity = false;
    uint8_t stopBits = 1;
    bool clientRts = false;  // RTS as the client set it (SET-CONTROL 11, 12)
    bool breakOn = false;
    NetHandle fd = kNoHandle;
    qelnet::TelnetScanner scanner;
    UartModel uart;
    std::vector<uint8_t> toLine;
    size_t toLinePos = 0;
    std::vector<uint8_t> toClient;
    size_t toClientPos = 0;
    bool flowAllowed = true;    // the client lets the line's data come
    bool clientPaused = false;  // we asked the client to pause
    int flowCharacter = -1;     // an XON or XOFF still to go on the line
    // The transmitter's allowance under a handshake, in characters.
    double credit = 0;
    int64_t creditAt = 0;
    CharDelay pieces;  // when the line's data goes to the client

    bool LinePending() const { return toLinePos < toLine.size(); }
    size_t LineWaiting() const { return toLine.size() - toLinePos; }
    bool ClientPending() const { return toClientPos < toClient.size(); }
    size_t ClientWaiting() const { return toClient.size() - toClientPos; }

    void onLineState(uint8_t) override {}
    void onModemState(uint8_t) override {}
    // The scanner reports the client's FLOWCONTROL-SUSPEND and -RESUME
    // (codes 8 and 9) as the peer's flow control, whichever side sent them.
    void onServerFlow(bool allowed) override { flowAllowed = allowed; }

    // The line commands, answered as RFC 2217 asks (the code plus 100 and
    // the value now in force). The speed and the stop bits reach the line,
    // so the demo cable paces the network pair as the operator set it; a
    // pseudo-terminal cannot hold data bits or parity (it stays 8N), so
    // those are acknowledged as asked, as ser2net does over a pty, and the
    // parity goes to the link, where the far side's UART compares it with
    // its own.
    void onComPortCommand(uint8_t code, const uint8_t* value, size_t length) override {
        using namespace qelnet::telnet;
        std::vector<uint8_t> answer(value, value + length);
        switch (code) {
            case kSetBaudRate: {
                const uint32_t asked = static_cast<uint32_t>(value[0]) << 24 |
                                       static_cast<uint32_t>(value[1]) << 16 |
                                       static_cast<uint32_t>(value[2]) << 8 | value[3];
                if (asked != 0 && line.SetSpeed(asked)) baud = asked;
                answer = {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                          static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
                break;
            }
            case kSetDataSize:
                if (value[0] >= 5 && value[0] <= 8) dataBits = value[0];
                break;
            case kSetParity:
                if (value[0] != 0) {
                    parity = value[0] != 1;
                    if (link) link->SetParity(side, value[0]);
                }
                break;
            case kSetStopSize:
                if (value[0] != 0) {
                    stopBits = value[0] == 1 ? 1 : 2;
                    line.SetStopBits(stopBits);
                }
                break;
            case kPurgeData:
                // 1: what the line has received; 2: what waits to go out on
                // it; 3: both. Only the line's queues and the UART's receive
                // buffer: payload that came in the same segment as the
                // command is not the line's yet.
                line.Purge((value[0] & 1) != 0, (value[0] & 2) != 0);
                if (value[0] & 1) uart.Purge();
                break;
            case kSetControl:
                answer[0] = Control(value[0]);
                break;
            case kSetLineStateMask:
                lineMask = value[0];
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

    // SET-CONTROL: flow control and the break always; the modem lines on
    // the link. The value RFC 2217 answers with.
    uint8_t Control(uint8_t value) {
        using namespace qelnet::telnet;
        switch (value) {
            case kControlNoFlow:
            case kControlXonXoff:
            case kControlHardware:
                if (uart.Faults().refuseFlow) value = kControlNoFlow;
                uart.SetFlow(value);
                PutRts();
                return value;
            case kControlBreakOn:
                // The break goes to the far side's UART, which reports it;
                // a pseudo-terminal could not carry it.
                if (!breakOn && link && !uart.Faults().dropBreak) link->SendBreak(side);
                breakOn = true;
                return value;
            case kControlBreakOff:
                breakOn = false;
                return value;
            case kBreakQuery:
                return breakOn ? kControlBreakOn : kControlBreakOff;
            default:
                break;
        }
        if (!link) return value;
        switch (value) {
            case kControlDtrOn:
            case kControlDtrOff:
                link->SetDtr(side, value == kControlDtrOn);
                return value;
            case kControlRtsOn:
            case kControlRtsOff:
                clientRts = value == kControlRtsOn;
                PutRts();
                return value;
            case kDtrQuery:
                return link->Dtr(side) ? kControlDtrOn : kControlDtrOff;
            case kRtsQuery:
                return link->Rts(side) ? kControlRtsOn : kControlRtsOff;
            default:
                return value;
        }
    }

    // RTS on the link: the client's, held off while the receiver's
    // handshake says so.
    void PutRts() {
        if (link) link->SetRts(side, clientRts && !uart.HoldsRts());
    }

    // The modem lines as this side's port sees them: the far side's
    // outputs, as the link wires them (CTS from RTS...), or CTS on for good
    // on a cable without handshake wires.
    uint8_t Inputs() const {
        if (!link) return 0;
        const uint8_t inputs = link->InputsOf(side);
        return uart.Faults().ctsFloats ? static_cast<uint8_t>(inputs | 0x10) : inputs;
    }
    bool Cts() const { return (Inputs() & 0x10) != 0; }

    // Tells the client what its port's modem lines are when that changed
    // (or `force`): NOTIFY-MODEMSTATE with the lines in the upper four
    // bits and what changed since the last one in the lower four (delta
    // CTS, delta DSR, RI's trailing edge, delta DCD), under its mask.
    void NotifyModem(bool force) {
        if (!link || fd == kNoHandle) return;
        const uint8_t state = Inputs();
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

    // Tells the client of the line conditions its UART found (a break,
    // parity errors, an overrun), under its mask: at once, and the same
    // conditions again no sooner than kLineStateEveryNs, so that an
    // overrun that lasts is one notification in a while, not one per
    // character. How long until the rest may go, or -1.
    int64_t NotifyLine(int64_t now) {
        lineBits |= uart.TakeLineState();
        if (fd == kNoHandle) lineBits = 0;
        if (lineBits == 0) return -1;
        const int64_t since = now - lineSentAt;
        if ((lineBits & ~lineSentBits) == 0 && since < kLineStateEveryNs)
            return kLineStateEveryNs - since;
        if (lineBits & lineMask)
            Answer(qelnet::telnet::kNotifyLineState, {static_cast<uint8_t>(lineBits & lineMask)});
        lineSentBits = lineBits;
        lineSentAt = now;
        lineBits = 0;
        return -1;
    }

    // Under a handshake the client's data waiting for the line stays a few
    // KB: the client is asked to pause above one mark and to go on below
    // the other (RFC 2217's FLOWCONTROL-SUSPEND and -RESUME, 108 and 109,
    // which the library honours).
    void PaceClient() {
        if (fd == kNoHandle) return;
        const bool pause = uart.Handshake() && LineWaiting() >= kTxHighWater;
        const bool go = !uart.Handshake() || LineWaiting() < kTxLowWater;
        if (!clientPaused && pause) {
            Answer(qelnet::telnet::kServerFlowSuspend, {});
            clientPaused = true;
        } else if (clientPaused && go) {
            Answer(qelnet::telnet::kServerFlowResume, {});
            clientPaused = false;
        }
    }

    // Characters a second on the line.
    double CharactersPerSecond() const {
        const uint32_t bits = 1u + dataBits + (parity ? 1u : 0u) + stopBits;
        return static_cast<double>(baud) / bits;
    }

    // Under a handshake the transmitter stops within a character or two of
    // its CTS going off or an XOFF, as a UART does, rather than behind
    // everything a pseudo-terminal would queue: it puts on the line no
    // more than its pace allows, with a lead of 20 ms (256 characters at
    // least) for the cable's own pacing. How many characters it may write
    // now; `waitNs` how long until more may go when none may.
    size_t Allowance(int64_t now, int64_t& waitNs) {
        const double perSecond = CharactersPerSecond();
        const double lead = std::max(256.0, perSecond / 50);
        if (creditAt == 0) credit = lead;
        credit = std::min(lead, credit + (now - creditAt) * perSecond / 1e9);
        creditAt = now;
        waitNs = -1;
        if (credit >= 1) return static_cast<size_t>(credit);
        const double want = std::min<double>(64, static_cast<double>(LineWaiting()));
        waitNs = static_cast<int64_t>((want - credit) / perSecond * 1e9) + 1;
        return 0;
    }

    // A client connected: the port is opened for it, which raises its
    // lines; one that goes drops them.
    void Opened(NetHandle client) {
        fd = client;
        clientRts = true;
        if (link) link->SetBoth(side, true);
    }

    void Answer(uint8_t code, const std::vector<uint8_t>& value) {
        std::vector<uint8_t> escaped(value.size() * 2);
        escaped.resize(qelnet::EscapeIac(escaped.data(), value.data(), value.size()));
        toClient.insert(toClient.end(), {255, 250, 44, code});
        toClient.insert(toClient.end(), escaped.begin(), escaped.end());
        toClient.insert(toClient.end(), {255, 240});
    }

    // The line's data for the client, escaped, while the client lets it
    // come and little waits in its direction already: in pieces, as the
    // character delay lets them go (char_delay.h).
    void HandOver() {
        if (uart.Waiting() == 0) pieces.Sent(0);
        if (PieceWaitNs(NowNs()) != 0) return;
        uint8_t chunk[1024];
        while (uart.Waiting() > 0 && ClientWaiting() < kToClientLimit) {
            const size_t n = uart.Take(chunk, sizeof chunk);
            const size_t at = toClient.size();
            toClient.resize(at + n * 2);
            toClient.resize(at + qelnet::EscapeIac(toClient.data() + at, chunk, n));
        }
        pieces.Sent(uart.Waiting());
    }

    // The line brought `count` bytes now.
    void LineReceived(size_t count) {
        pieces.Received(NowNs(), count, static_cast<int64_t>(1e9 / CharactersPerSecond()));
    }

    // How long until the line's data may go to the client: 0 now, -1 when
    // there is none or the client does not let it come.
    int64_t PieceWaitNs(int64_t now) const {
        if (fd == kNoHandle || !flowAllowed) return -1;
        return pieces.WaitNs(now, uart.Waiting());
    }

    // The line is left unread for now: a piece is held and not yet due.
    // XON and XOFF must stop the transmitter at once, so with them the
    // line is always read.
    bool LineHeld(int64_t now) const { return PieceWaitNs(now) > 0 && !uart.XonXoff(); }

    void Reset() {
        CloseSocket(fd);
        if (link) link->SetBoth(side, false);
        clientRts = false;
        breakOn = false;
        modemMask = 0;
        modemSent = -1;
        lineMask = 0;
        lineBits = 0;
        scanner = qelnet::TelnetScanner();
        uart.SetFlow(1);
        uart.Purge();
        toLine.clear();
        toLinePos = 0;
        toClient.clear();
        toClientPos = 0;
        flowAllowed = true;
        clientPaused = false;
        flowCharacter = -1;
        creditAt = 0;
    }
};

// Sends what is pending without blocking; false when the socket failed.
bool Flush(NetHandle socket, std::vector<uint8_t>& bytes, size_t& pos) {
    while (pos < bytes.size()) {
        const long n = SendSome(socket, bytes.data() + pos, bytes.size() - pos);
        if (n < 0) return n == kIoWouldBlock;
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

DeviceServer::DeviceServer(std::unique_ptr<DeviceLine> line, uint32_t baudRate, ModemLink* link,
                           int side)
    : line_(std::move(line)), baudRate_(baudRate), link_(link), side_(side) {
    line_->SetSpeed(baudRate);
    listener_ = ListenLoopback(port_, kSocketBuffer);
    try {
        stop_ = std::make_unique<Wakeup>();
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        CloseSocket(listener_);
        throw;
    }
}

DeviceServer::~DeviceServer() {
    stop_->Set();
    thread_.join();
    CloseSocket(listener_);
}

std::string DeviceServer::PortName() const {
    return "127.0.0.1:" + std::to_string(port_);
}

void DeviceServer::SetFaultsForTesting(const LineFaults& faults) {
    ignoreHandshake_.store(faults.ignoreHandshake);
    dropBreak_.store(faults.dropBreak);
    hideParity_.store(faults.hideParity);
    refuseFlow_.store(faults.refuseFlow);
    ctsFloats_.store(faults.ctsFloats);
}

void DeviceServer::Run() {
    Session session(*line_, baudRate_, link_, side_);
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
        session.uart.SetFaults(LineFaults{ignoreHandshake_.load(), dropBreak_.load(),
                                          hideParity_.load(), refuseFlow_.load(),
                                          ctsFloats_.load()});
        const bool connected = session.fd != kNoHandle;
        const bool handshake = session.uart.Handshake();
        const int64_t now = NowNs();
        int64_t waitNs = session.NotifyLine(now);
        int64_t paceNs = -1;
        size_t allowance = session.LineWaiting();
        bool mayWrite = session.LinePending() && session.uart.MaySend(session.Cts());
        if (mayWrite && handshake) {
            allowance = std::min(allowance, session.Allowance(now, paceNs));
            mayWrite = allowance > 0;
        }
        if (paceNs >= 0 && (waitNs < 0 || paceNs < waitNs)) waitNs = paceNs;
        const int64_t pieceNs = session.PieceWaitNs(now);
        if (pieceNs >= 0 && (waitNs < 0 || pieceNs < waitNs)) waitNs = pieceNs;

        enum { kStop, kListener, kLine, kClient, kLink, kWatches };
        Watch watches[kWatches];
        watches[kStop] = {stop_->Handle(), true};
        watches[kListener] = {listener_, true};
        if (link_) watches[kLink] = {link_->WakeHandle(side_), true};
        // The line is always read, as a UART receives whatever comes (with
        // no client it is dropped), except while a piece is held: it is
        // read when the piece is due (XON and XOFF excepted: they must stop
        // the transmitter at once). It is written when payload may go.
        int64_t lineDueNs = -1;
        line_->Prepare(mayWrite || session.flowCharacter >= 0, watches[kLine], lineDueNs);
        if (session.LineHeld(now)) watches[kLine].read = false;
        if (lineDueNs >= 0 && (waitNs < 0 || lineDueNs - now < waitNs))
            waitNs = std::max<int64_t>(0, lineDueNs - now);
        if (connected) {
            Watch& client = watches[kClient];
            client.handle = session.fd;
            // Without a handshake the client's next data is read once the
            // last is on the line (the socket holds the rest); with one, a
            // few KB wait here and the client is told to pause.
            client.read = handshake ? session.LineWaiting() < kTxLimit : !session.LinePending();
            // Writable also while the UART holds a piece the client may take.
            client.write = session.ClientPending() || pieceNs == 0;
        }
        const int timeoutMs = waitNs < 0 ? -1 : static_cast<int>((waitNs + 999999) / 1000000);
        if (!WaitAny(watches, kWatches, timeoutMs)) return;
        if (watches[kStop].readable) return;
        if (watches[kLink].readable) {
            link_->Drain(side_);
            session.NotifyModem(false);
            if (link_->TakeBreaks(side_) != 0) session.uart.Break();
        }

        if (watches[kListener].readable) {
            NetHandle client = AcceptClient(listener_);
            if (client != kNoHandle && connected) {
                CloseSocket(client);  // one client per line
            } else if (client != kNoHandle) {
                session.Opened(client);
                clients_.fetch_add(1, std::memory_order_relaxed);
                hasClient_.store(1, std::memory_order_relaxed);
                continue;
            }
        }

        if (connected && watches[kClient].readable) {
            const long n = ReceiveSome(session.fd, buffer.data(), buffer.size());
            if (n == 0 || n == kIoFailed) {
                session.Reset();
                hasClient_.store(0, std::memory_order_relaxed);
                continue;
            }
            if (n > 0) {
                // Behind what still waits for the line (only under a
                // handshake is there any).
                std::vector<uint8_t>& out = session.toLine;
                out.erase(out.begin(), out.begin() + static_cast<ptrdiff_t>(session.toLinePos));
                session.toLinePos = 0;
                const size_t at = out.size();
                out.resize(at + static_cast<size_t>(n));
                const size_t payload = session.scanner.scan(buffer.data(), static_cast<size_t>(n),
                                                            out.data() + at, session);
                out.resize(at + payload);
                toLine_.fetch_add(payload, std::memory_order_relaxed);
            }
        }
        if (!session.LineHeld(NowNs())) {
            const long n = line_->Read(buffer.data(), buffer.size());
            if (n > 0 && session.fd == kNoHandle)
                dropped_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
            if (n > 0 && session.fd != kNoHandle) {
                session.uart.Receive(buffer.data(), static_cast<size_t>(n),
                                     link_ && link_->ParityDiffers());
                session.LineReceived(static_cast<size_t>(n));
                overrun_.store(session.uart.Lost(), std::memory_order_relaxed);
            }
        }
        // Behind any answer to a command queued in this same pass.
        const size_t before = session.uart.Waiting();
        session.HandOver();
        toClient_.fetch_add(before - session.uart.Waiting(), std::memory_order_relaxed);
        session.PutRts();
        const int flowCharacter = session.uart.TakeFlowCharacter();
        if (flowCharacter >= 0) session.flowCharacter = flowCharacter;

        // An XON or XOFF goes ahead of the data, as a UART sends it.
        if (session.flowCharacter >= 0) {
            const uint8_t c = static_cast<uint8_t>(session.flowCharacter);
            if (line_->Write(&c, 1) == 1) session.flowCharacter = -1;
        }
        // An XOFF read in this pass stops the transmitter at once.
        if (mayWrite && session.uart.MaySend(session.Cts())) {
            const size_t n = std::min(allowance, session.LineWaiting());
            const long w = line_->Write(session.toLine.data() + session.toLinePos, n);
            if (w > 0) {
                session.toLinePos += static_cast<size_t>(w);
                session.credit -= static_cast<double>(w);
            } else if (w < 0) {
                session.toLinePos =
                    session.toLine.size();  // the line failed: what was for it is lost
            }
            if (!session.LinePending()) {
                session.toLine.clear();
                session.toLinePos = 0;
            }
        }
        session.PaceClient();
        session.NotifyLine(NowNs());
        if (session.fd != kNoHandle && session.ClientPending() &&
            !Flush(session.fd, session.toClient, session.toClientPos)) {
            session.Reset();
            hasClient_.store(0, std::memory_order_relaxed);
        }
    }
}

}  // namespace demo
