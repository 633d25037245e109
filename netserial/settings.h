// The library's settings: section [General] of "./qelnet.ini", read once and
// shared by every connection of the process. The file is the one in the
// current directory at the time the library was loaded; it is read when the
// library is first used (the first QnCreateFile), together with the start of
// the sockets layer, because neither belongs in the loader's lock.
#pragma once

#include <cstdint>

namespace qelnet {

constexpr int32_t kDefaultServerLostTimeout = 10;
// An hour: beyond that TCP's own bounds serve as well.
constexpr int32_t kMaxServerLostTimeout = 3600;

struct LibrarySettings {
    int32_t sendBufSize = 1024;      // SO_SNDBUF of every new socket
    int32_t recvBufSize = 4096;      // SO_RCVBUF of every new socket
    int32_t tcpNoDelay = 1;          // TCP_NODELAY, 0 or 1
    int32_t writeBlockSize = 1024;   // caller bytes queued per step by QnWriteFile, 1..16384
    int32_t disableRemoteState = 0;  // 1: ask the server for no notifications
    // 1: double 255 inside subnegotiations as RFC 855 asks; 0: the single-byte
    // form, for servers that count value bytes.
    int32_t subnegIacDoubling = 1;
    // Seconds the server may stay silent, or leave data unacknowledged,
    // before the connection is reported lost; 0 leaves TCP's own bounds.
    int32_t serverLostTimeout = kDefaultServerLostTimeout;
    // Threads that serve the connections (io_loop.h): 0 as many as the
    // machine warrants, 1 and more that many (at most kMaxIoLoops), -1 a
    // thread of its own for every connection. The pool's size is fixed at
    // the first open; -1 takes effect per open.
    int32_t ioThreads = 0;
};

// The largest WriteBlockSize: 16384 bytes of 255 escape to 32768, the whole
// send buffer.
constexpr int32_t kMaxWriteBlockSize = 16384;

// Reads [General] of the file at `path`, with defaults for what is missing,
// and normalises the values.
LibrarySettings ReadLibrarySettings(const char* path);

// The socket buffer (SO_RCVBUF from RecvBufSize, SO_SNDBUF from
// SendBufSize) of a connection whose segments are `segmentSize` bytes: the
// setting, but never less than two segments. A receive window narrower than
// that makes the server's TCP hold back data it has queued in segment-sized
// pieces until its persist timer fires (200 ms and more each time): over
// loopback, where segments are 32 to 64 KiB, the old RecvBufSize of 4096
// slowed a connection to about 50 kB/s. A send buffer narrower than that
// keeps the I/O thread and the writer handing over a kilobyte at a
// time. On a network with segments of 1460 bytes the settings keep their
// meaning. 0 for an unknown segment size leaves the setting as it is.
int32_t SocketBufferFor(int32_t configured, int32_t segmentSize);

// The segment size to plan the buffers for: what the system reported
// (`reported`, 0 when it does not say), else for a server on the loopback
// network (127.0.0.0/8, `remoteAddress` in network byte order) the
// loopback's segment, else 0 (unknown: the settings hold). Windows before
// 10 and Wine do not report TCP_MAXSEG.
int32_t PathSegmentSize(int32_t reported, uint32_t remoteAddress);

// The settings in force. Written on first use (and by tests before they
// open a port); read-only while connections exist.
extern LibrarySettings gLibrarySettings;

// What the library does when it is loaded into a process: bookkeeping only.
// Remembers `settingsPath` (the full path of "./qelnet.ini" as the loader's
// current directory names it) for LibraryStart; null or too long leaves the
// settings file unread. Safe under the loader's lock: no allocation, no
// other library's code.
void LibraryAttach(const char* settingsPath);

// The first use of the library: starts the sockets layer and reads the
// settings file that LibraryAttach remembered, once per process. Returns 0,
// or the error with which the sockets layer failed to start; that failure is
// shown once in the box "Problem with WinSock2 DLL" (caption "QELNET.DLL"),
// and every call that needs the sockets layer then fails with the same
// error. The process goes on either way.
uint32_t LibraryStart();

// For tests: forgets the first use, so that the next LibraryStart runs
// again, with `startup` in place of the system's start of the sockets layer
// (null: the system's).
void ResetLibraryStart(uint32_t (*startup)() = nullptr);

}  // namespace qelnet
