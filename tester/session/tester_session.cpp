#include "tester/session/tester_session.h"

#include <new>

#include "platform/last_error.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/session/refresh.h"
#include "tester/session/refresh_timer.h"

TesterSession::TesterSession(RowSink& rows) : rows_(rows), workers_(rows) {}

TesterSession::~TesterSession() {
    Stop();
}

void TesterSession::LoadConfiguration() {
    ::LoadConfiguration();
}

bool TesterSession::Start() {
    if (started_ || stopped_) return started_;
    if (!InitTestEngine()) return false;
    started_ = true;
    settings_ = configuration.portSettings;
    workers_.CreateWorkers(configuration.portNames, settings_, this);
    refresh_.reset(new (std::nothrow) RefreshTimer(workers_, rows_, refreshObserver_));
    if (refresh_ && !refresh_->Start()) refresh_.reset();
    return true;
}

void TesterSession::Stop(const LastLook& lastLook) {
    if (stopped_) return;
    stopped_ = true;
    if (!started_) return;
    bool refreshStopped = true;
    if (refresh_) {
        refreshStopped = refresh_->Stop();
        // A tick held past the bound still runs in the timer: the timer
        // stays allocated for good, as a worker whose thread outlives its
        // join does.
        if (!refreshStopped) (void)refresh_.release();
        refresh_.reset();
    }
    // A line check ends at its next look at the lines and gives its ports
    // their settings back: a worker's join bound is ample for that. One that
    // does not end still uses the workers, which then stay allocated.
    bool checkEnded = true;
    if (lineCheck_ && !lineCheck_->Stop(kShutDownJoinMs)) {
        checkEnded = false;
        (void)lineCheck_.release();
    }
    if (conditionCheck_ && !conditionCheck_->Stop(kShutDownJoinMs)) {
        checkEnded = false;
        (void)conditionCheck_.release();
    }
    if (lastLook || refreshObserver_) {
        std::vector<PortSnapshot> taken;
        RefreshRows(workers_, rows_, &taken);
        if (refreshObserver_) refreshObserver_(taken, true);
        if (lastLook) lastLook();
    }
    const ShutDownResult ended = workers_.ShutDown(kShutDownJoinMs, checkEnded);
    rowsInUse_ = !refreshStopped || ended.leftAllocated != 0;
}

void TesterSession::LineStateUnreadable(int32_t, const std::string& portName) {
    if (noticeHandler_) noticeHandler_(Notice{"Error 'GETCOMMSTATE' for " + portName, "Error"});
}

void TesterSession::ReceiverKeptReading(int32_t, const std::string& portName) {
    if (noticeHandler_)
        noticeHandler_(Notice{"The receiver of " + portName +
                                  " did not stop for the new settings: the bytes it still reads "
                                  "may count as errors",
                              "Error"});
}

bool TesterSession::StartLineCheck(std::vector<LineCheckJob> jobs, LineCheckThread::Done done) {
    if (!started_ || stopped_) return false;
    // Both checks borrow the lines: one at a time.
    if (conditionCheck_ && conditionCheck_->Running()) return false;
    if (!lineCheck_) lineCheck_.reset(new (std::nothrow) LineCheckThread);
    return lineCheck_ && lineCheck_->Start(std::move(jobs), LineCheckTiming(), std::move(done));
}

bool TesterSession::StartConditionCheck(std::vector<LineCheckJob> jobs,
                                        std::vector<ConditionCheck> checks,
                                        ConditionCheckThread::Done done) {
    if (!started_ || stopped_ || LineCheckRunning()) return false;
    if (!conditionCheck_) conditionCheck_.reset(new (std::nothrow) ConditionCheckThread);
    return conditionCheck_ && conditionCheck_->Start(std::move(jobs), std::move(checks),
                                                     ConditionTiming(), std::move(done));
}

bool TesterSession::Save() {
    saveFailure_.clear();
    if (SaveConfiguration() == 0) return true;
    saveFailure_ =
        "Cannot save the settings to " + configPath + ": " + plat::errorText(plat::lastError());
    return false;
}

bool TesterSession::RowsInUse() const {
    return stopped_ ? rowsInUse_ : started_;
}
