#include "tester/engine/worker_group.h"

#include <exception>
#include <new>
#include <string>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/port/port_name.h"
#include "tester/engine/row_sink.h"

namespace {

constexpr uint32_t kShutDownPauseMs = 100;

// Workers whose threads outlived the shut-down's bound. Never freed: their
// threads may still run in them. Reachable from here, so leak checkers see
// them as kept on purpose rather than lost.
std::vector<PortWorker*>* keptWorkers = nullptr;

void KeepForever(std::unique_ptr<PortWorker> worker) {
    if (!keptWorkers) keptWorkers = new (std::nothrow) std::vector<PortWorker*>();
    PortWorker* raw = worker.release();
    if (keptWorkers) {
        try {
            keptWorkers->push_back(raw);
        } catch (const std::bad_alloc&) {
            // Still never freed; only the leak checker will mention it.
        }
    }
}

}  // namespace

WorkerGroup::WorkerGroup(RowSink& rows) : rows_(rows) {}

WorkerGroup::~WorkerGroup() {
    if (!shutDown_ && !workers_.empty()) ShutDown();
}

int32_t WorkerGroup::CreateWorkers(const std::vector<std::string>& names,
                                   const PortSettings& settings, WorkerEvents* events) {
    if (shutDown_) return 0;
    // Room for every port first: once a worker's thread runs, keeping it
    // must not fail.
    try {
        workers_.reserve(workers_.size() + names.size());
    } catch (const std::exception&) {
        return 0;
    }
    int32_t created = 0;
    for (const std::string& name : names) {
        const std::string normalized = NormalizePortName(name.c_str());
        const int32_t rowIndex = static_cast<int32_t>(workers_.size());
        std::unique_ptr<PortWorker> worker =
            PortWorker::Create(rowIndex, normalized.c_str(), rows_, settings, events);
        if (!worker) continue;
        // A worker whose thread did not start made no row: it goes, and the
        // next port takes its row index.
        if (!worker->Start(normalized.c_str())) continue;
        workers_.push_back(std::move(worker));
        ++created;
    }
    return created;
}

ShutDownResult WorkerGroup::ShutDown(uint32_t joinBoundMs, bool othersDone) {
    ShutDownResult result;
    if (shutDown_) return result;
    shutDown_ = true;

    SignalQuit();
    plat::sleepMs(kShutDownPauseMs);
    for (const std::unique_ptr<PortWorker>& worker : workers_)
        worker->CancelAndPurge();
    plat::sleepMs(kShutDownPauseMs);
    WaitForWorkerReaders();

    // One deadline for all: a worker that uses it up leaves the others only
    // a look at whether they have ended meanwhile (JoinThreads(0)).
    const uint32_t start = plat::tickCount();
    std::vector<bool> ended(workers_.size(), false);
    for (size_t i = 0; i < workers_.size(); ++i) {
        const uint32_t spent = plat::ticksBetween(start, plat::tickCount());
        ended[i] = workers_[i]->JoinThreads(spent < joinBoundMs ? joinBoundMs - spent : 0);
    }
    for (size_t i = 0; i < workers_.size(); ++i)
        if (!ended[i]) ended[i] = workers_[i]->ThreadsEnded();
    if (!othersDone) ended.assign(workers_.size(), false);

    // The rows first, so that nothing reaches a worker through them once
    // it is freed. The threads of these workers have ended: none of them
    // sets its row's pointer again.
    for (size_t i = 0; i < workers_.size(); ++i)
        if (ended[i]) rows_.SetRowWorker(workers_[i]->rowIndex, nullptr);
    for (size_t i = 0; i < workers_.size(); ++i) {
        if (ended[i]) {
            workers_[i].reset();
            ++result.destroyed;
        } else {
            KeepForever(std::move(workers_[i]));
            ++result.leftAllocated;
        }
    }
    workers_.clear();
    return result;
}

PortWorker* WorkerGroup::At(int32_t i) const {
    return i >= 0 && i < Count() ? workers_[static_cast<size_t>(i)].get() : nullptr;
}
