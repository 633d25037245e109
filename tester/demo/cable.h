// Serial lines made of pseudo-terminals: the demo ports of the terminal
// front end (--demo) and the lines of the test suites, so that the tester
// runs without hardware. Linux only.
//
// NullModemCable: two ptys whose masters a thread joins, so that what one
// slave's port writes the other slave's port reads, like two serial ports
// wired with a null-modem cable. LoopbackPlug: one pty whose master sends
// everything back, like a loop-back plug on a single port.
//
// The slave paths (/dev/pts/N) are what the tester (or the code under test)
// opens. Each slave starts in raw mode with echo off, 8N1 at the pty's
// default 38400 baud, so that nothing is echoed or translated before a port
// has opened it, and the cable keeps its own slave fd
// open for its whole life: a port under test may close and reopen its side
// without the master ever seeing a hang-up, and bytes sent meanwhile wait in
// the slave's input queue as they would in a UART's driver.
//
// What a pty cannot carry: modem-control lines (TIOCMGET/TIOCMSET fail with
// ENOTTY), line errors, and data bits and parity (see line_format.h). Break
// (TIOCSBRK) is accepted and does nothing. tcdrain() on a slave returns at
// once, before the cable has taken the bytes.
//
// Pacing, injection, pause and the counters are per direction; see
// LinePump and InjectionSchedule for their exact meaning. Control calls are
// for one owning thread at a time; the counters may be read from anywhere.
//
// All fds are close-on-exec, so a program started meanwhile (ser2net in the
// tests) does not hold the ptys open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tester/demo/injection.h"
#include "tester/demo/line_pump.h"

namespace demo {

// A direction is named by its sender: AtoB carries what port A writes.
enum class Dir { AtoB = 0, BtoA = 1 };

// One pseudo-terminal with its slave set raw. Owns both fds.
class Pty {
  public:
    Pty();  // throws std::system_error
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master() const { return master_; }
    const std::string& path() const { return path_; }

  private:
    int master_ = -1;
    int slave_ = -1;  // held open so the master never sees a hang-up
    std::string path_;
};

class NullModemCable {
  public:
    // Throws std::system_error when the ptys or the thread cannot be made.
    explicit NullModemCable(const Pacing& pacing = Pacing::off());
    ~NullModemCable();  // stops the thread, closes the ptys
    NullModemCable(const NullModemCable&) = delete;
    NullModemCable& operator=(const NullModemCable&) = delete;

    const std::string& pathA() const { return a_.path(); }
    const std::string& pathB() const { return b_.path(); }

    void setPacing(const Pacing& pacing);  // both directions
    void setPacing(Dir dir, const Pacing& pacing);
    // Both directions carry only `dataBits` (5..8) of every byte from now on.
    void setDataBits(uint32_t dataBits);

    // Schedules a drop, change or insert; offsets count the bytes the sender
    // wrote in that direction since the cable was made. False when the
    // place has passed or is taken (InjectionSchedule::add).
    bool inject(Dir dir, const Injection& entry);

    // Stops moving bytes, as a line whose flow control is held: once pause
    // returns nothing more arrives; the sender's writes block (or fail with
    // EAGAIN) when the ptys are full, after roughly 64 KB.
    void pause();
    void pause(Dir dir);
    void resume();
    void resume(Dir dir);

    uint64_t taken(Dir dir) const { return pump_->taken(lane(dir)); }
    uint64_t delivered(Dir dir) const { return pump_->delivered(lane(dir)); }
    uint64_t passed(Dir dir) const { return pump_->passed(lane(dir)); }
    int error(Dir dir) const { return pump_->error(lane(dir)); }

  private:
    static size_t lane(Dir dir) { return static_cast<size_t>(dir); }

    Pty a_;
    Pty b_;
    std::unique_ptr<LinePump> pump_;
};

class LoopbackPlug {
  public:
    explicit LoopbackPlug(const Pacing& pacing = Pacing::off());
    ~LoopbackPlug();
    LoopbackPlug(const LoopbackPlug&) = delete;
    LoopbackPlug& operator=(const LoopbackPlug&) = delete;

    const std::string& path() const { return pty_.path(); }

    void setPacing(const Pacing& pacing) { pump_->setPacing(0, pacing); }
    bool inject(const Injection& entry) { return pump_->inject(0, entry); }
    void pause() { pump_->setPaused(0, true); }
    void resume() { pump_->setPaused(0, false); }

    uint64_t taken() const { return pump_->taken(0); }
    uint64_t delivered() const { return pump_->delivered(0); }
    uint64_t passed() const { return pump_->passed(0); }
    int error() const { return pump_->error(0); }

  private:
    Pty pty_;
    std::unique_ptr<LinePump> pump_;
};

}  // namespace demo
