// The refresh tick. A tick reads each worker under workerReadLock and
// writes the row's cells only after letting go of it, so the shut-down can
// wait for the readers without ever waiting for a list operation: on
// Windows those are served by the very thread that shuts down, and a tick
// blocked in one would otherwise hold the shut-down too.
#include "tester/session/refresh.h"

#include <mutex>

#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/engine/row_sink.h"
#include "tester/engine/worker_group.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

bool QuitSignalled() {
    return quitEvent != nullptr && quitEvent->tryWait();
}

}  // namespace

void RefreshCommErrors(PortWorker& worker) {
    const bool read = worker.ClearCommErrors() != 0;
    const uint32_t shown = worker.commErrors.load(kRelaxed) & kShownCommErrors;
    worker.commErrors.store(shown, kRelaxed);
    // Each read clears the port's errors: what it found is new, and the
    // reports count it. A failed read only shows the last bits again.
    if (read && shown != 0) {
        worker.lineErrorCount.fetch_add(1, kRelaxed);
        worker.lineErrorBits.fetch_or(shown, kRelaxed);
    }
    worker.SetCommErrorText(FormatCommErrors(shown).c_str());
}

void UpdateErrorKindText(PortWorker& worker) {
    worker.SetLastErrorKindText(ErrorKindText(worker.lastErrorKind.load(kRelaxed)));
}

RowValues ReadRowValues(PortWorker& worker) {
    RowValues v;
    v.bytesRead = worker.bytesRead.load(kRelaxed);
    v.blocksOk = worker.blocksOk.load(kRelaxed);
    v.bytesWritten = worker.bytesWritten.load(kRelaxed);
    v.blocksWritten = worker.blocksWritten.load(kRelaxed);
    v.rate = worker.rate.load(kRelaxed);
    v.rxErrors = worker.rxErrors.load(kRelaxed);
    v.txErrors = worker.txErrors.load(kRelaxed);
    v.commErrorText = worker.CommErrorText();
    v.lastErrorKindText = worker.LastErrorKindText();
    v.lastOsError = worker.lastOsError.load(kRelaxed);
    v.elapsedMs = worker.elapsedMs.load(kRelaxed);
    v.mode = worker.mode.load(kRelaxed);
    v.rxRunning = worker.rxRunning.load(kRelaxed);
    v.txRunning = worker.txRunning.load(kRelaxed);
    v.portDown = worker.portDown.load(kRelaxed);
    v.drops = worker.drops.load(kRelaxed);
    v.blocksLost = worker.blocksLost.load(kRelaxed);
    v.lineErrorCount = worker.lineErrorCount.load(kRelaxed);
    v.lineErrorBits = worker.lineErrorBits.load(kRelaxed);
    v.replyAwaited = worker.replyAwaited.load(kRelaxed);
    v.settingsRefused = worker.settingsRefused.load(kRelaxed);
    return v;
}

void RefreshRows(WorkerGroup& workers, RowSink& rows) {
    for (int32_t i = 0;; ++i) {
        int32_t row;
        RowCells cells;
        {
            std::lock_guard<std::mutex> hold(workerReadLock);
            // Checked under the lock: once the shut-down has taken it after
            // SignalQuit, the workers (and the group's list) may be gone.
            if (QuitSignalled()) return;
            PortWorker* worker = workers.At(i);
            if (!worker) return;
            if (worker->notReady.load(kRelaxed) != 0) continue;
            row = worker->rowIndex;
            RefreshCommErrors(*worker);
            UpdateErrorKindText(*worker);
            cells = FormatRowCells(ReadRowValues(*worker));
        }
        for (int c = kFirstRefreshedColumn; c <= kColumnState; ++c)
            rows.SetCellText(row, c, cells.text[c - kFirstRefreshedColumn].c_str());
    }
}
