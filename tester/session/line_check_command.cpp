#include "tester/session/line_check_command.h"

#include "tester/engine/port_worker.h"
#include "tester/session/port_list.h"

namespace {

// "1 COM1", as the list's first two columns show the port.
std::string Label(const PortWorker& worker) {
    return std::to_string(worker.rowIndex + 1) + " " + worker.PortName();
}

}  // namespace

std::vector<LineCheckJob> LineCheckJobsForSelection(PortList& rows) {
    std::vector<PortWorker*> selected;
    rows.ForEachRow(true, [&](int32_t row) {
        if (PortWorker* worker = rows.GetRowWorker(row)) selected.push_back(worker);
    });
    return PairForLineCheck(selected);
}

std::string OutcomeHeading(const LineCheckOutcome& o) {
    std::string text = Label(*o.worker);
    if (o.farEnd == o.worker) {
        text += " (loop-back)";
    } else if (o.farEnd) {
        text += " > " + Label(*o.farEnd);
    }
    return text;
}

std::string FormatLineCheckMessage(const std::vector<LineCheckOutcome>& outcomes) {
    std::string text;
    for (const LineCheckOutcome& o : outcomes) {
        if (!o.worker) continue;
        if (!text.empty()) text += "\n";
        text += OutcomeHeading(o) + ": " + o.result.text;
    }
    return text;
}
