// Runs the real ser2net (4.x, YAML configuration) on 127.0.0.1 in front of
// a serial device, usually one end of a NullModemCable, as a peer for the
// network serial library. Linux only.
//
// What we learned running ser2net 4.3.11 over a pty (kept here because the
// library's tests meet every one of these):
//  - It opens the device only when a client connects, and sets the speed
//    and format from the connector's line settings ("115200n81") on open.
//  - It refuses a second client on the same device, even through another
//    accepter, with the text "Port's device already in use\r\n" and a
//    close: the telnet and the raw accepter are alternatives, not both at
//    once.
//  - A pty has no modem-control lines, so TIOCMGET/TIOCMBIS/TIOCMBIC fail
//    with ENOTTY. Over RFC 2217 this shows as: SET-CONTROL for DTR or RTS
//    on/off (8, 9, 11, 12) gets no answer at all; the DTR and RTS state
//    queries (7, 10) are answered with the query code itself; modem state
//    is reported as 0 (no CTS, DSR or CD). A client that waits for the
//    answer to "DTR on" must time out and carry on. `local` in the
//    connector (ignore modem control) is passed anyway; without it ser2net
//    4.3.11 works over a pty just the same, but a real port would wait for
//    carrier.
//  - Baud rate and stop bits reach the pty; data size and parity are
//    answered with the values asked for, but the pty itself stays CS8
//    without parity (line_format.h). Check those in ser2net's answers, not
//    in the pty's termios.
//  - Break on, break off and the break query are all answered with 5 (on).
//  - Purge and flow-control settings are answered; RTS/CTS flow control
//    sets CRTSCTS on the pty (the cable does not act on it).
//  - Device data is held back for about two character times (min 1 ms,
//    max 20 ms: the "chardelay" options) before it goes to the network.
//  - It logs "Unable to start mdns" where avahi is absent; harmless.
//  - It keeps running when an accepter cannot listen (port taken), logging
//    "Unable to startup network port"; so the launcher checks that its own
//    process holds the listening sockets rather than trusting a live pid.
#pragma once

#include <cstdint>
#include <string>

#include <sys/types.h>

namespace rig {

class Ser2net {
  public:
    struct Options {
        std::string device;                      // e.g. a cable's pathA()
        std::string lineSettings = "115200n81";  // ser2net's initial settings
        bool rawAccepter = false;                // also a plain tcp(nodelay) accepter
        uint16_t telnetPort = 0;                 // 0: a free port; else this one (a restart)
    };

    // Where the ser2net program is: $SER2NET when set, else the PATH, then
    // /usr/sbin and /usr/local/sbin (not on an ordinary user's PATH). Empty
    // when not installed.
    static std::string program();
    // The message a test gives when it skips for want of ser2net.
    static std::string missingMessage();

    explicit Ser2net(Options options);
    ~Ser2net();  // stop()
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts ser2net (in the foreground, UUCP locks off) with a generated
    // configuration on free ports, and returns once it listens on them. On
    // failure returns false with the reason and ser2net's own log in
    // *error, and leaves no process behind. The process gets SIGTERM when
    // the thread that started it ends (PR_SET_PDEATHSIG), so a test program
    // that dies does not leave it running: start it from a thread that
    // outlives it.
    bool start(std::string* error = nullptr);

    // Ends ser2net (SIGTERM, then SIGKILL after a second) and reaps it, and
    // removes the configuration. Safe to call more than once.
    void stop();

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    uint16_t telnetPort() const { return telnetPort_; }  // telnet(rfc2217),tcp(nodelay)
    uint16_t rawPort() const { return rawPort_; }        // 0 unless rawAccepter
    // What ser2net printed so far (it runs with -d, logging to stdout).
    std::string log() const;

  private:
    bool launch(std::string* error);
    bool waitListening(std::string* error);
    std::string configText() const;

    Options options_;
    std::string dir_;  // temporary folder with the configuration and the log
    pid_t pid_ = -1;
    uint16_t telnetPort_ = 0;
    uint16_t rawPort_ = 0;
};

}  // namespace rig
