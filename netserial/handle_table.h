// The handles the library gives out: a slot number and the slot's
// generation, never an address. A slot's generation changes when its handle
// is closed, so a handle kept after QnCloseHandle is refused even once the
// slot serves a new connection.
//
// Looking a handle up is arithmetic and the one slot's lock; the table-wide
// lock is taken only to open and to close. Slots come in blocks that are
// made when needed (the first is static) and kept for the life of the
// process, so a lookup never meets a block that is going away.
//
// A handle value is (generation << 16) | (slot + 1), with a generation of 1
// to 32767: never 0, never INVALID_HANDLE_VALUE, and the same on 32- and
// 64-bit builds. Freed slots are reused oldest first, so a given handle
// value comes back only after its slot has been through 32767 more
// connections.
#pragma once

#include "platform/win32_types.h"

#include <cstdint>

namespace qelnet {

struct NetPort;

// Most handles open at once.
constexpr uint32_t kMaxHandles = 16384;

// Gives `port` a handle, which then holds the reference the caller had.
// Null when every slot is taken or a block of slots cannot be allocated.
HANDLE RegisterHandle(NetPort* port);

// The port behind a live handle with a reference taken (the caller releases
// it), or null for a handle that is not live.
NetPort* LookUpHandle(HANDLE handle);

// Ends a live handle and returns its port with the handle's reference, which
// passes to the caller; null for a handle that is not live.
NetPort* UnregisterHandle(HANDLE handle);

}  // namespace qelnet
