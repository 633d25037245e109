// A port worker as one value: its state, its counters, its texts and its
// line, read in one call (PortWorker::Snapshot), for everything above the
// engine: the refresh and the row texts, the unattended run's checks and
// reports, the interval log. Nothing above the engine reads a worker's
// fields one by one.
//
// The counters are atomics that the worker's threads keep moving; a
// snapshot reads each once, one after the other, within microseconds. Two
// counters of a port that is moving data may thus be a block apart; once
// its directions have stopped and their routines have ended (rxBusy and
// txBusy false), a snapshot is exact.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32_types.h"
#include "tester/engine/latency_histogram.h"
#include "tester/port/port_access.h"

// Where a port stands. A worker starts Opening, and ends up NotOpen or
// NoBuffers (for good) or Open; an open port that is lost is Down until it
// is open again.
enum class PortState : uint32_t {
    Opening,    // the port thread is opening the port
    NotOpen,    // the port could not be opened (openFailure says why)
    NoBuffers,  // it opened, but the worker's buffers could not be had
    Open,       // open and ready for commands
    Down,       // lost while open; being opened again
};

// "opening", "not open", "no buffers", "open", "down".
const char* PortStateName(PortState state);

// The kinds of line error counted one by one (beside lineErrorCount, which
// counts the reads that found any), and the CE_ bit of each.
enum LineErrorKind : uint32_t {
    kLineOverrun,
    kLineFraming,
    kLineParity,
    kLineBreak,
    kLineErrorKinds
};
constexpr uint32_t kLineErrorKindBits[kLineErrorKinds] = {CE_OVERRUN, CE_FRAME, CE_RXPARITY,
                                                          CE_BREAK};

struct PortSnapshot {
    int32_t rowIndex = -1;
    PortState state = PortState::Open;
    DeviceKind kind = DeviceKind::Unknown;  // known once the port has opened
    std::string portName;
    std::string openFailure;  // NotOpen: why, in the system's words

    // The test mode and the directions the commands have started (the
    // State cell), and whether a direction's routine is still at work
    // (a stopped master finishing its exchange, a last read returning).
    uint32_t mode = 0;
    uint32_t rxRunning = 0;
    uint32_t txRunning = 0;
    bool rxBusy = false;
    bool txBusy = false;

    uint64_t bytesRead = 0;
    uint64_t blocksOk = 0;
    uint64_t bytesWritten = 0;
    uint64_t blocksWritten = 0;
    uint64_t elapsedMs = 0;
    uint32_t rate = 0;
    uint32_t rxErrors = 0;
    uint32_t txErrors = 0;
    // The texts of the row's error description, as the refresh last made
    // them (or the commands blanked them).
    std::string commErrorText;
    std::string lastErrorKindText;
    int32_t lastErrorKind = 0;
    uint32_t lastOsError = 0;

    uint32_t drops = 0;           // times the open port was lost
    uint32_t blocksLost = 0;      // blocks whose numbers were skipped
    uint32_t lineErrorCount = 0;  // line-error reads that found any shown bit
    uint32_t lineErrorBits = 0;   // every shown line-error bit seen
    uint32_t replyAwaited = 0;    // a master's direction ended while its block awaited the echo
    // Line-error reads that found each kind, by LineErrorKind.
    uint32_t lineErrorsOfKind[kLineErrorKinds] = {};
    // The error of the line settings the port did not take; 0 when it
    // took them. speedSubstituted: the driver took them but reported
    // another speed (baudSet) than the one asked (baudAsked).
    uint32_t settingsRefused = 0;
    std::string settingsRefusedText;  // the system's words for it
    bool speedSubstituted = false;
    uint32_t baudAsked = 0;  // the speed last asked of the port
    uint32_t baudSet = 0;    // the speed the port has

    uint32_t blockSize = 0;  // of the blocks in use
    uint32_t rxFill = 0;     // bytes of a block assembled and not yet checked
    // How long the receive side has gone without a byte while a receiving
    // direction runs (a duplex reader, a slave, a master awaiting echoes);
    // 0 otherwise.
    uint32_t rxIdleMs = 0;
    LatencySummary roundTrips;

    bool Ready() const { return state == PortState::Open || state == PortState::Down; }
    bool Down() const { return state == PortState::Down; }
};
