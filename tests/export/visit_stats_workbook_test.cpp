#include "export_fixture.h"
#include "history/history_commands.h"
#include "history/visit_stats_window.h"
#include "ui/common/gbk_edit.h"

#include <QPushButton>
#include <QRegularExpression>
#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

using namespace ostrel;

namespace {

class VisitStatsExport : public test::ExportFixture {
protected:
    // The parts of a package whose names start with prefix, with their texts.
    static QMap<QString, QString> parts(const QString& path, const QString& prefix)
    {
        QMap<QString, QString> found;
        QuaZip zip(path);
        if (!zip.open(QuaZip::mdUnzip))
            return found;
        for (const QString& name : zip.getFileNameList()) {
            if (!name.startsWith(prefix) || !zip.setCurrentFile(name))
                continue;
            QuaZipFile file(&zip);
            if (file.open(QIODevice::ReadOnly))
                found[name] = QString::fromUtf8(file.readAll());
        }
        return found;
    }
    // The cell ranges a chart draws from, in order.
    static QStringList ranges(const QString& chart)
    {
        QStringList found;
        static const QRegularExpression f(QStringLiteral("<c:f>([^<]*)</c:f>"));
        for (auto m = f.globalMatch(chart); m.hasNext();)
            found << m.next().captured(1);
        return found;
    }
};

TEST_F(VisitStatsExport, TheWorkbookHoldsEachChartsTableAndANativeChartDrawnFromIt)
{
    setToday({2026, 3, 31});
    const int a = addCard(QStringLiteral("王小明"));
    const int b = addCard(QStringLiteral("李四"), QStringLiteral("女"), QStringLiteral("朋友"));
    addVisit(a, QStringLiteral("2025-05-06"), QStringLiteral("谈价"));
    addVisit(a, QStringLiteral("2026-03-01"), QStringLiteral("回访"));
    addVisit(b, QStringLiteral("2024-02-01"), QStringLiteral("初访"));
    startMain();
    const struct {
        const char* what;
        const char* from;
        const char* to;
        QStringList charts; // chart part: its ranges
    } cases[] = {
        {"the last 12 months",
         "2025-04-01", "2026-03-31",
         {"xl/charts/chart1.xml: '按月拜访'!$B$2 '按月拜访'!$A$3:$A$14 '按月拜访'!$B$3:$B$14 '按月拜访'!$C$2 "
          "'按月拜访'!$A$3:$A$14 '按月拜访'!$C$3:$C$14",
          "xl/charts/chart2.xml: '拜访最多'!$B$2 '拜访最多'!$A$3 '拜访最多'!$B$3",
          "xl/charts/chart3.xml: '按分类'!$B$2 '按分类'!$A$3 '按分类'!$B$3",
          "xl/charts/chart4.xml: '按省份'!$B$2 '按省份'!$A$3 '按省份'!$B$3"}},
        // Only the month table has rows: no chart of an empty table.
        {"a range without visits", "2025-06-01", "2026-02-28",
         {"xl/charts/chart1.xml: '按月拜访'!$B$2 '按月拜访'!$A$3:$A$11 '按月拜访'!$B$3:$B$11 '按月拜访'!$C$2 "
          "'按月拜访'!$A$3:$A$11 '按月拜访'!$C$3:$C$11"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testhooks::queueModal([&](QDialog* dialog) {
            auto* window = qobject_cast<VisitStatsWindow*>(dialog);
            ASSERT_NE(window, nullptr);
            window->Edit1->setText(QString::fromLatin1(c.from));
            window->Edit2->setText(QString::fromLatin1(c.to));
            window->BitBtn1->click();
            window->ExportButton->click();
        });
        main->History->openVisitStats();
        ASSERT_FALSE(openedFiles().isEmpty());
        const QString path = openedFiles().last();
        QStringList charts;
        const QMap<QString, QString> chartParts = parts(path, QStringLiteral("xl/charts/chart"));
        for (auto it = chartParts.begin(); it != chartParts.end(); ++it)
            charts << it.key() + QStringLiteral(": ") + ranges(it.value()).join(u' ');
        EXPECT_EQ(charts, c.charts);
        // Five sheets, the first with its title, header and a row per month.
        EXPECT_EQ(parts(path, QStringLiteral("xl/worksheets/sheet")).size(), 5);
        const test::WrittenBook book = test::readBook(path);
        EXPECT_EQ(book.row(2, QStringLiteral("C")), (QStringList{QStringLiteral("月份"), QStringLiteral("本期拜访"), QStringLiteral("上期拜访")}));
        EXPECT_EQ(book.value(QStringLiteral("A3")), QString::fromLatin1(c.from).left(7));
    }
}

} // namespace
