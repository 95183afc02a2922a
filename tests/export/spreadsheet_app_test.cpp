// The spreadsheet stand-in on its own: what it records, what it refuses, and the file it
// writes on release.
#include "export_fixture.h"

#include "engine/engine_error.h"
#include "export/report_layout.h"
#include "export/spreadsheet_app.h"
#include "export/workbook_closing.h"

#include <QDateTime>
#include <QFileInfo>

#include <functional>
#include <string_view>

using namespace ostrel;
using test::WrittenBook;

namespace {

class StandIn : public ::testing::Test {
protected:
    StandIn() { testhooks::clear(); }
    ~StandIn() override { testhooks::clear(); }

    // A visible application with a new workbook, as every report starts.
    static void start(SpreadsheetApp& app, const QString& caption = QStringLiteral("测试"))
    {
        app.setVisible(true);
        app.addWorkbook();
        app.setCaption(caption);
    }
    WrittenBook released(SpreadsheetApp& app)
    {
        const SpreadsheetApp::Released r = app.release();
        EXPECT_FALSE(r.path.isEmpty());
        return test::readBook(r.path);
    }

    test::OwnTempFolder tmp;
};

} // namespace

TEST_F(StandIn, WritesValuesInRowOrderWhateverTheOrderTheyCame)
{
    SpreadsheetApp app;
    start(app);
    const Worksheet sheet = app.worksheets(1);
    sheet.cells(3, 1).setValue(QStringLiteral("三"));
    sheet.cells(1, 2).setValue(QStringLiteral("旧"));
    sheet.cells(2, 1).setValue(QStringLiteral("二"));
    sheet.cells(1, 2).setValue(QStringLiteral("新 & <值>"));
    sheet.cells(1, 30).setValue(QStringLiteral("AD"));
    sheet.cells(2, 2).setValue(QStringLiteral("x"));
    sheet.cells(2, 2).setValue(QString()); // an empty value empties the cell
    sheet.range(QStringLiteral("A5:B5")).setValue(QStringLiteral("同"));

    const WrittenBook book = released(app);
    ASSERT_TRUE(book.ok);
    const QMap<QString, QString> expected{{"B1", "新 & <值>"}, {"AD1", "AD"}, {"A2", "二"}, {"A3", "三"},
                                          {"A5", "同"},        {"B5", "同"}};
    EXPECT_EQ(book.values, expected);
    EXPECT_EQ(book.title, QStringLiteral("测试"));
}

TEST_F(StandIn, LaterSettingsWinCellByCell)
{
    SpreadsheetApp app;
    start(app);
    const Worksheet sheet = app.worksheets(1);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c)
            sheet.cells(r, c).setValue(QStringLiteral("v"));
    sheet.range(QStringLiteral("a1:c3")).setFontBold(true);
    sheet.cells(2, 2).setFontBold(false);
    sheet.range(QStringLiteral("C3:A1")).setFontSize(9);
    sheet.range(QStringLiteral("A1")).setFontSize(16);
    sheet.range(QStringLiteral("A1")).setFontName(QStringLiteral("宋体"));
    sheet.range(QStringLiteral("B2:C3")).setBordersLineStyle(xl::Continuous);
    sheet.cells(3, 3).setBordersLineStyle(xl::LineStyleNone);
    sheet.columns(3).setHorizontalAlignment(xl::Right);
    sheet.range(QStringLiteral("C1:C2")).setHorizontalAlignment(xl::Center);
    sheet.cells(1, 3).setVerticalAlignment(xl::Top);

    const WrittenBook book = released(app);
    EXPECT_TRUE(book.style(QStringLiteral("A1")).bold);
    EXPECT_FALSE(book.style(QStringLiteral("B2")).bold);
    EXPECT_EQ(book.style(QStringLiteral("A1")).size, 16);
    EXPECT_EQ(book.style(QStringLiteral("A1")).font, QStringLiteral("宋体"));
    EXPECT_EQ(book.style(QStringLiteral("B1")).size, 9);
    EXPECT_NE(book.style(QStringLiteral("B1")).font, QStringLiteral("宋体"));
    EXPECT_EQ(book.borderedCells(), (QStringList{"B2", "C2", "B3"}));
    EXPECT_EQ(book.style(QStringLiteral("C1")).horizontal, QStringLiteral("center"));
    EXPECT_EQ(book.style(QStringLiteral("C1")).vertical, QStringLiteral("top"));
    EXPECT_EQ(book.style(QStringLiteral("C3")).horizontal, QStringLiteral("right"));
    EXPECT_EQ(book.style(QStringLiteral("C9")).horizontal, QStringLiteral("right")) << "the column keeps it below";
    EXPECT_TRUE(book.style(QStringLiteral("A3")).horizontal.isEmpty());
}

TEST_F(StandIn, MergesEachRowAndTakesInOverlappingMerges)
{
    SpreadsheetApp app;
    start(app);
    const Worksheet sheet = app.worksheets(1);
    sheet.range(QStringLiteral("A1:B1")).merge();
    sheet.range(QStringLiteral("B1:D1")).merge();
    sheet.range(QStringLiteral("A4")).merge(); // one cell: nothing to merge
    sheet.range(QStringLiteral("B2:C3")).merge();
    sheet.cells(1, 1).setValue(QStringLiteral("标题"));
    sheet.cells(2, 2).setValue(QStringLiteral("左"));
    sheet.cells(2, 3).setValue(QStringLiteral("被合并"));
    sheet.range(QStringLiteral("A1:D1")).setFontBold(true);

    const WrittenBook book = released(app);
    EXPECT_EQ(book.merges, (QStringList{"A1:D1", "B2:C2", "B3:C3"}));
    EXPECT_EQ(book.value(QStringLiteral("A1")), QStringLiteral("标题"));
    EXPECT_EQ(book.value(QStringLiteral("B2")), QStringLiteral("左"));
    EXPECT_EQ(book.value(QStringLiteral("C2")), QString());
    EXPECT_TRUE(book.style(QStringLiteral("D1")).bold);
}

TEST_F(StandIn, WritesRowsAsTheyComeAndRefusesChangesToRowsWritten)
{
    SpreadsheetApp app;
    start(app);
    const Worksheet sheet = app.worksheets(1);
    const int rows = 1000;
    // Settings for the rows to come are made first, as the reports make them.
    sheet.range(QStringLiteral("A1:B1")).merge();
    sheet.columns(1).setHorizontalAlignment(xl::Center);
    sheet.range(QStringLiteral("A1:C%1").arg(rows)).setBordersLineStyle(xl::Continuous);
    sheet.range(QStringLiteral("A1:C1")).setFontBold(true);
    for (int r = 1; r <= rows; ++r) {
        sheet.cells(r, 1).setValue(QString::number(r));
        sheet.cells(r, 3).setValue(std::string_view("值"));
    }
    // The first rows are in the file by now; the last row and the rows after it still wait.
    const QList<std::pair<const char*, std::function<void()>>> refused{
        {"value", [&] { sheet.cells(1, 2).setValue(QStringLiteral("x")); }},
        {"setting", [&] { sheet.range(QStringLiteral("A2:C900")).setFontSize(9); }},
        {"whole column", [&] { sheet.columns(2).setFontBold(true); }},
        {"merge", [&] { sheet.range(QStringLiteral("A3:B3")).merge(); }},
    };
    for (const auto& [what, call] : refused)
        EXPECT_THROW(call(), EngineError) << what;
    sheet.cells(rows, 2).setValue(QStringLiteral("末"));
    sheet.range(QStringLiteral("A%1:C%2").arg(rows).arg(rows + 1)).setFontSize(12);
    sheet.columns(2).setColumnWidth(20);

    const WrittenBook book = released(app);
    EXPECT_EQ(book.values.size(), 2 * rows + 1);
    EXPECT_EQ(book.row(500, QStringLiteral("C")), (QStringList{"500", "", "值"}));
    EXPECT_EQ(book.row(rows, QStringLiteral("C")), (QStringList{QString::number(rows), "末", "值"}));
    EXPECT_EQ(book.merges, QStringList{QStringLiteral("A1:B1")});
    EXPECT_EQ(book.borderedCells(), test::cellsOf(1, QStringLiteral("C"), rows));
    EXPECT_TRUE(book.style(QStringLiteral("C1")).bold);
    EXPECT_FALSE(book.style(QStringLiteral("C2")).bold);
    EXPECT_EQ(book.style(QStringLiteral("A700")).horizontal, QStringLiteral("center"));
    EXPECT_EQ(book.style(QStringLiteral("B%1").arg(rows + 1)).size, 12);
    EXPECT_NE(book.style(QStringLiteral("B%1").arg(rows - 1)).size, 12);
    EXPECT_EQ(book.width(2), 20);
}

TEST_F(StandIn, RefusesWhatTheSpreadsheetRefuses)
{
    SpreadsheetApp app;
    EXPECT_THROW(app.worksheets(1), EngineError) << "no workbook yet";
    start(app);
    const Worksheet sheet = app.worksheets(1);
    const QList<std::pair<const char*, std::function<void()>>> refused{
        {"second sheet", [&] { app.worksheets(2); }},
        {"empty address", [&] { sheet.range(QString()); }},
        {"letters only", [&] { sheet.range(QStringLiteral("A")); }},
        {"digits only", [&] { sheet.range(QStringLiteral("12")); }},
        {"row 0", [&] { sheet.range(QStringLiteral("A0")); }},
        {"open range", [&] { sheet.range(QStringLiteral("A1:")); }},
        {"past the last column", [&] { sheet.range(QStringLiteral("XFE1")); }},
        {"past the last row", [&] { sheet.range(QStringLiteral("A1048577")); }},
        {"three corners", [&] { sheet.range(QStringLiteral("A1:B2:C3")); }},
        {"cell row 0", [&] { sheet.cells(0, 1); }},
        {"cell column 16385", [&] { sheet.cells(1, 16385); }},
        {"column 0", [&] { sheet.columns(0); }},
        {"horizontal code", [&] { sheet.cells(1, 1).setHorizontalAlignment(1); }},
        {"vertical left", [&] { sheet.cells(1, 1).setVerticalAlignment(xl::Left); }},
        {"width 256", [&] { sheet.columns(1).setColumnWidth(256); }},
        {"width -1", [&] { sheet.columns(1).setColumnWidth(-1); }},
        {"size 0", [&] { sheet.cells(1, 1).setFontSize(0); }},
        {"no font name", [&] { sheet.cells(1, 1).setFontName(QString()); }},
        {"line style 2", [&] { sheet.cells(1, 1).setBordersLineStyle(2); }},
        {"orientation 3", [&] { app.activeSheetPageSetup().setOrientation(3); }},
        {"footer of 254", [&] { app.activeSheetPageSetup().setCenterFooter(QString(254, u'x')); }},
        {"value of 32768", [&] { sheet.cells(1, 1).setValue(QString(32768, u'x')); }},
        {"value into a column", [&] { sheet.columns(1).setValue(QStringLiteral("x")); }},
    };
    for (const auto& [what, call] : refused)
        EXPECT_THROW(call(), EngineError) << what;
    // Up to the limits is fine.
    sheet.cells(1, 1).setValue(QString(32767, u'x'));
    sheet.columns(1).setColumnWidth(255);
    EXPECT_EQ(released(app).value(QStringLiteral("A1")).size(), 32767);
}

TEST_F(StandIn, KeepsTheFooterCodesAndThePageSetup)
{
    const QList<std::pair<int, const char*>> orientations{{0, ""}, {xl::Portrait, "portrait"}, {xl::Landscape, "landscape"}};
    for (const auto& [code, expected] : orientations) {
        SpreadsheetApp app;
        start(app);
        if (code)
            app.activeSheetPageSetup().setOrientation(code);
        app.activeSheetPageSetup().setCenterFooter(QStringLiteral("A&&B <c> 共&N页，第&P页"));
        const WrittenBook book = released(app);
        EXPECT_EQ(book.orientation, QString::fromLatin1(expected));
        EXPECT_EQ(book.footer, QStringLiteral("&CA&&B <c> 共&N页，第&P页"));
    }
}

TEST_F(StandIn, NeverOverwritesAFile)
{
    // Files of this caption for this second and the next are there already.
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (int s = 0; s <= 1; ++s) {
        const QString path = tmp.path() + QStringLiteral("/表_") + now.addSecs(s).toString(QStringLiteral("yyyyMMdd-HHmmss"))
            + QStringLiteral(".xlsx");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("mine");
        taken << path;
    }
    QStringList written;
    for (int i = 0; i < 2; ++i) {
        SpreadsheetApp app;
        start(app, QStringLiteral("表"));
        written << app.release().path;
    }
    for (const QString& path : taken) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray("mine"));
    }
    EXPECT_NE(written[0], written[1]);
    for (const QString& path : written) {
        EXPECT_FALSE(taken.contains(path));
        EXPECT_TRUE(test::readBook(path).ok) << path.toStdString();
    }
    EXPECT_EQ(test::openedFiles(), written);
}

TEST_F(StandIn, WritesOnlyOnReleaseAndOpensOnlyWhenVisible)
{
    {
        SpreadsheetApp app;
        start(app);
        app.worksheets(1).cells(1, 1).setValue(QStringLiteral("丢弃"));
    }
    EXPECT_EQ(tmp.workbooks(), QStringList()) << "an application never released writes nothing";

    SpreadsheetApp app;
    app.addWorkbook();
    app.setCaption(QStringLiteral("看不见"));
    const SpreadsheetApp::Released first = app.release();
    EXPECT_TRUE(QFileInfo::exists(first.path));
    EXPECT_FALSE(first.opened);
    EXPECT_EQ(test::openedFiles(), QStringList());
    EXPECT_TRUE(app.release().path.isEmpty()) << "released once";
    EXPECT_EQ(tmp.workbooks().size(), 1);
}

TEST_F(StandIn, StopsWhenTheProgressSaysSo)
{
    SpreadsheetApp app;
    start(app);
    for (int r = 1; r <= 5; ++r)
        app.worksheets(1).cells(r, 1).setValue(QString::number(r));
    QList<std::pair<int, int>> told;
    const SpreadsheetApp::Released r = app.release([&](int done, int total) {
        told.append({done, total});
        return done < 2;
    });
    EXPECT_TRUE(r.stopped);
    EXPECT_TRUE(r.path.isEmpty());
    EXPECT_EQ(told, (QList<std::pair<int, int>>{{1, 5}, {2, 5}}));
    EXPECT_EQ(tmp.workbooks(), QStringList());
    EXPECT_EQ(test::openedFiles(), QStringList());
}

TEST_F(StandIn, KeepsTheFileOnlyWhenTheClosingIsWaitedFor)
{
    // Given up while the closing thread is still at work, given up when it is done, and
    // waited for.
    const struct {
        const char* name;
        std::function<bool(const std::function<bool()>&)> closing;
        bool kept;
    } cases[] = {
        {"at once", [](const std::function<bool()>&) { return false; }, false},
        {"when closed", [](const std::function<bool()>& closed) { while (!closed()) {} return false; }, false},
        {"waited", [](const std::function<bool()>& closed) { while (!closed()) {} return true; }, true},
    };
    for (const auto& c : cases) {
        testhooks::clear();
        SpreadsheetApp app;
        start(app);
        for (int r = 1; r <= 20000; ++r)
            app.worksheets(1).cells(r, 1).setValue(QStringLiteral("第%1行").arg(r));
        const SpreadsheetApp::Released r = app.release({}, c.closing);
        waitForAbandonedClosings();
        EXPECT_EQ(r.stopped, !c.kept) << c.name;
        EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).size(), c.kept ? 1 : 0) << c.name;
        EXPECT_EQ(test::openedFiles().size(), c.kept ? 1 : 0) << c.name;
        if (c.kept) {
            EXPECT_EQ(test::readBook(r.path).value(QStringLiteral("A20000")), QStringLiteral("第20000行")) << c.name;
        }
        QFile::remove(r.path);
    }
}

TEST_F(StandIn, FailsWithTheWorkbookErrorAndLeavesNothing)
{
    const QString error = QStringLiteral("无法创建Xls文件，请确认是否安装EXCEL");
    // The folder that goes away below: made explicitly inside the test's own folder and
    // checked, so that nothing else can ever be removed.
    QTemporaryDir gone(tmp.path() + QStringLiteral("/gone-XXXXXX"));
    ASSERT_TRUE(gone.isValid());
    ASSERT_TRUE(QDir::isAbsolutePath(gone.path()));
    ASSERT_TRUE(gone.path().startsWith(tmp.path() + u'/'));

    // No temporary folder to begin with.
    tmp.block();
    try {
        SpreadsheetApp app;
        ADD_FAILURE() << "created without a temporary folder";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), error);
    }

    // The folder goes away while the workbook is written.
    setReportFolder(gone.path());
    SpreadsheetApp app;
    start(app);
    for (int r = 1; r <= 3; ++r)
        app.worksheets(1).cells(r, 1).setValue(QString::number(r));
    try {
        app.release([&](int done, int) {
            if (done == 2)
                gone.remove();
            return true;
        });
        ADD_FAILURE() << "released into a folder that is gone";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), error);
    }
    EXPECT_EQ(test::openedFiles(), QStringList());
    EXPECT_FALSE(QFileInfo::exists(gone.path()));
}

TEST(ReportLayouts, LastColumnIsTheLetterAfterTheDisplayedFields)
{
    const QList<std::pair<int, const char*>> cases{{0, "A"}, {1, "B"}, {3, "D"},  {24, "Y"},
                                                   {25, "Z"}, {26, "Z"}, {40, "Z"}, {-1, "Z"}};
    for (const auto& [displayed, letter] : cases)
        EXPECT_EQ(lastColumnLetter(displayed), QString::fromLatin1(letter)) << displayed;
}

TEST(ReportFolder, IsAFolderOfTheUsersDocumentsThatOnlyTheUserMayOpen)
{
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toLocal8Bit());
    setReportFolder({});
    const QString folder = reportFolder();
    qputenv("HOME", oldHome);
    if (oldConfig.isEmpty())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
    EXPECT_EQ(folder, home.path() + QStringLiteral("/Documents/Ostrel报表"));
    EXPECT_EQ(QFileInfo(folder).permissions() & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                 | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
              0);
    EXPECT_TRUE(QFileInfo(folder).isDir());
}
