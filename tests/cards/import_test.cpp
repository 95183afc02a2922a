// The import window TfrmInData, driven as a user drives it: open a workbook, look at the
// grid, press 导入, read the cards and the boxes shown.
#include "app_fixture.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"
#include "core/card_fields.h"
#include "formats/gbk.h"
#include "cards/card_statements.h"
#include "cards/import_window.h"
#include "engine/query.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "workbook_files.h"
#include "formats/workbook/workbook_reader.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

using namespace ostrel;
using namespace ostrel::test;

namespace {

const QString kSaved = QStringLiteral("数据导入 保存成功！\n");

class Import : public AppFixture {
protected:
    Import() { setToday(QDate(2026, 3, 31)); }

    static void click(QWidget* window, const char* button)
    {
        QTest::mouseClick(window->findChild<QPushButton*>(QString::fromLatin1(button)), Qt::LeftButton);
    }
    int cardCount() { return column(QStringLiteral("select count(*) from D_B")).first().toInt(); }
    int lastCardId() { return column(QStringLiteral("select max(ID) from D_B")).first().toInt(); }
    QString cardColumn(int id, const char* name)
    {
        const QStringList values = column(QStringLiteral("select %1 from D_B where ID=%2").arg(QLatin1String(name)).arg(id));
        return values.isEmpty() ? QStringLiteral("<no card>") : values.first();
    }
    // The card's 24 fields in field-table order, as stored.
    QStringList cardValues(int id)
    {
        QStringList columns;
        for (const CardField& field : cardFields())
            columns << field.columnName();
        const ResultSet rows = dm.ADOConnection1.select(
            QStringLiteral("select %1 from D_B where ID=%2").arg(columns.join(u','), QString::number(id)));
        QStringList values;
        for (int c = 0; rows.rowCount() == 1 && c < rows.columnCount(); ++c)
            values << rows.text(0, c);
        return values;
    }
    // The names the main window lists now, top to bottom.
    QStringList mainListNames() const
    {
        QStringList names;
        const ResultSet& rows = main->ADOQuery1->rows();
        for (int r = 0; r < rows.rowCount(); ++r)
            names << rows.text(r, rows.columnIndex(QStringLiteral("姓名")));
        return names;
    }

    TfrmInData* openImport()
    {
        if (!main)
            startMain();
        auto* window = &main->follow(*new TfrmInData(dm, main.get()));
        window->show();
        return window;
    }
    static QStringList titles()
    {
        QStringList list;
        for (const CardField& field : cardFields())
            list << field.importTitleText();
        return list;
    }
    // A card row: the name, category and sex, a telephone; the rest empty.
    static QStringList card(const QString& name, const QString& type = QStringLiteral("客户"),
                            const QString& sex = QStringLiteral("男"))
    {
        QStringList values(kCardFieldCount);
        values[kCategoryField] = type;
        values[kNameField] = name;
        values[kSexField] = sex;
        values[3] = QStringLiteral("010-1");
        return values;
    }
    // An .xlsx with the given title row and rows of texts (empty texts stay empty cells).
    QString book(const QStringList& header, const QList<QStringList>& rows, const QString& name = QStringLiteral("卡片.xlsx"))
    {
        XlsxRows sheet;
        for (const QStringList& line : QList<QStringList>{header} + rows) {
            std::vector<XlsxCell> cells;
            for (const QString& text : line)
                cells.push_back(text.isEmpty() ? XlsxCell() : XlsxCell(text));
            sheet.push_back(cells);
        }
        const QString path = files.filePath(name);
        writeXlsx(path, sheet);
        return path;
    }
    QString cardBook(const QList<QStringList>& rows) { return book(titles(), rows); }
    // A fault the engine raises at the row named 坏, in each engine's own trigger language;
    // dropped again with on false.
    void faultAtName(bool on = true)
    {
        if (auto* server = dynamic_cast<PgConnection*>(&dm.ADOConnection1))
            server->runServerSql(on ? QStringLiteral("CREATE FUNCTION import_fault() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                                                     "IF NEW.\"BName\" = '坏' THEN RAISE EXCEPTION '模拟的磁盘错误'; END IF; "
                                                     "RETURN NEW; END $$; CREATE TRIGGER import_fault BEFORE INSERT ON \"D_B\" "
                                                     "FOR EACH ROW EXECUTE FUNCTION import_fault()")
                                    : QStringLiteral("DROP TRIGGER import_fault ON \"D_B\""));
        else
            exec(on ? QStringLiteral("CREATE TRIGGER import_fault BEFORE INSERT ON D_B WHEN NEW.BName = '坏' "
                                     "BEGIN SELECT RAISE(ABORT, '模拟的磁盘错误'); END")
                    : QStringLiteral("DROP TRIGGER import_fault"));
    }

    static void open(TfrmInData* window, const QString& path)
    {
        testhooks::queueFile(path);
        click(window, "Button1");
    }
    // Opens the workbook and imports it; the boxes shown on the way.
    QStringList importBook(const QString& path)
    {
        TfrmInData* window = openImport();
        open(window, path);
        click(window, "BitBtn1");
        delete window;
        QStringList texts;
        for (const testhooks::Shown& s : testhooks::shown())
            if (s.kind != testhooks::Shown::OpenFile)
                texts << s.text;
        return texts;
    }
    static QStringList errors()
    {
        QStringList texts;
        for (const testhooks::Shown& s : testhooks::shown())
            if (s.kind == testhooks::Shown::Error)
                texts << s.text;
        return texts;
    }
    static QStringList infos()
    {
        QStringList texts;
        for (const testhooks::Shown& s : testhooks::shown())
            if (s.kind == testhooks::Shown::Info)
                texts << s.text;
        return texts;
    }
    // The listed cards (ID order) as "category/name/sex".
    QStringList cards(const QString& where = QStringLiteral("1=1"))
    {
        QStringList out;
        const ResultSet rows = dm.ADOConnection1.select(
            QStringLiteral("select theType, BName, BSex from D_B where %1 order by ID").arg(where));
        for (int r = 0; r < rows.rowCount(); ++r)
            out << rows.text(r, 0) + u'/' + rows.text(r, 1) + u'/' + rows.text(r, 2);
        return out;
    }
    static QString counts(int imported, int duplicates, int nameless)
    {
        return TfrmInData::countsLine({imported, duplicates, nameless});
    }
    // Runs the command and cancels its progress dialog (found under parent) once it has
    // passed `at` rows: the row it was cancelled at, -1 when it never got there.
    static int cancelledPast(QWidget* parent, int at, const std::function<void()>& command, bool* shown = nullptr)
    {
        int cancelledAt = -1;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            auto* progress = parent->findChild<QProgressDialog*>(QStringLiteral("ProgressDialog"));
            if (!progress || cancelledAt >= 0)
                return;
            if (shown)
                *shown = *shown || progress->isVisible();
            if (progress->value() >= at) {
                cancelledAt = progress->value();
                progress->cancel();
            }
        });
        watcher.start(0);
        command();
        return cancelledAt;
    }

    QTemporaryDir files;
};

} // namespace

TEST_F(Import, WindowAsDescribed)
{
    TfrmInData* window = openImport();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("导入名片"));
    EXPECT_EQ(window->size(), QSize(990, 390));
    EXPECT_FALSE(window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
    // A dialog of the main window: Qt places it centred on its owner (as far as the screen
    // allows; the offscreen screen is narrower than the window).
    EXPECT_EQ(window->parentWidget(), main.get());
    EXPECT_EQ(window->windowType(), Qt::Dialog);
    EXPECT_EQ(window->GroupBox1->title(), QStringLiteral("打开EXCEL文件"));
    EXPECT_EQ(window->Label1->text(), QStringLiteral("打开的EXCEL文件的底部一定是Sheet1，标题一定是分类、姓名、性别、固定电话、"
                                                     "移动电话、电子邮箱、QQ号码、MSN号码、阿里旺旺、描述..."));
    EXPECT_EQ(window->Button1->text(), QStringLiteral("打开"));
    EXPECT_EQ(window->GroupBox2->title(), QStringLiteral("EXCEL数据"));
    EXPECT_EQ(window->Label2->text(),
              QStringLiteral("注意：请不要随便修改 名片导入实例 EXCEL文件的标题（最上面的一行），否则导入出错。"));
    EXPECT_EQ(window->BitBtn1->text(), QStringLiteral("导入"));
    EXPECT_EQ(window->BitBtn2->text(), QStringLiteral("退出"));
    EXPECT_EQ(window->DBGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(window->ADOQuery1->connection(), &dm.ExcelADOCon);
    EXPECT_EQ(window->ADOQuery2->connection(), &dm.ADOConnection1);
    EXPECT_EQ(window->DBGrid1->model()->rowCount(), 0);
    click(window, "BitBtn2");
    EXPECT_FALSE(window->isVisible());
    delete window;
}

TEST_F(Import, OpenShowsTheSheetAndItsCount)
{
    TfrmInData* window = openImport();
    const QString path = book(titles() << QStringLiteral("备注"), {card(QStringLiteral("张三")), card(QStringLiteral("李四"))});
    open(window, path);
    ASSERT_EQ(testhooks::shown().size(), 1);
    EXPECT_EQ(testhooks::shown()[0].kind, testhooks::Shown::OpenFile);
    EXPECT_EQ(testhooks::shown()[0].text, QStringLiteral("Excel文件(*.xls *.xlsx);;CSV文件(*.csv);;所有文件(*)"));
    EXPECT_EQ(dm.ExcelADOCon.connectionString(),
              QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path
                  + QStringLiteral(";Extended Properties=Excel 8.0;Persist Security Info=False"));
    EXPECT_EQ(window->GroupBox2->title(), QStringLiteral("EXCEL数据  共有 2 条数据"));
    QAbstractItemModel* grid = window->DBGrid1->model();
    ASSERT_EQ(grid->columnCount(), 25);
    EXPECT_EQ(grid->rowCount(), 2);
    EXPECT_EQ(grid->headerData(1, Qt::Horizontal).toString(), QStringLiteral("姓名"));
    EXPECT_EQ(grid->data(grid->index(1, 1)).toString(), QStringLiteral("李四"));
    for (int c = 0; c < 24; ++c)
        EXPECT_EQ(window->DBGrid1->columnWidth(c), 80) << c;
    // The grid keeps the sheet's order: the rows are imported in it.
    window->DBGrid1->horizontalHeader()->sectionClicked(1);
    EXPECT_EQ(grid->data(grid->index(0, 1)).toString(), QStringLiteral("张三"));

    // Cancelling the file dialog changes nothing; another workbook replaces the rows.
    click(window, "Button1");
    EXPECT_EQ(grid->rowCount(), 2);
    open(window, book(titles(), {card(QStringLiteral("王五"))}, QStringLiteral("另一个.xlsx")));
    EXPECT_EQ(grid->rowCount(), 1);
    EXPECT_EQ(window->GroupBox2->title(), QStringLiteral("EXCEL数据  共有 1 条数据"));
    EXPECT_TRUE(errors().isEmpty());
    delete window;
}

TEST_F(Import, OpenFailuresLeaveTheWindowUsable)
{
    const QString fixtures = sourceTree(__FILE__) + QStringLiteral("tests/fixtures/");
    const QString damaged = files.filePath(QStringLiteral("坏.xls"));
    writeFile(damaged, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") + QByteArray(700, '\x01'));
    const QString missing = files.filePath(QStringLiteral("不存在.xlsx"));
    const struct { QString path; QString error; int gridRows; } cases[] = {
        {missing, QStringLiteral("EXCEL文件“%1”：文件不存在.").arg(missing), 0},
        {damaged, QStringLiteral("EXCEL文件“%1”：无法读取 .xls 工作簿：").arg(damaged), 0},
        {fixtures + QStringLiteral("no_sheet1.xls"),
         QStringLiteral("EXCEL文件“%1no_sheet1.xls”：找不到工作表“Sheet1”（文件中的工作表：数据、Sheet2）.").arg(fixtures), 0},
        // Fewer than 24 columns: the sheet is shown, then the error; the count stays.
        {fixtures + QStringLiteral("few_columns.xls"), QStringLiteral("EXCEL数据只有 3 列，名片导入需要 24 列：第一行应是名片导入实例的 24 个标题."), 1},
    };
    TfrmInData* window = openImport();
    const QString good = cardBook({card(QStringLiteral("张三")), card(QStringLiteral("李四"))});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        open(window, good);
        testhooks::clear();
        open(window, c.path);
        ASSERT_EQ(errors().size(), 1);
        EXPECT_TRUE(errors()[0].startsWith(c.error)) << errors()[0].toStdString();
        EXPECT_EQ(window->DBGrid1->model()->rowCount(), c.gridRows);
        EXPECT_EQ(window->GroupBox2->title(), QStringLiteral("EXCEL数据  共有 2 条数据"));
        EXPECT_TRUE(window->isVisible());
        // Nothing of the failed workbook is imported.
        const int before = cardCount();
        testhooks::clear();
        click(window, "BitBtn1");
        EXPECT_EQ(cardCount(), before);
        EXPECT_EQ(errors().size(), 1);
    }
    // Still usable: a good workbook opens and imports.
    testhooks::clear();
    open(window, good);
    click(window, "BitBtn1");
    EXPECT_EQ(infos(), QStringList{kSaved + counts(2, 0, 0)});
    delete window;
}

TEST_F(Import, ImportBeforeOpeningAndMissingTitlesAddNothing)
{
    TfrmInData* window = openImport();
    const int before = cardCount();
    click(window, "BitBtn1");
    EXPECT_EQ(errors(), QStringList{"ADOQuery1: 数据集没有打开，无法执行此操作."});

    // 24 columns, two of them not the import's titles: named, nothing imported.
    QStringList header = titles();
    header[kNameField] = QStringLiteral("名字");
    header[kSexField] = QStringLiteral("性别 ");
    testhooks::clear();
    open(window, book(header, {card(QStringLiteral("张三")), card(QStringLiteral("李四"))}));
    EXPECT_TRUE(errors().isEmpty());
    click(window, "BitBtn1");
    EXPECT_EQ(errors(), QStringList{"EXCEL数据的第一行缺少标题 “姓名”、“性别”，没有导入任何名片."});
    EXPECT_EQ(cardCount(), before);
    EXPECT_TRUE(infos().isEmpty());
    EXPECT_TRUE(window->isVisible());
    delete window;
}

TEST_F(Import, TitleRowOnlyImportsNothingAndSucceeds)
{
    const int before = cardCount();
    TfrmInData* window = openImport();
    open(window, cardBook({}));
    EXPECT_EQ(window->GroupBox2->title(), QStringLiteral("EXCEL数据  共有 0 条数据"));
    click(window, "BitBtn1");
    EXPECT_EQ(infos(), QStringList{kSaved + counts(0, 0, 0)});
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(cardCount(), before);
    delete window;
}

TEST_F(Import, RowsBecomeCardsFoundByTitle)
{
    addCard(QStringLiteral("老朋友"));
    // The columns in another order, with a column of their own between them.
    QStringList header = titles();
    std::reverse(header.begin(), header.end());
    header.insert(5, QStringLiteral("备注"));
    QStringList values;
    for (int i = 0; i < kCardFieldCount; ++i)
        values << QStringLiteral("v%1").arg(i + 1);
    values[kCategoryField] = QStringLiteral("同事");
    values[kNameField] = QStringLiteral("张三");
    values[kSexField] = QStringLiteral("女");
    QStringList row = values;
    std::reverse(row.begin(), row.end());
    row.insert(5, QStringLiteral("不导入"));

    startMain();
    const QStringList shown = importBook(book(header, {row}));
    EXPECT_EQ(shown, QStringList{kSaved + counts(1, 0, 0)});
    const int id = lastCardId();
    EXPECT_EQ(cardValues(id), values);
    EXPECT_EQ(cardColumn(id, "theDate"), QStringLiteral("2026-03-31"));
    EXPECT_EQ(cardColumn(id, "theDel"), QStringLiteral("否"));
    // The main list was rebuilt with the new card, which quick find finds at once.
    EXPECT_TRUE(mainListNames().contains(QStringLiteral("张三")));
    main->QuickFindEdit->setText(QStringLiteral("zs"));
    main->quickFind();
    EXPECT_EQ(mainListNames(), QStringList{"张三"});
    main->QuickFindEdit->clear();
    main->quickFind();

    // Numbers and dates of the workbook arrive as their text.
    XlsxRows sheet{{}, {"客户", "李四", "男", {}, 13800138000.0, {}, 123456789, {}, {}, XlsxCell::builtin(45356, 14)}};
    for (const QString& title : titles())
        sheet[0].push_back(title);
    const QString path = files.filePath(QStringLiteral("数字.xlsx"));
    writeXlsx(path, sheet);
    importBook(path);
    const QStringList stored = cardValues(lastCardId());
    EXPECT_EQ(stored[4], QStringLiteral("13800138000"));
    EXPECT_EQ(stored[6], QStringLiteral("123456789"));
    EXPECT_EQ(stored[9], QStringLiteral("2024-03-05"));
}

TEST_F(Import, ValuesCutSkippedAndStoredAsRead)
{
    const int deleted = addCard(QStringLiteral("已删除"));
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(deleted));
    addCard(QStringLiteral("一二三四五六七八九十")); // a live card with the cut name
    QStringList full = card(QStringLiteral("全字段"));
    full[10] = QStringLiteral("火星殖民地");            // 10 bytes: kept, no lookup check
    full[18] = QStringLiteral("1234567890123");        // the postal code is cut at 50, not 10
    full[9] = QString(120, u'描');                     // 240 bytes cut to 200
    full[12] = QStringLiteral("O'Brien & it''s");      // quotes stored as typed
    const struct { QStringList row; const char* stored; } rows[] = {
        {card(QStringLiteral("一二三四五六七八九十甲乙")), nullptr},    // 24 bytes: cut to the live card's name
        {card(QStringLiteral("a一二三四五六七八九十")), "客户/a一二三四五六七八九/男"}, // no half character
        {card(QStringLiteral("重复")), "客户/重复/男"},
        {card(QStringLiteral("重复")), nullptr},                          // same sheet: one card
        {card(QStringLiteral("重复"), QStringLiteral("朋友")), "朋友/重复/男"}, // another category is another card
        {card(QString()), nullptr},                                       // no name
        {card(QStringLiteral("  ")), "客户/  /男"},                       // blanks are a name
        {card(QStringLiteral("已删除")), "客户/已删除/男"},               // only live cards count
        {card(QStringLiteral("怪值"), QStringLiteral("不存在的分类"), QStringLiteral("未知性别")), "不存在的分/怪值/未知"},
        {full, "客户/全字段/男"},
    };
    QList<QStringList> sheet;
    QStringList expected = cards();
    for (const auto& r : rows) {
        sheet << r.row;
        if (r.stored)
            expected << QString::fromUtf8(r.stored);
    }
    const QStringList shown = importBook(cardBook(sheet));
    EXPECT_EQ(shown, QStringList{kSaved + counts(7, 2, 1)});
    EXPECT_EQ(cards(), expected);
    const QStringList stored = cardValues(lastCardId());
    EXPECT_EQ(stored[10], QStringLiteral("火星殖民地"));
    EXPECT_EQ(stored[18], QStringLiteral("1234567890123"));
    EXPECT_EQ(stored[9], QString(100, u'描'));
    EXPECT_EQ(stored[12], QStringLiteral("O'Brien & it''s"));
}

TEST_F(Import, EngineErrorMidwayKeepsTheRowsBeforeIt)
{
    faultAtName();
    startMain();
    TfrmInData* window = openImport();
    open(window, cardBook({card(QStringLiteral("甲")), card(QStringLiteral("乙")), card(QString()),
                           card(QStringLiteral("坏")), card(QStringLiteral("丁"))}));
    click(window, "BitBtn1");
    ASSERT_EQ(errors().size(), 1);
    // The engine's own words follow; the server adds where it stopped.
    EXPECT_TRUE(errors()[0].startsWith(QStringLiteral("导入第 4 条数据时出错，此前导入的 2 条名片已保存：\n")));
    EXPECT_TRUE(errors()[0].contains(QStringLiteral("模拟的磁盘错误"))) << errors()[0].toStdString();
    EXPECT_TRUE(infos().isEmpty());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(cards(QStringLiteral("BName in ('甲','乙','坏','丁')")), (QStringList{"客户/甲/男", "客户/乙/男"}));
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BKey where ID in (select ID from D_B where BName in ('甲','乙'))")),
              QStringList{"2"}) << "the kept cards can be found by quick find";
    EXPECT_FALSE(dm.ADOConnection1.inTransaction());
    EXPECT_FALSE(mainListNames().contains(QStringLiteral("甲"))) << "the main list is not rebuilt";
    // Nothing is left half done: the rows after the fault import once it is gone.
    faultAtName(false);
    testhooks::clear();
    click(window, "BitBtn1");
    EXPECT_EQ(infos(), QStringList{kSaved + counts(2, 2, 1)});
    delete window;
}

// Rows go in by lots, each committed with its cards' search keys: a row that repeats one of
// an earlier lot is still skipped, and an engine error in a later lot keeps every lot before
// it, with keys, and counts them all.
TEST_F(Import, RowsCommittedInLotsKeepKeysAndDuplicatesAcrossLots)
{
    faultAtName();
    startMain(); // the start makes the key table of a file
    struct Case {
        int chunkRows;
        QStringList names; // 坏 fails
        int stored;        // cards kept, all of them keyed
        const char* error; // the start of the error shown; none: the import finished
    };
    const Case cases[] = {
        {2, {"甲", "乙", "甲", "丙", "丁"}, 4, nullptr},
        {1, {"甲", "甲", "乙"}, 2, nullptr},
        {2, {"甲", "乙", "丙", "坏", "丁"}, 3, "导入第 4 条数据时出错，此前导入的 3 条名片已保存："},
        {3, {"甲", "乙", "甲", "坏", "丁"}, 2, "导入第 4 条数据时出错，此前导入的 2 条名片已保存："},
        {4, {"坏", "甲"}, 0, "导入第 1 条数据时出错，此前导入的名片未能保存，数据库中没有增加名片："},
    };
    std::unique_ptr<Query> query(dm.newQuery(nullptr, "ImportQuery"));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        // Names of this case alone, so earlier cases' cards are no duplicates.
        const QString tag = QString::number(i);
        const int firstId = lastCardId();
        CardImportCalls calls;
        calls.read = [&](int row, CardValues& values) {
            const QStringList fields = card(c.names[row] == u"坏" ? c.names[row] : c.names[row] + tag);
            std::copy(fields.begin(), fields.end(), values.begin());
        };
        calls.entryDate = [] { return QStringLiteral("2026-03-31"); };
        calls.progress = [](int) { return true; };
        calls.chunkRows = c.chunkRows;
        QString error;
        try {
            const CardImportResult result = importCards(dm.ADOConnection1, *query, static_cast<int>(c.names.size()), calls);
            EXPECT_EQ(result.counts.imported, c.stored) << i;
            EXPECT_EQ(result.counts.imported + result.counts.duplicates, c.names.size()) << i;
        } catch (const EngineError& e) {
            error = e.message();
        }
        if (c.error)
            EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.error))) << i << ": " << error.toStdString();
        else
            EXPECT_EQ(error, QString()) << i;
        EXPECT_FALSE(dm.ADOConnection1.inTransaction()) << i;
        const QString after = QStringLiteral("ID > %1").arg(firstId);
        EXPECT_EQ(cards(after).size(), c.stored) << i;
        EXPECT_EQ(column(QStringLiteral("select count(*) from D_BKey where ") + after), QStringList{QString::number(c.stored)}) << i;
    }
}

TEST_F(Import, DiskFullMidwaySaysWhatTheDatabaseReallyHolds)
{
    OSTREL_FILE_ONLY("the file's page limit stands for a full disk");
    startMain();
    // A full disk: the engine undoes the failed row alone or the whole transaction by itself
    // (which, depends on whether the row's triggers need a statement journal).
    const QString pages = column(QStringLiteral("PRAGMA page_count")).first();
    exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages.toInt() + 3));
    QList<QStringList> rows;
    for (int i = 0; i < 200; ++i) {
        rows << card(QStringLiteral("满%1").arg(i));
        rows.last()[9] = QString(100, u'描');
    }
    TfrmInData* window = openImport();
    open(window, cardBook(rows));
    const int before = cards().size();
    click(window, "BitBtn1");
    ASSERT_EQ(errors().size(), 1);
    const int stored = cards().size() - before;
    const QString said = stored == 0 ? QStringLiteral("此前导入的名片未能保存，数据库中没有增加名片")
                                     : QStringLiteral("此前导入的 %1 条名片已保存").arg(stored);
    EXPECT_TRUE(errors().first().contains(said)) << errors().first().toStdString();
    EXPECT_TRUE(errors().first().contains(QStringLiteral("磁盘已满"))) << errors().first().toStdString();
    EXPECT_LT(stored, rows.size());
    delete window;
}

TEST_F(Import, LargeImportShowsProgressAndCanBeCancelled)
{
    // The rest after the cancel is more than the main window's quick-find index takes in
    // card by card: it reads itself afresh.
    const int rows = TfrmInData::kProgressRows + 1500;
    QList<QStringList> sheet;
    for (int i = 0; i < rows; ++i)
        sheet << card(QStringLiteral("名%1").arg(i));
    startMain();
    main->waitForQuickFindIndex();
    // Quick find for the card of row, through the index the main window has once it is in.
    auto foundByIndex = [&](int row) {
        main->waitForQuickFindIndex();
        EXPECT_TRUE(main->hasQuickFindIndex());
        main->QuickFindEdit->setText(QStringLiteral("名%1").arg(row));
        main->quickFind();
        const QStringList found = mainListNames();
        main->QuickFindEdit->clear();
        main->quickFind();
        return found;
    };
    TfrmInData* window = openImport();
    open(window, cardBook(sheet));
    const int before = cardCount();
    // The grid reads the rows where it is scrolled to: the last, the middle, the first again.
    QAbstractItemModel* grid = window->DBGrid1->model();
    for (const int r : {rows - 1, rows / 2, 0})
        EXPECT_EQ(grid->data(grid->index(r, kNameField)).toString(), QStringLiteral("名%1").arg(r));

    bool progressShown = false;
    const int cancelledAt = cancelledPast(window, 500, [&] { click(window, "BitBtn1"); }, &progressShown);

    ASSERT_GE(cancelledAt, 500);
    ASSERT_LT(cancelledAt, rows);
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(infos(), QStringList{QStringLiteral("数据导入 已取消！\n导入 %1 条，重复跳过 0 条，无姓名跳过 0 条，未处理 %2 条。")
                                       .arg(cancelledAt)
                                       .arg(rows - cancelledAt)});
    EXPECT_EQ(cardCount(), before + cancelledAt);
    EXPECT_TRUE(mainListNames().contains(QStringLiteral("名0")));
    EXPECT_EQ(foundByIndex(cancelledAt - 1), QStringList{QStringLiteral("名%1").arg(cancelledAt - 1)});
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->findChild<QProgressDialog*>(), nullptr);

    // Imported again, the kept rows are duplicates and the rest arrive.
    testhooks::clear();
    click(window, "BitBtn1");
    EXPECT_EQ(infos(), QStringList{kSaved + counts(rows - cancelledAt, cancelledAt, 0)});
    EXPECT_EQ(cardCount(), before + rows);
    EXPECT_EQ(foundByIndex(rows - 1), QStringList{QStringLiteral("名%1").arg(rows - 1)});
    delete window;
}

TEST_F(Import, XlsAndCsvWorkbooks)
{
    const QString xls = sourceTree(__FILE__) + QStringLiteral("tests/fixtures/cards.xls");
    EXPECT_EQ(importBook(xls), QStringList{kSaved + counts(2, 0, 1)});
    EXPECT_EQ(cards(QStringLiteral("BName in ('张三','李四')")), (QStringList{"客户/张三/男", "/李四/"}));
    const QStringList zhang = cardValues(column(QStringLiteral("select ID from D_B where BName='张三'")).first().toInt());
    EXPECT_EQ(zhang[4], QStringLiteral("13800138000"));
    EXPECT_EQ(zhang[18], QStringLiteral("100080"));

    // A CSV saved by a Chinese Excel: GBK text, quoted fields.
    QString text = titles().join(u',') + QStringLiteral("\r\n");
    QStringList row = card(QStringLiteral("赵六"), QStringLiteral("朋友"), QStringLiteral("女"));
    row[9] = QStringLiteral("\"说明,含逗号\"");
    text += row.join(u',') + QStringLiteral("\r\n");
    const QString csv = files.filePath(QStringLiteral("名片.csv"));
    writeFile(csv, gbkBytes(text));
    testhooks::clear();
    EXPECT_EQ(importBook(csv), QStringList{kSaved + counts(1, 0, 0)});
    EXPECT_EQ(cardValues(lastCardId())[9], QStringLiteral("说明,含逗号"));
}

TEST_F(Import, SampleWorkbookBesideTheProgramImports)
{
    const QString sample = QCoreApplication::applicationDirPath() + QStringLiteral("/../名片导入实例.xlsx");
    ASSERT_TRUE(QFileInfo::exists(sample)) << "the build delivers it";
    EXPECT_EQ(readWorkbook(sample, QStringLiteral("Sheet1")).columns(), titles());
    EXPECT_EQ(importBook(sample), QStringList{kSaved + counts(2, 0, 0)});
    EXPECT_EQ(cards(QStringLiteral("BName in ('张伟','王芳')")), (QStringList{"客户/张伟/男", "朋友/王芳/女"}));
}

TEST_F(Import, MainWindowOpensIt)
{
    startMain();
    ASSERT_TRUE(main->SpeedButton7->isEnabled());
    QAction* item = main->PopupMenu1->findChild<QAction*>(QStringLiteral("I1"));
    ASSERT_NE(item, nullptr);
    ASSERT_TRUE(item->isEnabled());
    for (const std::function<void()>& command : std::initializer_list<std::function<void()>>{
             [&] { QTest::mouseClick(main->SpeedButton7, Qt::LeftButton); }, [&] { item->trigger(); }}) {
        QPointer<QDialog> shown;
        testhooks::queueModal([&](QDialog* dialog) {
            shown = dialog;
            EXPECT_NE(qobject_cast<TfrmInData*>(dialog), nullptr);
            EXPECT_EQ(dialog->parent(), main.get());
            EXPECT_TRUE(dialog->isVisible());
        });
        command();
        EXPECT_EQ(testhooks::pendingModals(), 0);
        EXPECT_TRUE(shown.isNull()) << "deleted when closed";
    }
}

TEST_F(Import, VCardFilesImportAsWorkbookRowsDo)
{
    addCard(QStringLiteral("老朋友"));
    startMain();
    const int before = cardCount();
    const QString path = files.filePath(QStringLiteral("联系人.vcf"));
    auto card = [](const QString& lines) { return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\n%1END:VCARD\r\n").arg(lines).toUtf8(); };
    writeFile(path, card(QStringLiteral("FN:老朋友\r\nX-GENDER:M\r\n")) // a live card: duplicate
                        + card(QStringLiteral("FN:一二三四五六七八九十甲乙\r\nNOTE:") + QString(120, u'x') + QString(60, u'描') + QStringLiteral("\r\n"))
                        + card(QStringLiteral("ORG:没有姓名\r\n")) // nameless
                        + card(QStringLiteral("FN:O'Brien\r\nTEL;TYPE=CELL:13800138000\r\nCATEGORIES:朋友\r\n"))
                        + card(QStringLiteral("FN:O'Brien\r\nCATEGORIES:朋友\r\n"))); // an earlier row: duplicate
    testhooks::queueFile(path);
    main->ImportVCardAction->trigger();
    ASSERT_EQ(infos(), QStringList{kSaved + counts(2, 2, 1)});
    EXPECT_EQ(testhooks::shown().first().text, QStringLiteral("vCard文件(*.vcf *.vcard);;所有文件(*)"));
    EXPECT_EQ(cardCount(), before + 2);
    // Cut as the workbook import cuts, at a character boundary; the category of D_Mr when
    // the file names none.
    EXPECT_EQ(cards(QStringLiteral("ID > %1").arg(lastCardId() - 2)), (QStringList{"客户/一二三四五六七八九十/", "朋友/O'Brien/"}));
    EXPECT_EQ(cardValues(lastCardId() - 1)[9], QString(120, u'x') + QString(40, u'描'));
    // The list was rebuilt, and quick find knows the new cards.
    main->QuickFindEdit->setText(QStringLiteral("13800138000"));
    main->quickFind();
    EXPECT_EQ(mainListNames(), QStringList{"O'Brien"});

    // Files that hold no card say so and add nothing; a cancelled dialog does nothing.
    const struct { QByteArray bytes; const char* message; } refused[] = {
        {"", "所选文件是空的，没有可导入的名片。"},
        {"\r\n\r\n", "所选文件是空的，没有可导入的名片。"},
        {"分类,姓名\n客户,张三\n", "所选文件不是vCard文件。"},
        {QByteArray("PK\x03\x04\0\0\x08\0", 8), "所选文件不是vCard文件。"},
    };
    for (const auto& r : refused) {
        testhooks::clear();
        writeFile(path, r.bytes);
        testhooks::queueFile(path);
        main->ImportVCardAction->trigger();
        EXPECT_EQ(infos(), QStringList{QString::fromUtf8(r.message)});
        EXPECT_TRUE(errors().isEmpty());
    }
    testhooks::clear();
    main->ImportVCardAction->trigger();
    EXPECT_EQ(testhooks::shown().size(), 1);
    EXPECT_EQ(cardCount(), before + 2);
}

TEST_F(Import, LargeVCardFileImportsInOrderAndCanBeCancelled)
{
    // More cards than are read ahead of the import, so the reading is waiting when cancelled.
    const int rows = TfrmInData::kProgressRows + 1500;
    QByteArray text;
    for (int i = 0; i < rows; ++i)
        text += QStringLiteral("BEGIN:VCARD\r\nFN:名%1\r\nEND:VCARD\r\n").arg(i).toUtf8();
    const QString path = files.filePath(QStringLiteral("多.vcf"));
    writeFile(path, text);
    startMain();
    const int before = cardCount();
    testhooks::queueFile(path);
    const int cancelledAt = cancelledPast(main.get(), 500, [&] { main->ImportVCardAction->trigger(); });
    ASSERT_GE(cancelledAt, 500);
    ASSERT_LT(cancelledAt, rows);
    EXPECT_EQ(infos(), QStringList{QStringLiteral("数据导入 已取消！\n") + counts(cancelledAt, 0, 0).chopped(1)
                                   + QStringLiteral("，未处理 %1 条。").arg(rows - cancelledAt)});
    EXPECT_EQ(cardCount(), before + cancelledAt);

    // Imported again, the kept cards are duplicates and the rest arrive in the file's order.
    testhooks::clear();
    testhooks::queueFile(path);
    main->ImportVCardAction->trigger();
    EXPECT_EQ(infos(), QStringList{kSaved + counts(rows - cancelledAt, cancelledAt, 0)});
    QStringList expected;
    for (int i = 0; i < rows; ++i)
        expected << QStringLiteral("客户/名%1/").arg(i);
    EXPECT_EQ(cards(QStringLiteral("ID > %1").arg(lastCardId() - rows)), expected);
}

TEST_F(Import, VCardExportOfTheListComesBackWholeIntoAnEmptyDatabase)
{
    // Every field filled to its import limit, with quotes and Chinese; a card the search
    // leaves out of the list.
    QStringList full;
    for (const CardField& field : cardFields()) {
        QString value = QStringLiteral("张'\"%1,;").arg(field.number);
        while (gbkLength(value) + 2 <= field.importCut)
            value += QChar(u"名片管理"[value.size() % 4]);
        full << gbkCut(value + u'x', field.importCut);
    }
    QStringList other = full;
    other[kNameField] = QStringLiteral("张小");
    other[10] = QStringLiteral("北京");
    other[21].clear();
    exec(insertCardSql(QStringLiteral("2026-01-01"), full));
    exec(insertCardSql(QStringLiteral("2026-01-02"), other));
    addCard(QStringLiteral("李四"));
    startMain();
    main->Edit3->setText(QStringLiteral("张"));
    main->BitBtn1Click();
    ASSERT_EQ(main->ADOQuery1->recordCount(), 2);

    const QString path = files.filePath(QStringLiteral("导出.vcf"));
    testhooks::queueFile(path);
    main->ExportVCardAction->trigger();
    EXPECT_EQ(infos(), QStringList{QStringLiteral("已导出 2 张名片到 %1").arg(path)});
    EXPECT_TRUE(errors().isEmpty());

    exec(QStringLiteral("delete from D_B"));
    testhooks::clear();
    testhooks::queueFile(path);
    main->ImportVCardAction->trigger();
    EXPECT_EQ(infos(), QStringList{kSaved + counts(2, 0, 0)});
    // In the list's order, newest first.
    ASSERT_EQ(cardCount(), 2);
    EXPECT_EQ(cardValues(lastCardId() - 1), other);
    EXPECT_EQ(cardValues(lastCardId()), full);

    // A list without cards writes no file.
    testhooks::clear();
    main->Edit3->setText(QStringLiteral("没有这个人"));
    main->BitBtn1Click();
    main->ExportVCardAction->trigger();
    EXPECT_EQ(infos(), QStringList{"当前列表中没有名片，没有导出。"});
}

TEST_F(Import, Screenshot)
{
    const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOTS");
    if (dir.isEmpty())
        GTEST_SKIP() << "set OSTREL_SCREENSHOTS to a folder to write the picture";
    TfrmInData* window = openImport();
    open(window, QCoreApplication::applicationDirPath() + QStringLiteral("/../名片导入实例.xlsx"));
    EXPECT_TRUE(window->grab().save(QDir(dir).filePath(QStringLiteral("import.png"))));
    delete window;

    // The 数据 menu with the vCard commands, and the progress of a vCard import.
    QMenu* menu = main->findChild<QMenu*>(QStringLiteral("DataMenu"));
    menu->popup(QPoint(0, 0));
    EXPECT_TRUE(menu->grab().save(QDir(dir).filePath(QStringLiteral("data_menu.png"))));
    menu->close();
    QByteArray text;
    for (int i = 0; i < TfrmInData::kProgressRows * 3; ++i)
        text += QStringLiteral("BEGIN:VCARD\r\nFN:名%1\r\nEND:VCARD\r\n").arg(i).toUtf8();
    const QString path = files.filePath(QStringLiteral("多.vcf"));
    writeFile(path, text);
    bool grabbed = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        auto* progress = main->findChild<QProgressDialog*>(QStringLiteral("ProgressDialog"));
        if (!grabbed && progress && progress->value() > 1000)
            grabbed = progress->grab().save(QDir(dir).filePath(QStringLiteral("vcard_progress.png")));
    });
    watcher.start(0);
    testhooks::queueFile(path);
    main->ImportVCardAction->trigger();
    EXPECT_TRUE(grabbed);
}
