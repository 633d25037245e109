// The terminal's main screen: title, menu bar line, the port list with its
// nine columns, the key hints and the status line.
//
// From the top: line 0 the title, line 1 the menu bar (drawn by
// MenuView), line 2 the column titles, then the rows; at the bottom the
// key hints and, when it is shown, the status line.
#pragma once

#include <string>
#include <vector>

#include "tester/session/row_store.h"

// Cells left of the first column: the cursor mark ('>') and the selection
// mark ('*'), so that both show on a terminal without colour or video
// attributes as well.
constexpr int kRowGutter = 2;

constexpr int kMenuBarLine = 1;
constexpr int kHeaderLine = 2;
constexpr int kFirstRowLine = 3;

struct ListPosition {
    int cursor = 0;  // row under the cursor
    int top = 0;     // first row shown
};

struct MainScreen {
    std::string title;
    std::vector<std::string> columnTitles;  // the nine titles
    std::vector<int> baseWidths;            // configured widths, in cells
    std::vector<std::string> hints;         // the single keys, KeyHints()
    bool statusVisible = true;
    std::string statusText;  // summaryText, or the help of a highlighted menu item
};

// How many rows of the list fit on the screen now.
int ListHeight(const MainScreen& screen);

// Draws everything but the menu bar's titles and any box on top. Moves
// `position` so that the cursor row is on screen.
void DrawMainScreen(const MainScreen& screen, const std::vector<RowStore::RowView>& rows,
                    ListPosition& position);
