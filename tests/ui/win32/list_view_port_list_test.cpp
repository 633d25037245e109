// The list-view port list on a real list control (Wine on a private
// display): the row rules shared with the in-memory store, calls from other
// threads served on the window's thread, and the close at shut-down.
#include "tester/ui/win32/list_view_port_list.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/ui/win32/window_test.h"

namespace {

PortWorker* worker(int i) {
    static char workers[256];
    return reinterpret_cast<PortWorker*>(&workers[i]);
}

// Serves this thread's messages until `done` holds, for at most 20 s.
template <typename Pred>
bool PumpUntil(Pred done) {
    const DWORD start = GetTickCount();
    while (!done()) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (GetTickCount() - start > 20000) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

class ListViewPortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitWindowing();
        parent_ = CreateWindowExA(0, "STATIC", "parent", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(parent_, nullptr) << "no display?";
        list_ = new ListViewPortList;
        ASSERT_TRUE(list_->Create(parent_, 1));
        for (int i = 0; i < kPortListColumns; ++i) {
            LVCOLUMNA column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = const_cast<char*>("c");
            column.cx = 40;
            ASSERT_EQ(SendMessageA(list_->hwnd(), LVM_INSERTCOLUMNA, i,
                                   reinterpret_cast<LPARAM>(&column)),
                      i);
        }
    }
    void TearDown() override {
        delete list_;
        if (parent_) DestroyWindow(parent_);
    }

    std::string Cell(int32_t row, int column) {
        std::string text = "<none>";
        list_->GetCellText(row, column, text);
        return text;
    }
    std::vector<int32_t> Visited(bool selectedOnly) {
        std::vector<int32_t> rows;
        list_->ForEachRow(selectedOnly, [&](int32_t row) { rows.push_back(row); });
        return rows;
    }
    // What a worker's port thread writes first.
    void CreateRow(int i) {
        list_->InsertRow(i);
        list_->SetRowWorker(i, worker(i));
        list_->SetCellText(i, 0, std::to_string(i + 1).c_str());
        list_->SetCellText(i, 1, ("COM" + std::to_string(i + 1)).c_str());
        list_->SetCellText(i, 8, "Open");
    }

    HWND parent_ = nullptr;
    ListViewPortList* list_ = nullptr;
};

}  // namespace

TEST_F(ListViewPortListTest, RowsLandInRowIndexOrderWhateverOrderThreadsRunIn) {
    constexpr int kRows = 24;
    std::vector<int> order(kRows);
    for (int i = 0; i < kRows; ++i)
        order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int i : order)
        threads.emplace_back([this, i, &finished] {
            CreateRow(i);
            finished.fetch_add(1);
        });
    ASSERT_TRUE(PumpUntil([&] { return finished.load() == kRows; }));
    for (auto& t : threads)
        t.join();
    ASSERT_EQ(list_->RowCount(), kRows);
    for (int i = 0; i < kRows; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list_->GetRowWorker(i), worker(i));
        EXPECT_EQ(Cell(i, 0), std::to_string(i + 1));
        EXPECT_EQ(Cell(i, 1), "COM" + std::to_string(i + 1));
        EXPECT_EQ(Cell(i, 8), "Open");
    }
}

TEST_F(ListViewPortListTest, ACallFromAnotherThreadWaitsForTheWindowsThread) {
    list_->InsertRow(0);
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        list_->SetCellText(0, 6, "....../../0000");
        returned = true;
    });
    Sleep(300);  // not serving messages
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(Cell(0, 6), "");
    ASSERT_TRUE(PumpUntil([&] { return returned.load(); }));
    caller.join();
    EXPECT_EQ(Cell(0, 6), "....../../0000");
}

TEST_F(ListViewPortListTest, ALateRowCreatesPlaceholdersThatTheirWorkersFillLater) {
    ASSERT_TRUE(list_->InsertRow(3));
    EXPECT_EQ(list_->RowCount(), 4);
    for (int32_t row = 0; row < 3; ++row)
        EXPECT_EQ(list_->GetRowWorker(row), nullptr);
    EXPECT_TRUE(list_->SetRowWorker(3, worker(3)));
    // The placeholder becomes row 1: no new row.
    ASSERT_TRUE(list_->InsertRow(1));
    EXPECT_EQ(list_->RowCount(), 4);
    EXPECT_TRUE(list_->SetRowWorker(1, worker(1)));
    // A second insert at a real row moves the rows from there down.
    ASSERT_TRUE(list_->InsertRow(1));
    EXPECT_EQ(list_->RowCount(), 5);
    EXPECT_EQ(list_->GetRowWorker(1), nullptr);
    EXPECT_EQ(list_->GetRowWorker(2), worker(1));
    EXPECT_EQ(list_->GetRowWorker(4), worker(3));
    EXPECT_FALSE(list_->InsertRow(-1));
}

TEST_F(ListViewPortListTest, SelectionChangesOneRowAndEnumerationFollowsPositions) {
    for (int i = 0; i < 5; ++i)
        CreateRow(i);
    EXPECT_TRUE(Visited(true).empty());
    EXPECT_EQ(Visited(false), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    EXPECT_TRUE(list_->SetRowSelected(1, true));
    EXPECT_TRUE(list_->SetRowSelected(3, true));
    EXPECT_TRUE(list_->SetRowSelected(4, true));
    EXPECT_TRUE(list_->SetRowSelected(4, false));
    EXPECT_EQ(Visited(true), (std::vector<int32_t>{1, 3}));
    EXPECT_TRUE(list_->IsRowSelected(1));
    EXPECT_FALSE(list_->IsRowSelected(0));
    // -1 would select every row if it reached the control.
    EXPECT_FALSE(list_->SetRowSelected(-1, true));
    EXPECT_FALSE(list_->SetRowSelected(5, true));
    EXPECT_EQ(Visited(true), (std::vector<int32_t>{1, 3}));
    // The visitor may use the list, as the commands do.
    list_->ForEachRow(true, [&](int32_t row) { list_->SetCellText(row, 8, "M"); });
    EXPECT_EQ(Cell(1, 8), "M");
    EXPECT_EQ(Cell(2, 8), "Open");
    EXPECT_EQ(Cell(3, 8), "M");
}

TEST_F(ListViewPortListTest, RowsAndColumnsThatDoNotExistAreRefused) {
    CreateRow(0);
    std::string text = "untouched";
    EXPECT_FALSE(list_->GetCellText(1, 0, text));
    EXPECT_FALSE(list_->GetCellText(0, kPortListColumns, text));
    EXPECT_FALSE(list_->GetCellText(0, -1, text));
    EXPECT_EQ(text, "untouched");
    EXPECT_FALSE(list_->SetCellText(1, 0, "x"));
    EXPECT_FALSE(list_->SetCellText(0, kPortListColumns, "x"));
    EXPECT_FALSE(list_->SetRowWorker(1, worker(1)));
    EXPECT_EQ(list_->GetRowWorker(1), nullptr);
    EXPECT_EQ(list_->GetRowWorker(-1), nullptr);
    EXPECT_FALSE(list_->IsRowSelected(7));
}

TEST_F(ListViewPortListTest, LongTextsComeBackWhole) {
    CreateRow(0);
    const std::string text(1000, 'x');
    ASSERT_TRUE(list_->SetCellText(0, 6, text.c_str()));
    EXPECT_EQ(Cell(0, 6), text);
    ASSERT_TRUE(list_->SetCellText(0, 6, nullptr));
    EXPECT_EQ(Cell(0, 6), "");
}

TEST_F(ListViewPortListTest, CellsAreNeverSeenHalfWritten) {
    CreateRow(0);
    const std::string a(64, 'A'), b(64, 'B');
    constexpr int kCalls = 300;
    std::atomic<int> torn{0}, writes{0}, reads{0};
    std::thread writer([&] {
        for (int i = 0; i < kCalls; ++i) {
            list_->SetCellText(0, 6, (i % 2 ? a : b).c_str());
            ++writes;
        }
    });
    std::thread reader([&] {
        for (int i = 0; i < kCalls; ++i) {
            std::string text;
            list_->GetCellText(0, 6, text);
            if (!text.empty() && text != a && text != b) ++torn;
            ++reads;
        }
    });
    ASSERT_TRUE(PumpUntil([&] { return writes.load() == kCalls && reads.load() == kCalls; }));
    writer.join();
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST_F(ListViewPortListTest, ClosingServesTheWaitingCallersAndRefusesLaterOnes) {
    CreateRow(0);
    std::atomic<int> result{-1};
    std::thread waiting([&] { result = list_->SetCellText(0, 8, "Not open") ? 1 : 0; });
    Sleep(200);  // the call is now waiting for this thread
    EXPECT_EQ(result.load(), -1);
    EXPECT_TRUE(list_->CloseToOtherThreads(5000));
    waiting.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(Cell(0, 8), "Not open");

    // Later calls from other threads fail at once, with nobody serving them.
    std::thread late([&] {
        EXPECT_FALSE(list_->InsertRow(1));
        EXPECT_FALSE(list_->SetCellText(0, 8, "late"));
        EXPECT_EQ(list_->GetRowWorker(0), nullptr);
        EXPECT_EQ(list_->RowCount(), 0);
        int visits = 0;
        list_->ForEachRow(false, [&](int32_t) { ++visits; });
        EXPECT_EQ(visits, 0);
    });
    late.join();
    EXPECT_EQ(Cell(0, 8), "Not open");
    // The window's own thread still reaches the rows (the shut-down walks them).
    EXPECT_EQ(list_->GetRowWorker(0), worker(0));
    EXPECT_EQ(Visited(false), (std::vector<int32_t>{0}));
}
