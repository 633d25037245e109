// Every serial operation of the tester on one port: a local port through
// the system's serial interface, or a port of a network device server
// through the network serial library. Open decides which from the name.
//
// One PortAccess per port worker, never copied. Open and Close come from
// the worker's port thread; the other operations from its two transfer
// threads (one reading, one writing), from the window's thread (Purge,
// ClearError, CancelPending, SetState) and from the refresh timer
// (ClearError), with no lock of the caller's.
//
// Results follow the Win32 calls they stand for: nonzero for success, and
// on failure the reason in the thread's last error (plat::lastError); a
// transfer ended by a cancel or a purge fails with ERROR_OPERATION_ABORTED.
// Every operation takes the handle Open returned. On a network port whose
// library is not bound every operation fails without a call, except
// CancelPending, which succeeds.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/last_error.h"
#include "platform/win32_types.h"
#include "tester/port/native_port.h"

// What an open port is, for the checks that depend on it: a serial device
// has a line rate, modem lines and line conditions; a pseudo-terminal has
// none of them (the kernel's pty takes a break request and does nothing,
// keeps every character 8 bits without parity, and holds a writer off by
// its buffer whatever the settings say); a network port has what its
// device server makes of RFC 2217's commands.
enum class DeviceKind : uint32_t { Unknown, Serial, PseudoTerminal, Network };

// "tty", "pseudo-terminal", "network", "" (unknown).
const char* DeviceKindName(DeviceKind kind);

class PortAccess {
  public:
    PortAccess();  // throws std::bad_alloc
    ~PortAccess();
    PortAccess(const PortAccess&) = delete;
    PortAccess& operator=(const PortAccess&) = delete;

    // Trims and upper-cases a copy of `name` (NormalizePortName) and
    // classifies it. A rejected name gives INVALID_HANDLE_VALUE and nothing
    // else happens. A network name binds the library if need be (which may
    // show the "Not found qelnet.dll" box once) and goes to QnCreateFile as
    // written, with the other arguments unchanged. A local name opens the
    // native port. The caller passes GENERIC_READ | GENERIC_WRITE, 0,
    // nullptr, OPEN_EXISTING, 0, nullptr and tests the result for exactly
    // INVALID_HANDLE_VALUE.
    HANDLE Open(const char* name, DWORD access, DWORD shareMode, LPVOID security, DWORD disposition,
                DWORD flags, HANDLE templateFile);

    // Once per successful Open. A local port first ends the transfers in
    // progress and waits for every other thread's operation on it to leave.
    // The handle is dead afterwards.
    BOOL Close(HANDLE handle);

    // The read returns by the time-outs of SetTimeouts: with the tester's
    // (MAXDWORD, MAXDWORD, 100) as soon as at least one byte is there, with
    // what is there up to `count`, or after 100 ms with 0 bytes and success.
    // The write returns when all of the block is accepted.
    BOOL Read(HANDLE handle, void* buffer, DWORD count, DWORD* got);
    BOOL Write(HANDLE handle, const void* buffer, DWORD count, DWORD* sent);

    BOOL GetState(HANDLE handle, DCB* dcb);
    BOOL SetState(HANDLE handle, DCB* dcb);
    BOOL SetTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
    BOOL Purge(HANDLE handle, DWORD flags);
    BOOL ClearError(HANDLE handle, DWORD* errors, COMSTAT* status);

    // Ends the local port's transfers in progress, whichever thread waits in
    // them; later ones run normally. Does nothing on a network port.
    BOOL CancelPending(HANDLE handle);

    // The modem lines, for the line check: EscapeFunction raises or drops an
    // output line (SETRTS, CLRRTS, SETDTR, CLRDTR); GetModemStatus reads the
    // input lines as MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON. A
    // network port answers from the library's last modem-state
    // notification, which follows the far end's lines with a delay; one
    // whose library lacks these two exports fails them with
    // ERROR_NOT_SUPPORTED.
    BOOL EscapeFunction(HANDLE handle, DWORD function);
    BOOL GetModemStatus(HANDLE handle, DWORD* status);

    // A break on the line, for the break check: the line stays in the break
    // state from SetBreak to ClearBreak. A local port through the system
    // (TIOCSBRK and TIOCCBRK; SetCommBreak and ClearCommBreak), a network
    // port through QnSetCommBreak and QnClearCommBreak (RFC 2217's
    // SET-CONTROL break on and off); a library without those two fails them
    // with ERROR_NOT_SUPPORTED, which NoModemLines counts as a function the
    // port does not have.
    BOOL SetBreak(HANDLE handle);
    BOOL ClearBreak(HANDLE handle);

    // Whether EscapeFunction or GetModemStatus failing with `error` means
    // that the port has no modem lines to drive or read (a pseudo-terminal,
    // a network library without the exports), rather than that a call went
    // wrong.
    bool NoModemLines(const plat::Error& error) const;

    // What the last Open decided.
    bool IsNetwork() const { return isNetwork.load(std::memory_order_relaxed) != 0; }
    // What the last Open opened (Unknown before one succeeded). A local
    // device is a pseudo-terminal by its device number, whatever its name
    // (a link in /dev/serial/..., a /dev/ttyS name given to a pty); on
    // Windows every local port is a serial device.
    DeviceKind Kind() const { return kind_.load(std::memory_order_relaxed); }

    // Why the last Open gave INVALID_HANDLE_VALUE, in words for the
    // operator: a name that is no port, a network library that could not be
    // loaded, or the system's words for the error ("Permission denied",
    // "Connection refused"); "" after an Open that succeeded. For the thread
    // that called Open.
    const std::string& OpenFailure() const { return openFailure_; }

    // Whether a transfer that failed with `error` means the port itself is
    // gone, so that only closing and opening it again can help: a network
    // port's connection lost (ERROR_NETNAME_DELETED), a local device that
    // vanished or hung up (EIO, ENXIO, ENODEV on Linux; a removed device's
    // errors on Windows). A purge's ERROR_OPERATION_ABORTED never is.
    bool IsLost(const plat::Error& error) const;

    // The words for a last error of this port's operations: the system's,
    // or, for the Win32 codes the network library sets, Windows' wording.
    std::string ErrorText(const plat::Error& error) const;

  private:
    std::atomic<uint32_t> isNetwork{0};
    std::atomic<DeviceKind> kind_{DeviceKind::Unknown};
    NativePortPtr native_;
    std::string openFailure_;
};
