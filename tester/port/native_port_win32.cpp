// Local ports through the Win32 serial API, with overlapped I/O so that
// another thread can end a blocked transfer.
//
// Wine's serial driver does not keep the read time-outs the tester sets
// (MAXDWORD, MAXDWORD, c: a read returns as soon as a byte is there, or
// after c ms with none): an overlapped read with them never completes, data
// or not (measured with Wine 8.0 over a pseudo-terminal linked as COM7).
// Wine keeps (MAXDWORD, 0, 0) its own way instead: the read waits for the
// first byte, however long, and returns with all that is there. Under Wine
// the port sets that and ends the wait itself after c ms (cancelling the
// read, which Wine does before it takes any byte from the device), which
// gives the same reads. On Windows the serial drivers keep the documented
// time-outs, and the port passes them through untouched.
#include "tester/port/native_port.h"

#include <atomic>
#include <string>

#include "tester/port/port_guard.h"

struct NativePort {
    PortGuard guard;
    // One record and one auto-reset event per direction, so a read and a
    // write can be in progress at the same time.
    OVERLAPPED readOverlapped{};
    OVERLAPPED writeOverlapped{};
    // Under Wine, with the first-byte time-outs: how long a read waits for
    // its first byte before the port ends it (0: the driver's time-outs
    // decide). Set by the port's thread, read by its reader.
    std::atomic<uint32_t> firstByteWaitMs{0};
};

const bool kNativeDevicePaths = false;

namespace {

void closeEvent(OVERLAPPED& o) {
    if (o.hEvent) {
        CloseHandle(o.hEvent);
        o.hEvent = nullptr;
    }
}

bool prepare(OVERLAPPED& o) {
    closeEvent(o);
    o.Offset = 0;
    o.OffsetHigh = 0;
    o.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return o.hEvent != nullptr;
}

// ReadFile or WriteFile, then the wait for the transfer to end.
template <typename Start>
BOOL transfer(HANDLE handle, OVERLAPPED& o, DWORD* done, Start start) {
    DWORD local = 0;
    if (!done) done = &local;
    if (!start(done) && GetLastError() != ERROR_IO_PENDING) return FALSE;
    return GetOverlappedResult(handle, &o, done, TRUE);
}

// Wine names itself in ntdll; Windows has no such export.
bool RunsUnderWine() {
    static const bool wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// A read that returns with what is there once a first byte is there, or
// after `waitMs` with nothing; the driver waits for the first byte without a
// limit (Wine's (MAXDWORD, 0, 0)). A cancel or purge from another thread
// still ends it with ERROR_OPERATION_ABORTED.
BOOL readWithinWait(HANDLE handle, OVERLAPPED& o, void* buffer, DWORD count, DWORD* done,
                    DWORD waitMs) {
    DWORD local = 0;
    if (!done) done = &local;
    if (ReadFile(handle, buffer, count, done, &o))
        return GetOverlappedResult(handle, &o, done, TRUE);
    if (GetLastError() != ERROR_IO_PENDING) return FALSE;
    if (WaitForSingleObject(o.hEvent, waitMs) != WAIT_TIMEOUT)
        return GetOverlappedResult(handle, &o, done, TRUE);
    CancelIoEx(handle, &o);
    if (GetOverlappedResult(handle, &o, done, TRUE)) return TRUE;  // a byte came meanwhile
    if (GetLastError() != ERROR_OPERATION_ABORTED) return FALSE;
    *done = 0;
    return TRUE;
}

// CancelIoEx ends the transfers of every thread; CancelIo would reach only
// the calling thread's own, and the blocked transfers are the workers'.
// Nothing to cancel is no failure, as with CancelIo.
BOOL cancelAll(HANDLE handle) {
    if (CancelIoEx(handle, nullptr)) return TRUE;
    return GetLastError() == ERROR_NOT_FOUND ? TRUE : FALSE;
}

}  // namespace

void NativePortDeleter::operator()(NativePort* port) const {
    if (!port) return;
    closeEvent(port->readOverlapped);
    closeEvent(port->writeOverlapped);
    delete port;
}

NativePortPtr NewNativePort() {
    return NativePortPtr(new NativePort);
}

HANDLE NativeOpen(NativePort& port, const char* name, DWORD access, DWORD shareMode,
                  LPVOID security, DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (!prepare(port.readOverlapped) || !prepare(port.writeOverlapped)) {
        DWORD error = GetLastError();
        closeEvent(port.readOverlapped);
        closeEvent(port.writeOverlapped);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    const std::string device = std::string("\\\\.\\") + name;
    HANDLE handle =
        CreateFileA(device.c_str(), access, shareMode, static_cast<LPSECURITY_ATTRIBUTES>(security),
                    disposition, flags | FILE_FLAG_OVERLAPPED, templateFile);
    if (handle == INVALID_HANDLE_VALUE) {
        // The caller never closes a port that did not open; the events go now.
        DWORD error = GetLastError();
        closeEvent(port.readOverlapped);
        closeEvent(port.writeOverlapped);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    port.guard.opened(reinterpret_cast<intptr_t>(handle));
    return handle;
}

BOOL NativeClose(NativePort& port, HANDLE handle) {
    if (!port.guard.beginClose(reinterpret_cast<intptr_t>(handle))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A transfer that entered just before the close may issue its I/O after
    // a cancel: cancel again until every operation has left.
    do {
        cancelAll(handle);
    } while (!port.guard.waitIdle(20));
    closeEvent(port.readOverlapped);
    closeEvent(port.writeOverlapped);
    BOOL ok = CloseHandle(handle);
    port.guard.closed();
    return ok;
}

BOOL NativeRead(NativePort& port, HANDLE handle, void* buffer, DWORD count, DWORD* done) {
    return RunGuarded(port.guard, handle, [&] {
        OVERLAPPED& o = port.readOverlapped;
        const uint32_t waitMs = port.firstByteWaitMs.load(std::memory_order_relaxed);
        if (waitMs != 0) return readWithinWait(handle, o, buffer, count, done, waitMs);
        return transfer(handle, o, done,
                        [&](DWORD* n) { return ReadFile(handle, buffer, count, n, &o); });
    });
}

BOOL NativeWrite(NativePort& port, HANDLE handle, const void* buffer, DWORD count, DWORD* done) {
    return RunGuarded(port.guard, handle, [&] {
        OVERLAPPED& o = port.writeOverlapped;
        return transfer(handle, o, done,
                        [&](DWORD* n) { return WriteFile(handle, buffer, count, n, &o); });
    });
}

BOOL NativeGetState(NativePort& port, HANDLE handle, DCB* dcb) {
    return RunGuarded(port.guard, handle, [&] { return GetCommState(handle, dcb); });
}

BOOL NativeSetState(NativePort& port, HANDLE handle, DCB* dcb) {
    return RunGuarded(port.guard, handle, [&] { return SetCommState(handle, dcb); });
}

BOOL NativeSetTimeouts(NativePort& port, HANDLE handle, COMMTIMEOUTS* timeouts) {
    return RunGuarded(port.guard, handle, [&] {
        COMMTIMEOUTS driver = *timeouts;
        uint32_t waitMs = 0;
        const bool firstByte = timeouts->ReadIntervalTimeout == MAXDWORD &&
                               timeouts->ReadTotalTimeoutMultiplier == MAXDWORD &&
                               timeouts->ReadTotalTimeoutConstant > 0 &&
                               timeouts->ReadTotalTimeoutConstant < MAXDWORD;
        if (firstByte && RunsUnderWine()) {
            driver.ReadTotalTimeoutMultiplier = 0;
            driver.ReadTotalTimeoutConstant = 0;
            waitMs = timeouts->ReadTotalTimeoutConstant;
        }
        if (!SetCommTimeouts(handle, &driver)) return FALSE;
        port.firstByteWaitMs.store(waitMs, std::memory_order_relaxed);
        return TRUE;
    });
}

BOOL NativePurge(NativePort& port, HANDLE handle, DWORD flags) {
    return RunGuarded(port.guard, handle, [&] { return PurgeComm(handle, flags); });
}

BOOL NativeClearError(NativePort& port, HANDLE handle, DWORD* errors, COMSTAT* status) {
    return RunGuarded(port.guard, handle, [&] { return ClearCommError(handle, errors, status); });
}

BOOL NativeCancelPending(NativePort& port, HANDLE handle) {
    return RunGuarded(port.guard, handle, [&] { return cancelAll(handle); });
}

BOOL NativeEscapeFunction(NativePort& port, HANDLE handle, DWORD function) {
    return RunGuarded(port.guard, handle, [&] { return EscapeCommFunction(handle, function); });
}

BOOL NativeGetModemStatus(NativePort& port, HANDLE handle, DWORD* status) {
    return RunGuarded(port.guard, handle, [&] { return GetCommModemStatus(handle, status); });
}

BOOL NativeSetBreak(NativePort& port, HANDLE handle) {
    return RunGuarded(port.guard, handle, [&] { return SetCommBreak(handle); });
}

BOOL NativeClearBreak(NativePort& port, HANDLE handle) {
    return RunGuarded(port.guard, handle, [&] { return ClearCommBreak(handle); });
}

// Windows has no pseudo-terminals among its serial ports; a virtual port
// driver answers the break and parity settings as it sees fit.
bool NativeIsPseudoTerminal(NativePort&, HANDLE) {
    return false;
}

// Serial drivers of devices without modem lines (some virtual ports)
// refuse these requests as functions they do not have.
bool NativeNoModemLines(const plat::Error& error) {
    return error.code == ERROR_INVALID_FUNCTION || error.code == ERROR_NOT_SUPPORTED;
}

std::string NativeErrorText(const plat::Error& error) {
    return plat::errorText(error.code);
}

// What a removed device's transfers fail with, by driver: the USB serial
// drivers report the device as not connected or gone, some as a bad
// command, an access refused to the handle, or a general failure.
bool NativeIsLost(const plat::Error& error) {
    switch (error.code) {
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_COMMAND:
        case ERROR_ACCESS_DENIED:
        case ERROR_GEN_FAILURE:
            return true;
        default:
            return false;
    }
}
