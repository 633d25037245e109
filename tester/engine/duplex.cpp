// The full-duplex test: DuplexWriter sends numbered blocks back to back on
// TxThread, DuplexReader assembles and checks them on PortThread; and the
// counted transfers that the half-duplex routines use too.
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/last_error.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/engine/read_pause.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

static_assert(kMaxReadPauseMs <= kReadTimeoutMs * 3 / 2,
              "a stop waits for a pause at most half as long again as for a read");

uint64_t SteadyMicroseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

}  // namespace

void PortWorker::CountError(std::atomic<uint32_t>& counter, int32_t kind) {
    lastErrorKind.store(kind, kRelaxed);
    counter.fetch_add(1, kRelaxed);
}

PortWorker::Transfer PortWorker::Failure(const plat::Error& error, std::atomic<uint32_t>& counter,
                                         int32_t kind) {
    // No errno has this number, and the network library's codes read as the
    // system's in this module: the code alone says it.
    if (error.code == ERROR_OPERATION_ABORTED) return Transfer::Aborted;
    if (settings_.reconnect != 0 && portAccess.IsLost(error)) {
        ReportLost(error.code);
        return Transfer::Lost;
    }
    lastOsError.store(error.code, kRelaxed);
    CountError(counter, kind);
    return Transfer::Failed;
}

// A write that the port reports as done but short (some drivers and
// network libraries end a write early) left a broken block on the line: it
// counts as a "WR" error with no system error (0), so that the receiver's
// errors can be traced to this end. bytesWritten counts what the port took,
// never more; blocksWritten the block. A write that took nothing put no
// block on the line and counts neither.
PortWorker::Transfer PortWorker::WriteBlock(const uint8_t* block, uint32_t size) {
    DWORD sent = 0;
    BOOL ok;
    plat::Error error;
    {
        PortTurn::Hold turn(writeTurn_);
        if (portDown.load(kRelaxed) != 0) return Transfer::Lost;
        ok = portAccess.Write(portHandle.load(kRelaxed), block, size, &sent);
        if (!ok) error = plat::currentError();
    }
    if (!ok) return Failure(error, txErrors, kErrorWrite);
    if (sent > size) sent = size;
    if (sent < size) {
        lastOsError.store(0, kRelaxed);
        CountError(txErrors, kErrorWrite);
        if (sent == 0) return Transfer::Failed;
    }
    bytesWritten.fetch_add(sent, kRelaxed);
    blocksWritten.fetch_add(1, kRelaxed);
    return Transfer::Done;
}

PortWorker::RxSpan PortWorker::NoteSpan() {
    std::lock_guard<std::mutex> hold(rxBook_);
    return RxSpan{blockSize.load(kRelaxed), rxFill.load(kRelaxed), rxEpoch_};
}

PortWorker::Transfer PortWorker::ReadSpan(const RxSpan& span, DWORD& got) {
    got = 0;
    if (portDown.load(kRelaxed) != 0) return Transfer::Lost;
    if (span.fill >= span.size) return Transfer::Done;
    const uint32_t want = span.size - span.fill;
    if (!portAccess.Read(portHandle.load(kRelaxed), rxBlock.get() + span.fill, want, &got))
        return Failure(plat::currentError(), rxErrors, kErrorRead);
    if (got > want) got = want;
    if (got != 0) lastRxTick_.store(plat::tickCount(), kRelaxed);
    bytesRead.fetch_add(got, kRelaxed);
    return Transfer::Done;
}

bool PortWorker::KeepRead(const RxSpan& span, DWORD got, uint32_t& fill) {
    if (rxEpoch_ != span.epoch) {
        fill = rxFill.load(kRelaxed);
        return false;
    }
    fill = span.fill + got;
    rxFill.store(fill, kRelaxed);
    return true;
}

void PortWorker::DropAssembled() {
    rxFill.store(0, kRelaxed);
    ++rxEpoch_;
}

void PortWorker::UpdateRate(uint32_t& lastTick, uint32_t now) {
    const uint64_t step = plat::ticksBetween(lastTick, now);
    lastTick = now;
    const uint64_t elapsed = elapsedMs.fetch_add(step, kRelaxed) + step;
    if (elapsed != 0) {
        const uint64_t perSecond = bytesRead.load(kRelaxed) * 1000u / elapsed;
        rate.store(perSecond > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(perSecond),
                   kRelaxed);
    }
}

uint32_t PortWorker::TakeSequence() {
    const uint32_t sequence = nextTxSeq.load(kRelaxed);
    nextTxSeq.store(NextSequence(sequence), kRelaxed);
    return sequence;
}

void PortWorker::DuplexWriter() {
    bytesWritten.store(originBytes_.load(kRelaxed), kRelaxed);
    uint8_t* block = txBlock.get();
    while (DirectionRuns(txRunEvent)) {
        if (portDown.load(kRelaxed) != 0 && !AwaitPort(txRunEvent)) return;
        StampBlock(block, TakeSequence());
        const Transfer t = WriteBlock(block, blockSize.load(kRelaxed));
        if (t == Transfer::Lost && !AwaitPort(txRunEvent)) return;
        if (t == Transfer::Failed) Backoff(txRunEvent);
    }
}

// On a line that delivers a few bytes at a time the reader waits between
// reads until the driver may hold half its buffer (read_pause.h). The wait
// is a plain sleep of at most 150 ms: quit and stops are seen as it ends,
// before the next read, as they are when a read times out. A wait on
// quitEvent would end sooner on quit but costs a tenth more processor
// time at 254 ports (the events' one lock and waiter list, every pause).
void PortWorker::DuplexReader() {
    bytesRead.store(originBytes_.load(kRelaxed), kRelaxed);
    lastRxTick_.store(plat::tickCount(), kRelaxed);
    elapsedMs.store(originElapsedMs_.load(kRelaxed), kRelaxed);
    uint32_t lastTick = plat::tickCount();
    ReadPause pause = ReadPause::ForLine(Dcb());
    for (;;) {
        Transfer t;
        uint32_t pauseMs = 0;
        {
            PortTurn::Hold turn(readTurn_);
            // Looked at in the turn: a stop that took the turn meanwhile (a
            // settings change) ends the routine before it reads a byte of
            // the next run.
            if (!DirectionRuns(rxRunEvent)) break;
            const RxSpan span = NoteSpan();
            DWORD got = 0;
            t = ReadSpan(span, got);
            if (t == Transfer::Done) {
                std::lock_guard<std::mutex> hold(rxBook_);
                uint32_t fill;
                if (KeepRead(span, got, fill)) {
                    const uint32_t asked = span.fill < span.size ? span.size - span.fill : 0;
                    pauseMs = pause.After(asked, got, SteadyMicroseconds());
                    if (fill >= span.size && CheckBlock()) blocksOk.fetch_add(1, kRelaxed);
                }
                UpdateRate(lastTick, plat::tickCount());
            }
        }
        if (t == Transfer::Lost && !Reconnect()) return;
        if (t == Transfer::Failed) Backoff(rxRunEvent);
        if (pauseMs != 0) plat::sleepMs(pauseMs);
    }
}

// The caller holds the read turn and rxBook_.
bool PortWorker::CheckBlock() {
    ReceiveState state{rxBlock.get(), blockSize.load(kRelaxed), rxFill.load(kRelaxed),
                       lastRxSeq.load(kRelaxed)};
    const CheckResult result = ::CheckBlock(state, pattern);
    rxFill.store(state.rxFill, kRelaxed);
    lastRxSeq.store(state.lastRxSeq, kRelaxed);
    if (result.errors != 0) {
        lastErrorKind.store(kErrorSync, kRelaxed);
        rxErrors.fetch_add(result.errors, kRelaxed);
    }
    if (result.lost != 0) blocksLost.fetch_add(result.lost, kRelaxed);
    return result.pass;
}
