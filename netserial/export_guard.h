// What stands between the library's C++ and its C callers: no exception may
// leave an export (it would unwind into code that knows nothing of it, and
// usually end the caller's process). The library allocates on few paths and
// checks those allocations; this catches the rest, the standard library's
// own (a thread's state, a mutex the system cannot set up), and turns them
// into the failure result with a last error the caller can read.
#pragma once

#include "platform/last_error.h"
#include "platform/win32_types.h"

#include <exception>
#include <new>
#include <system_error>

namespace qelnet {

template <typename Result, typename Body>
Result Guarded(Result failed, Body&& body) noexcept {
    uint32_t error = ERROR_GEN_FAILURE;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::not_enough_memory ||
            e.code() == std::errc::resource_unavailable_try_again)
            error = ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::exception&) {
    }
    plat::setLastError(error);
    return failed;
}

}  // namespace qelnet
