// The refresh tick. A tick reads each worker under workerReadLock and
// writes the row's cells only after letting go of it, so the shut-down can
// wait for the readers (DrainRefresh) without ever waiting for a list
// operation: on Windows those are served by the very thread that shuts
// down, and a tick blocked in one would otherwise hold the shut-down too.
#include "tester/ui/refresh.h"

#include <mutex>

#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/ui/port_list.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

std::mutex workerReadLock;

bool QuitSignalled() {
    return quitEvent != nullptr && quitEvent->tryWait();
}

}  // namespace

void RefreshCommErrors(PortWorker& worker) {
    worker.ClearCommErrors();
    const uint32_t shown = worker.commErrors.load(kRelaxed) & kShownCommErrors;
    worker.commErrors.store(shown, kRelaxed);
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
    return v;
}

void RefreshRows(PortList& rows) {
    if (QuitSignalled()) return;
    bool stop = false;
    rows.ForEachRow(false, [&](int32_t row) {
        if (stop) return;
        PortWorker* worker = rows.GetRowWorker(row);
        if (!worker) return;
        RowCells cells;
        {
            std::lock_guard<std::mutex> hold(workerReadLock);
            // Checked under the lock: past DrainRefresh, quitEvent is set
            // and the worker may be gone.
            if (QuitSignalled()) {
                stop = true;
                return;
            }
            if (worker->notReady.load(kRelaxed) != 0) return;
            RefreshCommErrors(*worker);
            UpdateErrorKindText(*worker);
            cells = FormatRowCells(ReadRowValues(*worker));
        }
        for (int c = kFirstRefreshedColumn; c <= kColumnState; ++c)
            rows.SetCellText(row, c, cells.text[c - kFirstRefreshedColumn].c_str());
    });
}

void DrainRefresh() {
    std::lock_guard<std::mutex> hold(workerReadLock);
}
