// What the engine needs of the port list: a row per worker, and the cells
// of that row. The front ends' lists (the window's list view, the terminal's
// row store) implement it; the engine knows nothing else of them.
//
// Row i belongs to the worker whose rowIndex is i. Every operation may be
// called from any thread and returns once the row is updated; an
// implementation serialises them, so a cell is always written whole.
#pragma once

#include <cstdint>

class PortWorker;

// The cells of a row, one per column of the list: "#", "Name", "Rx#",
// "Tx#", "CPS", "Err#", "ErrDesc", "Time", "State".
enum RowColumn : int {
    kColumnNumber = 0,
    kColumnName = 1,
    kColumnRx = 2,
    kColumnTx = 3,
    kColumnCps = 4,
    kColumnErrors = 5,
    kColumnErrDesc = 6,
    kColumnTime = 7,
    kColumnState = 8,
};
constexpr int kPortListColumns = 9;

class RowSink {
  public:
    virtual ~RowSink() = default;

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

    // Stores `worker` as the row's item data (null takes it away). False
    // when there is no such row.
    virtual bool SetRowWorker(int32_t rowIndex, PortWorker* worker) = 0;

    // Sets cell `column` (0..8; 0 is the row's main text). The text is copied.
    virtual bool SetCellText(int32_t rowIndex, int column, const char* text) = 0;
};
