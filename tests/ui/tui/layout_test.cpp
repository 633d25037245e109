#include "tester/ui/tui/column_layout.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tester/config/configuration.h"

namespace {

TEST(ColumnLayout, BuiltInPixelWidthsKeepTheirProportions) {
    std::vector<int> widths;
    for (const ColumnDescriptor& column : kDefaultColumns)
        widths.push_back(CharWidthOf(column.width, column.title));
    EXPECT_EQ(widths, (std::vector<int>{6, 9, 12, 12, 6, 6, 11, 8, 6}));

    EXPECT_EQ(CharWidthOf(0, "ErrDesc"), 7);  // never narrower than its title
    EXPECT_EQ(CharWidthOf(-1, "State"), 5);   // no width given: the title
    EXPECT_EQ(CharWidthOf(-1, ""), 1);
    EXPECT_EQ(CharWidthOf(700, "#"), 100);
}

TEST(ColumnLayout, TextsComeFirstWhenTheConfiguredWidthsDoNotFit) {
    const std::vector<int> base = {2, 5, 3};
    const std::vector<int> content = {1, 9, 6};
    const std::vector<int> titles = {1, 2, 3};
    // Room for everything: configured widths, widened to the texts.
    const size_t none = 99;  // no column gives first
    EXPECT_EQ(FitColumns(base, content, titles, 100, none), (std::vector<int>{2, 9, 6}));
    // Room for the texts and one cell more: the texts, then the configured
    // width of the first column that is narrower than configured.
    EXPECT_EQ(FitColumns(base, content, titles, RowWidth(content) + 1, none),
              (std::vector<int>{2, 9, 6}));
    EXPECT_EQ(FitColumns(base, content, titles, RowWidth(content), none), content);
    // Less than the texts: the widest column gives up cells first, none
    // below its title.
    EXPECT_EQ(FitColumns(base, content, titles, RowWidth(content) - 3, none),
              (std::vector<int>{1, 6, 6}));
    EXPECT_EQ(FitColumns(base, content, titles, RowWidth(content) - 6, none),
              (std::vector<int>{1, 4, 5}));
    EXPECT_EQ(FitColumns(base, content, titles, 0, none), titles);
    // Unless a column is named to give first: it goes down to its title
    // before any other gives a cell.
    EXPECT_EQ(FitColumns(base, content, titles, RowWidth(content) - 3, 2),
              (std::vector<int>{1, 9, 3}));
    EXPECT_EQ(FitColumns(base, content, titles, RowWidth(content) - 6, 2),
              (std::vector<int>{1, 6, 3}));
}

TEST(ColumnLayout, ADemoRowWithANetworkPortFitsEightyColumns) {
    const std::vector<std::string> titles = {"#",    "Name",    "Rx#",  "Tx#",  "CPS",
                                             "Err#", "ErrDesc", "Time", "State"};
    const std::vector<std::string> cells = {
        "6",   "127.0.0.1:40123", "1234567/1205", "1234567/1205", "11520",
        "0/0", "....../../0000",  "00:01:47",     "Rx/Tx"};
    std::vector<int> base, content, minimum;
    for (size_t i = 0; i < titles.size(); ++i) {
        base.push_back(CharWidthOf(kDefaultColumns[i].width, titles[i]));
        minimum.push_back(static_cast<int>(titles[i].size()));
        content.push_back(static_cast<int>(std::max(titles[i].size(), cells[i].size())));
    }
    const std::vector<int> widths = FitColumns(base, content, minimum, 78, 1);
    EXPECT_LE(RowWidth(widths), 78);
    // Every counter, the error description, the time and the state whole;
    // only the long name is cut.
    for (size_t i = 2; i < cells.size(); ++i)
        EXPECT_GE(widths[i], static_cast<int>(cells[i].size())) << titles[i];
    EXPECT_LT(widths[1], static_cast<int>(cells[1].size()));
}

TEST(ColumnLayout, CellsAreRightAlignedAndCutAsTheListViewCutsThem) {
    EXPECT_EQ(FitCell("12/3", 6), "  12/3");
    EXPECT_EQ(FitCell("abcdef", 6), "abcdef");
    EXPECT_EQ(FitCell("/dev/ttyUSB10", 8), "/dev/...");
    EXPECT_EQ(FitCell("abcdef", 3), "abc");
    EXPECT_EQ(FitCell("abc", 0), "");
}

TEST(ColumnLayout, HintsWrapOnWholeItems) {
    const std::vector<std::string> items = {"s Start", "r Read", "w Write", "q Exit"};
    EXPECT_EQ(WrapItems(items, 100),
              (std::vector<std::string>{"s Start  r Read  w Write  q Exit"}));
    EXPECT_EQ(WrapItems(items, 16),
              (std::vector<std::string>{"s Start  r Read", "w Write  q Exit"}));
    EXPECT_EQ(WrapItems(items, 3).size(), 4u);  // each on its own line, cut by the screen
    EXPECT_TRUE(WrapItems({}, 80).empty());
}

TEST(ColumnLayout, ScrollingKeepsTheCursorShownAndTheListFull) {
    EXPECT_EQ(ScrollTop(0, 3, 10, 5), 0);
    EXPECT_EQ(ScrollTop(0, 7, 10, 5), 3);  // cursor below: last line
    EXPECT_EQ(ScrollTop(5, 2, 10, 5), 2);  // cursor above: first line
    EXPECT_EQ(ScrollTop(8, 9, 10, 5), 5);  // no empty lines under the last row
    EXPECT_EQ(ScrollTop(4, 1, 3, 10), 0);  // fewer rows than lines
    EXPECT_EQ(ScrollTop(3, 3, 10, 0), 0);  // no room at all
}

}  // namespace
