#include "core/loose_date.h"

#include "qt_print.h"

#include <gtest/gtest.h>

using namespace ostrel;

// Every form a date box takes, and every one it refuses. shaped: whether a refused text
// still has a date's shape (a search refuses those; other text it passes on as typed).
TEST(LooseDate, TypedFormsNormaliseOrAreRefused)
{
    enum Kind { Date, MonthDay };
    const struct {
        Kind kind;
        const char* typed;
        const char* stored; // null: refused
        bool shaped;
    } cases[] = {
        {Date, "2024-06-05", "2024-06-05", true},
        {Date, "2024-6-5", "2024-06-05", true},
        {Date, "2024/6/5", "2024-06-05", true},
        {Date, "2024.06.05", "2024-06-05", true},
        {Date, "20240605", "2024-06-05", true},
        {Date, "2024年6月5日", "2024-06-05", true},
        {Date, "２０２４／６／５", "2024-06-05", true},
        {Date, " 2024-6-5 ", "2024-06-05", true},
        {Date, "2000-02-29", "2000-02-29", true},
        {Date, "1900-02-29", nullptr, true},
        {Date, "2024-02-30", nullptr, true},
        {Date, "2023-02-29", nullptr, true},
        {Date, "2024-13-01", nullptr, true},
        {Date, "2024-00-10", nullptr, true},
        {Date, "0000-01-01", nullptr, true},
        {Date, "2024-6/5", nullptr, true},
        {Date, "24-6-5", nullptr, true},
        {Date, "2024-06-05x", nullptr, false},
        {Date, "明天", nullptr, false},
        {Date, "'", nullptr, false},
        {Date, "", nullptr, false},
        {MonthDay, "06-05", "06-05", true},
        {MonthDay, "6-5", "06-05", true},
        {MonthDay, "6/5", "06-05", true},
        {MonthDay, "06.05", "06-05", true},
        {MonthDay, "0605", "06-05", true},
        {MonthDay, "6月5日", "06-05", true},
        {MonthDay, "2024-6-5", "06-05", true},
        {MonthDay, "2-29", "02-29", true},
        {MonthDay, "02-30", nullptr, true},
        {MonthDay, "1900-02-29", nullptr, true},
        {MonthDay, "13-01", nullptr, true},
        {MonthDay, "明天", nullptr, false},
        {MonthDay, "", nullptr, false},
        // A range over the year end, typed loosely: both ends in the compared form.
        {MonthDay, "12/28", "12-28", true},
        {MonthDay, "1/4", "01-04", true},
    };
    for (const auto& c : cases) {
        const QString typed = QString::fromUtf8(c.typed);
        SCOPED_TRACE(c.typed);
        const std::optional<QString> stored = c.kind == Date ? normalDate(typed) : normalMonthDay(typed);
        EXPECT_EQ(stored.value_or(QStringLiteral("<refused>")), c.stored ? QString::fromUtf8(c.stored) : QStringLiteral("<refused>"));
        EXPECT_EQ(c.kind == Date ? looksLikeDate(typed) : looksLikeMonthDay(typed), c.shaped);
    }
}
