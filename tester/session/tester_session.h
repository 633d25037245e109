// One tester session: the life between a front end's start and its end,
// written once for the window, the terminal front end and the unattended
// run, which all drive it the same way:
//
//   TesterSession session(rows);
//   session.LoadConfiguration();  // settings, ports, placement, columns, summary
//   ...                           // the front end builds its view from them
//   session.Start();              // test engine, one worker per port, refresh
//   ...                           // commands on the rows; a refresh every 500 ms
//   session.Stop();               // refresh stopped, workers shut down (bounded)
//   ...                           // the front end stores what it shows
//   session.Save();               // the configuration file (not by a batch run)
//   if (session.RowsInUse()) ...  // then the rows must never be freed
//
// Everything here runs on the front end's thread. A front end whose rows
// are served by its own thread (the window's list view) makes sure, before
// Stop, that no other thread is left waiting on it: Stop joins the refresh
// and the workers.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tester/config/configuration.h"
#include "tester/engine/condition_check.h"
#include "tester/engine/line_check.h"
#include "tester/engine/worker_events.h"
#include "tester/engine/worker_group.h"
#include "tester/session/refresh_timer.h"

class RowSink;

// Something the operator should be told, in the system's own words: the
// text and the caption of the box the window shows for it.
struct Notice {
    std::string text;     // "Error 'GETCOMMSTATE' for COM3"
    std::string caption;  // "Error"
};

// The session hears its workers' events (WorkerEvents) and hands them on
// as notices.
class TesterSession : public WorkerEvents {
  public:
    // `rows` must outlive the session, and the process when RowsInUse()
    // says so after Stop.
    explicit TesterSession(RowSink& rows);
    // Stops the session when the front end has not (one that fails
    // half-way still ends its threads before it goes). Saves nothing.
    ~TesterSession();
    TesterSession(const TesterSession&) = delete;
    TesterSession& operator=(const TesterSession&) = delete;

    // Reads the configuration file at configPath into `configuration`.
    void LoadConfiguration();

    // Who shows the workers' notices (Notice): called on a worker's thread,
    // so it queues or posts them for its own thread and returns at once.
    // Set it before Start; without one a notice is dropped.
    using NoticeHandler = std::function<void(const Notice&)>;
    void SetNoticeHandler(NoticeHandler handler) { noticeHandler_ = std::move(handler); }

    // Who else looks at every refresh (refresh_timer.h): the snapshots of
    // each tick, and once more, with `last`, in Stop after the timer has
    // stopped and before the workers go. Set it before Start.
    void SetRefreshObserver(RefreshObserver observer) { refreshObserver_ = std::move(observer); }

    // WorkerEvents: "Error 'GETCOMMSTATE' for <port>", caption "Error".
    void LineStateUnreadable(int32_t rowIndex, const std::string& portName) override;
    void ReceiverKeptReading(int32_t rowIndex, const std::string& portName) override;

    // The test engine (the network library's lock and quitEvent), one worker
    // per configured port in file order, and the refresh: at once, then
    // every 500 ms. The workers go by the session's settings (Settings),
    // taken from the configuration now. False when the engine cannot be
    // started, which no front end can go on without; nothing was started
    // then. A refresh timer that cannot start leaves the session running
    // without refresh.
    bool Start();

    // The settings the workers go by. ChangeSettings is the one way to
    // change them (the settings form's OK, a sweep's speed): each worker
    // takes them when it next opens its port, starts a direction, or is
    // told to by ApplySettings (the "Ports settings" command). The
    // configuration record, which the file is saved from, is the front
    // end's to change as well.
    const PortSettings& Settings() const { return settings_; }
    void ChangeSettings(const PortSettings& settings) { settings_ = settings; }

    // What a front end may look at once the refresh has stopped and one
    // last refresh has written the final counters, while every worker is
    // still alive (its rows and their workers), just before the shut-down.
    using LastLook = std::function<void()>;

    // The end: the refresh is stopped (and, with `lastLook` or a refresh
    // observer, run once more, the observer told and the look taken), then
    // the workers' orderly, bounded shut-down
    // (WorkerGroup::ShutDown). Runs once; later calls do nothing.
    void Stop(const LastLook& lastLook = nullptr);

    // Writes the configuration file. False when it could not be written:
    // SaveFailure() then says so in a sentence for the operator.
    bool Save();
    const std::string& SaveFailure() const { return saveFailure_; }

    // After Stop: a worker's thread or the refresh outlived its bound and
    // may still write the rows (and the workers it uses are left
    // allocated). The rows must then stay allocated for the rest of the
    // process. Before Stop: true once Start has started anything.
    bool RowsInUse() const;

    WorkerGroup& Workers() { return workers_; }

    // The modem-line check of `jobs` (line_check.h) with the default
    // timing, on a thread of its own, so that the front end goes on
    // meanwhile; `done` gets the outcomes on that thread. False when a
    // check still runs (its `done` not returned) or the session has not
    // started or has stopped. Stop ends a running check early, and waits
    // for it, before the workers go.
    bool StartLineCheck(std::vector<LineCheckJob> jobs, LineCheckThread::Done done);
    bool LineCheckRunning() const { return lineCheck_ && lineCheck_->Running(); }

    // The same for the checks of flow control, breaks and parity
    // (condition_check.h), on a thread of their own. Both borrow the
    // ports' lines, so neither starts while the other runs.
    bool StartConditionCheck(std::vector<LineCheckJob> jobs, std::vector<ConditionCheck> checks,
                             ConditionCheckThread::Done done);

  private:
    RowSink& rows_;
    NoticeHandler noticeHandler_;
    RefreshObserver refreshObserver_;
    PortSettings settings_;  // before the workers, which refer to it
    WorkerGroup workers_;
    std::unique_ptr<RefreshTimer> refresh_;
    std::unique_ptr<LineCheckThread> lineCheck_;
    std::unique_ptr<ConditionCheckThread> conditionCheck_;
    bool started_ = false;
    bool stopped_ = false;
    bool rowsInUse_ = false;
    std::string saveFailure_;
};
