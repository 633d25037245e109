#include "tests/session/engine_run.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/clock.h"
#include "tester/config/configuration.h"
#include "tester/engine/engine.h"
#include "tester/engine/port_worker.h"
#include "tester/session/refresh.h"

namespace uitest {

void UseDefaultConfiguration(const std::vector<std::string>& ports) {
    SetConfigPath("./ui-tests-no-such-file.ini");
    LoadConfiguration();
    configuration.portNames = ports;
    configuration.portCount = static_cast<uint32_t>(ports.size());
}

bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    const uint32_t start = plat::tickCount();
    for (;;) {
        if (done()) return true;
        if (plat::ticksBetween(start, plat::tickCount()) > timeoutMs) return done();
        plat::sleepMs(10);
    }
}

std::string Cell(PortList& rows, int32_t row, int column) {
    std::string text = "<none>";
    rows.GetCellText(row, column, text);
    return text;
}

EngineRun::EngineRun(const std::vector<std::string>& ports,
                     const std::function<void(PortSettings&)>& adjust) {
    UseDefaultConfiguration(ports);
    if (adjust) adjust(configuration.portSettings);
    if (!InitTestEngine()) {
        ADD_FAILURE() << "InitTestEngine failed";
        return;
    }
    const int32_t n = static_cast<int32_t>(ports.size());
    EXPECT_EQ(workers.CreateWorkers(configuration.portNames, configuration.portSettings), n);
    settled_ = WaitUntil([&] {
        if (rows.RowCount() != n) return false;
        for (int32_t row = 0; row < n; ++row) {
            PortWorker* w = rows.GetRowWorker(row);
            if (!w) return false;
            // Ready to take commands is not yet shown as open: the state
            // cell reads "Open" until the port is configured.
            if (w->State() == PortState::Opening) return false;
        }
        return true;
    });
    EXPECT_TRUE(settled_) << "rows not made or ports not opened in time";
}

EngineRun::~EngineRun() {
    workers.ShutDown();
    ClearQuitForTesting();
}

PortWorker& EngineRun::Worker(int32_t row) {
    PortWorker* w = rows.GetRowWorker(row);
    if (!w) throw std::runtime_error("row " + std::to_string(row) + " has no worker");
    return *w;
}

void EngineRun::Select(const std::vector<int32_t>& selected) {
    for (int32_t row = 0; row < rows.RowCount(); ++row)
        rows.SetRowSelected(row, false);
    for (int32_t row : selected)
        rows.SetRowSelected(row, true);
}

void EngineRun::Refresh() {
    RefreshRows(workers, rows);
}

}  // namespace uitest
