#include "tester/session/row_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace {

// Rows only carry worker pointers; these stand for workers.
PortWorker* worker(int i) {
    static char workers[256];
    return reinterpret_cast<PortWorker*>(&workers[i]);
}

std::string cell(RowStore& rows, int32_t row, int column) {
    std::string text = "<none>";
    rows.GetCellText(row, column, text);
    return text;
}

std::vector<int32_t> visited(RowStore& rows, bool selectedOnly) {
    std::vector<int32_t> seen;
    rows.ForEachRow(selectedOnly, [&](int32_t row) { seen.push_back(row); });
    return seen;
}

// What a worker's port thread writes first.
void createRow(RowStore& rows, int i) {
    rows.InsertRow(i);
    rows.SetRowWorker(i, worker(i));
    rows.SetCellText(i, 0, std::to_string(i + 1).c_str());
    rows.SetCellText(i, 1, ("COM" + std::to_string(i + 1)).c_str());
    rows.SetCellText(i, 8, "Open");
}

}  // namespace

TEST(RowStore, EmptyListVisitsNothing) {
    RowStore rows;
    EXPECT_EQ(rows.RowCount(), 0);
    EXPECT_TRUE(visited(rows, false).empty());
    EXPECT_TRUE(visited(rows, true).empty());
    EXPECT_EQ(rows.GetRowWorker(0), nullptr);
    EXPECT_FALSE(rows.SetCellText(0, 0, "x"));
    EXPECT_FALSE(rows.SetRowSelected(0, true));
}

TEST(RowStore, RowsLandInRowIndexOrderWhateverOrderThreadsRunIn) {
    constexpr int kRows = 64;
    RowStore rows;
    std::vector<int> order(kRows);
    for (int i = 0; i < kRows; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    std::vector<std::thread> threads;
    for (int i : order)
        threads.emplace_back([&rows, i] {
            plat::sleepMs(static_cast<uint32_t>(i * 7 % 13));
            createRow(rows, i);
        });
    for (std::thread& t : threads)
        t.join();

    ASSERT_EQ(rows.RowCount(), kRows);
    for (int i = 0; i < kRows; ++i) {
        EXPECT_EQ(rows.GetRowWorker(i), worker(i)) << "row " << i;
        EXPECT_EQ(cell(rows, i, 0), std::to_string(i + 1));
        EXPECT_EQ(cell(rows, i, 1), "COM" + std::to_string(i + 1));
        EXPECT_EQ(cell(rows, i, 8), "Open");
    }
    std::vector<int32_t> all = visited(rows, false);
    ASSERT_EQ(all.size(), static_cast<size_t>(kRows));
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
}

TEST(RowStore, RowsAheadOfTheirTurnLeavePlaceholdersWithoutWorkers) {
    RowStore rows;
    createRow(rows, 3);
    ASSERT_EQ(rows.RowCount(), 4);
    EXPECT_EQ(rows.GetRowWorker(3), worker(3));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rows.GetRowWorker(i), nullptr) << "row " << i;
        EXPECT_EQ(cell(rows, i, 0), "");
    }
    EXPECT_EQ(visited(rows, false), (std::vector<int32_t>{0, 1, 2, 3}))
        << "placeholders are rows like any other; callers skip them by their null worker";

    createRow(rows, 1);
    createRow(rows, 0);
    createRow(rows, 2);
    ASSERT_EQ(rows.RowCount(), 4) << "placeholders are taken, not pushed down";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rows.GetRowWorker(i), worker(i)) << "row " << i;

    // A row inserted where a real one stands pushes it down, as in a list view.
    rows.InsertRow(1);
    ASSERT_EQ(rows.RowCount(), 5);
    EXPECT_EQ(rows.GetRowWorker(1), nullptr);
    EXPECT_EQ(rows.GetRowWorker(2), worker(1));
    EXPECT_FALSE(rows.InsertRow(-1));
}

TEST(RowStore, SelectionChangesOneRowAndFiltersTheVisit) {
    RowStore rows;
    for (int i = 0; i < 6; ++i)
        createRow(rows, i);
    EXPECT_TRUE(rows.SetRowSelected(1, true));
    EXPECT_TRUE(rows.SetRowSelected(4, true));
    EXPECT_TRUE(rows.SetRowSelected(5, true));
    EXPECT_TRUE(rows.SetRowSelected(5, false));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(rows.IsRowSelected(i), i == 1 || i == 4) << "row " << i;
    EXPECT_EQ(visited(rows, true), (std::vector<int32_t>{1, 4}));
    EXPECT_EQ(visited(rows, false).size(), 6u);
    EXPECT_FALSE(rows.SetRowSelected(6, true));
    EXPECT_FALSE(rows.IsRowSelected(-1));
}

TEST(RowStore, VisitorMayUseTheListItself) {
    RowStore rows;
    for (int i = 0; i < 4; ++i)
        createRow(rows, i);
    rows.SetRowSelected(2, true);
    int visits = 0;
    rows.ForEachRow(false, [&](int32_t row) {
        ++visits;
        if (rows.GetRowWorker(row)) rows.SetCellText(row, 7, "00:00:01");
        rows.SetRowSelected(row, !rows.IsRowSelected(row));  // "select odd/even" style
        if (row == 3) rows.InsertRow(5);                     // grows behind the visit
    });
    EXPECT_EQ(visits, 6);
    EXPECT_EQ(cell(rows, 3, 7), "00:00:01");
    EXPECT_EQ(cell(rows, 4, 7), "");
    EXPECT_EQ(visited(rows, true), (std::vector<int32_t>{0, 1, 3, 4, 5}));
}

TEST(RowStore, BadCellsAreRefusedAndTextsCopied) {
    RowStore rows;
    createRow(rows, 0);
    EXPECT_FALSE(rows.SetCellText(0, kPortListColumns, "x"));
    EXPECT_FALSE(rows.SetCellText(0, -1, "x"));
    EXPECT_FALSE(rows.SetCellText(1, 0, "x"));
    std::string text = "kept";
    EXPECT_FALSE(rows.GetCellText(0, 9, text));
    EXPECT_EQ(text, "kept");
    EXPECT_TRUE(rows.SetCellText(0, 6, nullptr));
    EXPECT_EQ(cell(rows, 0, 6), "");
    char buffer[] = "Rx/Tx";
    rows.SetCellText(0, 8, buffer);
    buffer[0] = 'X';
    EXPECT_EQ(cell(rows, 0, 8), "Rx/Tx");
}

// Workers, the refresh and the commands write rows at the same time while a
// front end reads them: every text read is one that was written, whole.
TEST(RowStore, ConcurrentWritersNeverTearACell) {
    constexpr int kRows = 8;
    RowStore rows;
    for (int i = 0; i < kRows; ++i)
        createRow(rows, i);
    const std::string texts[] = {std::string(300, 'a'), std::string(7, 'b'), std::string(1000, 'c'),
                                 std::string()};
    std::atomic<bool> stop{false};
    std::atomic<long> torn{0}, reads{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < 3; ++w)
        threads.emplace_back([&, w] {
            for (unsigned n = w; !stop; ++n) {
                rows.SetCellText(static_cast<int32_t>(n % kRows), 2 + n % 5, texts[n % 4].c_str());
                rows.SetRowSelected(static_cast<int32_t>(n % kRows), n & 1);
            }
        });
    auto whole = [&](const std::string& c) {
        return c.empty() || c == texts[0] || c == texts[1] || c == texts[2];
    };
    threads.emplace_back([&] {
        while (!stop) {
            for (const RowStore::RowView& v : rows.Snapshot())
                for (int column = 2; column <= 6; ++column)
                    if (!whole(v.cells[column])) ++torn;
            rows.ForEachRow(true, [&](int32_t row) {
                std::string c;
                rows.GetCellText(row, 4, c);
                if (!whole(c)) ++torn;
                ++reads;
            });
        }
    });
    plat::sleepMs(300);
    stop = true;
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(rows.RowCount(), kRows);
}
