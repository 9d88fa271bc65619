// Packed row storage: every encoding of a text round-trips, rows rewritten out
// of order keep the others intact, insertion in the middle and new columns
// keep every text in place, recurring texts are stored once while a column
// keeps repeating itself, and an allocation failure changes nothing.
#include "framework/PackedRows.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "platform/TestHooks.h"

namespace win {
namespace {

std::string Text(const PackedRows& rows, int row, int column) {
    std::string text = "unset";
    rows.GetText(row, column, text);
    return text;
}

TEST(PackedRowsTest, EveryKindOfTextRoundTrips) {
    const std::vector<std::string> texts = {
        "",                                   // empty
        "7",                                  // one digit
        "12:34:56:789",                       // digits, dots and colons, even length
        "192.168.100.200",                    // odd length
        std::string(63, '9'),                 // longest packed digit text
        std::string(64, '1'),                 // one longer: kept plain
        "UDP",                                // short plain
        "flags: SYN ACK ",                    // with blanks
        "a",                                  // one character, never looked up
        std::string(126, 'p'),                // longest short plain text
        std::string(127, 'q'),                // first long one
        std::string(5000, 'r'),               // long
        std::string(70000, 's'),              // cut to 65535
        "1.2.3.4x",                           // digits then a letter: plain
        std::string("nul\0inside", 10),       // any bytes
        "h\xC3\xA9llo",                       // UTF-8
    };
    PackedRows rows;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        rows.Insert(rows.GetCount(), texts[i], static_cast<LPARAM>(i));
        rows.SetText(static_cast<int>(i), 3, texts[i]);
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string expected = texts[i].substr(0, 65535);
        EXPECT_EQ(Text(rows, static_cast<int>(i), 0), expected) << "row " << i;
        EXPECT_EQ(Text(rows, static_cast<int>(i), 3), expected) << "row " << i;
        EXPECT_EQ(Text(rows, static_cast<int>(i), 1), "") << "cells between read as empty";
        EXPECT_EQ(Text(rows, static_cast<int>(i), 7), "") << "cells past the last read as empty";
        EXPECT_EQ(rows.GetData(static_cast<int>(i)), static_cast<LPARAM>(i));
    }
}

TEST(PackedRowsTest, RewritingEarlierRowsKeepsTheOthers) {
    PackedRows rows;
    constexpr int kRows = 3000;
    for (int r = 0; r < kRows; ++r) {
        rows.Insert(r, std::to_string(r), r);
        for (int c = 1; c < 8; ++c) rows.SetText(r, c, "r" + std::to_string(r) + "c" + std::to_string(c));
    }
    // As a resolution pass does: names over the addresses of earlier rows, longer and shorter.
    for (int r = 0; r < kRows; r += 3) {
        rows.SetText(r, 1, "host-" + std::to_string(r) + ".example");
        rows.SetText(r, 3, "h");
    }
    for (int r = 0; r < kRows; ++r) {
        ASSERT_EQ(Text(rows, r, 0), std::to_string(r));
        for (int c = 1; c < 8; ++c) {
            std::string expected = "r" + std::to_string(r) + "c" + std::to_string(c);
            if (r % 3 == 0 && c == 1) expected = "host-" + std::to_string(r) + ".example";
            if (r % 3 == 0 && c == 3) expected = "h";
            ASSERT_EQ(Text(rows, r, c), expected) << r << "," << c;
        }
        ASSERT_EQ(rows.GetData(r), r);
    }
}

TEST(PackedRowsTest, RowsFilledCellAfterCellPastTheirRegion) {
    // Cells longer than the room kept after a new row make some rows move to
    // a new region while they are being filled.
    PackedRows rows;
    const auto cell = [](int r, int c) {
        return c % 3 == 0 ? std::string(100 + (r * 7 + c) % 400, static_cast<char>('a' + c)) : std::to_string(r * 10 + c);
    };
    constexpr int kRows = 2000;
    for (int r = 0; r < kRows; ++r) {
        rows.Insert(r, cell(r, 0), r);
        for (int c = 1; c < 8; ++c) rows.SetText(r, c, cell(r, c));
    }
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < 8; ++c) ASSERT_EQ(Text(rows, r, c), cell(r, c)) << r << "," << c;
}

TEST(PackedRowsTest, InsertionInTheMiddleAndNewColumns) {
    PackedRows rows;
    // Across the boundary of a block of row entries.
    constexpr int kRows = 70000;
    for (int r = 0; r < kRows; ++r) {
        rows.Insert(r, std::to_string(r), r);
        rows.SetText(r, 1, "b" + std::to_string(r % 7));
    }
    rows.Insert(5, "middle", -1);
    rows.Insert(0, "first", -2);
    ASSERT_EQ(rows.GetCount(), kRows + 2);
    EXPECT_EQ(Text(rows, 0, 0), "first");
    EXPECT_EQ(Text(rows, 6, 0), "middle");
    EXPECT_EQ(rows.GetData(6), -1);
    EXPECT_EQ(Text(rows, 7, 0), "5");
    EXPECT_EQ(Text(rows, kRows + 1, 0), std::to_string(kRows - 1));
    EXPECT_EQ(rows.GetData(kRows + 1), kRows - 1);

    rows.InsertColumn(1);
    EXPECT_EQ(Text(rows, 7, 0), "5");
    EXPECT_EQ(Text(rows, 7, 1), "") << "the new column is empty";
    EXPECT_EQ(Text(rows, 7, 2), "b5") << "the old column 1 moved to 2";
    EXPECT_EQ(Text(rows, 6, 2), "") << "a row with one cell has nothing to move";
    rows.InsertColumn(0);
    EXPECT_EQ(Text(rows, 7, 1), "5");
    EXPECT_EQ(Text(rows, 7, 3), "b5");
}

TEST(PackedRowsTest, RecurringTextsAreStoredOnceWhileTheyRecur) {
    PackedRows rows;
    constexpr int kRows = 20000;
    for (int r = 0; r < kRows; ++r) {
        rows.Insert(r, "t" + std::to_string(r), 0);       // new every time
        rows.SetText(r, 1, "10.0.0." + std::to_string(r / 3 % 10));  // ten addresses, in runs of three
        rows.SetText(r, 2, "12:00:" + std::to_string(r / 10));  // new, in runs of ten (a time)
        rows.SetText(r, 5, "UDP");
    }
    for (int r = 0; r < kRows; ++r) ASSERT_EQ(Text(rows, r, 1), "10.0.0." + std::to_string(r / 3 % 10)) << r;
    // The addresses and the protocol take a dozen entries; the columns of new
    // texts stop being looked up after their first judged lookups.
    const PackedRows::Usage usage = rows.GetUsage();
    EXPECT_LT(usage.recurring, 64u * 2500) << "the new texts of columns 0 and 2 were not all kept in the table";
    EXPECT_EQ(Text(rows, 12345, 0), "t12345");
    EXPECT_EQ(Text(rows, 12345, 1), "10.0.0.5");  // 12345 / 3 = 4115
    EXPECT_EQ(Text(rows, 12345, 2), "12:00:1234");
    EXPECT_EQ(Text(rows, 12345, 5), "UDP");
    rows.Clear();
    EXPECT_EQ(rows.GetCount(), 0);
    const PackedRows::Usage cleared = rows.GetUsage();
    EXPECT_EQ(cleared.index + cleared.cells + cleared.recurring, 0u) << "Clear gives everything back";
    rows.Insert(0, "again", 1);
    EXPECT_EQ(Text(rows, 0, 0), "again");
    rows.SetText(0, 5, "TCP");  // the column's last text was cleared with the table
    EXPECT_EQ(Text(rows, 0, 5), "TCP");
}

TEST(PackedRowsTest, AllocationFailureChangesNothing) {
    PackedRows rows;
    win::testing::SetVirtualAllocFailures(1);
    EXPECT_THROW(rows.Insert(0, "x", 1), std::bad_alloc);
    EXPECT_EQ(rows.GetCount(), 0);
    rows.Insert(0, "first", 1);
    rows.SetText(0, 1, "kept");
    // The longest text does not fit in what is left of the region: it needs a new one.
    win::testing::SetVirtualAllocFailures(1);
    EXPECT_THROW(rows.SetText(0, 1, std::string(65535, 'x')), std::bad_alloc);
    EXPECT_EQ(Text(rows, 0, 1), "kept");
    EXPECT_EQ(Text(rows, 0, 0), "first");
    EXPECT_EQ(rows.GetCount(), 1);
    rows.SetText(0, 1, std::string(65535, 'x'));
    EXPECT_EQ(Text(rows, 0, 1).size(), 65535u);
}

}  // namespace
}  // namespace win
