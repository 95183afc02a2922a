// How the workbook readers write numbers, dates and times as text, and which number
// formats are dates.
#include "engine/engine_error.h"
#include "qt_print.h"
#include "formats/workbook/workbook_sheet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>

using namespace ostrel::workbook;

TEST(WorkbookValues, NumbersReadAsTheirShortestText)
{
    const struct { double value; const char* text; } cases[] = {
        {13800138000.0, "13800138000"}, // a telephone stored as a number: no 1.38E+10
        {100080, "100080"},
        {-42, "-42"},
        {-0.0, "0"},
        {3.25, "3.25"},
        {-0.5, "-0.5"},
        {0.1 + 0.2, "0.30000000000000004"}, // what is stored, not a rounded picture of it
        {1e20, "1e+20"},
        {1e-7, "1e-07"},
        {123456789012345.0, "123456789012345"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(numberText(c.value), c.text) << c.text;
}

TEST(WorkbookValues, DaySerialsReadAsDates)
{
    const struct { double serial; bool date1904; const char* text; } cases[] = {
        {1, false, "1900-01-01"},
        {59, false, "1900-02-28"},
        {60, false, "1900-02-29"}, // the day the 1900 system counts but never was
        {61, false, "1900-03-01"},
        {0, false, "1900-01-00"},
        {45356, false, "2024-03-05"},
        {45356.99, false, "2024-03-05"}, // a time of day does not change the day
        {43890, false, "2020-02-29"},
        {2958465, false, "9999-12-31"},
        {2958466, false, "2958466"},     // past the calendar: the number
        {-1, false, "-1"},
        {0, true, "1904-01-01"},
        {1, true, "1904-01-02"},
        {43894, true, "2024-03-05"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(serialDateText(c.serial, c.date1904), c.text) << c.serial << (c.date1904 ? " (1904)" : "");
}

TEST(WorkbookValues, DayFractionsReadAsTimes)
{
    EXPECT_EQ(serialTimeText(0.5), "12:00:00");
    EXPECT_EQ(serialTimeText(0.354340277777778), "08:30:15");
    EXPECT_EQ(serialTimeText(45356.75), "18:00:00");
    EXPECT_EQ(serialTimeText(0.99999999), "00:00:00"); // rounds into the next day
    EXPECT_EQ(serialTimeText(-0.5), "-0.5");
}

TEST(WorkbookValues, FormatCodesTellDatesTimesAndNumbers)
{
    const struct { const char16_t* code; NumberKind kind; } cases[] = {
        {u"yyyy-mm-dd", NumberKind::Date},
        {u"m/d/yy", NumberKind::Date},
        {u"yyyy\"年\"m\"月\"d\"日\"", NumberKind::Date},
        {u"[$-804]yyyy\"年\"m\"月\"", NumberKind::Date},
        {u"mmm", NumberKind::Date},
        {u"yyyy-mm-dd hh:mm", NumberKind::Date},
        {u"h:mm", NumberKind::Time},
        {u"mm:ss", NumberKind::Time},
        {u"[h]:mm:ss", NumberKind::Time},
        {u"h:mm AM/PM", NumberKind::Time},
        {u"General", NumberKind::Number},
        {u"0.00", NumberKind::Number},
        {u"@", NumberKind::Number},
        {u"\"day\"0", NumberKind::Number},      // letters in quotes are literal text
        {u"\\d0", NumberKind::Number},          // and so is an escaped one
        {u"[Red]0.00", NumberKind::Number},     // and a colour
        {u"#,##0_);[Red](#,##0)", NumberKind::Number},
        {u"0.00E+00", NumberKind::Number},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatCodeKind(QStringView(c.code)), c.kind) << QString::fromUtf16(c.code).toStdString();
}

TEST(WorkbookValues, BuiltinFormatIds)
{
    for (int id : {14, 15, 16, 17, 22, 27, 31, 36, 50, 57, 58})
        EXPECT_EQ(builtinFormatKind(id), NumberKind::Date) << id;
    for (int id : {18, 19, 20, 21, 32, 35, 45, 46, 47, 55, 56})
        EXPECT_EQ(builtinFormatKind(id), NumberKind::Time) << id;
    for (int id : {0, 1, 2, 9, 10, 11, 12, 13, 37, 48, 49})
        EXPECT_EQ(builtinFormatKind(id), NumberKind::Number) << id;
}

TEST(WorkbookSheetBuilder, TitlesRowsPaddingAndOrder)
{
    SheetBuilder cells;
    // Out of order, a cell written twice, an empty text, leading empty rows.
    cells.add(4, 2, "c5", false);
    cells.add(2, 0, "A", false);
    cells.add(2, 2, "", false);
    cells.add(3, 1, "old", false);
    cells.add(3, 1, "b4", false);
    cells.add(6, 0, "7", true);
    cells.add(2, 1, "B", false);
    const ostrel::ResultSet rows = cells.build();
    ASSERT_EQ(rows.columns(), QStringList({"A", "B", "F3"}));
    ASSERT_EQ(rows.rowCount(), 4);
    const QStringList expected[] = {{"", "b4", ""}, {"", "", "c5"}, {"", "", ""}, {"7", "", ""}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(rows.text(r, c), expected[r][c]) << r << ',' << c;
}

// Shared texts lie in blocks of 1 MB: each reads back whole at a block's end, when it fills a
// block exactly, when it is longer than a block, and when it is empty.
TEST(WorkbookSheetBuilder, SharedTextsReadBackAcrossBlocks)
{
    constexpr size_t kBlock = 1 << 20;
    const size_t lengths[] = {0, 5, kBlock, 3, kBlock - 2, 2, 2, 2 * kBlock + 7, 0, 9};
    SharedTexts shared;
    for (size_t i = 0; i < std::size(lengths); ++i)
        shared.add(std::string(lengths[i], static_cast<char>('a' + i)));
    ASSERT_EQ(shared.size(), std::size(lengths));
    for (size_t i = 0; i < std::size(lengths); ++i)
        EXPECT_TRUE(shared.at(i) == std::string(lengths[i], static_cast<char>('a' + i))) << i << ": " << shared.at(i).size();
}

// Both builders keep the rows compactly and read them back a page at a time, in any order
// and sorted by a title click: shared texts, own texts, numbers, gaps and empty rows.
TEST(WorkbookSheetBuilder, KeptRowsReadInAnyOrderAndSorted)
{
    auto shared = std::make_shared<SharedTexts>();
    for (const char* text : {"张三", "李四", "", "王五"})
        shared->add(text);
    // Each row: shared text number (-1: none), own text, number; 300 rows span several pages.
    constexpr int kRows = 300;
    auto feed = [&](auto& cells) {
        cells.setShared(shared);
        cells.add(0, 0, "姓名", false);
        cells.add(0, 1, "说明", false);
        cells.add(0, 2, "号码", false);
        for (uint32_t r = 1; r <= kRows; ++r) {
            if (r % 50 == 25)
                continue; // an empty row
            cells.addShared(r, 0, r % 4);
            if (r % 3 != 0)
                cells.add(r, 1, "行" + std::to_string(r) + std::string(r % 7, 'x'), false);
            if (r % 5 != 0)
                cells.add(r, 2, std::to_string(kRows - r), true);
        }
    };
    auto expected = [&](int r, int c) -> QString {
        const int row = r + 1;
        if (row % 50 == 25)
            return {};
        if (c == 0)
            return QString::fromUtf8(shared->at(static_cast<size_t>(row % 4)));
        if (c == 1)
            return row % 3 ? QStringLiteral("行%1").arg(row) + QString(row % 7, u'x') : QString();
        return row % 5 ? QString::number(kRows - row) : QString();
    };
    SheetBuilder any;
    OrderedSheet ordered;
    feed(any);
    feed(ordered);
    for (ostrel::ResultSet rows : {any.build(), ordered.build()}) {
        ASSERT_EQ(rows.columns(), QStringList({"姓名", "说明", "号码"}));
        ASSERT_EQ(rows.rowCount(), kRows);
        for (int r = kRows - 1; r >= 0; r -= 7) // backwards, pages dropped and read again
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(rows.text(r, c), expected(r, c)) << r << ',' << c;
        // Numbers by value (as text "99" would come last), empty cells first; texts in
        // pinyin order.
        rows.sortBy(2, false);
        EXPECT_EQ(rows.text(0, 2), QString());
        EXPECT_EQ(rows.text(kRows - 1, 2), QStringLiteral("299"));
        EXPECT_EQ(rows.text(kRows - 2, 2), QStringLiteral("298"));
        rows.sortBy(0, true);
        EXPECT_EQ(rows.text(0, 0), QStringLiteral("张三"));
        EXPECT_EQ(rows.text(kRows - 1, 0), QString());
    }
}

TEST(WorkbookSheetBuilder, LimitsEndWithAnError)
{
    {
        SheetBuilder cells;
        EXPECT_THROW(cells.add(kMaxRows, 0, "x", false), ostrel::EngineError);
        EXPECT_THROW(cells.add(0, kMaxColumns, "x", false), ostrel::EngineError);
    }
    {
        // Two cells far apart would pad into billions of cells.
        SheetBuilder cells;
        cells.add(0, 0, "A", false);
        cells.add(kMaxRows - 1, kMaxColumns - 1, "Z", false);
        EXPECT_THROW(cells.build(), ostrel::EngineError);
    }
    {
        // One long shared text repeated past the text limit.
        auto shared = std::make_shared<SharedTexts>();
        shared->add(std::string(1 << 20, 'x'));
        SheetBuilder cells;
        cells.setShared(shared);
        EXPECT_THROW(
            {
                for (uint32_t r = 0; r < 300; ++r)
                    cells.addShared(r, 0, 0);
            },
            ostrel::EngineError);
        EXPECT_THROW(cells.addShared(0, 1, 1), ostrel::EngineError);
    }
    {
        SheetBuilder cells;
        const ostrel::ResultSet rows = cells.build();
        EXPECT_EQ(rows.columnCount(), 0);
        EXPECT_EQ(rows.rowCount(), 0);
    }
}
