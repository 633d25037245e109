// The calling thread's last system error, GetLastError style.
//
// On Windows this is GetLastError itself. On POSIX it is errno: it is
// per-thread and shared by every module of the process, so a code set inside
// libqelnet.so is what the tester reads after the call returns. Our own code
// stores Win32 codes there (ERROR_OPERATION_ABORTED for a cancelled
// transfer); failures reported by the system keep their errno values.
#pragma once

#include <cstdint>

namespace plat {

uint32_t lastError();
void setLastError(uint32_t code);

}  // namespace plat
