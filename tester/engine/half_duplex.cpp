// The half-duplex exchange: a master sends one block and waits for it to
// come back whole and unchanged; a slave receives a block and sends it back
// as it came. Each waits at most the reply time-out; deadlines are tick
// counts compared by unsigned difference.
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/clock.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr uint32_t kSlowestBaud = 300;

// Round trips are timed on a steady clock in microseconds: a block that
// comes back in 2 ms is a tick or two of the millisecond count.
using RoundTripClock = std::chrono::steady_clock;

uint64_t MicrosecondsSince(RoundTripClock::time_point since, RoundTripClock::time_point now) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now - since).count();
    return us > 0 ? static_cast<uint64_t>(us) : 0;
}

}  // namespace

uint32_t DefaultReplyTimeoutMs(uint32_t blockSize, uint32_t baudRate) {
    const uint32_t baud = baudRate != 0 ? baudRate : kSlowestBaud;
    return blockSize * 30000u / baud;
}

uint32_t PortWorker::BeginRun() {
    {
        std::lock_guard<std::mutex> hold(rxBook_);
        DropAssembled();
    }
    bytesRead.store(originBytes_.load(kRelaxed), kRelaxed);
    elapsedMs.store(originElapsedMs_.load(kRelaxed), kRelaxed);
    const uint32_t now = plat::tickCount();
    lastRxTick_.store(now, kRelaxed);
    return now;
}

uint32_t PortWorker::ReplyTimeoutMs() {
    const uint32_t configured = hdTimeoutMs.load(kRelaxed);
    if (configured != 0) return configured;
    return DefaultReplyTimeoutMs(blockSize.load(kRelaxed), Dcb().BaudRate);
}

// While a wrong echo waits for its time-out, nothing more is read (what
// else arrives for it stays for the next reply, as a reply that is all
// there would). Instead of reading nothing over and over, which would spin
// a core, the step waits on quitEvent for at most a read time-out.
void PortWorker::MasterExchange() {
    const uint32_t timeout = ReplyTimeoutMs();
    const uint32_t runStart = BeginRun();
    uint32_t lastTick = runStart;
    uint8_t* sentBlock = txBlock.get();
    bool awaiting = false;
    bool compared = false;
    uint32_t sentAt = runStart;
    RoundTripClock::time_point sentClock = RoundTripClock::now();
    // This run's round trips, as bytesRead and elapsedMs are this run's.
    roundTrips.Reset();
    // Whatever way the routine ends, whether a block still waits for its echo.
    struct NoteAwaiting {
        std::atomic<uint32_t>& field;
        const bool& awaiting;
        ~NoteAwaiting() { field.store(awaiting ? 1 : 0, kRelaxed); }
    } note{replyAwaited, awaiting};
    replyAwaited.store(0, kRelaxed);

    for (;;) {
        // A stop sends nothing more, but the block on its way gets its
        // reply time-out to come back: a stopped exchange is either whole
        // or counted as a time-out, never left half done.
        if (!DirectionRuns(txRunEvent) && (!awaiting || compared || quitEvent->tryWait())) break;
        const uint32_t size = blockSize.load(kRelaxed);
        if (!awaiting) {
            if (portDown.load(kRelaxed) != 0 && !AwaitPort(txRunEvent)) return;
            StampBlock(sentBlock, TakeSequence());
            sentAt = plat::tickCount();
            sentClock = RoundTripClock::now();
            const Transfer t = WriteBlock(sentBlock, size);
            if (t == Transfer::Lost && !AwaitPort(txRunEvent)) return;
            if (t == Transfer::Failed) Backoff(txRunEvent);
            if (t != Transfer::Done) continue;
            awaiting = true;
            compared = false;
        }

        uint32_t now;
        if (compared) {
            const uint32_t waited = plat::ticksBetween(sentAt, plat::tickCount());
            if (waited <= timeout) {
                const uint32_t rest = timeout - waited + 1;
                quitEvent->wait(rest < kReadTimeoutMs ? rest : kReadTimeoutMs);
            }
            now = plat::tickCount();
        } else {
            Transfer t;
            bool echoed = false;
            {
                PortTurn::Hold turn(readTurn_);
                const RxSpan span = NoteSpan();
                DWORD got = 0;
                t = ReadSpan(span, got);
                now = plat::tickCount();
                uint32_t fill = 0;
                std::lock_guard<std::mutex> hold(rxBook_);
                if (t == Transfer::Done && KeepRead(span, got, fill) && fill >= span.size) {
                    const RoundTripClock::time_point complete = RoundTripClock::now();
                    UpdateRate(lastTick, now);
                    if (std::memcmp(rxBlock.get(), sentBlock, span.size) == 0) {
                        roundTrips.Record(MicrosecondsSince(sentClock, complete));
                        blocksOk.fetch_add(1, kRelaxed);
                        rxFill.store(0, kRelaxed);
                        echoed = true;
                    } else {
                        CountError(rxErrors, kErrorData);
                        compared = true;
                    }
                }
            }
            if (echoed) {
                awaiting = false;
                continue;
            }
            if (t == Transfer::Lost) {
                // The block in flight went with the port; the next one is
                // sent once it is back.
                if (!AwaitPort(txRunEvent)) return;
                awaiting = false;
                continue;
            }
            if (t == Transfer::Failed) {
                // Stopped, the read error that was counted ends the wait.
                if (!DirectionRuns(txRunEvent)) break;
                Backoff(txRunEvent);
            }
            if (t != Transfer::Done) continue;
        }

        if (plat::ticksBetween(sentAt, now) > timeout) {
            CountError(rxErrors, kErrorTimeout);
            std::lock_guard<std::mutex> hold(rxBook_);
            DropAssembled();
            awaiting = false;
        }
    }
}

void PortWorker::SlaveExchange() {
    const uint32_t timeout = ReplyTimeoutMs();
    const uint32_t runStart = BeginRun();
    uint32_t lastTick = runStart;
    bool pending = false;
    uint32_t echoSize = 0;
    uint32_t blockStart = runStart;
    if (!echoBlock_) echoBlock_.reset(new (std::nothrow) uint8_t[kBlockBufferSize]);
    if (!echoBlock_) return;

    while (DirectionRuns(rxRunEvent)) {
        Transfer t;
        if (pending) {
            // From the slave's own copy, with the read turn free: an echo
            // that flow control holds back keeps nobody else from the
            // receive side.
            t = WriteBlock(echoBlock_.get(), echoSize);
            UpdateRate(lastTick, plat::tickCount());
            pending = false;
        } else {
            PortTurn::Hold turn(readTurn_);
            const RxSpan span = NoteSpan();
            if (span.fill == 0) blockStart = plat::tickCount();
            DWORD got = 0;
            t = ReadSpan(span, got);
            uint32_t fill = 0;
            std::lock_guard<std::mutex> hold(rxBook_);
            if (t == Transfer::Done && KeepRead(span, got, fill)) {
                if (fill >= span.size) {
                    std::memcpy(echoBlock_.get(), rxBlock.get(), span.size);
                    echoSize = span.size;
                    rxFill.store(0, kRelaxed);
                    blocksOk.fetch_add(1, kRelaxed);
                    pending = true;
                } else if (plat::ticksBetween(blockStart, plat::tickCount()) > timeout) {
                    CountError(rxErrors, kErrorTimeout);
                    DropAssembled();
                }
            }
        }
        if (t == Transfer::Lost) {
            if (!Reconnect()) return;
            pending = false;
        }
        if (t == Transfer::Failed) Backoff(rxRunEvent);
    }
}
