// A stand-in for the network serial library whose answers a test scripts:
// a line state that cannot be read, writes that fail, fall short or take
// nothing, reads that find nothing (after a short wait, like the read
// time-out) or fail at once, and opens that fail for a while. It gives the
// engine the failures a pseudo-terminal never has.
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
    script.creates.fetch_add(1, kRelaxed);
    uint32_t fails = script.createsToFail.load(kRelaxed);
    if (fails != 0) {
        script.createsToFail.store(fails - 1, kRelaxed);
        plat::setLastError(ERROR_SEM_TIMEOUT);
        return INVALID_HANDLE_VALUE;
    }
    script.readError.store(0, kRelaxed);
    return SCRIPTED_QN_HANDLE;
}

SCRIPTED_EXPORT BOOL WINAPI QnCloseHandle(HANDLE) {
    script.closes.fetch_add(1, kRelaxed);
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnReadFile(HANDLE, LPVOID, DWORD, LPDWORD got, LPVOID) {
    script.reads.fetch_add(1, kRelaxed);
    *got = 0;
    if (const uint32_t error = script.readError.load(kRelaxed)) {
        plat::setLastError(error);
        return FALSE;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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

// A port that keeps the speed it was given; everything else as a fresh
// port has it.
SCRIPTED_EXPORT BOOL WINAPI QnGetCommState(HANDLE, LPDCB dcb) {
    if (script.getStateFails.load(kRelaxed)) return FALSE;
    const uint32_t baud = script.lastBaudSet.load(kRelaxed);
    *dcb = DCB{};
    dcb->BaudRate = baud != 0 ? baud : 9600;
    dcb->DCBlength = sizeof(DCB);
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
