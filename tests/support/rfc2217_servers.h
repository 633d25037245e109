// Two more real RFC 2217 servers beside ser2net, each run on 127.0.0.1 in
// front of a serial device (usually one end of a NullModemCable), as peers
// for the network serial library. Linux only.
//
// pyserial's example server (Debian's python3-serial ships it as
// /usr/share/doc/python3-serial/examples/rfc2217_server.py). What it needs
// over a pty, learned by running it (pyserial 3.5):
//  - It binds to all interfaces on the port given with -p; the rig makes it
//    bind to 127.0.0.1 on a port the system chooses, and report the port.
//  - On every connect it raises RTS and DTR, and once a second it reads
//    the modem lines; a pty has none, the ioctls fail with ENOTTY and the
//    server drops the client (or its poll thread dies). The rig runs it with
//    those failures taken as "line off", as a port without modem lines.
//  - It takes one client at a time, reads the socket 1024 bytes at a time,
//    and is slow beside the others (Python): hundreds of kB/s.
//
// sredird 2.2 (Debian package sredird), an inetd service: the TCP
// connection is its standard input and output, and it serves one client
// and ends. What else it needs, learned by running it:
//  - An accepter in its place of inetd: the rig listens on 127.0.0.1 and
//    starts one sredird per connection with the socket as fds 0 and 1.
//  - A lock file it may create (UUCP style) for the device; the rig gives
//    it one in a folder of its own. It logs through syslog only.
//  - It counts the value bytes of a subnegotiation and does not undo IAC
//    IAC: a client must send 255 single there (the library's
//    SubnegIacDoubling=0), or the masks of the opening negotiation misframe.
//  - It holds the client's data to the network virtual terminal, dropping
//    every NUL after a CR, until the client says WILL TRANSMIT-BINARY.
//  - Its answer to SET-BAUDRATE carries 8 value bytes on a 64-bit machine
//    (sizeof long), not 4; a client must skip surplus value bytes.
//  - On a pty its modem-state notifications carry whatever its failed
//    TIOCMGET left (170, 10, 0...): meaningless, harmless for data.
//  - It holds device data back up to its poll interval (100 ms) before it
//    sends a partly filled buffer.
//  - It needs a line no faster than a UART: an unpaced pty that fills its
//    buffer with device data rich in 255 (which doubles when escaped) makes
//    it drop that data, about 1.6 KiB at a time; paced at 115200 or at
//    921600 it lost nothing in our trials. A paced line that backed up
//    while the client held it off (FLOWCONTROL-SUSPEND) is an unpaced one
//    once it resumes: its buffer is full at one exact position, which a
//    doubled 255 steps over, and it wraps onto bytes not yet sent.
#pragma once

#include "tests/support/child_process.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rig {

class PyserialServer {
  public:
    // The example server's path ($PYSERIAL_RFC2217_SERVER overrides), empty
    // when it or /usr/bin/python3 with pyserial is missing.
    static std::string script();
    static std::string missingMessage();

    explicit PyserialServer(std::string device);
    ~PyserialServer();  // stop()

    // Starts it and returns once it listens; false with the reason (and its
    // log) otherwise, leaving nothing running.
    bool start(std::string* error);
    void stop();
    uint16_t port() const { return port_; }
    std::string log() const;

  private:
    std::string device_;
    ScratchFolder dir_{"rig-pyserial"};
    ChildProcess child_;
    int announcements_ = -1;  // read end of the child's stdout
    uint16_t port_ = 0;
};

class Sredird {
  public:
    // The program ($SREDIRD overrides, else the PATH, /usr/sbin,
    // /usr/local/sbin); empty when not installed.
    static std::string program();
    static std::string missingMessage();

    explicit Sredird(std::string device);
    ~Sredird();  // stop()

    // Listens on 127.0.0.1 and from then on starts a sredird for each
    // connection. False with the reason when it cannot listen.
    bool start(std::string* error);
    // Stops accepting and ends every sredird it started.
    void stop();
    uint16_t port() const { return port_; }
    // How many sredird processes were started so far.
    int served() const { return served_.load(); }
    // The accepter's own notes (sredird itself logs to syslog).
    std::string log() const;

  private:
    void acceptLoop();

    std::string device_;
    ScratchFolder dir_{"rig-sredird"};
    intptr_t listener_ = -1;
    uint16_t port_ = 0;
    std::thread accepter_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> served_{0};
    std::mutex lock_;
    std::vector<std::unique_ptr<ChildProcess>> children_;
};

}  // namespace rig
