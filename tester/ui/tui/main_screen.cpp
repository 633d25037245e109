#include "tester/ui/tui/main_screen.h"

#include <algorithm>

#include "tester/session/row_texts.h"
#include "tester/ui/tui/column_layout.h"
#include "tester/ui/tui/curses_ui.h"

namespace {

int HintLines(const MainScreen& screen) {
    return static_cast<int>(WrapItems(screen.hints, ScreenCols() - 1).size());
}

std::vector<int> ColumnWidths(const MainScreen& screen,
                              const std::vector<RowStore::RowView>& rows) {
    std::vector<int> content(kPortListColumns, 0);
    std::vector<int> titles(kPortListColumns, 1);
    for (int c = 0; c < kPortListColumns; ++c) {
        if (static_cast<size_t>(c) < screen.columnTitles.size())
            titles[c] = content[c] = static_cast<int>(screen.columnTitles[c].size());
        for (const RowStore::RowView& row : rows)
            content[c] = std::max(content[c], static_cast<int>(row.cells[c].size()));
    }
    std::vector<int> base = screen.baseWidths;
    base.resize(kPortListColumns, 1);
    return FitColumns(base, content, titles, ScreenCols() - kRowGutter, kColumnName);
}

std::string RowLine(const std::vector<int>& widths, const std::string* cells) {
    std::string line;
    for (int c = 0; c < kPortListColumns; ++c) {
        if (c > 0) line.append(kColumnGap, ' ');
        line += FitCell(cells[c], widths[c]);
    }
    return line;
}

}  // namespace

int ListHeight(const MainScreen& screen) {
    const int bottom = ScreenRows() - HintLines(screen) - (screen.statusVisible ? 1 : 0);
    return std::max(bottom - kFirstRowLine, 0);
}

void DrawMainScreen(const MainScreen& screen, const std::vector<RowStore::RowView>& rows,
                    ListPosition& position) {
    const int cols = ScreenCols();
    PutText(0, 0, " " + screen.title, cols, Look::Title, true);

    const std::vector<int> widths = ColumnWidths(screen, rows);
    std::string titles[kPortListColumns];
    for (int c = 0; c < kPortListColumns; ++c)
        if (static_cast<size_t>(c) < screen.columnTitles.size()) titles[c] = screen.columnTitles[c];
    PutText(kHeaderLine, 0, std::string(kRowGutter, ' ') + RowLine(widths, titles), cols,
            Look::Header, true);

    const int count = static_cast<int>(rows.size());
    const int height = ListHeight(screen);
    position.cursor = std::clamp(position.cursor, 0, std::max(count - 1, 0));
    position.top = ScrollTop(position.top, position.cursor, count, height);
    for (int line = 0; line < height; ++line) {
        const int row = position.top + line;
        const int y = kFirstRowLine + line;
        if (row >= count) {
            PutText(y, 0, "", cols, Look::Normal, true);
            continue;
        }
        const RowStore::RowView& view = rows[row];
        const bool atCursor = row == position.cursor;
        std::string gutter;
        gutter += atCursor ? '>' : ' ';
        gutter += view.selected ? '*' : ' ';
        const Look look = view.selected ? Look::Selected : atCursor ? Look::Cursor : Look::Normal;
        PutText(y, 0, gutter + RowLine(widths, view.cells), cols, look, true);
    }
    if (count == 0 && height > 0)
        PutText(kFirstRowLine, kRowGutter, "(no ports)", cols, Look::Hint);

    const std::vector<std::string> hintLines = WrapItems(screen.hints, cols - 1);
    int y = kFirstRowLine + height;
    for (const std::string& hint : hintLines)
        PutText(y++, 0, hint, cols, Look::Hint, true);
    if (screen.statusVisible) PutText(y, 0, screen.statusText, cols, Look::Status, true);
}
