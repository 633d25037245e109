// A tester run for the tests: the configuration's defaults with a chosen
// port list, the test engine, a row store and the workers made from them
// as a front end makes them. The run ends with the orderly shut-down.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tester/config/configuration.h"
#include "tester/engine/worker_group.h"
#include "tester/session/row_store.h"

namespace uitest {

// Every setting at its built-in default (the file named here does not
// exist), with `ports` as the [Ports] list.
void UseDefaultConfiguration(const std::vector<std::string>& ports);

// Polls `done` every 10 ms for up to `timeoutMs`; the bound only catches
// hangs.
bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs = 10000);

// A cell's text, "<none>" when there is no such cell.
std::string Cell(PortList& rows, int32_t row, int column);

class EngineRun {
  public:
    // Configures `ports` (then lets `adjust` change the settings), starts
    // the engine and the workers, and waits until every row is made and its
    // port open (or shown "Not open").
    explicit EngineRun(const std::vector<std::string>& ports,
                       const std::function<void(PortSettings&)>& adjust = nullptr);
    // WorkerGroup::ShutDown when the test has not, then clears quitEvent for the
    // next run.
    ~EngineRun();

    PortWorker& Worker(int32_t row);
    bool Settled() const { return settled_; }
    // Selects exactly the given rows.
    void Select(const std::vector<int32_t>& selected);
    void Refresh();
    std::string State(int32_t row) { return Cell(rows, row, 8); }

    RowStore rows;
    WorkerGroup workers{rows};

  private:
    bool settled_ = false;
};

}  // namespace uitest
