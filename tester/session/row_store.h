// The port list's rows in memory, for the terminal front end and for tests
// of everything that writes rows. Every operation takes one lock, so it is
// safe from any thread and a cell is always read whole.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "tester/session/port_list.h"

class RowStore : public PortList {
  public:
    struct RowView {
        PortWorker* worker;
        bool selected;
        std::string cells[kPortListColumns];
    };

    bool InsertRow(int32_t rowIndex) override;
    bool SetRowWorker(int32_t rowIndex, PortWorker* worker) override;
    bool SetCellText(int32_t rowIndex, int column, const char* text) override;
    void ForEachRow(bool selectedOnly, const RowVisitor& visit) override;
    PortWorker* GetRowWorker(int32_t row) override;
    bool SetRowSelected(int32_t row, bool selected) override;
    int32_t RowCount() override;
    bool GetCellText(int32_t row, int column, std::string& text) override;
    bool IsRowSelected(int32_t row) override;

    // Every row as it is at one moment, for drawing the whole list at once.
    std::vector<RowView> Snapshot();

  private:
    struct Row {
        RowView view{nullptr, false, {}};
        bool placeholder = false;  // made by InsertRow of a later row
    };

    bool valid(int32_t row) const { return row >= 0 && static_cast<size_t>(row) < rows_.size(); }

    std::mutex lock_;
    std::vector<Row> rows_;
};
