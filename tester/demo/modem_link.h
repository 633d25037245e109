// The modem lines of a null-modem cable between two ports of the demo's
// device server: what the client of one side sets (DTR, RTS) is what the
// port of the other side sees (DSR and DCD, CTS), as the usual null-modem
// wiring has it. Each side's server thread is woken when the other side's
// lines change, to tell its own client (NOTIFY-MODEMSTATE).
//
// It also carries what the pseudo-terminals between the two ports cannot:
// a break one side sends, and each side's parity, which the receiving side
// must agree with or see parity errors.
//
// Safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "tester/demo/server_socket.h"

namespace demo {

class ModemLink {
  public:
    // Both sides start with their lines off. Throws std::system_error.
    ModemLink() = default;
    ModemLink(const ModemLink&) = delete;
    ModemLink& operator=(const ModemLink&) = delete;

    // Side 0 or 1 raises or drops an output line; the other side is woken
    // when that changes what it sees.
    void SetDtr(int side, bool on);
    void SetRts(int side, bool on);
    // Both at once, as a port that opens or closes sets them: the other
    // side sees one change.
    void SetBoth(int side, bool on);
    bool Dtr(int side) const;
    bool Rts(int side) const;

    // What side `side`'s port sees, in RFC 2217's modem-state bits (the
    // serial API's MS_* bits): CTS 0x10 from the other side's RTS, DSR 0x20
    // and DCD 0x80 from its DTR. RI (0x40) is never on.
    uint8_t InputsOf(int side) const;

    // Side `side` sends a break: the other side is woken and finds it with
    // TakeBreaks.
    void SendBreak(int side);
    // The breaks that reached side `side` since its last call.
    uint32_t TakeBreaks(int side);

    // The parity side `side`'s port is set to (RFC 2217's SET-PARITY value,
    // 1 none to 5 space; 0 while its client has not set one, which counts
    // as none). Characters from a side whose parity differs arrive at the
    // other with parity errors.
    void SetParity(int side, uint8_t value);
    bool ParityDiffers() const;

    // Set while the other side has changed side `side`'s inputs, or sent
    // it a break, since the last Drain(side).
    NetHandle WakeHandle(int side) const { return wake_[side & 1].Handle(); }
    void Drain(int side) { wake_[side & 1].Clear(); }

  private:
    void Set(int side, uint8_t bits, bool on);

    static constexpr uint8_t kDtr = 1;
    static constexpr uint8_t kRts = 2;
    void Wake(int side);

    std::atomic<uint8_t> outputs_[2] = {{0}, {0}};
    std::atomic<uint32_t> breaks_[2] = {{0}, {0}};  // breaks that reached each side
    std::atomic<uint8_t> parity_[2] = {{0}, {0}};
    Wakeup wake_[2];
};

}  // namespace demo
