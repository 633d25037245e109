#include "tester/session/row_store.h"

bool RowStore::InsertRow(int32_t rowIndex) {
    if (rowIndex < 0) return false;
    std::lock_guard<std::mutex> hold(lock_);
    const size_t at = static_cast<size_t>(rowIndex);
    if (at < rows_.size() && rows_[at].placeholder) {
        rows_[at].placeholder = false;
        return true;
    }
    if (at < rows_.size()) {
        rows_.insert(rows_.begin() + rowIndex, Row());
        return true;
    }
    while (rows_.size() < at) {
        rows_.emplace_back();
        rows_.back().placeholder = true;
    }
    rows_.emplace_back();
    return true;
}

bool RowStore::SetRowWorker(int32_t rowIndex, PortWorker* worker) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!valid(rowIndex)) return false;
    rows_[rowIndex].view.worker = worker;
    return true;
}

bool RowStore::SetCellText(int32_t rowIndex, int column, const char* text) {
    if (column < 0 || column >= kPortListColumns) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (!valid(rowIndex)) return false;
    rows_[rowIndex].view.cells[column] = text ? text : "";
    return true;
}

void RowStore::ForEachRow(bool selectedOnly, const RowVisitor& visit) {
    for (int32_t row = 0;; ++row) {
        {
            std::lock_guard<std::mutex> hold(lock_);
            while (valid(row) && selectedOnly && !rows_[row].view.selected)
                ++row;
            if (!valid(row)) return;
        }
        visit(row);
    }
}

PortWorker* RowStore::GetRowWorker(int32_t row) {
    std::lock_guard<std::mutex> hold(lock_);
    return valid(row) ? rows_[row].view.worker : nullptr;
}

bool RowStore::SetRowSelected(int32_t row, bool selected) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!valid(row)) return false;
    rows_[row].view.selected = selected;
    return true;
}

int32_t RowStore::RowCount() {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int32_t>(rows_.size());
}

bool RowStore::GetCellText(int32_t row, int column, std::string& text) {
    if (column < 0 || column >= kPortListColumns) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (!valid(row)) return false;
    text = rows_[row].view.cells[column];
    return true;
}

bool RowStore::IsRowSelected(int32_t row) {
    std::lock_guard<std::mutex> hold(lock_);
    return valid(row) && rows_[row].view.selected;
}

std::vector<RowStore::RowView> RowStore::Snapshot() {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<RowView> views;
    views.reserve(rows_.size());
    for (const Row& r : rows_)
        views.push_back(r.view);
    return views;
}
