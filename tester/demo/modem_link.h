// The modem lines of a null-modem cable between two ports of the demo's
// device server: what the client of one side sets (DTR, RTS) is what the
// port of the other side sees (DSR and DCD, CTS), as the usual null-modem
// wiring has it. Each side's server thread is woken when the other side's
// lines change, to tell its own client (NOTIFY-MODEMSTATE).
//
// Safe from any thread. Linux only (eventfds).
#pragma once

#include <atomic>
#include <cstdint>

namespace demo {

class ModemLink {
  public:
    // Both sides start with their lines off. Throws std::system_error.
    ModemLink();
    ~ModemLink();
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

    // Readable while the other side has changed side `side`'s inputs since
    // the last Drain(side).
    int WakeFd(int side) const { return wake_[side & 1]; }
    void Drain(int side);

  private:
    void Set(int side, uint8_t bits, bool on);

    static constexpr uint8_t kDtr = 1;
    static constexpr uint8_t kRts = 2;
    std::atomic<uint8_t> outputs_[2] = {{0}, {0}};
    int wake_[2] = {-1, -1};
};

}  // namespace demo
