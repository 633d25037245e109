// A stand-in for the network serial library whose answers a test scripts:
// a line state that cannot be read, writes that fail, fall short or take
// nothing, and reads that find nothing (after a short wait, like the read
// time-out). It gives the engine the failures a pseudo-terminal never has.
#include "tests/engine/scripted_qelnet.h"

#include <chrono>
#include <thread>

#include "platform/last_error.h"

// Plain C names. Nothing is marked for export, so the mingw linker exports
// every symbol of the DLL, and on POSIX every symbol is visible anyway.
#define SCRIPTED_EXPORT extern "C"

namespace {
ScriptedQn script;
constexpr auto kRelaxed = std::memory_order_relaxed;
}  // namespace

SCRIPTED_EXPORT ScriptedQn* ScriptedQnState() {
    return &script;
}

SCRIPTED_EXPORT HANDLE WINAPI QnCreateFile(LPCSTR, DWORD, DWORD, LPVOID, DWORD, DWORD, HANDLE) {
    return SCRIPTED_QN_HANDLE;
}

SCRIPTED_EXPORT BOOL WINAPI QnCloseHandle(HANDLE) {
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnReadFile(HANDLE, LPVOID, DWORD, LPDWORD got, LPVOID) {
    script.reads.fetch_add(1, kRelaxed);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    *got = 0;
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnWriteFile(HANDLE, LPCVOID, DWORD count, LPDWORD sent, LPVOID) {
    script.writes.fetch_add(1, kRelaxed);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    switch (script.write.load(kRelaxed)) {
        case ScriptedQn::kWriteShort:
            *sent = count / 2;
            return TRUE;
        case ScriptedQn::kWriteNothing:
            *sent = 0;
            return TRUE;
        case ScriptedQn::kWriteFail:
            *sent = 0;
            plat::setLastError(script.writeError.load(kRelaxed));
            return FALSE;
        default:
            *sent = count;
            return TRUE;
    }
}

SCRIPTED_EXPORT BOOL WINAPI QnSetCommState(HANDLE, LPDCB dcb) {
    script.setStates.fetch_add(1, kRelaxed);
    script.lastBaudSet.store(dcb->BaudRate, kRelaxed);
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnGetCommState(HANDLE, LPDCB dcb) {
    if (script.getStateFails.load(kRelaxed)) return FALSE;
    *dcb = DCB{};
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = 9600;
    dcb->ByteSize = 8;
    dcb->fBinary = 1;
    dcb->XonChar = 0x11;
    dcb->XoffChar = 0x13;
    dcb->XonLim = 2048;
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnSetCommTimeouts(HANDLE, LPCOMMTIMEOUTS) {
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnPurgeComm(HANDLE, DWORD) {
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    if (errors) *errors = CE_FRAME;
    if (status) *status = COMSTAT{};
    return TRUE;
}
