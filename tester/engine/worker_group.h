// The workers of one tester session: one per configured port, made in file
// order, and the orderly, bounded stop that frees them.
//
// The group owns the workers; the rows (RowSink) only point at them. A
// command reaches a worker through its row, the refresh through the group.
//
// Use, on the front end's thread:
//   InitTestEngine();                     // once, before anything here
//   WorkerGroup workers(rows);            // rows outlive it (see below)
//   workers.CreateWorkers(names, settings);
//   ... refresh ticks, commands ...
//   workers.ShutDown();                   // then save the configuration
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class PortWorker;
class RowSink;
class WorkerEvents;
struct PortSettings;

// The bound on joining every worker's threads at shut-down, in all. A port
// thread waits up to 5000 ms for its send thread and then closes the port,
// which ends any transfer a driver kept after the cancel and purge: the
// bound leaves room for that.
constexpr uint32_t kShutDownJoinMs = 6000;

struct ShutDownResult {
    int32_t destroyed = 0;      // workers whose threads ended; freed
    int32_t leftAllocated = 0;  // threads still alive at the bound; never freed
};

class WorkerGroup {
  public:
    // `rows` must outlive this object, and, when a shut-down leaves workers
    // allocated, the rest of the process (their threads may still write
    // their rows): the owner of the rows then keeps them alive.
    explicit WorkerGroup(RowSink& rows);

    // Runs ShutDown when it has not run (a front end that fails half-way
    // still stops its threads before it goes).
    ~WorkerGroup();

    WorkerGroup(const WorkerGroup&) = delete;
    WorkerGroup& operator=(const WorkerGroup&) = delete;

    // One worker per port name, in the order given: the name is normalised
    // (NormalizePortName: trimmed, upper case, device paths kept as
    // written), the worker is created with the next row index and started;
    // its port thread makes its row and opens the port. A worker that cannot
    // be made or started is skipped and the next port takes its row index.
    // Every worker goes by `settings`, which must outlive the workers (the
    // session's; a change to it reaches each worker when it next takes the
    // settings). InitTestEngine must have succeeded; nothing is created
    // after ShutDown. Returns the number of workers created by this call.
    // What happens to them goes to `events` (null: no one), which must
    // outlive them as well.
    int32_t CreateWorkers(const std::vector<std::string>& names, const PortSettings& settings,
                          WorkerEvents* events = nullptr);

    // The orderly stop, before the configuration is saved:
    // 1. SignalQuit: every worker loop and every later refresh tick stop;
    // 2. pause 100 ms;
    // 3. for every worker with an open port: cancel the pending transfers
    //    and purge the port, so that blocked reads and writes end;
    // 4. pause 100 ms;
    // 5. wait until no refresh tick reads a worker (WaitForWorkerReaders);
    // 6. join every worker's threads, `joinBoundMs` in all (the joins keep
    //    cancelling and purging while they wait);
    // 7. take the worker pointer off the rows of the workers that will be
    //    freed, then free those workers. A worker whose threads still run is
    //    left allocated for the rest of the process, with its row pointer:
    //    freeing it would free memory its thread still uses.
    // Runs once; a second call returns what is left (nothing). quitEvent
    // stays set: the engine has ended for this process. With `othersDone`
    // false a thread outside the workers (a line check that outlived its
    // bound) may still use them: every worker is then left allocated.
    ShutDownResult ShutDown(uint32_t joinBoundMs = kShutDownJoinMs, bool othersDone = true);

    // Workers owned now (created and not yet shut down), and the one with
    // row index `i` (null past the end). The list changes only in
    // CreateWorkers and ShutDown; a thread other than the owner's reads it
    // only while the shut-down cannot be past its step 5 (the refresh holds
    // workerReadLock, engine.h).
    int32_t Count() const { return static_cast<int32_t>(workers_.size()); }
    PortWorker* At(int32_t i) const;

  private:
    RowSink& rows_;
    std::vector<std::unique_ptr<PortWorker>> workers_;
    bool shutDown_ = false;
};
