// The worker's life: construction, its two threads and their outer loops,
// and the shut-down pieces. The test routines are in duplex.cpp and
// half_duplex.cpp, the commands' operations in worker_control.cpp.
#include "tester/engine/port_worker.h"

#include <cstdio>
#include <new>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/row_sink.h"
#include "tester/engine/worker_events.h"

namespace {

constexpr uint32_t kTxJoinMs = 5000;     // PortThread's wait for TxThread
constexpr uint32_t kNudgeEveryMs = 100;  // JoinThreads' repeated cancel and purge
constexpr uint32_t kIdlePassMs = 100;    // a direction with nothing to run in this mode
// After a failed transfer the direction waits a read time-out, looking at
// its run event this often, so that a stop is taken at once.
constexpr uint32_t kBackoffSliceMs = 20;
// A settings change or a forget aborts the read in its way this often.
constexpr uint32_t kSideWaitSliceMs = 5;
// A lost port is opened again after 0.5 s, then twice as long each time it
// fails, up to 5 s between tries: a rebooting device server is back within
// seconds of answering, and a port that is gone for good costs one try in
// five seconds.
constexpr uint32_t kReopenFirstMs = 500;
constexpr uint32_t kReopenLastMs = 5000;

uint8_t* NewBlockBuffer() {
    return new (std::nothrow) uint8_t[kBlockBufferSize]();
}

}  // namespace

const char* ErrorKindText(int32_t kind) {
    static const char* const kCodes[] = {"..", "RD", "SY", "DA", "WR", "TO", "SE"};
    return kind >= 0 && kind <= kErrorSettings ? kCodes[kind] : "??";
}

std::unique_ptr<PortWorker> PortWorker::Create(int32_t rowIndex, const char* portName,
                                               RowSink& rows, const PortSettings& settings,
                                               WorkerEvents* events) {
    std::unique_ptr<PortWorker> worker;
    try {
        worker.reset(new PortWorker(rowIndex, portName, rows, settings, events));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (!worker->txRunEvent.valid() || !worker->rxRunEvent.valid()) return nullptr;
    return worker;
}

PortWorker::PortWorker(int32_t rowIndex, const char* portName, RowSink& rows,
                       const PortSettings& settings, WorkerEvents* events)
    : rowIndex(rowIndex),
      rows(rows),
      settings_(settings),
      events_(events),
      portName(portName ? portName : "") {}

PortWorker::~PortWorker() = default;

bool PortWorker::Start(const char* name) {
    if (!quitEvent) return false;  // InitTestEngine first
    {
        std::lock_guard<std::mutex> hold(fieldLock);
        portName = name ? name : "";
    }
    // Before the thread makes the row: no command can reach the worker
    // earlier, and none that comes while the port opens is undone.
    ResetState();
    return portThread.start(PortThreadEntry, this);
}

void PortWorker::PortThreadEntry(void* worker) {
    static_cast<PortWorker*>(worker)->PortThread();
}

void PortWorker::TxThreadEntry(void* worker) {
    static_cast<PortWorker*>(worker)->SendLoop();
}

void PortWorker::PortThread() {
    const std::string name = PortName();
    char number[16];
    std::snprintf(number, sizeof number, "%d", rowIndex + 1);
    rows.InsertRow(rowIndex);
    rows.SetRowWorker(rowIndex, this);
    rows.SetCellText(rowIndex, kColumnNumber, number);
    rows.SetCellText(rowIndex, kColumnName, name.c_str());
    rows.SetCellText(rowIndex, kColumnState, "Open");

    const HANDLE handle = portAccess.Open(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // The reason goes where the error description stands on a row
        // that runs; a row that never opened has nothing else there.
        const std::string why = portAccess.OpenFailure();
        {
            std::lock_guard<std::mutex> hold(fieldLock);
            openFailure = why;
        }
        phase_.store(PortState::NotOpen);
        rows.SetCellText(rowIndex, kColumnErrDesc, why.c_str());
        rows.SetCellText(rowIndex, kColumnState, "Not open");
        return;
    }
    portHandle.store(handle, std::memory_order_relaxed);

    blockSize.store(0, std::memory_order_relaxed);
    rxFill.store(0, std::memory_order_relaxed);
    rxBlock.reset(NewBlockBuffer());
    if (rxBlock) txBlock.reset(NewBlockBuffer());
    bool txEnded = true;
    if (rxBlock && txBlock) {
        rows.SetCellText(rowIndex, kColumnState, "");
        notReady.store(0, std::memory_order_relaxed);
        ConfigurePort(handle, true);
        BuildTestBlock();
        phase_.store(PortState::Open);
        portUp.set();

        // Without TxThread the receive direction still runs; the send
        // direction then never does.
        txThread.start(TxThreadEntry, this);
        ReceiveLoop();
        txEnded = txThread.join(kTxJoinMs);
    } else {
        phase_.store(PortState::NoBuffers);
    }
    // A TxThread that is still in a write may next read into rxBlock (a
    // master): the buffers then stay with the worker. Closing the port ends
    // that write.
    if (txEnded) {
        rxBlock.reset();
        txBlock.reset();
    }
    // A reconnection cut short by quitEvent has left no port open.
    const HANDLE last = portHandle.exchange(INVALID_HANDLE_VALUE, std::memory_order_relaxed);
    if (last != INVALID_HANDLE_VALUE) portAccess.Close(last);
}

void PortWorker::ConfigurePort(HANDLE handle, bool firstOpen) {
    DCB current{};
    if (portAccess.GetState(handle, &current)) {
        {
            std::lock_guard<std::mutex> hold(fieldLock);
            dcb = current;
        }
        if (firstOpen || lineByteSize_.load(std::memory_order_relaxed) == 0) {
            ApplyToDcb();
        } else {
            // The settings this port ran with before the loss (the selected
            // rows' last "Ports settings" included), on the new port's record.
            std::lock_guard<std::mutex> hold(fieldLock);
            CopyLineSettings(lineWanted_, dcb);
        }
        PutLineSettings(handle, Dcb());
    }
    COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, kReadTimeoutMs, 0, 0};
    portAccess.SetTimeouts(handle, &timeouts);
}

void PortWorker::ReportLost(uint32_t error) {
    lastOsError.store(error, std::memory_order_relaxed);
    bool already = false;
    if (!lost_.compare_exchange_strong(already, true)) return;
    drops.fetch_add(1, std::memory_order_relaxed);
    portDown.store(1, std::memory_order_relaxed);
    portUp.reset();
    lostEvent.set();
}

bool PortWorker::Reconnect() {
    // Neither thread starts a transfer once portDown is set (each tests it
    // in its direction's turn); the ones in progress are ended, and once
    // every turn and otherSide are had, none is inside the port. The turns
    // come in order (nothing takes one while holding another), each as soon
    // as the transfer ahead of it is aborted.
    {
        const PortTurn::Ticket reading = readTurn_.Join();
        const PortTurn::Ticket writing = writeTurn_.Join();
        while (!readTurn_.Await(reading, kNudgeEveryMs / 10))
            CancelAndPurge();
        while (!writeTurn_.Await(writing, kNudgeEveryMs / 10))
            CancelAndPurge();
        std::unique_lock<std::mutex> other(otherSide, std::defer_lock);
        while (!other.try_lock()) {
            CancelAndPurge();
            plat::sleepMs(kNudgeEveryMs / 10);
        }
        {
            // What was assembled of a block before the loss is gone with it.
            std::lock_guard<std::mutex> hold(rxBook_);
            DropAssembled();
        }
        const HANDLE old = portHandle.exchange(INVALID_HANDLE_VALUE, std::memory_order_relaxed);
        if (old != INVALID_HANDLE_VALUE) portAccess.Close(old);
        writeTurn_.Leave(writing);
        readTurn_.Leave(reading);
    }

    const std::string name = PortName();
    uint32_t wait = kReopenFirstMs;
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (;;) {
        if (quitEvent->wait(wait) != plat::kWaitTimeout) return false;
        handle = portAccess.Open(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        if (handle != INVALID_HANDLE_VALUE) break;
        // Why it stays down, in the row's error description meanwhile.
        lastOsError.store(plat::lastError(), std::memory_order_relaxed);
        wait = wait * 2 < kReopenLastMs ? wait * 2 : kReopenLastMs;
    }
    ConfigurePort(handle, false);
    portHandle.store(handle, std::memory_order_relaxed);
    lost_.store(false);
    lostEvent.reset();
    portUp.set();
    portDown.store(0, std::memory_order_relaxed);
    return true;
}

void PortWorker::ResetState() {
    settingsRefused.store(0, std::memory_order_relaxed);
    lastOsError.store(0, std::memory_order_relaxed);
    lastErrorKind.store(kErrorNone, std::memory_order_relaxed);
    commErrors.store(0, std::memory_order_relaxed);
    SetTexts("");
    rxRunning.store(0, std::memory_order_relaxed);
    txRunning.store(0, std::memory_order_relaxed);
    mode.store(ModeDuplex, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> hold(fieldLock);
        comStat.cbInQue = 0;
        comStat.cbOutQue = 0;
    }
    ZeroCounters();
    lastRxSeq.store(-1, std::memory_order_relaxed);
    nextTxSeq.store(0, std::memory_order_relaxed);
    hdTimeoutMs.store(static_cast<uint32_t>(settings_.hdTimeout.load()), std::memory_order_relaxed);
}

bool PortWorker::BuildTestBlock() {
    if (!txBlock) return false;
    const uint32_t bits = PatternByteSize();
    pattern = MakeBlockPattern(bits);
    patternByteSize_ = txByteSize_ = bits;
    ::BuildTestBlock(txBlock.get(), pattern);
    return true;
}

uint32_t PortWorker::PatternByteSize() const {
    const uint32_t line = lineByteSize_.load(std::memory_order_relaxed);
    return line >= 5 && line <= 8 ? line : settings_.byteSize.load();
}

void PortWorker::AdoptReceiveSettings() {
    AdoptBlockSize();
    const uint32_t bits = PatternByteSize();
    std::lock_guard<std::mutex> hold(rxBook_);
    if (bits != patternByteSize_) {
        pattern = MakeBlockPattern(bits);
        patternByteSize_ = bits;
        DropAssembled();
    }
}

void PortWorker::AdoptSendSettings() {
    AdoptBlockSize();
    const uint32_t bits = PatternByteSize();
    if (bits != txByteSize_) {
        ::BuildTestBlock(txBlock.get(), MakeBlockPattern(bits));
        txByteSize_ = bits;
    }
}

void PortWorker::ReceiveLoop() {
    for (;;) {
        plat::Event* events[3] = {quitEvent, &lostEvent, &rxRunEvent};
        const int woken = plat::waitAny(events, 3, plat::kInfinite);
        if (woken == 1) {
            if (!Reconnect()) return;
            continue;
        }
        if (woken != 2) return;
        DCB current{};
        if (portAccess.GetState(portHandle.load(std::memory_order_relaxed), &current)) {
            std::lock_guard<std::mutex> hold(fieldLock);
            dcb = current;
        } else {
            ReportGetStateError();
        }
        rxRoutineStops_ = rxStops_.load(std::memory_order_acquire);
        AdoptReceiveSettings();
        rxBusy_.store(true);
        switch (mode.load(std::memory_order_relaxed)) {
            case ModeSlave:
                SlaveExchange();
                break;
            case ModeDuplex:
                DuplexReader();
                break;
            default:
                plat::sleepMs(kIdlePassMs);
        }
        rxBusy_.store(false);
    }
}

// blocksWritten starts at 0 from ResetState, before this thread exists.
// Zeroing it here, as the thread starts, would race with a slave's echoes:
// SlaveExchange counts its writes on PortThread, which may already be
// replying before this thread is first scheduled.
void PortWorker::SendLoop() {
    for (;;) {
        plat::Event* events[2] = {quitEvent, &txRunEvent};
        if (plat::waitAny(events, 2, plat::kInfinite) != 1) break;
        if (portDown.load(std::memory_order_relaxed) != 0) {
            // PortThread is opening the port again; the direction goes on
            // once it is back (or ends with quitEvent).
            plat::Event* up[2] = {quitEvent, &portUp};
            plat::waitAny(up, 2, plat::kInfinite);
            continue;
        }
        txRoutineStops_ = txStops_.load(std::memory_order_acquire);
        AdoptSendSettings();
        txBusy_.store(true);
        switch (mode.load(std::memory_order_relaxed)) {
            case ModeMaster:
                MasterExchange();
                break;
            case ModeDuplex:
                DuplexWriter();
                break;
            default:
                plat::sleepMs(kIdlePassMs);
        }
        txBusy_.store(false);
    }
    txBlock.reset();
}

void PortWorker::AdoptBlockSize() {
    const uint32_t wanted = UsableBlockSize(settings_.blockSize);
    std::lock_guard<std::mutex> hold(rxBook_);
    if (wanted != blockSize.load(std::memory_order_relaxed)) {
        blockSize.store(wanted, std::memory_order_relaxed);
        DropAssembled();
    }
}

void PortWorker::ReportGetStateError() {
    if (events_) events_->LineStateUnreadable(rowIndex, PortName());
}

bool PortWorker::DirectionRuns(plat::Event& run) {
    plat::Event* events[2] = {quitEvent, &run};
    if (plat::waitAny(events, 2, 0) != 1) return false;
    if (&run == &rxRunEvent) return rxStops_.load(std::memory_order_acquire) == rxRoutineStops_;
    return txStops_.load(std::memory_order_acquire) == txRoutineStops_;
}

bool PortWorker::AwaitPort(plat::Event& run) {
    for (;;) {
        if (!DirectionRuns(run)) return false;
        plat::Event* events[2] = {quitEvent, &portUp};
        if (plat::waitAny(events, 2, kReadTimeoutMs) == 1) return true;
    }
}

void PortWorker::Backoff(plat::Event& run) {
    for (uint32_t waited = 0; waited < kReadTimeoutMs; waited += kBackoffSliceMs) {
        if (!DirectionRuns(run)) return;
        quitEvent->wait(kBackoffSliceMs);
    }
}

void PortWorker::AbortReads() {
    const HANDLE handle = portHandle.load(std::memory_order_relaxed);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
    // An abort leaves what is waiting in the port's buffer for the next read.
    portAccess.Purge(handle, PURGE_RXABORT);
}

bool PortWorker::WithReceiveSide(uint32_t boundMs, const std::function<void()>& op) {
    const PortTurn::Ticket ticket = readTurn_.Join();
    bool had = true;
    for (uint32_t waited = 0; !readTurn_.Await(ticket, kSideWaitSliceMs);
         waited += kSideWaitSliceMs) {
        if (waited >= boundMs) {
            had = false;
            break;
        }
        AbortReads();
    }
    {
        std::lock_guard<std::mutex> hold(rxBook_);
        op();
    }
    readTurn_.Leave(ticket);
    return had;
}

void PortWorker::CancelAndPurge() {
    const HANDLE handle = portHandle.load(std::memory_order_relaxed);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return;
    portAccess.CancelPending(handle);
    plat::yieldThread();
    portAccess.Purge(handle, kPurgeAll);
    plat::yieldThread();
}

bool PortWorker::JoinThreads(uint32_t timeoutMs) {
    const uint32_t start = plat::tickCount();
    auto left = [&] {
        const uint32_t spent = plat::ticksBetween(start, plat::tickCount());
        return spent < timeoutMs ? timeoutMs - spent : 0;
    };
    // TxThread is PortThread's to join first: it is touched here only once
    // PortThread has ended.
    for (;;) {
        const uint32_t now = left();
        if (portThread.join(now < kNudgeEveryMs ? now : kNudgeEveryMs)) break;
        if (left() == 0) return false;
        CancelAndPurge();
    }
    return txThread.join(left());
}
