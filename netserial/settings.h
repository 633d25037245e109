// The library's settings: section [General] of "./qelnet.ini", read once when
// the library is loaded into a process and shared by every connection.
#pragma once

#include <cstdint>

namespace qelnet {

struct LibrarySettings {
    int32_t sendBufSize = 1024;      // SO_SNDBUF of every new socket
    int32_t recvBufSize = 4096;      // SO_RCVBUF of every new socket
    int32_t tcpNoDelay = 1;          // TCP_NODELAY, 0 or 1
    int32_t writeBlockSize = 1024;   // caller bytes queued per step by QnWriteFile, 1..16384
    int32_t disableRemoteState = 0;  // 1: ask the server for no notifications
    // 1: double 255 inside subnegotiations as RFC 855 asks; 0: the single-byte
    // form, for servers that count value bytes.
    int32_t subnegIacDoubling = 1;
};

// The largest WriteBlockSize: 16384 bytes of 255 escape to 32768, the whole
// send buffer.
constexpr int32_t kMaxWriteBlockSize = 16384;

// Reads [General] of the file at `path`, with defaults for what is missing,
// and normalises the values.
LibrarySettings ReadLibrarySettings(const char* path);

// The settings in force. Written at load (and by tests before they open a
// port); read-only while connections exist.
extern LibrarySettings gLibrarySettings;

// What the library does when it is loaded into a process: starts the sockets
// layer (if that fails, says so in a message box and ends the process with
// exit code 1), then reads "./qelnet.ini".
void LibraryAttach();

}  // namespace qelnet
