#include "tester/port/port_access.h"

#include <string>

#include "platform/last_error.h"
#include "tester/port/network_library.h"
#include "tester/port/port_name.h"
#include "platform/name_table.h"

namespace {

bool bound() {
    return libraryLoaded.load(std::memory_order_acquire);
}

const LibraryExports& qn() {
    return libraryExports;
}

// An export an older library may lack: a port of such a library cannot do
// what it does (ERROR_NOT_SUPPORTED).
template <typename Export, typename... Args>
BOOL Optional(Export export_, Args... args) {
    if (!bound()) return FALSE;
    if (!export_) {
        plat::setLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return export_(args...);
}

}  // namespace

const char* DeviceKindName(DeviceKind kind) {
    static const char* const kNames[] = {"", "tty", "pseudo-terminal", "network"};
    return plat::NameOf(kind, kNames);
}

PortAccess::PortAccess() : native_(NewNativePort()) {}

PortAccess::~PortAccess() = default;

HANDLE PortAccess::Open(const char* name, DWORD access, DWORD shareMode, LPVOID security,
                        DWORD disposition, DWORD flags, HANDLE templateFile) {
    openFailure_.clear();
    const std::string trimmed = NormalizePortName(name);
    const PortKind kind = ClassifyPortName(trimmed.c_str(), kNativeDevicePaths);
    if (kind == PortKind::Rejected) {
        openFailure_ = kNativeDevicePaths ? "not a port name (COMn, a /dev path or a.b.c.d:port)"
                                          : "not a port name (COMn or a.b.c.d:port)";
        return INVALID_HANDLE_VALUE;
    }
    isNetwork.store(kind == PortKind::Network ? 1 : 0, std::memory_order_relaxed);
    HANDLE handle;
    if (kind == PortKind::Local) {
        handle = NativeOpen(*native_, trimmed.c_str(), access, shareMode, security, disposition,
                            flags, templateFile);
    } else if (!bound() && !BindNetworkLibrary()) {
        openFailure_ = "the network library (qelnet) could not be loaded";
        return INVALID_HANDLE_VALUE;
    } else {
        handle = qn().QnCreateFile(trimmed.c_str(), access, shareMode, security, disposition, flags,
                                   templateFile);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        const plat::Error error = plat::currentError();
        openFailure_ = ErrorText(error);
        plat::restoreError(error);
        return handle;
    }
    kind_.store(kind == PortKind::Network                  ? DeviceKind::Network
                : NativeIsPseudoTerminal(*native_, handle) ? DeviceKind::PseudoTerminal
                                                           : DeviceKind::Serial,
                std::memory_order_relaxed);
    return handle;
}

// The network library's codes are Win32 codes (but a socket's errno it
// passes on), whatever kind this module took them for.
bool PortAccess::IsLost(const plat::Error& error) const {
    if (IsNetwork()) return error.code == ERROR_NETNAME_DELETED;
    return NativeIsLost(error);
}

std::string PortAccess::ErrorText(const plat::Error& error) const {
    if (IsNetwork()) {
        std::string text = plat::win32ErrorText(error.code);
        if (!text.empty()) return text;
        return plat::errorText(error.code);
    }
    return NativeErrorText(error);
}

BOOL PortAccess::Close(HANDLE handle) {
    if (!IsNetwork()) return NativeClose(*native_, handle);
    return bound() ? qn().QnCloseHandle(handle) : FALSE;
}

BOOL PortAccess::Read(HANDLE handle, void* buffer, DWORD count, DWORD* got) {
    if (!IsNetwork()) return NativeRead(*native_, handle, buffer, count, got);
    return bound() ? qn().QnReadFile(handle, buffer, count, got, nullptr) : FALSE;
}

BOOL PortAccess::Write(HANDLE handle, const void* buffer, DWORD count, DWORD* sent) {
    if (!IsNetwork()) return NativeWrite(*native_, handle, buffer, count, sent);
    return bound() ? qn().QnWriteFile(handle, buffer, count, sent, nullptr) : FALSE;
}

BOOL PortAccess::GetState(HANDLE handle, DCB* dcb) {
    if (!IsNetwork()) return NativeGetState(*native_, handle, dcb);
    return bound() ? qn().QnGetCommState(handle, dcb) : FALSE;
}

BOOL PortAccess::SetState(HANDLE handle, DCB* dcb) {
    if (!IsNetwork()) return NativeSetState(*native_, handle, dcb);
    return bound() ? qn().QnSetCommState(handle, dcb) : FALSE;
}

BOOL PortAccess::SetTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
    if (!IsNetwork()) return NativeSetTimeouts(*native_, handle, timeouts);
    return bound() ? qn().QnSetCommTimeouts(handle, timeouts) : FALSE;
}

BOOL PortAccess::Purge(HANDLE handle, DWORD flags) {
    if (!IsNetwork()) return NativePurge(*native_, handle, flags);
    return bound() ? qn().QnPurgeComm(handle, flags) : FALSE;
}

BOOL PortAccess::ClearError(HANDLE handle, DWORD* errors, COMSTAT* status) {
    if (!IsNetwork()) return NativeClearError(*native_, handle, errors, status);
    return bound() ? qn().QnClearCommError(handle, errors, status) : FALSE;
}

BOOL PortAccess::CancelPending(HANDLE handle) {
    if (!IsNetwork()) return NativeCancelPending(*native_, handle);
    return TRUE;
}

BOOL PortAccess::EscapeFunction(HANDLE handle, DWORD function) {
    if (!IsNetwork()) return NativeEscapeFunction(*native_, handle, function);
    return Optional(qn().QnEscapeCommFunction, handle, function);
}

BOOL PortAccess::GetModemStatus(HANDLE handle, DWORD* status) {
    if (!IsNetwork()) return NativeGetModemStatus(*native_, handle, status);
    return Optional(qn().QnGetCommModemStatus, handle, status);
}

BOOL PortAccess::SetBreak(HANDLE handle) {
    if (!IsNetwork()) return NativeSetBreak(*native_, handle);
    return Optional(qn().QnSetCommBreak, handle);
}

BOOL PortAccess::ClearBreak(HANDLE handle) {
    if (!IsNetwork()) return NativeClearBreak(*native_, handle);
    return Optional(qn().QnClearCommBreak, handle);
}

bool PortAccess::NoModemLines(const plat::Error& error) const {
    if (IsNetwork()) return error.code == ERROR_NOT_SUPPORTED;
    return NativeNoModemLines(error);
}
