// The exports that do not wait for data: open and close, line settings,
// time-outs, purge, errors, event masks, modem status, escape functions and
// the two stubs.
//
// Common rules: a null, invalid, closed or unknown handle gives FALSE with
// ERROR_INVALID_HANDLE, a null pointer that the call reads or writes FALSE
// with ERROR_INVALID_PARAMETER, at once and with nothing changed. The calls
// marked "refused when lost" also give FALSE (ERROR_NETNAME_DELETED) once
// the connection is lost; the others go on reporting the last known state.
#include "netserial/export_guard.h"
#include "netserial/io_loop.h"
#include "netserial/net_port.h"
#include "netserial/qelnet.h"
#include "netserial/settings.h"
#include "platform/last_error.h"

#include <cstring>

using namespace qelnet;

namespace {

BOOL fail(uint32_t error) {
    plat::setLastError(error);
    return FALSE;
}

bool lost(const NetPort& port) {
    return port.connectionLost.load(std::memory_order_relaxed) != 0;
}

// The common rules: 0 when the call may go on, else the error that ends it.
uint32_t refused(const PortRef& port, bool pointersGiven, bool refusedWhenLost) {
    if (!port) return ERROR_INVALID_HANDLE;
    if (!pointersGiven) return ERROR_INVALID_PARAMETER;
    if (refusedWhenLost && lost(*port)) return ERROR_NETNAME_DELETED;
    return 0;
}

// Queues one line command; false when it cannot be queued (lost, closed).
bool send(NetPort& port, const TelnetCommand& command) {
    return QueueSend(port, command, QueueWait::ForRoom);
}

// One of the four line settings of QnSetCommState: sent when it changed or
// when everything is to be sent, refused (FALSE, nothing sent) when the
// conversion refuses it; stored once queued.
template <typename T, typename Build>
bool applySetting(NetPort& port, T wanted, T& stored, bool all, bool accepted, Build build) {
    if (!all && wanted == stored) return true;
    if (!accepted || !send(port, build())) return false;
    stored = wanted;
    return true;
}

}  // namespace

HANDLE WINAPI QnCreateFile(LPCSTR portName, DWORD, DWORD, LPVOID, DWORD, DWORD, HANDLE) {
    return Guarded(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
        HANDLE handle = OpenNetPort(portName);
        return handle ? handle : INVALID_HANDLE_VALUE;
    });
}

BOOL WINAPI QnCloseHandle(HANDLE handle) {
    return Guarded(
        FALSE, [&]() -> BOOL { return CloseNetPort(handle) ? TRUE : fail(ERROR_INVALID_HANDLE); });
}

// The four line settings go on the wire only when they change (all four on
// the first successful call after open); flow control, RTS and DTR go with
// every call. With XON/XOFF and hardware flow both asked for, the server
// receives 1, 2, RTS on, 3 in that order.
BOOL WINAPI QnSetCommState(HANDLE handle, const DCB* dcb) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, dcb != nullptr, true)) return fail(error);
        std::lock_guard<std::mutex> hold(port->dcbLock);
        DCB& stored = port->dcb;
        const bool all = port->sendAllSettings;
        const bool doubling = gLibrarySettings.subnegIacDoubling != 0;
        const uint8_t dataSize = DataSizeValue(dcb->ByteSize);
        const uint8_t parity = ParityValue(dcb->Parity);
        const uint8_t stopSize = StopSizeValue(dcb->StopBits);
        if (!applySetting(*port, dcb->BaudRate, stored.BaudRate, all,
                          BaudRateAccepted(dcb->BaudRate),
                          [&] { return BuildSetBaudRate(dcb->BaudRate, doubling); }) ||
            !applySetting(*port, dcb->ByteSize, stored.ByteSize, all, dataSize != 0,
                          [&] { return BuildSetDataSize(dataSize); }) ||
            !applySetting(*port, dcb->Parity, stored.Parity, all, parity != 0,
                          [&] { return BuildSetParity(parity); }) ||
            !applySetting(*port, dcb->StopBits, stored.StopBits, all, stopSize != 0,
                          [&] { return BuildSetStopSize(stopSize); }))
            return FALSE;

        if (!send(*port, BuildSetControl(telnet::kControlNoFlow))) return FALSE;
        if ((dcb->fOutX || dcb->fInX) && !send(*port, BuildSetControl(telnet::kControlXonXoff)))
            return FALSE;
        if (dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) {
            if (!send(*port, BuildHardwareFlow())) return FALSE;
        } else if (dcb->fRtsControl == RTS_CONTROL_ENABLE) {
            if (!send(*port, BuildSetControl(telnet::kControlRtsOn))) return FALSE;
        } else if (!send(*port, BuildSetControl(telnet::kControlRtsOff))) {
            return FALSE;  // RTS_CONTROL_DISABLE and RTS_CONTROL_TOGGLE
        }
        if (dcb->fDtrControl == DTR_CONTROL_ENABLE) {
            if (!send(*port, BuildSetControl(telnet::kControlDtrOn))) return FALSE;
        } else if (dcb->fDtrControl == DTR_CONTROL_DISABLE ||
                   dcb->fDtrControl == DTR_CONTROL_HANDSHAKE) {
            if (!send(*port, BuildSetControl(telnet::kControlDtrOff))) return FALSE;
        }
        port->sendAllSettings = false;
        return TRUE;
    });
}

// Only BaudRate, ByteSize, Parity and StopBits are ever stored; every other
// field, DCBlength included, reads 0.
BOOL WINAPI QnGetCommState(HANDLE handle, DCB* dcb) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, dcb != nullptr, false)) return fail(error);
        std::lock_guard<std::mutex> hold(port->dcbLock);
        std::memcpy(dcb, &port->dcb, sizeof(DCB));
        return TRUE;
    });
}

BOOL WINAPI QnSetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, timeouts != nullptr, true)) return fail(error);
        std::lock_guard<std::mutex> hold(port->timeoutsLock);
        port->timeouts = *timeouts;
        return TRUE;
    });
}

BOOL WINAPI QnGetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, timeouts != nullptr, false)) return fail(error);
        std::lock_guard<std::mutex> hold(port->timeoutsLock);
        *timeouts = port->timeouts;
        return TRUE;
    });
}

// PURGE_TXABORT and PURGE_RXABORT end the writes and reads waiting at that
// moment (FALSE, ERROR_OPERATION_ABORTED), as their names say; shutting a
// caller down relies on that to end a write held by the server's flow
// control. PURGE_TXCLEAR drops the data not yet handed to the socket, except
// the rest of a command or IAC IAC pair the socket has taken part of: the
// server would otherwise misframe everything after it. The commands queued
// among that data stay: settings a caller made before the purge are in
// force once it returns, as on a local port, and the server's answers to
// them are still awaited.
BOOL WINAPI QnPurgeComm(HANDLE handle, DWORD flags) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, true, true)) return fail(error);
        if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
            std::lock_guard<std::mutex> hold(port->txLock);
            if (flags & PURGE_TXABORT) ++port->writeAbort;
            if (flags & PURGE_TXCLEAR) {
                uint8_t* const queued = port->txBuffer + port->txOffset;
                const size_t pending = static_cast<size_t>(port->txPending);
                const size_t rest = port->sentFrames.remainder(queued, pending);
                const size_t commands =
                    port->sentFrames.keepCommands(queued + rest, pending - rest);
                port->txPending = static_cast<int32_t>(rest + commands);
                if (port->txPending == 0) port->txOffset = 0;
            }
            port->txEmptyEvent.notify_all();
        }
        if (const uint8_t value = PurgeDataValue(flags)) send(*port, BuildPurgeData(value));
        if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
            std::lock_guard<std::mutex> hold(port->rxLock);
            if (flags & PURGE_RXABORT) ++port->readAbort;
            if (flags & PURGE_RXCLEAR) {
                port->rxHead = 0;
                port->rxCount.store(0, std::memory_order_relaxed);
                // An emptied ring ends a suspend, and a paused receive.
                FlowControlStep(*port);
                if (port->rxPaused) RequestService(*port, kServeReceive);
            }
            port->rxEvent.notify_all();
        }
        return TRUE;
    });
}

// Ring overflow never happens (a full ring stops the receiving instead), so
// the errors are the line errors the server has reported.
BOOL WINAPI QnClearCommError(HANDLE handle, LPDWORD errors, COMSTAT* stat) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, errors != nullptr, false)) return fail(error);
        *errors = port->errorWord.exchange(0, std::memory_order_relaxed);
        if (stat) {
            std::memset(stat, 0, sizeof(COMSTAT));
            stat->cbInQue = static_cast<DWORD>(port->rxCount.load(std::memory_order_relaxed));
        }
        return TRUE;
    });
}

// EV_RXFLAG, EV_TXEMPTY, EV_BREAK, EV_ERR and EV_RING are never reported, so
// they are taken out of the mask.
BOOL WINAPI QnSetCommMask(HANDLE handle, DWORD mask) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, true, true)) return fail(error);
        mask &= ~static_cast<DWORD>(EV_RXFLAG | EV_TXEMPTY | EV_BREAK | EV_ERR | EV_RING);
        std::lock_guard<std::mutex> hold(port->eventLock);
        port->eventMask.store(mask, std::memory_order_relaxed);
        port->pendingEvents &= mask;
        return TRUE;
    });
}

BOOL WINAPI QnGetCommMask(HANDLE handle, LPDWORD mask) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, mask != nullptr, false)) return fail(error);
        std::lock_guard<std::mutex> hold(port->eventLock);
        *mask = port->eventMask.load(std::memory_order_relaxed);
        return TRUE;
    });
}

BOOL WINAPI QnGetCommModemStatus(HANDLE handle, LPDWORD status) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, status != nullptr, false)) return fail(error);
        *status = port->modemState.load(std::memory_order_relaxed) &
                  (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
        return TRUE;
    });
}

BOOL WINAPI QnEscapeCommFunction(HANDLE handle, DWORD function) {
    return Guarded(FALSE, [&]() -> BOOL {
        PortRef port(handle);
        if (uint32_t error = refused(port, true, true)) return fail(error);
        const uint8_t control = EscapeFunctionControl(function);
        return control && send(*port, BuildSetControl(control)) ? TRUE : FALSE;
    });
}

BOOL WINAPI QnSetCommBreak(HANDLE handle) {
    return QnEscapeCommFunction(handle, SETBREAK);
}

BOOL WINAPI QnClearCommBreak(HANDLE handle) {
    return QnEscapeCommFunction(handle, CLRBREAK);
}

BOOL WINAPI QnSetupComm(HANDLE, DWORD, DWORD) {
    return TRUE;
}

BOOL WINAPI QnSetCommConfig(HANDLE, LPVOID, DWORD) {
    return TRUE;
}
