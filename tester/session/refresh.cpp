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

bool QuitSignalled() {
    return quitEvent != nullptr && quitEvent->tryWait();
}

}  // namespace

void RefreshCommErrors(PortWorker& worker) {
    worker.SetCommErrorText(FormatCommErrors(worker.ReadLineErrors(kShownCommErrors)).c_str());
}

void UpdateErrorKindText(PortWorker& worker) {
    worker.SetLastErrorKindText(ErrorKindText(worker.LastErrorKind()));
}

namespace {

// A port that is still opening shows in its State what it will do once it
// is open (the commands given meanwhile); one that could not be opened
// shows "Not open" and why. The port thread writes both as well: these
// writes only repeat them, so a tick that read "opening" just before the
// open failed is put right by the next one.
void RefreshUnreadyRow(const PortSnapshot& port, RowSink& rows) {
    if (port.state == PortState::NotOpen)
        rows.SetCellText(port.rowIndex, kColumnErrDesc, port.openFailure.c_str());
    if (port.state == PortState::Opening || port.state == PortState::NotOpen)
        rows.SetCellText(port.rowIndex, kColumnState, StateCellText(port).c_str());
}

}  // namespace

bool RefreshRows(WorkerGroup& workers, RowSink& rows, std::vector<PortSnapshot>* taken) {
    if (taken) taken->clear();
    for (int32_t i = 0;; ++i) {
        PortSnapshot port;
        {
            std::lock_guard<std::mutex> hold(workerReadLock);
            // Checked under the lock: once the shut-down has taken it after
            // SignalQuit, the workers (and the group's list) may be gone.
            if (QuitSignalled()) return false;
            PortWorker* worker = workers.At(i);
            if (!worker) return true;
            const PortState state = worker->State();
            if (state == PortState::Open || state == PortState::Down) {
                RefreshCommErrors(*worker);
                UpdateErrorKindText(*worker);
            }
            port = worker->Snapshot();
        }
        if (taken) taken->push_back(port);
        if (!port.Ready()) {
            RefreshUnreadyRow(port, rows);
            continue;
        }
        const RowCells cells = FormatRowCells(port);
        for (int c = kFirstRefreshedColumn; c <= kColumnState; ++c)
            rows.SetCellText(port.rowIndex, c, cells.text[c - kFirstRefreshedColumn].c_str());
    }
}
