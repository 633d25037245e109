// An RFC 2217 device server inside the tester, for the demo: a TCP port on
// 127.0.0.1 that carries one serial line, the way a network device server
// carries one of its UARTs, so that network ports can be seen working
// without hardware. The serial side is a DeviceLine (device_line.h): on
// Linux a tty, one end of a pseudo-terminal cable; anywhere an end of a
// MemoryCable, which is what carries the demo on Windows.
//
// What it does on the wire:
// - One client at a time. While one is connected, a second connection is
//   accepted and closed at once, as a device server that serves one client
//   per port does. Without a client, what the line brings is dropped.
// - Client to line: the Telnet stream is unframed by the network library's
//   own scanner (commands and negotiations removed, IAC IAC made one 255)
//   and the payload written to the line.
// - Line to client: the line is always read, into the port's UART
//   (uart_model.h), and its bytes go out with every 255 doubled while the
//   client lets them come. The client's FLOWCONTROL-SUSPEND and -RESUME
//   (which the library sends when its receive ring fills and empties) stop
//   and restart them; meanwhile they wait in the UART's buffer, and when
//   that is full they are lost as a UART loses them (an overrun, reported
//   with NOTIFY-LINESTATE), unless the line's handshake holds the far end
//   off. A client that reads keeps every byte.
// - The client's line commands are answered (code + 100, the value in
//   force). SET-BAUDRATE and SET-STOPSIZE reach the line, so the cable
//   paces the network pair at the speed the operator sets; data size and
//   parity are acknowledged as asked, since the lines stay 8N as a
//   pseudo-terminal does (the parity goes to the link, for the far side to
//   compare). PURGE-DATA empties the line's queues it names (and the
//   UART's buffer).
// - Modem lines, when the server is one side of a ModemLink (two servers
//   on the two ends of one cable): the client's SET-CONTROL DTR and RTS
//   on and off (8, 9, 11, 12) set this side's lines, and the other side's
//   client is told what its port now sees by NOTIFY-MODEMSTATE (CTS from
//   RTS, DSR and DCD from DTR), with RFC 2217's delta bits and under the
//   mask its SET-MODEMSTATE-MASK asked for. A client is sent the state once
//   it has set that mask, and again whenever the state changes. A client
//   that connects raises both lines, as a port opened for it would; one
//   that goes drops them. SET-CONTROL 7 and 10 ask for the DTR and RTS
//   state. The lines carry no modem lines: these are the server's own,
//   between its two ports only.
// - Flow control (SET-CONTROL 1 none, 2 XON/XOFF, 3 hardware): the UART
//   holds RTS off, or sends XOFF in band, while its receive buffer is
//   full, and its transmitter stops while CTS is off (the far side's RTS)
//   or after an XOFF, within a character or two; the client meanwhile is
//   asked to pause (FLOWCONTROL-SUSPEND, 108) so that little of its data
//   waits. Without a handshake nothing is held off.
// - Line conditions: SET-CONTROL 5 (break on) sends a break across the
//   link, which the far side reports to its client with NOTIFY-LINESTATE's
//   break bit; characters arriving while the two sides' SET-PARITY differ
//   are reported as parity errors; overruns as above. All under the mask
//   of the client's SET-LINESTATE-MASK, and the same condition at most
//   every 100 ms. SET-CONTROL 4 asks for the break state.
//
// The sockets go through server_socket.h (BSD sockets or Winsock). Needs
// the network library's codec: a build without the library has a
// DeviceServer whose construction fails.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "tester/demo/device_line.h"
#include "tester/demo/server_socket.h"
#include "tester/demo/uart_model.h"

namespace demo {

// False in a build without the network library's codec.
bool DeviceServerAvailable();

class ModemLink;

class DeviceServer {
  public:
    // Takes the line (set to `baudRate`), listens on 127.0.0.1 on a free
    // port and starts serving. With a `link`, it is side `side` (0 or 1) of
    // it; the link must outlive the server. Throws std::system_error.
    DeviceServer(std::unique_ptr<DeviceLine> line, uint32_t baudRate, ModemLink* link = nullptr,
                 int side = 0);
    // The same on the tty at `linePath` (OpenTtyLine). POSIX only.
    DeviceServer(const std::string& linePath, uint32_t baudRate, ModemLink* link = nullptr,
                 int side = 0);
    // Stops serving, closes the client, the listener and the line.
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    uint16_t Port() const { return port_; }
    // "127.0.0.1:<port>": the name the tester opens.
    std::string PortName() const;

    // Payload bytes written to the line, bytes of the line sent to the
    // client (before doubling), connections accepted as the client.
    uint64_t ToLine() const { return toLine_.load(std::memory_order_relaxed); }
    uint64_t ToClient() const { return toClient_.load(std::memory_order_relaxed); }
    uint32_t Clients() const { return clients_.load(std::memory_order_relaxed); }
    // A client is connected now; bytes of the line dropped for want of one.
    bool HasClient() const { return hasClient_.load(std::memory_order_relaxed) != 0; }
    uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }
    // Bytes of the line its UART lost to overruns (a client that did not
    // take them, no handshake to hold the far end off).
    uint64_t Overrun() const { return overrun_.load(std::memory_order_relaxed); }

    // For tests only: a server that takes the handshake settings and does
    // nothing with them, drops the client's breaks, lets parity errors
    // through unflagged, answers a handshake asked for with none, or sits
    // on a cable whose CTS floats high (uart_model.h). From the next pass
    // of its thread.
    void SetFaultsForTesting(const LineFaults& faults);

  private:
    void Run();

    std::unique_ptr<DeviceLine> line_;
    NetHandle listener_ = kNoHandle;
    std::unique_ptr<Wakeup> stop_;
    uint16_t port_ = 0;
    uint32_t baudRate_ = 0;
    ModemLink* link_ = nullptr;
    int side_ = 0;
    std::atomic<uint64_t> toLine_{0};
    std::atomic<uint64_t> toClient_{0};
    std::atomic<uint32_t> clients_{0};
    std::atomic<uint32_t> hasClient_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> overrun_{0};
    std::atomic<bool> ignoreHandshake_{false};
    std::atomic<bool> dropBreak_{false};
    std::atomic<bool> hideParity_{false};
    std::atomic<bool> refuseFlow_{false};
    std::atomic<bool> ctsFloats_{false};
    std::thread thread_;
};

}  // namespace demo
