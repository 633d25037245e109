// The UART of a port of the demo's device server, as far as a pseudo-
// terminal cannot be one: its receive buffer, what it does when that
// fills, its handshake, and the line conditions it reports. The device
// server does the I/O; this decides, without any.
//
// What it models, as a 16550 behind a device server's driver would do it:
// - Receive: characters come off the line whether anyone takes them or not.
//   Up to kReceiveBuffer of them wait for the client; beyond that they are
//   lost and an overrun is reported. So a receiving side that is not read
//   loses data unless a handshake holds the sender off.
// - Hardware handshake (RFC 2217 SET-CONTROL 3): the receiver holds its RTS
//   off once kHighWater characters wait and lets it go again below
//   kLowWater; the transmitter sends only while its CTS is on. Across the
//   server's null-modem link one side's RTS is the other side's CTS.
// - XON/XOFF (SET-CONTROL 2): the same thresholds send XOFF and XON in
//   band; an XOFF or XON received stops or restarts the transmitter and is
//   taken out of the data. Data that itself holds 0x11 or 0x13 is read as
//   flow control then, as by any UART: the tester's blocks never do.
// - Conditions: a break that reached the line, characters with parity
//   errors (the far end's parity differs), and overruns, as RFC 2217's
//   NOTIFY-LINESTATE bits.
//
// Not thread-safe: the server's thread owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace demo {

// Faults a test gives the demo's device server, to see the checks of flow
// control, breaks and parity fail as they must. Nothing else sets them.
struct LineFaults {
    bool ignoreHandshake = false;  // take RTS/CTS and XON/XOFF settings and do nothing with them
    bool dropBreak = false;        // a break the client sends never reaches the line
    bool hideParity = false;       // characters with parity errors come through unflagged
    // Answer a request for XON/XOFF or hardware flow control with "no flow
    // control" (RFC 2217's answer: what is now in force) and run without.
    bool refuseFlow = false;
    // CTS reads on, whatever the far end's RTS does: a cable without the
    // handshake wires, whose input floats high.
    bool ctsFloats = false;
};

// NOTIFY-LINESTATE bits (RFC 2217).
constexpr uint8_t kLineBreak = 16;
constexpr uint8_t kLineParityError = 4;
constexpr uint8_t kLineOverrun = 2;

class UartModel {
  public:
    static constexpr size_t kReceiveBuffer = 65536;
    static constexpr size_t kHighWater = 4096;
    static constexpr size_t kLowWater = 1024;
    static constexpr uint8_t kXon = 0x11;
    static constexpr uint8_t kXoff = 0x13;

    UartModel();

    // SET-CONTROL's flow control: 1 none, 2 XON/XOFF, 3 hardware; other
    // values change nothing. A change lets a held transmitter go.
    void SetFlow(uint8_t control);
    void SetFaults(const LineFaults& faults) { faults_ = faults; }
    const LineFaults& Faults() const { return faults_; }
    // The handshakes in force (set, and not ignored).
    bool Hardware() const;
    bool XonXoff() const;
    bool Handshake() const { return Hardware() || XonXoff(); }

    // `count` characters off the line; with `parityDiffers` the far end's
    // parity is not ours, and every one of them has a parity error.
    void Receive(const uint8_t* bytes, size_t count, bool parityDiffers);
    // A break arrived on the line.
    void Break();
    // Characters waiting for the client, and the oldest of them taken.
    size_t Waiting() const { return count_; }
    size_t Take(uint8_t* out, size_t most);
    // The receive buffer emptied (PURGE-DATA, a new client).
    void Purge();
    // Characters lost to overruns since the start.
    uint64_t Lost() const { return lost_; }

    // The NOTIFY-LINESTATE bits seen since the last call.
    uint8_t TakeLineState();

    // The receiver's side of the handshake: RTS is to be held off; the
    // XON or XOFF to send now, or -1.
    bool HoldsRts() const { return rtsHeld_; }
    int TakeFlowCharacter();

    // The transmitter may send now, with CTS as it sees it.
    bool MaySend(bool cts) const;

  private:
    void Watermarks();

    LineFaults faults_;
    uint8_t flow_ = 1;
    std::vector<uint8_t> ring_;
    size_t head_ = 0;
    size_t count_ = 0;
    uint64_t lost_ = 0;
    uint8_t lineState_ = 0;
    bool rtsHeld_ = false;
    bool xoffSent_ = false;
    int flowCharacter_ = -1;
    bool stoppedByXoff_ = false;
};

}  // namespace demo
