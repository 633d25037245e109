// One run of the test engine for a test: the settings, a row store as the
// port list, workers made and started as the main window makes them, and
// the shut-down order at the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tester/engine/port_worker.h"
#include "tester/engine/worker_events.h"
#include "tester/session/row_store.h"

// 1024-byte blocks, 115200 bit/s 8N1, no flow control, computed reply
// time-out.
void UseDefaultTestSettings();

// Polls `done` every 2 ms for up to timeoutMs; true once it holds.
bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs = 20000);

template <typename T>
T Get(const std::atomic<T>& field) {
    return field.load(std::memory_order_relaxed);
}

// Waits until `changes` has not changed for quietMs (a counter whose source
// has stopped), for up to timeoutMs in all.
bool WaitSettled(const std::function<uint64_t()>& changes, uint32_t quietMs = 300,
                 uint32_t timeoutMs = 20000);
template <typename T>
bool WaitSettled(const std::atomic<T>& field, uint32_t quietMs = 300, uint32_t timeoutMs = 20000) {
    return WaitSettled([&field] { return static_cast<uint64_t>(Get(field)); }, quietMs, timeoutMs);
}

// Waits until a worker whose sending was stopped has left its send routine:
// its last block is counted then, and blocksWritten moves no more. (A quiet
// spell of the counter says less: a sender kept off the processor for a
// moment writes its last block after it.)
bool WaitSenderStopped(PortWorker& worker, uint32_t timeoutMs = 20000);

// Threads that spin for as long as the object lives: a machine whose cores
// are all busy, where a thread that waits for another to let go of
// something loses any race it can lose.
class BusyThreads {
  public:
    explicit BusyThreads(int count);
    ~BusyThreads();
    BusyThreads(const BusyThreads&) = delete;
    BusyThreads& operator=(const BusyThreads&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// The workers' events as a front end that shows a box at once would take
// them: through the platform's box hook, which a test may replace (and
// hold, for a worker thread that must not end).
class BoxEvents : public WorkerEvents {
  public:
    void LineStateUnreadable(int32_t rowIndex, const std::string& portName) override;
};

class EngineHarness {
  public:
    EngineHarness();   // InitTestEngine, quit cleared, default settings
    ~EngineHarness();  // ShutDown, if the test did not

    // Creates and starts the next worker. With waitReady, returns once its
    // port is open (fails the test if it never is).
    PortWorker& Add(const std::string& portName, bool waitReady = true);

    // The main window's order: SignalQuit, 100 ms, CancelAndPurge of every
    // worker, 100 ms, then JoinThreads(boundMs) and delete. A worker whose
    // threads outlive the bound is left allocated and counted. The number
    // of such workers.
    int ShutDown(uint32_t boundMs = 8000);

    BoxEvents events;
    RowStore rows;
    std::vector<std::unique_ptr<PortWorker>> workers;

  private:
    bool shutDown_ = false;
};
