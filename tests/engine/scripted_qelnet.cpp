// A stand-in for the network serial library whose answers a test scripts:
// a line state that cannot be read, writes that fail, fall short or take
// nothing, reads that find nothing (after a short wait, like the read
// time-out) or fail at once, and opens that fail for a while. It gives the
// engine the failures a pseudo-terminal never has, and modem lines wired as
// a test says, which a pseudo-terminal has not at all.
#include "tests/engine/scripted_qelnet.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/last_error.h"

// Plain C names. Nothing is marked for export, so the mingw linker exports
// every symbol of the DLL, and on POSIX every symbol is visible anyway.
#define SCRIPTED_EXPORT extern "C"

namespace {
ScriptedQn script;
constexpr auto kRelaxed = std::memory_order_relaxed;
std::atomic<uint32_t> readAbortsAsked{0};

int PortOf(HANDLE handle) {
    const intptr_t index =
        reinterpret_cast<intptr_t>(handle) - reinterpret_cast<intptr_t>(SCRIPTED_QN_HANDLE);
    return index >= 0 && index < ScriptedQn::kPorts ? static_cast<int>(index) : 0;
}

uint32_t Now() {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

// What the far ends see of each port's outputs: the value before the last
// change until the lag has passed.
std::mutex linesLock;
uint32_t shownBefore[ScriptedQn::kPorts] = {};
uint32_t changedAt[ScriptedQn::kPorts] = {};

uint32_t Shown(int port, uint32_t now) {
    return now - changedAt[port] >= script.modemLagMs.load(kRelaxed)
               ? script.outputs[port].load(kRelaxed)
               : shownBefore[port];
}

void SetOutput(int port, uint32_t bit, bool on) {
    std::lock_guard<std::mutex> hold(linesLock);
    const uint32_t now = Now();
    const uint32_t before = script.outputs[port].load(kRelaxed);
    const uint32_t after = on ? before | bit : before & ~bit;
    if (after == before) return;
    shownBefore[port] = Shown(port, now);
    changedAt[port] = now;
    script.outputs[port].store(after, kRelaxed);
}
}  // namespace

SCRIPTED_EXPORT ScriptedQn* ScriptedQnState() {
    return &script;
}

SCRIPTED_EXPORT HANDLE WINAPI QnCreateFile(LPCSTR name, DWORD, DWORD, LPVOID, DWORD, DWORD,
                                           HANDLE) {
    script.creates.fetch_add(1, kRelaxed);
    if (uint32_t delay = script.createDelayMs.load(kRelaxed))
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    uint32_t fails = script.createsToFail.load(kRelaxed);
    if (fails != 0) {
        script.createsToFail.store(fails - 1, kRelaxed);
        plat::setLastError(ERROR_SEM_TIMEOUT);
        return INVALID_HANDLE_VALUE;
    }
    script.readError.store(0, kRelaxed);
    const size_t length = std::strlen(name);
    const int port = length ? (name[length - 1] - '0') % ScriptedQn::kPorts : 0;
    return reinterpret_cast<HANDLE>(reinterpret_cast<intptr_t>(SCRIPTED_QN_HANDLE) +
                                    (port < 0 ? 0 : port));
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
    if (script.readHold.load(kRelaxed) != 0) {
        const uint32_t aborts = readAbortsAsked.load(kRelaxed);
        script.readsHeld.fetch_add(1, kRelaxed);
        while (script.readHold.load(kRelaxed) != 0) {
            if (readAbortsAsked.load(kRelaxed) != aborts) {
                script.readAborts.fetch_add(1, kRelaxed);
                plat::setLastError(ERROR_OPERATION_ABORTED);
                return FALSE;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return TRUE;
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

// The lines as the network library sets them with the settings: RTS on
// for enable and handshake, off for disable and toggle; DTR on for enable.
SCRIPTED_EXPORT BOOL WINAPI QnSetCommState(HANDLE handle, LPDCB dcb) {
    script.setStates.fetch_add(1, kRelaxed);
    script.lastBaudSet.store(dcb->BaudRate, kRelaxed);
    SetOutput(PortOf(handle), 1,
              dcb->fRtsControl == RTS_CONTROL_ENABLE || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE);
    SetOutput(PortOf(handle), 2, dcb->fDtrControl == DTR_CONTROL_ENABLE);
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnEscapeCommFunction(HANDLE handle, DWORD function) {
    if (const uint32_t error = script.modemError.load(kRelaxed)) {
        plat::setLastError(error);
        return FALSE;
    }
    if (function < SETRTS || function > CLRDTR) return FALSE;
    const uint32_t bit = function <= CLRRTS ? 1 : 2;
    SetOutput(PortOf(handle), bit, function == SETRTS || function == SETDTR);
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnGetCommModemStatus(HANDLE handle, LPDWORD status) {
    if (const uint32_t error = script.modemError.load(kRelaxed)) {
        plat::setLastError(error);
        return FALSE;
    }
    const int port = PortOf(handle);
    std::lock_guard<std::mutex> hold(linesLock);
    const uint32_t now = Now();
    DWORD bits = 0;
    for (int from = 0; from < ScriptedQn::kPorts; ++from) {
        const uint32_t shown = Shown(from, now);
        for (int o = 0; o < 2; ++o)
            if ((shown & (1u << o)) &&
                script.wireTo[from][o].load(kRelaxed) == static_cast<uint32_t>(port))
                bits |= script.wireBits[from][o].load(kRelaxed);
    }
    *status = bits;
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

SCRIPTED_EXPORT BOOL WINAPI QnPurgeComm(HANDLE, DWORD flags) {
    if (flags & PURGE_RXABORT) readAbortsAsked.fetch_add(1, kRelaxed);
    return TRUE;
}

SCRIPTED_EXPORT BOOL WINAPI QnClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
    if (errors) *errors = script.commErrors.load(kRelaxed);
    if (status) *status = COMSTAT{};
    return TRUE;
}
