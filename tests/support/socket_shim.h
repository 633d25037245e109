// The few socket calls the loopback rigs need, the same on Winsock 2 and
// POSIX. socket_win32.cpp and socket_posix.cpp implement it; CMake picks one.
// Everything here talks to 127.0.0.1 only.
//
// Calls block unless they say otherwise. Failures return kNoSocket or -1
// and leave the system's code for lastError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rig {
namespace sock {

// A SOCKET (an unsigned pointer-sized integer) on Windows, an fd on POSIX;
// both fit, and INVALID_SOCKET and -1 both become kNoSocket.
using Handle = intptr_t;
constexpr Handle kNoSocket = -1;

enum class Wait { Ready, Timeout, Failed };

// Starts Winsock once per process (nothing to do on POSIX).
bool startup();

// A socket listening on 127.0.0.1 on a port the system chose; port is set.
Handle listenLoopback(uint16_t& port);
Handle acceptOne(Handle listener);
Handle connectLoopback(uint16_t port);

// Small writes go out at once: tests exchange short messages and wait for
// answers.
bool setNoDelay(Handle s);

// At most n bytes; the count sent, or -1. Never raises SIGPIPE.
long sendSome(Handle s, const void* data, size_t n);
// At most n bytes; the count received, 0 when the peer has closed, or -1.
long recvSome(Handle s, void* data, size_t n);

// Waits until a read (or accept) would not block, for at most timeoutMs
// (negative: for ever).
Wait waitReadable(Handle s, int timeoutMs);

// Half-close: the peer reads end of stream once our data is through.
void shutdownSend(Handle s);
// Makes the next close send a reset (RST) instead of a FIN.
void setAbortiveClose(Handle s);
// False where setAbortiveClose has no effect and the peer sees an orderly
// close instead: Wine (8.0) accepts SO_LINGER {1, 0} but closes in order.
bool abortiveCloseResets();
void closeSocket(Handle s);

int lastError();
std::string errorText(int code);
// True for the codes of a connection the peer reset.
bool isReset(int code);

}  // namespace sock
}  // namespace rig
