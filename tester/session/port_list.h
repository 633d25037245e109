// The port list as the front ends and the commands see it: the engine's
// rows (row_sink.h) plus enumeration, selection and reading back.
//
// The rows are the way to reach a worker from a command: each row's item
// data is its worker (not owned; a row may for a moment have none yet).
// Rows are never sorted and never removed while the list exists.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tester/engine/row_sink.h"

class PortList : public RowSink {
  public:
    // --- Enumeration and selection (the commands).

    // Visits the rows in position order, all of them or only the selected
    // ones. The visitor runs without any lock held and may call every
    // operation of the list; a row inserted meanwhile behind the current
    // one is visited too.
    using RowVisitor = std::function<void(int32_t row)>;
    virtual void ForEachRow(bool selectedOnly, const RowVisitor& visit) = 0;

    // The row's worker, or null when it has none yet or there is no such row.
    virtual PortWorker* GetRowWorker(int32_t row) = 0;

    // Sets or clears the row's selection alone. False when there is no such row.
    virtual bool SetRowSelected(int32_t row, bool selected) = 0;

    // --- Reading, for the terminal front end, the unattended run and tests.

    virtual int32_t RowCount() = 0;
    // False (and `text` untouched) when there is no such row or column.
    virtual bool GetCellText(int32_t row, int column, std::string& text) = 0;
    virtual bool IsRowSelected(int32_t row) = 0;
};
