// Local ports on POSIX: a tty opened non-blocking, waited on with poll, so
// that reads and writes end by the serial API's time-out rules and can be
// ended from another thread.
//
// Each direction has an eventfd that a cancel, a purge or the close writes
// to, and a generation number it bumps first. A transfer notes the
// generation when it starts and gives up with ERROR_OPERATION_ABORTED once
// it has changed, so a cancel ends exactly the transfers in progress; a
// transfer that starts later drains the stale wake-up and runs normally.
// Only one thread ever reads a direction's eventfd (two reads, or two
// writes, never run at once), so no wake-up is stolen.
//
// Failures the system reports keep their errno values as the last error,
// and so do the open's own refusals (ENOENT for a name with no device, EBUSY
// for a port another program holds), so that the system's words for them
// say why; the portable code's own cases use Win32 codes
// (ERROR_OPERATION_ABORTED, ERROR_INVALID_HANDLE).
#include "tester/port/native_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "tester/port/line_settings_posix.h"
#include "tester/port/port_guard.h"
#include "tester/port/port_name.h"
#include "tester/port/transfer_timeouts.h"

namespace {

enum Direction { kRead = 0, kWrite = 1 };

}  // namespace

struct NativePort {
    PortGuard guard;
    int fd = -1;
    int wake[2] = {-1, -1};
    std::atomic<uint32_t> generation[2] = {{0}, {0}};

    // Settings shared by the threads that use the port.
    std::mutex lock;
    COMMTIMEOUTS timeouts{};
    DCB accepted{};  // the last DCB the line took, for what termios cannot hold
    serial_icounter_struct counts{};
    bool haveCounts = false;
};

const bool kNativeDevicePaths = true;

namespace {

HANDLE asHandle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void abortTransfers(NativePort& p, Direction d) {
    p.generation[d].fetch_add(1, std::memory_order_relaxed);
    uint64_t one = 1;
    if (p.wake[d] >= 0 && ::write(p.wake[d], &one, sizeof one) < 0) {
        // Only fails when the counter is saturated: it is readable anyway.
    }
}

void drain(int fd) {
    uint64_t value;
    while (::read(fd, &value, sizeof value) > 0) {
    }
}

int pollTimeout(uint32_t ms) {
    return ms == kWaitForever ? -1 : ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

BOOL aborted(DWORD* done, uint32_t moved) {
    *done = moved;
    plat::setLastError(ERROR_OPERATION_ABORTED);
    return FALSE;
}

// The body of a read or a write: moves bytes while the descriptor takes or
// gives them, and between times waits in poll for the descriptor, for a
// cancel, or for the time-out the serial API's rules give.
template <typename Move, typename WaitMs>
BOOL transfer(NativePort& p, Direction d, DWORD count, DWORD* done, Move move, WaitMs waitMs) {
    DWORD local = 0;
    if (!done) done = &local;
    const uint32_t generation = p.generation[d].load(std::memory_order_relaxed);
    const uint32_t start = plat::tickCount();
    uint32_t lastByte = start;
    uint32_t moved = 0;
    pollfd fds[2] = {{p.fd, static_cast<short>(d == kRead ? POLLIN : POLLOUT), 0},
                     {p.wake[d], POLLIN, 0}};
    for (;;) {
        if (p.guard.closing() || p.generation[d].load(std::memory_order_relaxed) != generation)
            return aborted(done, moved);
        while (moved < count) {
            ssize_t n = move(moved);
            if (n > 0) {
                moved += static_cast<uint32_t>(n);
                lastByte = plat::tickCount();
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) break;
            // End of file on a tty means the other side hung up.
            if (n == 0) errno = EIO;
            *done = moved;
            return FALSE;
        }
        const uint32_t now = plat::tickCount();
        const uint32_t wait =
            waitMs(moved, plat::ticksBetween(start, now), plat::ticksBetween(lastByte, now));
        if (moved >= count || wait == 0) {
            *done = moved;
            return TRUE;
        }
        int ready = ::poll(fds, 2, pollTimeout(wait));
        if (ready < 0 && errno != EINTR) {
            *done = moved;
            return FALSE;
        }
        if (ready > 0 && (fds[1].revents & POLLIN)) drain(p.wake[d]);
    }
}

COMMTIMEOUTS currentTimeouts(NativePort& p) {
    std::lock_guard<std::mutex> hold(p.lock);
    return p.timeouts;
}

bool readCounts(int fd, serial_icounter_struct& c) {
    return ::ioctl(fd, TIOCGICOUNT, &c) == 0;
}

}  // namespace

void NativePortDeleter::operator()(NativePort* port) const {
    if (!port) return;
    if (port->fd >= 0) NativeClose(*port, asHandle(port->fd));
    delete port;
}

NativePortPtr NewNativePort() {
    return NativePortPtr(new NativePort);
}

HANDLE NativeOpen(NativePort& p, const char* name, DWORD access, DWORD shareMode, LPVOID, DWORD,
                  DWORD, HANDLE) {
    if (p.fd >= 0) NativeClose(p, asHandle(p.fd));
    std::string path;
    if (!PosixDevicePath(name, path)) {
        plat::setSystemError(ENOENT);
        return INVALID_HANDLE_VALUE;
    }
    const bool in = access & GENERIC_READ, out = access & GENERIC_WRITE;
    const int mode = in && out ? O_RDWR : out ? O_WRONLY : O_RDONLY;
    int fd = ::open(path.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;

    DCB dcb{};
    uint32_t error = 0;
    if (!::isatty(fd)) {
        error = static_cast<uint32_t>(ENOTTY);
    } else if (shareMode == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // A serial port is one program's at a time, as on Windows.
        error = errno == EWOULDBLOCK ? static_cast<uint32_t>(EBUSY) : static_cast<uint32_t>(errno);
    } else if (!PrepareLine(fd, dcb)) {
        error = plat::lastError();  // a system error: PrepareLine's calls' own
    }
    int wakeRead = error ? -1 : ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    int wakeWrite = wakeRead < 0 ? -1 : ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!error && wakeWrite < 0) error = static_cast<uint32_t>(errno);
    if (error) {
        closeFd(wakeRead);
        closeFd(fd);
        plat::setSystemError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (shareMode == 0) ::ioctl(fd, TIOCEXCL);  // and no second open by others

    {
        std::lock_guard<std::mutex> hold(p.lock);
        p.timeouts = COMMTIMEOUTS{};
        p.accepted = dcb;
        p.haveCounts = readCounts(fd, p.counts);
    }
    p.fd = fd;
    p.wake[kRead] = wakeRead;
    p.wake[kWrite] = wakeWrite;
    p.guard.opened(fd);
    return asHandle(fd);
}

BOOL NativeClose(NativePort& p, HANDLE handle) {
    if (!p.guard.beginClose(reinterpret_cast<intptr_t>(handle))) {
        plat::setLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    do {
        abortTransfers(p, kRead);
        abortTransfers(p, kWrite);
    } while (!p.guard.waitIdle(20));
    // The exclusive mode outlives our descriptor while anyone else holds the
    // tty open; clear it so the port can be opened again.
    ::ioctl(p.fd, TIOCNXCL);
    BOOL ok = ::close(p.fd) == 0;
    p.fd = -1;
    closeFd(p.wake[kRead]);
    closeFd(p.wake[kWrite]);
    p.guard.closed();
    return ok;
}

BOOL NativeRead(NativePort& p, HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    return RunGuarded(p.guard, handle, [&] {
        const COMMTIMEOUTS t = currentTimeouts(p);
        char* bytes = static_cast<char*>(buffer);
        return transfer(
            p, kRead, count, got,
            [&](uint32_t moved) { return ::read(p.fd, bytes + moved, count - moved); },
            [&](uint32_t moved, uint32_t sinceStart, uint32_t sinceLastByte) {
                return ReadWaitMs(t, count, moved, sinceStart, sinceLastByte);
            });
    });
}

BOOL NativeWrite(NativePort& p, HANDLE handle, const void* buffer, DWORD count, DWORD* sent) {
    return RunGuarded(p.guard, handle, [&] {
        const COMMTIMEOUTS t = currentTimeouts(p);
        const char* bytes = static_cast<const char*>(buffer);
        return transfer(
            p, kWrite, count, sent,
            [&](uint32_t moved) { return ::write(p.fd, bytes + moved, count - moved); },
            [&](uint32_t, uint32_t sinceStart, uint32_t) {
                return WriteWaitMs(t, count, sinceStart);
            });
    });
}

BOOL NativeGetState(NativePort& p, HANDLE handle, DCB* dcb) {
    return RunGuarded(p.guard, handle, [&] {
        std::lock_guard<std::mutex> hold(p.lock);
        return ReadLineSettings(p.fd, p.accepted, *dcb) ? TRUE : FALSE;
    });
}

BOOL NativeSetState(NativePort& p, HANDLE handle, DCB* dcb) {
    return RunGuarded(p.guard, handle, [&] {
        std::lock_guard<std::mutex> hold(p.lock);
        if (!ApplyLineSettings(p.fd, *dcb)) return FALSE;
        p.accepted = *dcb;
        p.accepted.DCBlength = sizeof(DCB);
        return TRUE;
    });
}

BOOL NativeSetTimeouts(NativePort& p, HANDLE handle, COMMTIMEOUTS* timeouts) {
    return RunGuarded(p.guard, handle, [&] {
        if (!TimeoutsValid(*timeouts)) {
            plat::setLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard<std::mutex> hold(p.lock);
        p.timeouts = *timeouts;
        return TRUE;
    });
}

BOOL NativePurge(NativePort& p, HANDLE handle, DWORD flags) {
    return RunGuarded(p.guard, handle, [&] {
        if (flags & PURGE_TXABORT) abortTransfers(p, kWrite);
        if (flags & PURGE_RXABORT) abortTransfers(p, kRead);
        return FlushLine(p.fd, flags & PURGE_RXCLEAR, flags & PURGE_TXCLEAR) ? TRUE : FALSE;
    });
}

BOOL NativeClearError(NativePort& p, HANDLE handle, DWORD* errors, COMSTAT* status) {
    return RunGuarded(p.guard, handle, [&] {
        DWORD bits = 0;
        {
            // The driver counts line errors since it started; the serial API
            // reports those since the previous call. Drivers without counts
            // (a pseudo-terminal) report none.
            std::lock_guard<std::mutex> hold(p.lock);
            serial_icounter_struct now{};
            if (readCounts(p.fd, now)) {
                if (p.haveCounts) {
                    if (now.overrun != p.counts.overrun) bits |= CE_OVERRUN;
                    if (now.frame != p.counts.frame) bits |= CE_FRAME;
                    if (now.parity != p.counts.parity) bits |= CE_RXPARITY;
                    if (now.brk != p.counts.brk) bits |= CE_BREAK;
                    if (now.buf_overrun != p.counts.buf_overrun) bits |= CE_RXOVER;
                }
                p.counts = now;
                p.haveCounts = true;
            }
        }
        if (errors) *errors = bits;
        if (status) {
            *status = COMSTAT{};
            int queued = 0;
            if (::ioctl(p.fd, FIONREAD, &queued) == 0 && queued > 0)
                status->cbInQue = static_cast<DWORD>(queued);
            if (::ioctl(p.fd, TIOCOUTQ, &queued) == 0 && queued > 0)
                status->cbOutQue = static_cast<DWORD>(queued);
        }
        return TRUE;
    });
}

BOOL NativeCancelPending(NativePort& p, HANDLE handle) {
    return RunGuarded(p.guard, handle, [&] {
        abortTransfers(p, kRead);
        abortTransfers(p, kWrite);
        return TRUE;
    });
}

BOOL NativeEscapeFunction(NativePort& p, HANDLE handle, DWORD function) {
    return RunGuarded(p.guard, handle, [&] {
        int bits = 0;
        unsigned long request = TIOCMBIS;
        switch (function) {
            case SETRTS:
            case CLRRTS:
                bits = TIOCM_RTS;
                request = function == SETRTS ? TIOCMBIS : TIOCMBIC;
                break;
            case SETDTR:
            case CLRDTR:
                bits = TIOCM_DTR;
                request = function == SETDTR ? TIOCMBIS : TIOCMBIC;
                break;
            case SETBREAK:
                return ::ioctl(p.fd, TIOCSBRK) == 0 ? TRUE : FALSE;
            case CLRBREAK:
                return ::ioctl(p.fd, TIOCCBRK) == 0 ? TRUE : FALSE;
            default:
                plat::setLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
        }
        return ::ioctl(p.fd, request, &bits) == 0 ? TRUE : FALSE;
    });
}

BOOL NativeGetModemStatus(NativePort& p, HANDLE handle, DWORD* status) {
    return RunGuarded(p.guard, handle, [&] {
        int lines = 0;
        if (::ioctl(p.fd, TIOCMGET, &lines) != 0) return FALSE;
        DWORD bits = 0;
        if (lines & TIOCM_CTS) bits |= MS_CTS_ON;
        if (lines & TIOCM_DSR) bits |= MS_DSR_ON;
        if (lines & TIOCM_RNG) bits |= MS_RING_ON;
        if (lines & TIOCM_CAR) bits |= MS_RLSD_ON;
        *status = bits;
        return TRUE;
    });
}

BOOL NativeSetBreak(NativePort& p, HANDLE handle) {
    return RunGuarded(p.guard, handle, [&] { return ::ioctl(p.fd, TIOCSBRK) == 0 ? TRUE : FALSE; });
}

BOOL NativeClearBreak(NativePort& p, HANDLE handle) {
    return RunGuarded(p.guard, handle, [&] { return ::ioctl(p.fd, TIOCCBRK) == 0 ? TRUE : FALSE; });
}

// Linux numbers its pseudo-terminals' devices apart from every serial
// driver's (Documentation/admin-guide/devices.txt): the Unix 98 slaves
// (/dev/pts/N) majors 136 to 143 and their masters 128 to 135, the old BSD
// slaves (/dev/ttyp0...) major 3 and masters major 2, and /dev/ptmx 5:2.
// A name says nothing: a link, or a node made under another name, leads to
// the same device.
bool NativeIsPseudoTerminal(NativePort& p, HANDLE handle) {
    BOOL pty = FALSE;
    RunGuarded(p.guard, handle, [&] {
        struct stat st {};
        if (::fstat(p.fd, &st) != 0 || !S_ISCHR(st.st_mode)) return FALSE;
        const unsigned int m = major(st.st_rdev);
        pty = (m >= 128 && m <= 143) || m == 2 || m == 3 || (m == 5 && minor(st.st_rdev) == 2);
        return TRUE;
    });
    return pty != FALSE;
}

// A tty without modem lines (a pseudo-terminal, a bare UART driver) has no
// handler for the modem ioctls.
bool NativeNoModemLines(const plat::Error& error) {
    return error.system &&
           (error.code == ENOTTY || error.code == EINVAL || error.code == EOPNOTSUPP);
}

// A tty whose device went away answers reads and writes with EIO (a USB
// adapter pulled, the far side of a pseudo-terminal closed: a hang-up, which
// the transfers turn into EIO too), or ENODEV/ENXIO from drivers that tear
// the device down first. The backend's own Win32 codes never are (a
// handle closed under a transfer is ERROR_INVALID_HANDLE, ENXIO's number).
bool NativeIsLost(const plat::Error& error) {
    return error.system && (error.code == EIO || error.code == ENXIO || error.code == ENODEV);
}

// Line settings the port cannot take, a cancelled transfer, a closed
// handle are the Win32 codes this backend stores itself; everything else
// is an errno.
std::string NativeErrorText(const plat::Error& error) {
    if (error.system) return plat::errorText(error.code);
    if (error.code == kErrorNoRs485Mode) return "the driver has no RS-485 mode (RtsControl Toggle)";
    const std::string text = plat::win32ErrorText(error.code);
    return text.empty() ? "error " + std::to_string(error.code) : text;
}
