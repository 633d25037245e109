// The port list's nine columns in character cells: widths from the
// configured pixel widths, fitted to what the cells hold and to the
// terminal, and cell texts cut to their column.
#pragma once

#include <string>
#include <vector>

// About the average character width of the window's list font (the default
// GUI font made 4 units larger), so that a column keeps its proportions.
constexpr int kPixelsPerChar = 7;

// Blank cells between two columns.
constexpr int kColumnGap = 1;

// The character width of a column configured `pixels` wide: the pixels
// divided by kPixelsPerChar, rounded, and never narrower than the title.
// A width of -1 (or any other negative value) gives no width: the title's
// length, and the column grows to its cells as far as the terminal allows.
int CharWidthOf(int pixels, const std::string& title);

// Final widths, for a row of `available` cells (gaps included):
// - every column at least its configured width (`base`) and as wide as the
//   longest text it holds (`content`, title included), when that fits;
// - otherwise the texts come first: each column as wide as its longest
//   text, and the room left goes back to the configured widths, from left
//   to right;
// - and when even the texts do not fit, column `givesFirst` gives up cells
//   down to its `minimum` (its title), then the widest columns a cell at a
//   time, so that the columns on the right stay on the screen with their
//   texts cut rather than vanish. The port list passes its "Name" column:
//   the row number says which port it is, the counters say what matters.
std::vector<int> FitColumns(const std::vector<int>& base, const std::vector<int>& content,
                            const std::vector<int>& minimum, int available, size_t givesFirst);

// A cell's text in exactly `width` cells, right-aligned as every column of
// the list is. A text that does not fit keeps its beginning and ends in
// "..." (or is cut short when the column is narrower than that), as the
// window's list view shows it.
std::string FitCell(const std::string& text, int width);

// Total cells of a row with these widths, gaps included.
int RowWidth(const std::vector<int>& widths);

// Lays out short items (the key hints) on as few lines of `width` cells as
// possible, in order, two blanks between items on a line; an item longer
// than a line gets a line of its own and is cut by the screen.
std::vector<std::string> WrapItems(const std::vector<std::string>& items, int width);

// The list's scrolling: the first row shown so that `cursor` is among the
// `height` rows shown, moving as little as possible from `top`, and no
// empty space below the last row when there are enough rows to fill it.
int ScrollTop(int top, int cursor, int rowCount, int height);
