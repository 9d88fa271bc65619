// A worker thread appends rows to the list control exactly as the packet view
// does (count, insert, seven cells, item data, scroll) while the UI thread
// clears the list at random moments and reads what it holds. No row may be
// lost or duplicated and no cell may land in another row.
#include "framework/CListCtrl.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/ListModel.h"
#include "framework/Resources.h"
#include "tests/support/qt/QtTestHelpers.h"

namespace win {
namespace {

void EnsureApp() {
    if (qApp) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "CListCtrlConcurrencyTest";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

constexpr int kRows = 20000;
constexpr DWORD_PTR kDataBase = 0x100000;

std::string CellText(int tag, int column) { return std::to_string(tag) + ":" + std::to_string(column); }

// The tag a cell text names, -1 for an empty cell.
int TagOf(const std::string& text) { return text.empty() ? -1 : std::stoi(text.substr(0, text.find(':'))); }

TEST(CListCtrlConcurrencyTest, WorkerAppendsWhileUiClears) {
    EnsureApp();
    CWnd frame;
    ASSERT_TRUE(frame.CreateEx(0, "QvTestFrame", "Test", WS_OVERLAPPEDWINDOW, 0, 0, 640, 400, nullptr, nullptr));
    CListCtrl list;
    ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, CRect(0, 0, 600, 360), &frame, 1));
    for (int c = 0; c < 8; ++c) list.InsertColumn(c, "h", LVCFMT_LEFT, 60);
    frame.ShowWindow(SW_SHOW);
    QAbstractItemModelTester tester(list.GetModel(), QAbstractItemModelTester::FailureReportingMode::Fatal);

    std::vector<char> owned(kRows, 0);  // written by the worker only, read after join
    std::atomic<bool> done{false};
    std::atomic<bool> started{false};
    std::thread worker([&] {
        while (!started) std::this_thread::yield();
        for (int tag = 0; tag < kRows; ++tag) {
            const int n = list.GetItemCount();
            std::string text = CellText(tag, 0);
            LVITEM item{};
            item.mask = LVIF_TEXT;
            item.iItem = n;
            item.pszText = text.data();
            const int row = list.InsertItem(&item);
            if (row < 0) continue;
            for (int c = 1; c < 8; ++c) {
                std::string cell = CellText(tag, c);
                LVITEM sub{};
                sub.mask = LVIF_TEXT;
                sub.iItem = row;
                sub.iSubItem = c;
                sub.pszText = cell.data();
                list.SetItem(&sub);
            }
            LVITEM data{};
            data.mask = LVIF_PARAM;
            data.iItem = row;
            data.lParam = static_cast<LPARAM>(kDataBase + tag);
            owned[tag] = list.SetItem(&data) ? 1 : 0;
            list.EnsureVisible(row, FALSE);
        }
        done = true;
    });

    std::vector<int> collected;  // tags of rows that held their item data when removed
    int clears = 0;
    // Reads every row: the cells present belong to the row's own record. With
    // complete set, every cell must be there (the worker has finished).
    auto sweep = [&](bool complete) {
        const int n = list.GetItemCount();
        for (int i = complete ? 0 : std::max(0, n - 256); i < n; ++i) {
            const DWORD_PTR data = list.GetItemData(i);
            const int tag = TagOf(list.GetItemText(i, 0));
            if (tag < 0) continue;  // the row vanished under us
            if (data != 0) {
                ASSERT_EQ(data, kDataBase + tag) << "row " << i;
            }
            for (int c = 1; c < 8; ++c) {
                const std::string cell = list.GetItemText(i, c);
                if (cell.empty() && !complete) continue;
                ASSERT_EQ(cell, CellText(tag, c)) << "row " << i << " column " << c;
            }
        }
    };

    std::mt19937 random(12345);
    QElapsedTimer timer;
    timer.start();
    started = true;
    while (!done && timer.elapsed() < 60000) {
        QApplication::processEvents();
        if (random() % 2 == 0) {
            // Clear the way the view does: read what every row owns, then remove
            // them all, as one step against the worker.
            CListCtrl::RowLock lock(list);
            const int n = list.GetItemCount();
            for (int i = 0; i < n; ++i) {
                if (const DWORD_PTR d = list.GetItemData(i)) collected.push_back(static_cast<int>(d - kDataBase));
            }
            // A slow UI thread: the worker must not slip rows in before the removal.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            list.DeleteAllItems();
            ++clears;
        } else {
            sweep(false);
        }
        std::this_thread::yield();
    }
    worker.join();
    ASSERT_TRUE(done.load());
    qvtest::PumpEvents(40);  // the last publish comes at the end of its frame
    sweep(true);
    for (int i = 0; i < list.GetItemCount(); ++i) {
        if (const DWORD_PTR d = list.GetItemData(i)) collected.push_back(static_cast<int>(d - kDataBase));
    }
    EXPECT_GT(clears, 0);
    EXPECT_EQ(list.GetModel()->rowCount(), list.GetItemCount());

    // Every row whose item data was set is removed exactly once; no other is.
    std::vector<int> times(kRows, 0);
    for (int tag : collected) ++times[tag];
    int ownedRows = 0;
    for (int tag = 0; tag < kRows; ++tag) {
        ownedRows += owned[tag];
        ASSERT_EQ(times[tag], owned[tag]) << "tag " << tag;
    }
    EXPECT_GT(ownedRows, kRows / 2);
}

}  // namespace
}  // namespace win
