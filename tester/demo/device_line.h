// The serial side of one port of the demo's device server: where the
// client's payload goes and the line's characters come from, as a UART's
// driver would hand them over. Two kinds:
// - a tty (Linux): an end of a pseudo-terminal cable (cable.h), which
//   paces what it carries by the speed set on it (OpenTtyLine,
//   tty_line_posix.cpp);
// - an end of a MemoryCable (memory_cable.h): a paced line inside the
//   program, which needs nothing of the system and so carries the demo on
//   Windows.
//
// Used by the server's thread alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tester/demo/server_socket.h"

namespace demo {

class DeviceLine {
  public:
    virtual ~DeviceLine() = default;

    // Non-blocking: the characters moved (0 when none can now), or -1 when
    // the line failed.
    virtual long Read(uint8_t* buffer, size_t size) = 0;
    virtual long Write(const uint8_t* bytes, size_t count) = 0;

    // SET-BAUDRATE and SET-STOPSIZE: the character time of what this side
    // sends. False when the line refuses the speed.
    virtual bool SetSpeed(uint32_t baud) = 0;
    virtual void SetStopBits(uint8_t stopBits) = 0;

    // PURGE-DATA: the characters received and not yet read, and those
    // written and not yet sent.
    virtual void Purge(bool received, bool unsent) = 0;

    // How the server's wait watches the line before its next Read (and,
    // with `wantWrite`, Write): a handle in `watch`, and in `dueNs` when at
    // the latest to try again (a steady-clock time in nanoseconds; left
    // alone when the handle says everything).
    virtual void Prepare(bool wantWrite, Watch& watch, int64_t& dueNs) = 0;
};

// Opens the tty at `path` (non-blocking, no controlling terminal) at
// `baudRate`. POSIX only. Throws std::system_error.
std::unique_ptr<DeviceLine> OpenTtyLine(const std::string& path, uint32_t baudRate);

}  // namespace demo
