// The four reports, written through their windows' "Excel" buttons and read back from
// the workbook file.
#include "export_fixture.h"

#include "export/report_export.h"
#include "export/workbook_closing.h"
#include "history/history_windows.h"
#include "history/history_commands.h"
#include "ui/common/db_grid.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QGroupBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <optional>

using namespace ostrel;
using test::WrittenBook;

namespace {

enum class Report { CardList, VisitList, VisitOverview, AnniversaryOverview };

struct Variant {
    const char* name;
    Report report;
    std::optional<const char*> title;
    QStringList header;
    QString last;
    QList<int> widths; // from column A
    const char* orientation;
    const char* footer;
    const char* fileStem; // the caption the file is named after
};

void PrintTo(const Variant& v, std::ostream* os)
{
    *os << v.name;
}

const Variant kVariants[] = {
    {"CardList", Report::CardList, std::nullopt, {"序号", "姓名", "性别", "移动电话"}, "D", {4, 9, 0, 99}, "landscape",
     "&COstrel名片管理软件  www.example.com 共&N页，第&P页", "名片表"},
    {"VisitList", Report::VisitList, "张三 拜访记录", {"序号", "拜访日期", "拜访方式", "拜访内容"}, "D", {4, 10, 10, 50},
     "portrait", "&COstrel名片管理 https://www.example.com/ 共&N页，第&P页", "张三 拜访记录"},
    {"VisitOverview", Report::VisitOverview, "拜访表", {"序号", "拜访日期", "姓名", "性别", "拜访方式", "拜访内容"}, "F",
     {4, 8, 12, 4, 10, 38}, "", "&COstrel名片管理软件 https://www.example.com/ 共&N页，第&P页", "拜访表"},
    {"AnniversaryOverview", Report::AnniversaryOverview, "纪念表", {"序号", "纪念日期", "姓名", "性别", "纪念说明"}, "E",
     {4, 8, 12, 4, 48}, "", "&COstrel名片管理软件 https://www.example.com/ 共&N页，第&P页", "纪念表"},
};

QProgressDialog* shownProgress()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("ExportProgress") && w->isVisible())
            return qobject_cast<QProgressDialog*>(w);
    return nullptr;
}

class Reports : public test::ExportFixture, public ::testing::WithParamInterface<Variant> {
protected:
    // Five cards, five visits of the first card, an anniversary of each card; the card
    // list shows name (stored width 95), sex (5) and mobile (999).
    void seed()
    {
        displayOnly({{"BName", 95}, {"BSex", 5}, {"BMob", 999}});
        const QStringList names{"张三", "李四", "王五", "赵六", "钱七"};
        for (int i = 0; i < names.size(); ++i) {
            const int card = addCard(names[i], i % 2 ? QStringLiteral("女") : QStringLiteral("男"));
            exec(QStringLiteral("update D_B set BMob='1380013800%1' where ID=%2").arg(i).arg(card));
            if (i == 0) {
                m_first = card;
                for (int v = 1; v <= 5; ++v)
                    addVisit(card, QStringLiteral("2026-02-0%1").arg(v),
                             v == 3 ? QStringLiteral("谈 A&B <合同> \"报价\"") : QStringLiteral("第%1次").arg(v),
                             v % 2 ? QStringLiteral("上门") : QStringLiteral("电话"));
            }
            addAnniversary(card, QStringLiteral("1990-0%1-15").arg(i + 1), QStringLiteral("生日"));
        }
        startMain();
    }

    // Runs the variant's export from its window, then `after` with the window's list and
    // grid while the window is still open.
    void run(Report report, const std::function<void(Query*, DBGrid*)>& after = {})
    {
        switch (report) {
        case Report::CardList:
            runGuarded([&] { exportCardList(main.get()); });
            if (after)
                after(main->ADOQuery1, main->DBGrid1);
            return;
        case Report::VisitList:
            testhooks::queueModal([&](QDialog* dialog) {
                auto* w = qobject_cast<TfrmList*>(dialog);
                ASSERT_NE(w, nullptr);
                ASSERT_TRUE(w->BitBtn3->isEnabled());
                click(w->BitBtn3);
                if (after)
                    after(w->ADOQuery1, w->DBGrid1);
            });
            main->History->openVisits(QString::number(m_first), QStringLiteral("张三"));
            break;
        case Report::VisitOverview:
        case Report::AnniversaryOverview:
            testhooks::queueModal([&](QDialog* dialog) {
                auto* w = qobject_cast<OverviewWindow*>(dialog);
                ASSERT_NE(w, nullptr);
                ASSERT_TRUE(w->BitBtn2->isEnabled());
                click(w->BitBtn2);
                if (after)
                    after(w->ADOQuery1, w->DBGrid1);
            });
            if (report == Report::VisitOverview)
                main->History->openVisitOverview();
            else
                main->History->openAnniversaryOverview();
            break;
        }
        EXPECT_EQ(testhooks::pendingModals(), 0) << "the window did not open";
    }

    int m_first = 0;
};

} // namespace

TEST_P(Reports, WriteTheLayoutAndEveryRowInTheGridsOrder)
{
    const Variant& v = GetParam();
    seed();
    QStringList expectedRows;
    int rowCount = 0;
    run(v.report, [&](Query* rows, DBGrid* grid) {
        // The reading leaves the list, and its grid, on the last row.
        rowCount = rows->recordCount();
        EXPECT_EQ(rows->recNo(), rowCount);
        EXPECT_EQ(grid->currentIndex().row(), rowCount - 1);
        for (int r = 0; r < rowCount; ++r) {
            QStringList cells{QString::number(r + 1)};
            for (int c = 1; c < v.header.size(); ++c)
                cells << rows->rows().text(r, rows->rows().columnIndex(v.header[c]));
            expectedRows << cells.join(u'|');
        }
    });
    ASSERT_EQ(rowCount, 5);
    EXPECT_EQ(shownOf(testhooks::Shown::Error), QStringList());
    EXPECT_EQ(shownOf(testhooks::Shown::Info), QStringList());

    const QStringList opened = openedFiles();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(QFileInfo(opened[0]).absolutePath(), QFileInfo(tmpFolder()).absoluteFilePath());
    EXPECT_TRUE(QFileInfo(opened[0]).fileName().startsWith(QString::fromUtf8(v.fileStem) + u'_')) << opened[0].toStdString();
    EXPECT_TRUE(opened[0].endsWith(QStringLiteral(".xlsx")));

    const WrittenBook book = test::readBook(opened[0]);
    ASSERT_TRUE(book.ok);
    EXPECT_EQ(book.title, QString::fromUtf8(v.fileStem));
    const int headerRow = v.title ? 2 : 1;
    const int lastRow = headerRow + 5;

    // Title row: merged, centred, 宋体 16 bold.
    if (v.title) {
        EXPECT_EQ(book.merges, QStringList{QStringLiteral("A1:") + v.last + u'1'});
        EXPECT_EQ(book.value(QStringLiteral("A1")), QString::fromUtf8(*v.title));
        const WrittenBook::CellStyle title = book.style(QStringLiteral("A1"));
        EXPECT_TRUE(title.bold);
        EXPECT_EQ(title.size, 16);
        EXPECT_EQ(title.font, QStringLiteral("宋体"));
        EXPECT_EQ(title.horizontal, QStringLiteral("center"));
        EXPECT_EQ(title.vertical, QStringLiteral("center"));
        EXPECT_FALSE(title.bordered);
    } else {
        EXPECT_EQ(book.merges, QStringList());
    }

    // Header row: bold, centred, in the table's size 9.
    EXPECT_EQ(book.row(headerRow, v.last), v.header);
    for (int c = 1; c <= v.header.size(); ++c) {
        const QString cell = test::columnLetter(c) + QString::number(headerRow);
        const WrittenBook::CellStyle style = book.style(cell);
        EXPECT_TRUE(style.bold) << cell.toStdString();
        EXPECT_EQ(style.size, 9) << cell.toStdString();
        EXPECT_EQ(style.horizontal, QStringLiteral("center")) << cell.toStdString();
        EXPECT_EQ(style.vertical, QStringLiteral("center")) << cell.toStdString();
    }

    // The rows, numbered from 1, as text.
    QStringList written;
    for (int r = headerRow + 1; r <= lastRow; ++r)
        written << book.row(r, v.last).join(u'|');
    EXPECT_EQ(written, expectedRows);
    const WrittenBook::CellStyle data = book.style(QStringLiteral("B") + QString::number(lastRow));
    EXPECT_FALSE(data.bold);
    EXPECT_EQ(data.size, 9);
    EXPECT_TRUE(data.horizontal.isEmpty());
    // Only the card list centres its sequence numbers.
    EXPECT_EQ(book.style(QStringLiteral("A") + QString::number(lastRow)).horizontal,
              v.report == Report::CardList ? QStringLiteral("center") : QString());

    // The table range, and nothing else, is bordered.
    EXPECT_EQ(book.borderedCells(), test::cellsOf(headerRow, v.last, lastRow));

    QList<int> widths;
    for (int c = 1; c <= v.header.size(); ++c)
        widths << book.width(c);
    EXPECT_EQ(widths, v.widths);
    EXPECT_EQ(book.orientation, QString::fromLatin1(v.orientation));
    EXPECT_EQ(book.footer, QString::fromUtf8(v.footer));
}

TEST_P(Reports, GiveANewWorkbookForEveryPress)
{
    seed();
    run(GetParam().report);
    run(GetParam().report);
    const QStringList opened = openedFiles();
    ASSERT_EQ(opened.size(), 2);
    EXPECT_NE(opened[0], opened[1]);
    EXPECT_EQ(workbooks().size(), 2);
    for (const QString& path : opened)
        EXPECT_EQ(test::readBook(path).row(GetParam().title ? 2 : 1, GetParam().last), GetParam().header);
}

TEST_P(Reports, SayWhereTheWorkbookIsWhenNoProgramOpensIt)
{
    seed();
    testhooks::failOpenFile(true);
    run(GetParam().report);
    const QStringList opened = openedFiles();
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(shownOf(testhooks::Shown::Info),
              QStringList{QStringLiteral("报表已保存到 %1，但没有找到可以打开它的程序。").arg(opened[0])});
    // The progress box is gone for good before the message comes up.
    EXPECT_FALSE(testhooks::shown().last().windows.contains(QStringLiteral("ExportProgress")));
    EXPECT_EQ(test::readBook(opened[0]).row(GetParam().title ? 2 : 1, GetParam().last), GetParam().header);
    // Kept where the user keeps documents, readable by the user alone, and named in the main
    // window's status line.
    EXPECT_EQ(QFileInfo(opened[0]).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    EXPECT_TRUE(main->ReportLabel->text().endsWith(opened[0])) << main->ReportLabel->text().toStdString();
}

TEST_P(Reports, ShowTheErrorBoxAndWriteNothingWhenNoWorkbookCanBeMade)
{
    seed();
    // The temporary folder is a file: no workbook can be made there.
    blockTempFolder();
    run(GetParam().report);
    EXPECT_EQ(shownOf(testhooks::Shown::Error), QStringList{QStringLiteral("无法创建Xls文件，请确认是否安装EXCEL.")});
    EXPECT_EQ(openedFiles(), QStringList());
    EXPECT_EQ(workbooks(), QStringList());
}

TEST_P(Reports, CancelLeavesNoFileAndSaysSo)
{
    seed();
    testhooks::reportProgressEveryRow(true);
    // 取消 pressed while the rows are written (past the first) and while the file is closed.
    for (const QString& phase : {QStringLiteral("正在写入报表：已完成 2 /"), QStringLiteral("正在保存报表文件")}) {
        const QStringList before = QDir(tmpFolder()).entryList(QDir::Files | QDir::Hidden);
        QTimer press;
        QObject::connect(&press, &QTimer::timeout, [&] {
            auto* dialog = shownProgress();
            if (dialog && dialog->labelText().startsWith(phase)) {
                press.stop();
                click(dialog->findChild<QPushButton*>());
            }
        });
        press.start(0);
        testhooks::clear();
        run(GetParam().report);
        EXPECT_FALSE(press.isActive()) << "never pressed: " << phase.toStdString();
        waitForAbandonedClosings();
        EXPECT_EQ(QDir(tmpFolder()).entryList(QDir::Files | QDir::Hidden), before) << phase.toStdString();
        EXPECT_EQ(openedFiles(), QStringList()) << phase.toStdString();
        EXPECT_EQ(shownOf(testhooks::Shown::Info), QStringList()) << phase.toStdString();
        EXPECT_EQ(main->ReportLabel->text(), QStringLiteral("报表已取消，没有保存文件")) << phase.toStdString();
    }
    // Nothing of the cancelled ones stays in the way of a whole report.
    testhooks::clear();
    run(GetParam().report);
    ASSERT_EQ(openedFiles().size(), 1);
    EXPECT_EQ(workbooks().size(), 1);
    EXPECT_EQ(test::readBook(openedFiles()[0]).row(GetParam().title ? 7 : 6, GetParam().last).first(), QStringLiteral("5"));
    testhooks::reportProgressEveryRow(false);
}

INSTANTIATE_TEST_SUITE_P(Export, Reports, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

// ---- the card list's columns come from the display settings ----

namespace {

struct CardListCase {
    const char* name;
    QList<std::pair<QString, int>> fields; // empty: keep the delivered 25
    bool all;
    int cards;
    QString last;
};

void PrintTo(const CardListCase& c, std::ostream* os)
{
    *os << c.name;
}

class CardList : public test::ExportFixture, public ::testing::WithParamInterface<CardListCase> {};

const CardListCase kCardListCases[] = {
    {"EmptyListWithThreeColumns", {{"BName", 100}, {"BSex", 40}, {"BMob", 100}}, false, 0, "D"},
    {"NoDisplayedColumn", {}, false, 3, "A"},
    {"AllTwentyFiveColumns", {}, true, 2, "Z"},
    {"OneColumn", {{"DName", 150}}, false, 1, "B"},
    // More rows than the stand-in keeps waiting: most go to the file while the list is read.
    {"ManyCards", {{"BName", 100}, {"BSex", 40}}, false, 1000, "C"},
};

} // namespace

TEST_P(CardList, EndsAtTheColumnOfTheDisplayedFields)
{
    const CardListCase& c = GetParam();
    if (!c.all)
        displayOnly(c.fields);
    exec(QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 from n where i + 1 < %1) "
                        "insert into D_B(theDate,theType,BName,BSex,theDel) select '2026-01-01','客户','名'||i,'男','否' "
                        "from n where %1 > 0")
             .arg(c.cards));
    startMain();
    const QStringList labels =
        column(QStringLiteral("select theV from D_XS where theXS=1 order by theInt"));
    runGuarded([&] { exportCardList(main.get()); });
    ASSERT_EQ(openedFiles().size(), 1) << testhooks::shownTexts().join(u'\n').toStdString();
    const WrittenBook book = test::readBook(openedFiles()[0]);

    EXPECT_EQ(book.row(1, c.last), QStringList{QStringLiteral("序号")} + labels);
    EXPECT_EQ(book.value(test::columnLetter(static_cast<int>(labels.size()) + 2) + u'1'), QString())
        << "nothing after the last column";
    EXPECT_EQ(book.borderedCells(), test::cellsOf(1, c.last, 1 + c.cards));
    for (int i = 1; i <= c.cards; ++i)
        EXPECT_EQ(book.value(QStringLiteral("A") + QString::number(i + 1)), QString::number(i));
    if (c.cards > 0) {
        // The last row is formatted as the first.
        const QString lastRow = QString::number(c.cards + 1);
        EXPECT_EQ(book.style(QStringLiteral("A") + lastRow).horizontal, QStringLiteral("center"));
        EXPECT_EQ(book.style(c.last + lastRow).size, 9);
        EXPECT_FALSE(book.style(c.last + lastRow).bold);
        if (labels.value(0) == QStringLiteral("姓名")) {
            EXPECT_EQ(book.value(QStringLiteral("B") + lastRow), QStringLiteral("名0")) << "newest first";
        }
    }
    // The displayed-column rows are read to their end as well.
    EXPECT_EQ(main->ADOQuery4->recNo(), main->ADOQuery4->recordCount());
}

INSTANTIATE_TEST_SUITE_P(Export, CardList, ::testing::ValuesIn(kCardListCases),
                         [](const ::testing::TestParamInfo<CardListCase>& info) { return std::string(info.param.name); });

namespace {

using CardListReport = test::ExportFixture;

} // namespace

TEST_F(CardListReport, WidthsAreTheStoredWidthsInTensWithTheRemainderDropped)
{
    const QList<std::pair<int, int>> cases{{5, 0}, {9, 0}, {0, 0}, {95, 9}, {100, 10}, {999, 99}};
    const char* fields[] = {"BName", "BSex", "BMob", "BPho", "BMail", "BQQ"};
    QList<std::pair<QString, int>> shown;
    for (int i = 0; i < cases.size(); ++i)
        shown.append({QString::fromLatin1(fields[i]), cases[i].first});
    displayOnly(shown);
    startMain();

    const ReportLayout layout = cardListLayout(*main->ADOQuery4);
    runGuarded([&] { exportCardList(main.get()); });
    ASSERT_EQ(openedFiles().size(), 1);
    const WrittenBook book = test::readBook(openedFiles()[0]);
    ASSERT_EQ(layout.columns.size(), cases.size());
    for (int i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(layout.columns[i].width, cases[i].second) << "stored " << cases[i].first;
        EXPECT_EQ(book.width(i + 2), cases[i].second) << "stored " << cases[i].first;
    }
}

TEST_F(CardListReport, NumbersFollowATitleClickSort)
{
    displayOnly({{"BName", 100}});
    for (const char* name : {"张三", "李四", "王五", "赵六"})
        addCard(QString::fromUtf8(name));
    startMain();
    const int nameColumn = static_cast<int>(main->ADOQuery1->rows().columnIndex(QStringLiteral("姓名")));
    main->DBGrid1->setCurrentIndex(main->DBGrid1->model()->index(1, nameColumn));

    const QList<std::pair<const char*, QStringList>> sorts{
        {"ascending", {"1|李四", "2|王五", "3|张三", "4|赵六"}},
        {"descending", {"1|赵六", "2|张三", "3|王五", "4|李四"}},
    };
    for (const auto& [direction, expected] : sorts) {
        main->DBGrid1->titleClick(nameColumn);
        testhooks::clear();
        runGuarded([&] { exportCardList(main.get()); });
        ASSERT_EQ(openedFiles().size(), 1) << direction;
        const WrittenBook book = test::readBook(openedFiles()[0]);
        QStringList rows;
        for (int r = 2; r <= 5; ++r)
            rows << book.row(r, QStringLiteral("B")).join(u'|');
        EXPECT_EQ(rows, expected) << direction;
        EXPECT_EQ(main->ADOQuery1->recNo(), 4) << direction;
        EXPECT_EQ(main->DBGrid1->currentIndex().row(), 3) << direction;
    }
}

TEST_F(CardListReport, NameTheFileAfterASafeCaption)
{
    const int card = addCard(QStringLiteral("王/五:*"));
    addVisit(card, QStringLiteral("2026-03-01"), QStringLiteral("见面"));
    startMain();
    testhooks::queueModal([&](QDialog* dialog) { click(qobject_cast<TfrmList*>(dialog)->BitBtn3); });
    main->History->openVisits(QString::number(card), QStringLiteral("王/五:*"));
    ASSERT_EQ(openedFiles().size(), 1);
    const QFileInfo file(openedFiles()[0]);
    EXPECT_EQ(file.absolutePath(), QFileInfo(tmpFolder()).absoluteFilePath());
    EXPECT_TRUE(file.fileName().startsWith(QStringLiteral("王_五__ 拜访记录_"))) << file.fileName().toStdString();
    const WrittenBook book = test::readBook(file.filePath());
    EXPECT_EQ(book.value(QStringLiteral("A1")), QStringLiteral("王/五:* 拜访记录"));
    EXPECT_EQ(book.row(3, QStringLiteral("D")), (QStringList{"1", "2026-03-01", "电话", "见面"}));
}

TEST_F(CardListReport, HoldsWhatAQuickFindStillWaitingFinds)
{
    displayOnly({{"BName", 100}});
    for (const char* name : {"张三", "李四", "张五"})
        addCard(QString::fromUtf8(name));
    startMain();
    main->waitForQuickFindIndex();
    // Typed, and the button pressed before the quick find's moment came.
    QTest::keyClicks(main->QuickFindEdit, QStringLiteral("zhang"));
    ASSERT_TRUE(main->QuickFindTimer->isActive());
    runGuarded([&] { exportCardList(main.get()); });
    ASSERT_EQ(openedFiles().size(), 1);
    const WrittenBook book = test::readBook(openedFiles()[0]);
    // The report holds the narrowed list, whatever each engine's quick find found.
    const int listed = main->ADOQuery1->recordCount();
    EXPECT_LT(listed, 3);
    for (int row = 2; row <= 4; ++row)
        EXPECT_EQ(book.value(QStringLiteral("B%1").arg(row)).isEmpty(), row - 1 > listed) << row;
}
