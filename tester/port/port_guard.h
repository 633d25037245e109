// Keeps an open port's system resources alive while any thread is inside an
// operation on it.
//
// A port is used by its worker's two threads, by the window's thread
// (purge, cancel, settings) and by the refresh timer (error status), while
// its own thread may close it. Every backend operation runs inside a Scope;
// Close first stops new operations, ends the transfers in progress, waits
// until the last operation has left, and only then closes the handle and
// frees what goes with it. An operation that comes after the close, or with
// a handle this port did not open, fails cleanly instead of touching a
// handle the system may already have given to someone else.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/last_error.h"
#include "platform/win32_types.h"

class PortGuard {
  public:
    // Records a successful open: operations on `handle` may enter.
    void opened(intptr_t handle);

    // True, and the caller is inside, when `handle` is the open handle and
    // no close has begun. Every true enter is paired with one leave.
    bool enter(intptr_t handle);
    void leave();

    // Starts closing `handle`: no operation enters from now on. False when
    // `handle` is not the open handle (nothing changes then).
    bool beginClose(intptr_t handle);

    // Waits up to timeoutMs for every operation inside to leave; true when
    // none is left. Called between beginClose and closed, repeatedly if the
    // backend must nudge transfers that started late.
    bool waitIdle(uint32_t timeoutMs);

    // The close is complete; the port may be opened again.
    void closed();

    // True between beginClose and closed: transfers poll it to end early.
    bool closing() const;

    class Scope {
      public:
        Scope(PortGuard& guard, intptr_t handle) : guard_(guard), inside_(guard.enter(handle)) {}
        ~Scope() {
            if (inside_) guard_.leave();
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        explicit operator bool() const { return inside_; }

      private:
        PortGuard& guard_;
        bool inside_;
    };

  private:
    mutable std::mutex lock_;
    std::condition_variable idle_;
    intptr_t handle_ = -1;
    bool open_ = false;
    bool closing_ = false;
    uint32_t inside_ = 0;
};

// Runs op() inside the guard of `handle`; an operation on a port that is
// not open under that handle fails with ERROR_INVALID_HANDLE.
template <typename Op>
BOOL RunGuarded(PortGuard& guard, HANDLE handle, Op op) {
    PortGuard::Scope inside(guard, reinterpret_cast<intptr_t>(handle));
    if (!inside) {
        plat::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const uint32_t own = plat::ownErrorsSet();
    const BOOL ok = op();
    // A failure that set no Win32 code of ours is the system's.
    if (!ok) plat::settleSystemError(own);
    return ok;
}
