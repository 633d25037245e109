// The port list's rows: the tester's only registry of port workers.
//
// Row i belongs to the worker whose rowIndex is i; its item data is that
// worker (not owned; a row may for a moment have none yet) and it has nine
// text cells, one per column, plus a selected state. Rows are never sorted
// and never removed while the list exists.
//
// Every operation may be called from any thread and returns once the list
// is updated. Implementations serialise them (the list view sends them to
// the window's thread; the row store takes a lock), so a cell's text is
// always read whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class PortWorker;

constexpr int kPortListColumns = 9;

class PortList {
  public:
    virtual ~PortList() = default;

    // --- Row operations of the workers' port threads.

    // Makes row `rowIndex` exist, with empty cells and no worker, so that
    // rows keep the workers' order whatever order their threads run in:
    // - past the end, the missing rows below it are created first as
    //   placeholders (empty, no worker), so the row lands at `rowIndex`,
    //   never lower;
    // - on a placeholder, the placeholder becomes the row;
    // - on a row inserted before, a new row is inserted there and the rows
    //   from there on move down one.
    // False for a negative index. A placeholder whose worker never comes
    // stays an empty row without a worker, which every caller skips.
    virtual bool InsertRow(int32_t rowIndex) = 0;

    // Stores `worker` as the row's item data. False when there is no such row.
    virtual bool SetRowWorker(int32_t rowIndex, PortWorker* worker) = 0;

    // Sets cell `column` (0..8; 0 is the row's main text). The text is copied.
    virtual bool SetCellText(int32_t rowIndex, int column, const char* text) = 0;

    // --- Enumeration and selection (the refresh and the commands).

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

    // --- Reading, for the terminal front end and for tests.

    virtual int32_t RowCount() = 0;
    // False (and `text` untouched) when there is no such row or column.
    virtual bool GetCellText(int32_t row, int column, std::string& text) = 0;
    virtual bool IsRowSelected(int32_t row) = 0;
};
