// One port under test: its row in the port list, its port, two 64 KiB
// buffers, two threads and the counters the list shows.
//
// PortThread opens the port, sets it up and serves the receive direction;
// TxThread serves the send direction. A direction runs while its run event
// is set; the operations below (on the window's thread) set and reset the
// events and choose the test mode, which a direction reads when it starts.
// quitEvent (engine.h) ends both threads.
//
// Threads and sharing:
// - Counters, flags and mode are relaxed atomics: the worker's
//   threads, the window's thread (Clear, settings) and the refresh timer
//   read and write them without a lock, and a reader may combine values
//   taken a step apart. Counters are added to with fetch_add, so that two
//   threads counting into one field (a master's TxThread and a reader
//   started on the same port) lose nothing. The byte and block counters
//   and the time are 64 bits wide, so that nothing wraps in any run (a
//   32-bit byte count wraps within hours at 921600 bit/s), and lock-free
//   on every target we ship, 32-bit Windows included (checked below).
// - portName, the two error texts, dcb and comStat are read and written
//   whole under a small lock, through the accessors.
// - Locks. No lock is held across a transfer on the port or a wait: each
//   guards bookkeeping and is held for microseconds, so a thread that only
//   wants to look at or reset that bookkeeping (a sender taking the block
//   size as it starts, a settings change, a check's forget) never waits
//   for a read or a write to end.
//     fieldLock  the texts, dcb, comStat, lineWanted_, openFailure.
//     rxBook_    what the receive side has assembled: blockSize changes,
//                rxFill, lastRxSeq, pattern, rxEpoch_, and the bytes of
//                rxBlock below rxFill.
//     otherSide  OnPort's calls (short calls of other threads' checks),
//                so that a reconnection does not close the port under one.
// - Turns (port_turn.h). The port's reads follow one another, as do its
//   writes: readTurn_ is held by the one routine (or the wiring probe)
//   that is reading, across its read, and writeTurn_ likewise for writes.
//   A turn is not a lock on data: only a thread about to use the port
//   joins its line, which is served in order, so a half-duplex routine
//   that keeps running after a mode change and the routine started on the
//   other thread take turns read by read. A reader reads into rxBlock at
//   the rxFill it noted under rxBook_ with rxEpoch_, and keeps the bytes
//   only when rxEpoch_ has not moved meanwhile: whoever drops what was
//   assembled (a new block size, a settings change, a check's forget, a
//   half-duplex start) moves rxEpoch_ under rxBook_ and need not wait for
//   the read in flight. A settings change and a check's forget also take
//   the read turn for a moment, aborting the read in progress to get it
//   at once, so that a stopped routine reads nothing of the next run; a
//   reconnection takes every turn that way before it closes the port.
//
// A lost port (a device server gone, an adapter pulled: PortAccess::IsLost)
// is closed and opened again by PortThread when [Misc] Reconnect is on,
// with the settings it had, while both directions wait and then go on as
// they were; drops counts the losses and portDown is 1 meanwhile. Every
// other failed transfer is counted and followed by a pause of about one
// read time-out, so a dead port never spins.
//
// Life: Create, Start, then the operations; at shut-down SignalQuit,
// CancelAndPurge, JoinThreads, and delete only when JoinThreads (or
// ThreadsEnded) has said both threads have ended. A worker whose thread
// outlives the bound must be left allocated: freeing it would free memory
// that thread still uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/event.h"
#include "platform/thread.h"
#include "platform/win32_types.h"
#include "tester/engine/latency_histogram.h"
#include "tester/engine/port_snapshot.h"
#include "tester/engine/port_turn.h"
#include "tester/engine/test_block.h"
#include "tester/port/port_access.h"

class RowSink;
class WorkerEvents;
struct PortSettings;

// Test modes (`mode`).
constexpr uint32_t ModeDuplex = 0;
constexpr uint32_t ModeMaster = 1;
constexpr uint32_t ModeSlave = 2;

// Error kinds (`lastErrorKind`).
constexpr int32_t kErrorNone = 0;      // ".."
constexpr int32_t kErrorRead = 1;      // "RD" a read failed
constexpr int32_t kErrorSync = 2;      // "SY" block out of place or out of sequence
constexpr int32_t kErrorData = 3;      // "DA" an echo differed from the block sent
constexpr int32_t kErrorWrite = 4;     // "WR" a write failed or fell short
constexpr int32_t kErrorTimeout = 5;   // "TO" a half-duplex block or reply came too late
constexpr int32_t kErrorSettings = 6;  // "SE" the port refused the line settings

// The two-letter code of an error kind: "..", "RD", "SY", "DA", "WR", "TO",
// "SE", and "??" for any other value.
const char* ErrorKindText(int32_t kind);

// The read time-out PortThread sets: every read returns after this at the
// latest, with nothing when nothing came.
constexpr uint32_t kReadTimeoutMs = 100;

// How long a settings change or a check's forget waits for the receive
// side, aborting the read in progress meanwhile: a port that ends a read
// on request lets go within milliseconds.
constexpr uint32_t kSideBoundMs = 1000;

static_assert(std::atomic<uint64_t>::is_always_lock_free,
              "the 64-bit counters are shared without locks: they must be lock-free");

// Copies the line settings that the settings form controls (speed, data
// bits, parity, stop bits, handshake flags) from one record to another;
// every other field of `to` stays.
void CopyLineSettings(const DCB& from, DCB& to);

// "115200 8N1, RTS/CTS": the speed, the frame and the flow control a
// record asks for, for messages.
std::string LineSettingsText(const DCB& dcb);

// A speed the port reports back within this share of the one asked is the
// one asked (a divisor's rounding); further off, the driver set another
// speed, and the settings count as refused ("SE").
constexpr double kSpeedRounding = 0.02;

// Every purge of the engine and the commands: abort and clear both ways.
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The half-duplex reply time-out that a time-out setting of 0 stands for:
// three times the block's time on the line at 10 bits a byte,
// blockSize x 30000 / baudRate ms in unsigned 32-bit arithmetic. A speed of
// 0 (a port whose settings could not be read, or a file that holds 0) is
// taken as 300 bit/s, the slowest the settings accept: an unknown line gets
// the longest wait rather than false time-outs. The settings form shows the
// same value.
uint32_t DefaultReplyTimeoutMs(uint32_t blockSize, uint32_t baudRate);

class PortWorker {
  public:
    // A worker for row `rowIndex` (0-based, also its position in the list)
    // and port `portName` (already normalised: NormalizePortName). Null when
    // the worker or its run events cannot be made; the caller then gives
    // the next port this row index. `rows` and `settings` must outlive the
    // worker. The worker takes its line settings, block size, half-duplex
    // time-out and reconnection rule from `settings` (the session's) when
    // it opens its port, when a direction starts and on ApplySettings; it
    // reads no settings of its own. What happens to it that someone should
    // be told of goes to `events` (which must outlive it too; null: no one).
    static std::unique_ptr<PortWorker> Create(int32_t rowIndex, const char* portName, RowSink& rows,
                                              const PortSettings& settings,
                                              WorkerEvents* events = nullptr);

    // Frees the buffers and events. Only once ThreadsEnded() is true (or
    // Start was never called, or failed).
    virtual ~PortWorker();

    PortWorker(const PortWorker&) = delete;
    PortWorker& operator=(const PortWorker&) = delete;

    // Stores the name and starts PortThread, which makes the row and opens
    // the port. False when the thread cannot start, or InitTestEngine has
    // not succeeded (the worker may then be deleted at once). Once per
    // worker, right after Create. The worker takes commands from then on:
    // those given while the port is still opening (a network port's connect
    // can take seconds) are kept, and the directions they started run once
    // the port is open.
    bool Start(const char* name);

    // Every counter, the state, the texts and the line of the port, read in
    // one call (port_snapshot.h). Any thread.
    PortSnapshot Snapshot() const;
    PortState State() const;

    // --- The commands' operations, on the window's thread.

    // Start/Stop: either run event set stops both; otherwise starts the
    // directions the mode uses (duplex both, master send, slave receive).
    void ToggleRun();
    // Read / Write: mode to ModeDuplex, then that direction alone flips.
    void ToggleRead();
    void ToggleWrite();
    // HD Master / HD Slave (ModeMaster / ModeSlave), or any mode; no
    // direction starts or stops, and running routines keep theirs.
    void SetMode(uint32_t newMode);
    // Half-duplex pairs: ModeSlave on an odd rowIndex, else ModeMaster.
    void PairByRow();
    // Clear: mode to ModeDuplex, counters and error fields to 0, both texts
    // to "  "; running directions go on counting from 0.
    void Clear();
    // Purge: abort and clear both directions of the port, then ClearCommErrors.
    void Purge();
    // After the settings form's OK (the session's settings changed): stops
    // both directions, zeroes as Clear does (mode kept), ApplyToDcb,
    // SetState, and takes the half-duplex time-out from the settings. Sequence numbers stay; the
    // blocks follow a new byte size when each direction next starts. Settings the port refuses
    // leave it with the ones it has, which dcb then holds: the refusal is an "SE" error and stays
    // in settingsRefused. A port that is down takes the new settings when it is open again.
    // The stopped receiver's read in progress is aborted, so that it reads nothing of a run
    // started next (within kSideBoundMs, whatever the read time-out); false when the port
    // ignored that (the settings are put on the port all the same; the session is told).
    bool ApplySettings();

    // For a check that borrows the port (condition_check.h), once its
    // receive direction is stopped: aborts the receiver's read in progress,
    // drops what was assembled of a block and takes `nextSequence` (its
    // sender's nextTxSeq) as the number the next block carries, so that
    // blocks start afresh after bytes the check put on the line or threw
    // away. False when the read did not end within kSideBoundMs: then the
    // assembly is dropped all the same but a read may still bring bytes.
    bool ForgetReceived(uint32_t nextSequence);

    // Copies the settings' line fields (speed, data bits, parity, stop bits,
    // handshake flags) into dcb; every other field keeps what the port gave.
    void ApplyToDcb();

    // ClearError on the port into commErrors and comStat (the end of
    // Purge). Both stay as they were when the call fails. Returns the
    // call's result.
    BOOL ClearCommErrors();

    // The refresh's read of the line errors: ClearError on the port, the
    // bits of `shown` kept in commErrors (any other dropped), and a read
    // that found any of them counted (lineErrorCount, lineErrorBits, and
    // lineErrorsOfKind for each kind it found): each
    // read clears the port's errors, so what it finds is new. A failed read
    // leaves commErrors as it was. Returns commErrors.
    uint32_t ReadLineErrors(uint32_t shown);

    // What the port's errors say of its settings: a CE_MODE (a device
    // server that answered the line settings asked with others, which it
    // runs with instead) makes them refused ("SE", settingsRefused), as a
    // driver's refusal does; while a check has lent the line, it is kept
    // for the check instead (TakeLentRefusal).
    void NoteModeError(uint32_t errors);
    // A check puts settings of its own on the port from LendLine(true) to
    // LendLine(false); TakeLentRefusal says, once, whether the port
    // answered them with others meanwhile.
    void LendLine(bool lent);
    bool TakeLentRefusal();

    // The kind of the last error counted (kErrorNone...).
    int32_t LastErrorKind() const { return lastErrorKind.load(std::memory_order_relaxed); }

    // Runs op(portAccess, handle) on the open port for a thread that is not
    // one of the worker's own (the modem-line check, line_check.h), under a
    // lock that a reconnection takes before it closes the port, so that op
    // never reaches a port being closed. FALSE, with ERROR_NOT_READY, while
    // the port is not open or is down. Keep op short: a reconnection waits
    // for it. op's last error is the caller's afterwards.
    BOOL OnPort(const std::function<BOOL(PortAccess&, HANDLE)>& op);

    // A read and a write of the port's own for a thread that is not one of
    // the worker's (the wiring probe), while the worker's directions are
    // stopped: each in its direction's turn, as the worker's routines take
    // it, so that a read and a write go on side by side, neither meets a
    // routine of the worker, and a reconnection waits for both. The read
    // returns by the worker's read time-out. FALSE, with ERROR_NOT_READY,
    // while the port is not open or is down.
    BOOL ReadPort(void* buffer, DWORD count, DWORD* got);
    BOOL WritePort(const void* buffer, DWORD count, DWORD* sent);
    // The port's handle while it is open and up, else INVALID_HANDLE_VALUE.
    HANDLE OpenHandle() const;

    // --- Texts and records, copied whole under the worker's lock.

    std::string PortName() const;
    // Why the port could not be opened (PortAccess::OpenFailure), or "".
    std::string OpenFailure() const;
    std::string CommErrorText() const;
    void SetCommErrorText(const char* text);
    std::string LastErrorKindText() const;
    void SetLastErrorKindText(const char* text);
    DCB Dcb() const;
    // The worker's record with the line settings it wants for the port
    // (those it was given, or those the port kept when it refused them):
    // what a borrower of the lines puts back. A network port's record
    // itself says nothing of RTS, DTR and the handshake once a direction
    // has read the port's state.
    DCB WantedDcb() const;
    COMSTAT ComStat() const;
    // The settings the session gave this worker (block size, modes).
    const PortSettings& Settings() const { return settings_; }

    // --- Shut-down, after SignalQuit, on one thread (the window's).

    // Ends the transfers blocked in the worker's threads: CancelPending and
    // then Purge(kPurgeAll) of the open port, yielding after each. Does
    // nothing once the port is closed.
    void CancelAndPurge();

    // Waits up to timeoutMs in all for PortThread and then TxThread to end,
    // repeating CancelAndPurge every 100 ms meanwhile, so that a transfer
    // that began after the first cancel ends too. True once both have ended
    // (at once when they had, or were never started). PortThread itself may
    // wait 5000 ms for TxThread before it closes the port, which ends any
    // transfer: a bound above that covers a driver that ignores cancels.
    bool JoinThreads(uint32_t timeoutMs);

    // Both threads have ended (JoinThreads without waiting).
    bool ThreadsEnded() { return JoinThreads(0); }

    // A test seam: what the byte counters and the time start from whenever
    // a direction starts or the counters are cleared (0 in the program), so
    // that a test can take a worker across large totals in seconds. Set it
    // before the direction starts; the block counters a test sets itself.
    struct CounterOrigin {
        uint64_t bytes = 0;
        uint64_t elapsedMs = 0;
    };
    void SetCounterOriginForTesting(const CounterOrigin& origin) {
        originBytes_.store(origin.bytes, std::memory_order_relaxed);
        originElapsedMs_.store(origin.elapsedMs, std::memory_order_relaxed);
    }

    // --- The worker's fields, in the order of the design. The commands and
    // the refresh read the atomics with memory_order_relaxed.

    PortAccess portAccess;
    std::atomic<uint32_t> notReady{1};  // until the port is open and the buffers exist
    const int32_t rowIndex;
    RowSink& rows;

  private:
    const PortSettings& settings_;
    WorkerEvents* const events_;

  public:
  private:
    std::string portName;  // under fieldLock

  public:
    std::atomic<HANDLE> portHandle{INVALID_HANDLE_VALUE};

  private:
    // Owned by the threads: made by PortThread before TxThread starts,
    // rxBlock freed by PortThread once TxThread has ended (a master's
    // TxThread reads into it), txBlock by TxThread as it ends; whatever a
    // thread could not free goes with the worker.
    std::unique_ptr<uint8_t[]> txBlock;
    std::unique_ptr<uint8_t[]> rxBlock;
    // A slave's copy of the block it echoes (PortThread's, made as the
    // first exchange starts): the echo is written from it while the read
    // turn is free.
    std::unique_ptr<uint8_t[]> echoBlock_;

  public:
    std::atomic<uint32_t> blockSize{0};
    std::atomic<uint32_t> rxFill{0};
    std::atomic<uint64_t> elapsedMs{0};
    std::atomic<uint32_t> rate{0};
    std::atomic<uint32_t> rxErrors{0};
    std::atomic<uint32_t> txErrors{0};
    std::atomic<uint64_t> bytesWritten{0};
    std::atomic<uint64_t> bytesRead{0};
    std::atomic<uint64_t> blocksWritten{0};
    std::atomic<uint64_t> blocksOk{0};
    std::atomic<uint32_t> commErrors{0};

  private:
    std::string commErrorText;  // under fieldLock

  public:
    std::atomic<int32_t> lastErrorKind{kErrorNone};

  private:
    std::string lastErrorKindText;  // under fieldLock

  public:
    std::atomic<uint32_t> lastOsError{0};
    // Manual reset, initially clear. Set and reset them only through the
    // operations above, which keep txRunning and rxRunning in step.
    plat::Event txRunEvent{plat::Event::ManualReset};
    plat::Event rxRunEvent{plat::Event::ManualReset};
    std::atomic<uint32_t> txRunning{0};
    std::atomic<uint32_t> rxRunning{0};
    std::atomic<uint32_t> mode{ModeDuplex};

  private:
    DCB dcb{};          // under fieldLock
    COMSTAT comStat{};  // under fieldLock

  public:
    std::atomic<int32_t> lastRxSeq{-1};
    std::atomic<uint32_t> nextTxSeq{0};
    std::atomic<uint32_t> hdTimeoutMs{0};

    // Beyond the row's cells, for the reports. Zeroed with the counters.
    std::atomic<uint32_t> drops{0};           // times the open port was lost
    std::atomic<uint32_t> portDown{0};        // 1 from a loss until the port is open again
    std::atomic<uint32_t> blocksLost{0};      // blocks whose numbers were skipped
    std::atomic<uint32_t> lineErrorCount{0};  // line-error reads that found any shown bit
    std::atomic<uint32_t> lineErrorBits{0};   // every shown line-error bit seen
    std::atomic<uint32_t> lineErrorsOfKind[kLineErrorKinds] = {};  // reads that found each kind
    // 1 when a master's routine ended while its last block waited for its
    // echo: the session ended, or a read failed after the stop. A plain
    // stop lets the exchange finish first (MasterExchange).
    std::atomic<uint32_t> replyAwaited{0};
    // The error of the last SetState the port refused; 0 once it takes
    // settings again (not zeroed with the counters: the line still has the
    // settings it kept).
    std::atomic<uint32_t> settingsRefused{0};
    // A master's round trips, block sent to its correct echo complete.
    // Recorded by MasterExchange, emptied with the counters and as the
    // exchange starts.
    LatencyHistogram roundTrips;

  private:
    plat::Thread txThread;
    plat::Thread portThread;

    PortWorker(int32_t rowIndex, const char* portName, RowSink& rows, const PortSettings& settings,
               WorkerEvents* events);

    static void PortThreadEntry(void* worker);
    static void TxThreadEntry(void* worker);
    void PortThread();
    void ReceiveLoop();
    void SendLoop();
    void ResetState();
    // Takes the configured block size as a direction starts; a new size
    // drops what was assembled of a block of the old one.
    void AdoptBlockSize();
    // As the receive or the send direction starts: the block size, and a
    // pattern for the data bits the line now has (a new byte size from the
    // settings), for the receiver's check or the blocks sent.
    void AdoptReceiveSettings();
    void AdoptSendSettings();
    // The data bits the blocks are made for: the line's as last put on the
    // port, or the configured ones while that is not known.
    uint32_t PatternByteSize() const;
    // Puts `wanted` on the port. When the port refuses it, reads back what
    // it kept instead (dcb, and what a reopened port gets back) and reports
    // the refusal ("SE", settingsRefused). The result of SetState.
    bool PutLineSettings(HANDLE handle, const DCB& wanted);
    void ZeroCounters();
    void SetTexts(const char* text);
    // A text field read or written whole under fieldLock.
    std::string Locked(const std::string& field) const;
    void SetLocked(std::string& field, const char* text);
    void ReportGetStateError();

    // The inner routines' frame: quitEvent clear and `run` set, tested
    // without waiting, and the direction not stopped since its routine
    // began (a stop and a start in between still end the routine).
    bool DirectionRuns(plat::Event& run);
    // After a transfer that failed (not aborted): about one read time-out
    // before the next try, cut short as soon as quitEvent is set or `run`
    // is reset. A dead port thus adds a few errors a second, not millions.
    void Backoff(plat::Event& run);

    // A transfer found the port gone: the first to say so counts a drop,
    // marks the port down and wakes PortThread to open it again.
    void ReportLost(uint32_t error);
    // On TxThread: waits until PortThread has the port open again. False
    // when quitEvent is set or `run` is reset first.
    bool AwaitPort(plat::Event& run);
    // On PortThread: closes the lost port once neither thread is inside it,
    // opens it again (0.5 s, then twice as long each time up to 5 s), sets
    // it up as it was and lets the directions go on. False when quitEvent
    // ended the wait.
    bool Reconnect();
    // The line settings and read time-outs of a freshly opened port: the
    // configured settings the first time, the ones the worker had before a
    // loss afterwards.
    void ConfigurePort(HANDLE handle, bool firstOpen);

    // The number for the next block sent (nextTxSeq), which moves on to the
    // one after it. TxThread's alone.
    uint32_t TakeSequence();
    bool BuildTestBlock();
    bool CheckBlock();
    void DuplexWriter();
    void DuplexReader();
    void MasterExchange();
    void SlaveExchange();

    // How a transfer ended: moved bytes; ended by a purge or cancel (not
    // counted); failed (counted: back off before the next); or the port is
    // lost (reported; the routine returns and waits for the port).
    enum class Transfer { Done, Aborted, Failed, Lost };
    // The failure of a transfer, classified, counted against `counter` with
    // `kind` unless it was aborted or the port is lost.
    Transfer Failure(const plat::Error& error, std::atomic<uint32_t>& counter, int32_t kind);

    // One counted write of `size` bytes of `block`. Done when the port took
    // some of it: bytesWritten counts what it took, blocksWritten the block,
    // and a short write is a "WR" error. A write that took nothing counts
    // a "WR" error and neither bytes nor a block.
    Transfer WriteBlock(const uint8_t* block, uint32_t size);
    // What a read towards a block starts from, noted under rxBook_: the
    // block size, the bytes assembled and the epoch they belong to.
    struct RxSpan {
        uint32_t size;
        uint32_t fill;
        uint32_t epoch;
    };
    RxSpan NoteSpan();
    // One read of the port towards a whole block, into rxBlock at
    // span.fill (nothing is read once it is whole), with readTurn_ held and
    // no lock: bytesRead grows by `got`. A failed read is a "RD" error.
    Transfer ReadSpan(const RxSpan& span, DWORD& got);
    // With rxBook_ held: keeps the `got` bytes read after `span` when
    // nobody dropped the assembly meanwhile (rxFill grows); `fill` is
    // rxFill either way. False when they were dropped.
    bool KeepRead(const RxSpan& span, DWORD got, uint32_t& fill);
    // With rxBook_ held: drops what was assembled of a block, also what a
    // read in flight will bring for it.
    void DropAssembled();
    // Runs `op` under rxBook_ while holding the read turn, which it gets
    // within boundMs by aborting the read in progress. False, with `op`
    // run all the same, when the turn did not come: a port that ignores the
    // abort.
    bool WithReceiveSide(uint32_t boundMs, const std::function<void()>& op);
    // Ends the port's reads in progress (they fail, aborted, and are not
    // counted); what waits in the port's buffer stays for the next read.
    void AbortReads();
    void CountError(std::atomic<uint32_t>& counter, int32_t kind);
    // elapsedMs grows by the time since `lastTick` (which becomes `now`),
    // and rate = bytesRead x 1000 / elapsedMs. Adding up tick differences
    // keeps the time right past the 32-bit tick count's wrap (49.7 days).
    void UpdateRate(uint32_t& lastTick, uint32_t now);
    uint32_t ReplyTimeoutMs();
    // The start of a half-duplex run: nothing assembled, bytesRead and
    // elapsedMs 0. Returns the run's start tick.
    uint32_t BeginRun();

    mutable std::mutex fieldLock;
    std::mutex rxBook_;                // see the top of this file
    PortTurn readTurn_;                // the port's reads, one at a time
    PortTurn writeTurn_;               // the port's writes, one at a time
    std::mutex otherSide;              // OnPort's calls
    uint32_t rxEpoch_ = 0;             // under rxBook_: moves when the assembly is dropped
    std::string openFailure;           // under fieldLock
    std::string settingsRefusedText_;  // the words for settingsRefused, under fieldLock
    std::atomic<bool> lineLent_{false};
    std::atomic<bool> lentRefused_{false};

    // A loss: lost_ lets one reporter count it; lostEvent wakes PortThread;
    // portUp (set while the port is open) wakes a waiting TxThread.
    std::atomic<bool> lost_{false};
    plat::Event lostEvent{plat::Event::ManualReset};
    plat::Event portUp{plat::Event::ManualReset};
    // The line settings last put on the port (or, after a refusal, kept by
    // it): what a reopened port gets back, and whose data bits the blocks
    // are made for. Under fieldLock; lineByteSize_ 0 while unknown.
    DCB lineWanted_{};
    std::atomic<uint32_t> lineByteSize_{0};
    uint32_t patternByteSize_ = 0;  // of `pattern`, under rxBook_
    // Stops of each direction so far (the commands'), and their count when
    // the direction's routine began (its own thread's).
    std::atomic<uint32_t> rxStops_{0};
    std::atomic<uint32_t> txStops_{0};
    uint32_t rxRoutineStops_ = 0;
    uint32_t txRoutineStops_ = 0;
    uint32_t txByteSize_ = 0;  // of txBlock, its owner's
    std::atomic<uint64_t> originBytes_{0};
    std::atomic<uint64_t> originElapsedMs_{0};
    // Opening, NotOpen, NoBuffers or Open (Down is portDown's).
    std::atomic<PortState> phase_{PortState::Opening};
    // A direction's routine is at work (it may outlast its stop a little).
    std::atomic<bool> rxBusy_{false};
    std::atomic<bool> txBusy_{false};
    // The speed last asked of the port, and the one it reported back.
    std::atomic<uint32_t> baudAsked_{0};
    std::atomic<uint32_t> baudSet_{0};
    std::atomic<bool> speedSubstituted_{false};
    // When the receive side last got a byte, or its routine began.
    std::atomic<uint32_t> lastRxTick_{0};
    // The payload this worker sends and expects. The receive side checks
    // against it rather than against txBlock, which TxThread stamps (from
    // 10^8 on into the payload) and frees as it ends.
    BlockPattern pattern{};
};
