// Tests of the list control's row store: compact cells, failing operations on
// vanished rows, generations, the batched wake and closing.
#include "framework/ListRowStore.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/TestHooks.h"

namespace win {
namespace {

std::unique_ptr<ListRowStore> MakeStore(int columns, int* wakes = nullptr) {
    auto store = std::make_unique<ListRowStore>([wakes] {
        if (wakes) ++*wakes;
    });
    for (int c = 0; c < columns; ++c) store->InsertColumn(c);
    return store;
}

TEST(ListRowStoreTest, CellsRoundTrip) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, std::string>> writes;  // column, text, in order
        std::vector<std::string> expected;                // columns 0..7
    };
    const std::string longText(300, 'x');  // longer than one length byte
    const std::vector<Case> cases = {
        {"in order", {{1, "a"}, {2, "bb"}, {7, "last"}}, {"c0", "a", "bb", "", "", "", "", "last"}},
        {"last column first", {{7, "z"}, {3, "m"}}, {"c0", "", "", "m", "", "", "", "z"}},
        {"overwrite longer then shorter", {{2, "short"}, {2, "much longer text"}, {2, "s"}},
         {"c0", "", "s", "", "", "", "", ""}},
        {"long cell", {{4, longText}, {5, "after"}}, {"c0", "", "", "", longText, "after", "", ""}},
        {"empty overwrite", {{1, "x"}, {1, ""}}, {"c0", "", "", "", "", "", "", ""}},
        {"column zero replaced", {{0, "new0"}}, {"new0", "", "", "", "", "", "", ""}},
    };
    for (const Case& c : cases) {
        auto owned = MakeStore(8);
    ListRowStore& store = *owned;
        ASSERT_EQ(store.InsertRow(0, "c0", 0), 0) << c.name;
        for (const auto& [column, text] : c.writes) EXPECT_TRUE(store.SetText(0, column, text)) << c.name;
        for (int col = 0; col < 8; ++col) {
            std::string text = "unset";
            EXPECT_TRUE(store.GetText(0, col, text)) << c.name;
            EXPECT_EQ(text, c.expected[col]) << c.name << " column " << col;
        }
    }
}

TEST(ListRowStoreTest, OperationsOnMissingRowsOrColumnsFail) {
    auto owned = MakeStore(8);
    ListRowStore& store = *owned;
    EXPECT_EQ(store.InsertRow(-1, "x", 0), -1);
    EXPECT_EQ(store.InsertRow(5, "a", 11), 0);  // past the end appends
    EXPECT_EQ(store.InsertRow(99, "b", 22), 1);
    std::string text;
    EXPECT_FALSE(store.SetText(2, 1, "x"));
    EXPECT_FALSE(store.SetText(-1, 1, "x"));
    EXPECT_FALSE(store.SetText(0, 8, "x"));
    EXPECT_FALSE(store.SetData(2, 5));
    EXPECT_FALSE(store.GetText(0, 8, text));
    EXPECT_EQ(store.GetData(2), 0);
    EXPECT_EQ(store.GetData(0), 11);
    EXPECT_EQ(store.GetData(1), 22);
    EXPECT_TRUE(store.SetData(1, 33));
    EXPECT_EQ(store.GetData(1), 33);
}

TEST(ListRowStoreTest, DeleteAllAdvancesGenerationAndVoidsIndexes) {
    auto owned = MakeStore(8);
    ListRowStore& store = *owned;
    store.InsertRow(0, "a", 7);
    store.SetSelected(0);
    std::uint64_t before = 0;
    EXPECT_EQ(store.GetCount(before), 1);
    LPARAM seen = 0;
    EXPECT_TRUE(store.WithRow(0, before, [&](LPARAM data) { seen = data; }));
    EXPECT_EQ(seen, 7);
    EXPECT_TRUE(store.SetTextIf(0, 1, "name", before));

    EXPECT_TRUE(store.DeleteAll());
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_EQ(store.GetSelected(), -1);
    EXPECT_FALSE(store.SetText(0, 1, "late"));
    EXPECT_FALSE(store.SetData(0, 1));

    // A new row 0 exists, but the old generation no longer reaches it.
    EXPECT_EQ(store.InsertRow(0, "b", 8), 0);
    EXPECT_FALSE(store.WithRow(0, before, [&](LPARAM) { ADD_FAILURE() << "ran on a newer row"; }));
    EXPECT_FALSE(store.SetTextIf(0, 1, "stale", before));
    std::string text;
    store.GetText(0, 1, text);
    EXPECT_EQ(text, "");
    EXPECT_NE(store.GetGeneration(), before);
}

TEST(ListRowStoreTest, WakesOncePerBatchAndReportsPending) {
    int wakes = 0;
    auto owned = MakeStore(8, &wakes);
    ListRowStore& store = *owned;
    store.TakePending();
    wakes = 0;
    for (int i = 0; i < 5; ++i) store.InsertRow(i, "r", 0);
    store.SetText(1, 2, "x");
    store.SetText(3, 2, "y");
    store.RequestEnsureVisible(4, false);
    EXPECT_EQ(wakes, 1);
    ListRowStore::Pending p = store.TakePending();
    EXPECT_FALSE(p.reset);
    EXPECT_EQ(p.rowCount, 5);
    EXPECT_EQ(p.firstChanged, 1);
    EXPECT_EQ(p.lastChanged, 3);
    EXPECT_EQ(p.ensureVisible, 4);
    EXPECT_FALSE(p.ensurePartialOK);

    store.DeleteAll();
    store.InsertRow(0, "n", 0);
    EXPECT_EQ(wakes, 2);
    p = store.TakePending();
    EXPECT_TRUE(p.reset);
    EXPECT_EQ(p.rowCount, 1);
    EXPECT_EQ(p.firstChanged, -1);
}

TEST(ListRowStoreTest, AFollowUpTakesTheNextChangesWithoutAWake) {
    int wakes = 0;
    auto owned = MakeStore(8, &wakes);
    ListRowStore& store = *owned;
    store.InsertRow(0, "a", 0);
    EXPECT_EQ(wakes, 1);
    ListRowStore::Pending p = store.TakePending(true);
    EXPECT_TRUE(p.publishAgain);
    store.InsertRow(1, "b", 0);  // taken by the promised follow-up
    store.SetText(0, 1, "x");
    EXPECT_EQ(wakes, 1);
    p = store.TakePending(true);
    EXPECT_TRUE(p.publishAgain);
    EXPECT_EQ(p.rowCount, 2);
    EXPECT_EQ(p.firstChanged, 0);
    p = store.TakePending(true);  // nothing came: the wake is armed again
    EXPECT_FALSE(p.publishAgain);
    store.InsertRow(2, "c", 0);
    EXPECT_EQ(wakes, 2);
    p = store.TakePending();  // without a follow-up the wake is always armed
    EXPECT_FALSE(p.publishAgain);
    store.InsertRow(3, "d", 0);
    EXPECT_EQ(wakes, 3);
}

TEST(ListRowStoreTest, ClosedStoreFailsEverything) {
    int wakes = 0;
    auto owned = MakeStore(8, &wakes);
    ListRowStore& store = *owned;
    store.InsertRow(0, "a", 1);
    store.TakePending();
    wakes = 0;
    store.Close();
    std::string text;
    EXPECT_EQ(store.InsertRow(0, "b", 0), -1);
    EXPECT_FALSE(store.SetText(0, 0, "x"));
    EXPECT_FALSE(store.GetText(0, 0, text));
    EXPECT_EQ(store.GetData(0), 0);
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_FALSE(store.DeleteAll());
    EXPECT_FALSE(store.RequestEnsureVisible(0, true));
    EXPECT_EQ(wakes, 0);
}

TEST(ListRowStoreTest, ColumnInsertedBeforeExistingShiftsCells) {
    auto owned = MakeStore(2);
    ListRowStore& store = *owned;
    store.InsertRow(0, "zero", 0);
    store.SetText(0, 1, "one");
    EXPECT_EQ(store.InsertColumn(1), 1);
    std::string text;
    store.GetText(0, 1, text);
    EXPECT_EQ(text, "");
    store.GetText(0, 2, text);
    EXPECT_EQ(text, "one");
}

}  // namespace
}  // namespace win

namespace win {
namespace {

TEST(ListRowStoreTest, OutOfMemoryFailsTheOperationAndTheNextOneWorks) {
    int wakes = 0;
    auto owned = MakeStore(8, &wakes);
    ListRowStore& store = *owned;
    win::testing::SetVirtualAllocFailures(1);
    EXPECT_EQ(store.InsertRow(0, "dropped", 7), -1) << "no memory for the row";
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_EQ(store.InsertRow(0, "kept", 8), 0);
    EXPECT_TRUE(store.SetText(0, 1, "text"));
    win::testing::SetVirtualAllocFailures(1);
    EXPECT_FALSE(store.SetText(0, 2, std::string(65535, 'x'))) << "no memory for the text";
    std::string text;
    EXPECT_TRUE(store.GetText(0, 1, text));
    EXPECT_EQ(text, "text");
    EXPECT_EQ(store.GetData(0), 8);
    EXPECT_EQ(store.GetCount(), 1);
    EXPECT_TRUE(store.SetText(0, 2, "after"));
}

}  // namespace
}  // namespace win
