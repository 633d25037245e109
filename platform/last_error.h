// The calling thread's last system error, GetLastError style.
//
// On Windows this is GetLastError itself. On POSIX it is errno: it is
// per-thread and shared by every module of the process, so a code set inside
// libqelnet.so is what the tester reads after the call returns. Our own code
// stores Win32 codes there (ERROR_OPERATION_ABORTED for a cancelled
// transfer); failures reported by the system keep their errno values.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

uint32_t lastError();
void setLastError(uint32_t code);

// The system's own words for `code` as the system reports it (strerror on
// POSIX, FormatMessage on Windows), without a final period or line end, so
// that it fits in a sentence or a cell: "Permission denied", "Access is
// denied". "error N" when the system has no words for it.
std::string errorText(uint32_t code);

// The words for a Win32 code that our own code stores as the last error:
// on Windows errorText(code); on POSIX, where errno's numbers mean other
// things, the Windows wording of the codes the tester and the network
// library use (ERROR_NETNAME_DELETED, ERROR_OPERATION_ABORTED...), or ""
// for any other code.
std::string win32ErrorText(uint32_t code);

}  // namespace plat
