#include "app_fixture.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "core/visit_stats.h"
#include "core/visit_summary.h"
#include "engine/postgres/pg_connection.h"
#include "engine/query.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "history/history_commands.h"
#include "history/history_windows.h"
#include "history/visit_chart.h"
#include "history/visit_stats_window.h"
#include "ui/common/gbk_edit.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

using namespace ostrel;

namespace {

// Cards of two categories and provinces, one without a province, a deleted one and visits
// of a card that is gone; started on 2026-03-31, so the default range is 2025-04-01 to
// 2026-03-31 and the previous period 2024-04-01 to 2025-03-31.
class VisitStats : public test::AppFixture {
protected:
    void SetUp() override
    {
        setToday({2026, 3, 31});
        const int a = addCard(QStringLiteral("王小明"), QStringLiteral("男"), QStringLiteral("客户"));
        const int b = addCard(QStringLiteral("O'Brien"), QStringLiteral("男"), QStringLiteral("朋友"));
        const int c = addCard(QStringLiteral("李四"), QStringLiteral("女"), QStringLiteral("客户"));
        const int gone = addCard(QStringLiteral("张删"), QStringLiteral("男"), QStringLiteral("客户"));
        exec(QStringLiteral("update D_B set DArea='北京' where ID=%1").arg(a));
        exec(QStringLiteral("update D_B set DArea='上海' where ID=%1").arg(b));
        exec(QStringLiteral("update D_B set DArea='' where ID=%1").arg(c));
        exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(gone));
        for (const char* day : {"2025-03-31", "2025-04-01", "2025-12-31", "2026-01-01", "2026-03-31", "2026-04-01"})
            addVisit(a, QString::fromLatin1(day));
        for (const char* day : {"2025-12-31", "2026-01-15"})
            addVisit(b, QString::fromLatin1(day));
        addVisit(c, QStringLiteral("2024-06-01"));
        for (const char* day : {"2024-05-01", "2026-01-10"})
            addVisit(gone, QString::fromLatin1(day));
        for (const char* day : {"2024-01-01", "2026-02-02"})
            addVisit(gone + 100, QString::fromLatin1(day)); // no such card
        startMain();
    }
    void addVisit(int card, const QString& date)
    {
        exec(QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'%2','电话','')").arg(card).arg(date));
    }
    // As in a file or on a server of an older version: without the kept tables and their triggers.
    void dropKeptTables()
    {
        if (test::onServerEngine()) {
            dynamic_cast<PgConnection&>(dm.ADOConnection1)
                .runServerSql(QStringLiteral(R"(DROP TRIGGER "DList_Summed" ON "DList"; DROP TRIGGER "D_B_Summed" ON "D_B";
                    DROP TRIGGER "DList_Emptied" ON "DList"; DROP TRIGGER "D_B_Emptied" ON "D_B";
                    DROP TABLE d_visitmonths, d_visitlast, d_visitlastmonths)"));
            return;
        }
        for (const char* table : {"DList", "D_B"})
            for (const char* write : {"Insert", "Delete", "Update"})
                exec(QStringLiteral("drop trigger %1_Summed%2").arg(QLatin1String(table), QLatin1String(write)));
        for (const char* table : {"D_VisitMonths", "D_VisitLast", "D_VisitLastMonths"})
            exec(QStringLiteral("drop table %1").arg(QLatin1String(table)));
    }
    // Made again from what is stored, as the upgrade of a file or an older server's start does.
    void remakeKeptTables()
    {
        if (test::onServerEngine())
            upgradeServer(dm.ADOConnection1);
        else
            upgradeSchema(dynamic_cast<SqlCipherConnection&>(dm.ADOConnection1));
    }
    VisitStatistics countListed(const VisitPeriod& period)
    {
        return visitStatistics(dm.ADOConnection1, main->ADOQuery1->rows().ids(), period);
    }

    // The months with visits in either period, "month:visits/previous".
    static QString monthsText(const VisitStatistics& s)
    {
        QStringList parts;
        for (const MonthVisits& m : s.months)
            if (m.visits || m.previous)
                parts << QStringLiteral("%1:%2/%3").arg(m.month).arg(m.visits).arg(m.previous);
        return QStringLiteral("%1 months ").arg(s.months.size()) + parts.join(u' ');
    }
    template <typename T, typename F>
    static QString listText(const std::vector<T>& items, F text)
    {
        QStringList parts;
        for (const T& item : items)
            parts << text(item);
        return parts.join(u' ');
    }
};

TEST_F(VisitStats, CountsTheListedCardsByMonthCardCategoryAndProvince)
{
    const struct Case {
        const char* what;
        const char* name; // the main window's name search, when not empty
        VisitPeriod period;
        const char* months;
        const char* top;
        const char* categories;
        const char* provinces;
        const char* unvisited;
        int64_t visits, previous;
        const char* change = nullptr; // written with plain SQL by another desktop before the counting
        enum { Kept, Dropped, Remade } tables = Kept;
    } cases[] = {
        {"the last 12 months: first and last day in, the day after out; deleted and orphan visits left out", "",
         lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-04:1/0 2025-06:0/1 2025-12:2/0 2026-01:2/0 2026-03:1/1", "王小明:4 O'Brien:2", "客户:4 朋友:2",
         "北京:4 上海:2", "李四:2024-06-01:668", 6, 2},
        {"a range across the year end, begun in the middle of a month", "", {{2025, 11, 15}, {2026, 2, 10}},
         "4 months 2025-12:2/0 2026-01:2/0", "王小明:2 O'Brien:2", "客户:2 朋友:2", "上海:2 北京:2",
         "李四:2024-06-01:619", 4, 0},
        {"a range without visits and none before it", "", {{2023, 1, 1}, {2023, 12, 31}},
         "12 months ", "", "", "", "", 0, 0},
        {"the list narrowed by the name search counts its cards alone", "李", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-06:0/1", "", "", "", "李四:2024-06-01:668", 0, 1},
        // Each write below stays for the cases after it.
        {"a visit added", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-04:1/0 2025-06:0/1 2025-12:2/0 2026-01:2/0 2026-02:1/0 2026-03:1/1", "王小明:4 O'Brien:3", "客户:4 朋友:3",
         "北京:4 上海:3", "李四:2024-06-01:668", 7, 2,
         "insert into DList(DID,LDate,LType,LMemo) select ID,'2026-02-01','面谈','' from D_B where BName='O''Brien'"},
        {"its date moved into the previous period", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-04:1/0 2025-06:0/1 2025-07:0/1 2025-12:2/0 2026-01:2/0 2026-03:1/1", "王小明:4 O'Brien:2", "客户:4 朋友:2",
         "北京:4 上海:2", "李四:2024-06-01:668", 6, 3, "update DList set LDate='2024-07-01' where LDate='2026-02-01'"},
        {"the only visit of an unvisited card deleted", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-04:1/0 2025-07:0/1 2025-12:2/0 2026-01:2/0 2026-03:1/1", "王小明:4 O'Brien:2", "客户:4 朋友:2",
         "北京:4 上海:2", "", 6, 2, "delete from DList where LDate='2024-06-01'"},
        {"the last visits of a card moved before the period", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-04:1/0 2025-07:0/1 2025-08:0/2 2025-12:1/0 2026-01:1/0 2026-03:1/1", "王小明:4", "客户:4", "北京:4",
         "O'Brien:2024-08-01:607", 4, 4,
         "update DList set LDate='2024-08-01' where DID=(select ID from D_B where BName='O''Brien') and LDate>'2025'"},
        {"a card's category and province changed", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-04:1/0 2025-07:0/1 2025-08:0/2 2025-12:1/0 2026-01:1/0 2026-03:1/1", "王小明:4", "朋友:4", "上海:4",
         "O'Brien:2024-08-01:607", 4, 4, "update D_B set theType='朋友', DArea='上海' where BName='王小明'"},
        {"a card removed for good", "", lastTwelveMonths({2026, 3, 31}), "12 months 2025-07:0/1 2025-08:0/2", "", "", "",
         "O'Brien:2024-08-01:607", 0, 3, "delete from D_B where BName='王小明'"},
        {"a card given the number whose visits had no card", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-07:0/1 2025-08:0/2 2026-02:1/0", "赵六:1", "客户:1", "未填:1", "O'Brien:2024-08-01:607", 1, 3,
         "insert into D_B(ID,BName,theType) select max(DID),'赵六','客户' from DList"},
        {"counted without the kept tables", "", lastTwelveMonths({2026, 3, 31}), "12 months 2025-07:0/1 2025-08:0/2 2026-02:1/0",
         "赵六:1", "客户:1", "未填:1", "O'Brien:2024-08-01:607", 1, 3, nullptr, Case::Dropped},
        {"the kept tables made again from the visits stored", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-07:0/1 2025-08:0/2 2026-02:1/0", "赵六:1", "客户:1", "未填:1", "O'Brien:2024-08-01:607", 1, 3, nullptr,
         Case::Remade},
        // The file's tables are filled a range of card numbers at a time: 张删 and O'Brien, in
        // ranges of their own, share one month's row, which the list's count reads less 张删's.
        {"a card given the category and province of a deleted one", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2025-07:0/1 2025-08:0/2 2026-02:1/0", "赵六:1", "客户:1", "未填:1", "O'Brien:2024-08-01:607", 1, 3,
         "update D_B set theType='客户', DArea='' where BName='O''Brien'"},
        {"the card far from the others removed: the list counted as the whole less the cards left out", "",
         lastTwelveMonths({2026, 3, 31}), "12 months 2025-07:0/1 2025-08:0/2", "", "", "", "O'Brien:2024-08-01:607", 0, 3,
         "delete from D_B where BName='赵六'"},
        {"visits moved into the deleted card's month, counted without the kept tables", "", lastTwelveMonths({2026, 3, 31}),
         "12 months 2026-01:3/0", "O'Brien:3", "客户:3", "未填:3", "", 3, 0,
         "update DList set LDate='2026-01-20' where DID=(select ID from D_B where BName='O''Brien')", Case::Dropped},
        {"the same from the kept tables made again", "", lastTwelveMonths({2026, 3, 31}), "12 months 2026-01:3/0", "O'Brien:3",
         "客户:3", "未填:3", "", 3, 0, nullptr, Case::Remade},
    };
    // Each case counts again on the same connection: nothing of the last one stays behind.
    TfrmDM other(openCardDatabaseFor(database.programDir()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.change)
            other.ADOConnection1.execute(QString::fromUtf8(c.change));
        if (c.tables == Case::Dropped)
            dropKeptTables();
        if (c.tables == Case::Remade)
            remakeKeptTables();
        EXPECT_EQ(hasVisitSummaries(dm.ADOConnection1), c.tables != Case::Dropped);
        main->CheckBox3->setChecked(*c.name != 0);
        main->Edit3->setText(QString::fromUtf8(c.name));
        main->CheckBox3->setChecked(*c.name != 0);
        main->BitBtn1Click();
        const VisitStatistics s = countListed(c.period);
        EXPECT_EQ(monthsText(s), QString::fromUtf8(c.months));
        EXPECT_EQ(listText(s.topCards, [](const CardVisits& v) { return v.name + u':' + QString::number(v.visits); }),
                  QString::fromUtf8(c.top));
        const auto label = [](const LabelVisits& v) { return shownLabel(v.label) + u':' + QString::number(v.visits); };
        EXPECT_EQ(listText(s.categories, label), QString::fromUtf8(c.categories));
        EXPECT_EQ(listText(s.provinces, label), QString::fromUtf8(c.provinces));
        EXPECT_EQ(listText(s.unvisited,
                           [](const UnvisitedCard& u) { return u.name + u':' + u.lastVisit + u':' + QString::number(u.days); }),
                  QString::fromUtf8(c.unvisited));
        EXPECT_EQ(s.unvisitedCount, static_cast<int64_t>(s.unvisited.size()));
        EXPECT_EQ(s.visits, c.visits);
        EXPECT_EQ(s.previousVisits, c.previous);
    }
}

TEST_F(VisitStats, TheWindowOpensFromTheDataMenuAndTheOverviewAndOpensWhatItShows)
{
    QStringList seen;
    // From the 数据 menu: the charts of the list; a click on the first bar of the top 10 opens
    // that card's visits, a double click on an unvisited card the card itself.
    testhooks::queueModal([&](QDialog* dialog) {
        auto* window = qobject_cast<VisitStatsWindow*>(dialog);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->Edit1->text(), QStringLiteral("2025-04-01"));
        EXPECT_EQ(window->MonthChart->values().size(), 12u);
        EXPECT_FALSE(window->TopChart->isEmpty());
        window->resize(1100, 760);
        window->grab(); // lays the charts out
        testhooks::queueModal([&](QDialog* visits) { seen << visits->windowTitle(); });
        emit window->TopChart->valueClicked(0);
        testhooks::queueModal([&](QDialog* card) { seen << card->windowTitle(); });
        emit window->UnvisitedList->itemDoubleClicked(window->UnvisitedList->topLevelItem(0), 0);
        // A range that is no day, runs backwards or is too long is refused, keeping what is shown.
        const struct {
            const char* from;
            const char* to;
            const char* message; // the last message, when it is ours
        } refused[] = {
            {"2026-02-30", "2026-03-31", nullptr},
            {"2026-03-31", "2026-03-01", "起始日期不能晚于结束日期。"},
            {"2016-01-01", "2026-03-31", "统计范围最多 120 个月（10 年）。"},
        };
        for (const auto& r : refused) {
            window->Edit1->setText(QString::fromLatin1(r.from));
            window->Edit2->setText(QString::fromLatin1(r.to));
            window->BitBtn1->click();
            EXPECT_EQ(window->statistics().visits, 6) << r.from;
            if (r.message) {
                EXPECT_EQ(testhooks::shownTexts().last(), QString::fromUtf8(r.message));
            }
        }
        // An empty range says so instead of drawing empty axes.
        window->Edit1->setText(QStringLiteral("2023-01-01"));
        window->Edit2->setText(QStringLiteral("2023-03-31"));
        window->BitBtn1->click();
        EXPECT_TRUE(window->MonthChart->isEmpty());
        EXPECT_EQ(window->SummaryLabel->text(), QStringLiteral("2023-01-01 至 2023-03-31：没有拜访记录"));
    });
    main->VisitStatsAction->trigger();
    EXPECT_EQ(seen, (QStringList{QStringLiteral("王小明 拜访记录"), QStringLiteral("查看 名片")}));
    EXPECT_EQ(testhooks::pendingModals(), 0);

    // From the visit overview's button, over the overview.
    bool opened = false;
    testhooks::queueModal([&](QDialog* overview) {
        testhooks::queueModal([&](QDialog* stats) {
            opened = stats->parent() == overview && qobject_cast<VisitStatsWindow*>(stats);
        });
        overview->findChild<QPushButton*>(QStringLiteral("StatsButton"))->click();
    });
    main->History->openVisitOverview();
    EXPECT_TRUE(opened);
}

} // namespace
