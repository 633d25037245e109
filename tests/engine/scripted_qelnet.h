// The script of the stand-in network library (scripted_qelnet.cpp), shared
// with the tests that load it. The library is found as
// "vesk_scripted_qelnet" (UseNetworkLibraryForTesting); its state comes
// from the export ScriptedQnState.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32_types.h"

struct ScriptedQn {
    enum Write { kWriteAll, kWriteShort, kWriteNothing, kWriteFail };

    std::atomic<int> write{kWriteAll};    // short: half the block
    std::atomic<uint32_t> writeError{0};  // the last error of a failed write
    std::atomic<int> getStateFails{0};
    // Reads fail with this error when it is not 0 (they find nothing
    // otherwise). The next `createsToFail` opens fail; the first open that
    // succeeds after a read failed clears readError: a server that came back.
    std::atomic<uint32_t> readError{0};
    std::atomic<uint32_t> createsToFail{0};
    // Each open takes this long, as a connect to a far device server does.
    std::atomic<uint32_t> createDelayMs{0};
    // What each QnClearCommError finds.
    std::atomic<uint32_t> commErrors{CE_FRAME};
    // While set, a read blocks, as one on a line that stays quiet for ever
    // would, until it is cleared or a purge aborts the reads (the read then
    // fails with ERROR_OPERATION_ABORTED). readsHeld counts the reads that
    // blocked, readAborts those a purge ended.
    std::atomic<int> readHold{0};
    std::atomic<uint32_t> readsHeld{0};
    std::atomic<uint32_t> readAborts{0};

    // Modem lines. Each port is one of kPorts, picked by the last digit of
    // its name ("127.0.0.1:7001" is port 1, handle SCRIPTED_QN_HANDLE + 1),
    // so that a test can wire ports to each other. Output o (0 RTS, 1 DTR)
    // of port p reaches the MS_* bits wireBits[p][o] of port wireTo[p][o]
    // (no bits: not wired). A port sees its far ends' lines modemLagMs
    // after they change, as a network port sees them a notification later.
    // modemError, when not 0, fails both exports with that error.
    static constexpr int kPorts = 4;
    std::atomic<uint32_t> wireTo[kPorts][2] = {};
    std::atomic<uint32_t> wireBits[kPorts][2] = {};
    std::atomic<uint32_t> modemLagMs{0};
    std::atomic<uint32_t> modemError{0};
    // Bit 0 RTS, bit 1 DTR, as the escapes and QnSetCommState set them.
    std::atomic<uint32_t> outputs[kPorts] = {};

    std::atomic<uint32_t> creates{0};
    std::atomic<uint32_t> closes{0};
    std::atomic<uint32_t> reads{0};
    std::atomic<uint32_t> writes{0};
    std::atomic<uint32_t> setStates{0};
    std::atomic<uint32_t> lastBaudSet{0};
};

#define SCRIPTED_QN_HANDLE ((HANDLE)(intptr_t)0x5151)

using ScriptedQnStateFn = ScriptedQn* (*)();
