#include "engine/query.h"
#include "ui/common/query_model.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "test_database.h"
#include "ui/common/db_grid.h"

#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QPalette>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

// Every case runs on a list read at once and on a paged one.
class Grid : public ::testing::TestWithParam<bool> {
protected:
    Grid()
    {
        for (const char* name : {"王五", "李四", "张三"})
            db->execute(QStringLiteral("insert into D_B(BName, BSex, theDel) values('%1','男','否')").arg(QString::fromUtf8(name)));
        grid.setQuery(&query);
        query.setPaged(GetParam());
        query.run(QStringLiteral("select ID, BName as 姓名, BSex as 性别 from D_B order by ID"));
    }

    QString titleState(int column) const
    {
        const QAbstractItemModel* model = grid.model();
        const QColor colour = model->headerData(column, Qt::Horizontal, Qt::ForegroundRole).value<QColor>();
        const bool bold = model->headerData(column, Qt::Horizontal, Qt::FontRole).value<QFont>().bold();
        if (colour == QColor(255, 0, 0) && bold)
            return QStringLiteral("red bold");
        if (colour == QColor(0, 0, 255) && bold)
            return QStringLiteral("blue bold");
        if (colour == QApplication::palette().color(QPalette::WindowText) && !bold)
            return QStringLiteral("plain");
        return QStringLiteral("other");
    }

    QStringList column(int c) const
    {
        QStringList values;
        for (int r = 0; r < grid.model()->rowCount(); ++r)
            values << grid.model()->index(r, c).data().toString();
        return values;
    }

    test::TestDatabase copy;
    std::unique_ptr<Database> db = test::cardDatabaseFor(copy).database;
    Query query{db.get()};
    DBGrid grid;
};

} // namespace

TEST_P(Grid, TitleClicksCycleAscendingDescendingAscending)
{
    const struct {
        int click;
        const char* sort;
        const char* titles; // 姓名 then 性别
        const char* names;
    } steps[] = {
        {1, "姓名 ASC", "red bold,plain", "李四,王五,张三"},
        {1, "姓名 DESC", "blue bold,plain", "张三,王五,李四"},
        {1, "姓名 ASC", "red bold,plain", "李四,王五,张三"},
        {2, "性别 ASC", "plain,red bold", "王五,李四,张三"},
        {1, "姓名 ASC", "red bold,plain", "李四,王五,张三"},
    };
    for (const auto& step : steps) {
        grid.titleClick(step.click);
        EXPECT_EQ(query.sort(), QString::fromUtf8(step.sort));
        EXPECT_EQ(titleState(1) + u',' + titleState(2), QString::fromUtf8(step.titles)) << step.sort;
        EXPECT_EQ(column(1).join(u','), QString::fromUtf8(step.names)) << step.sort;
    }
}

TEST_P(Grid, RefreshBringsStatementOrderAndPlainTitlesBack)
{
    grid.titleClick(1);
    query.run(query.sql());
    EXPECT_EQ(column(1).join(u','), QStringLiteral("王五,李四,张三"));
    EXPECT_EQ(titleState(1), QStringLiteral("plain"));
    EXPECT_EQ(query.sort(), QString());
}

TEST_P(Grid, ShadingFollowsTheRecordNumberInTheOrderShown)
{
    const QColor green(191, 255, 223);
    const QColor tip = QToolTip::palette().color(QPalette::ToolTipBase);
    auto shades = [&] {
        QList<QColor> colours;
        for (int r = 0; r < 3; ++r)
            colours << grid.model()->index(r, 1).data(Qt::BackgroundRole).value<QColor>();
        return colours;
    };
    EXPECT_EQ(shades(), (QList<QColor>{green, tip, green}));
    grid.titleClick(1);
    EXPECT_EQ(shades(), (QList<QColor>{green, tip, green}));
    // The first shown row is now 李四, the second of the statement's order.
    EXPECT_EQ(grid.model()->index(0, 1).data().toString(), QStringLiteral("李四"));
}

TEST_P(Grid, GridAndQueryShareTheCurrentRow)
{
    grid.setColumnHidden(0, true);
    query.last();
    EXPECT_EQ(grid.currentIndex().row(), 2);
    EXPECT_FALSE(grid.isColumnHidden(grid.currentIndex().column()));
    grid.setCurrentIndex(grid.model()->index(0, 1));
    EXPECT_EQ(query.recNo(), 1);
    EXPECT_EQ(query.text(QStringLiteral("姓名")), QStringLiteral("王五"));
    // A sort keeps the same card current.
    grid.titleClick(1);
    EXPECT_EQ(query.text(QStringLiteral("姓名")), QStringLiteral("王五"));
    EXPECT_EQ(grid.currentIndex().row(), 1);
    // The grid's edits nothing.
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_P(Grid, ColumnWidthsAreTakenExactly)
{
    for (int width : {0, 1, 7, 24, 25, 999}) {
        grid.setColumnWidth(1, width);
        EXPECT_EQ(grid.columnWidth(1), width);
    }
}

TEST_P(Grid, RefreshPutsTheCurrentCellOnTheFirstColumnThatCanBeSeen)
{
    // As a window refreshes: run the statement, hide the ID, then set the widths.
    const struct {
        const char* statement;
        int zeroWidth; // a column given no width, or -1
        int column;    // where the current cell ends up
    } cases[] = {
        {"select ID, BName as 姓名, BSex as 性别 from D_B order by ID", -1, 1},
        {"select ID, BName as 姓名, BSex as 性别 from D_B order by ID", 1, 2},
        {"select ID, BName as 姓名 from D_B where BName = '李四'", -1, 1}, // one row
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        query.run(QString::fromUtf8(c.statement));
        grid.setColumnHidden(0, true);
        for (int column = 1; column < grid.model()->columnCount(); ++column)
            grid.setColumnWidth(column, column == c.zeroWidth ? 0 : 80);
        const QModelIndex current = grid.currentIndex();
        EXPECT_EQ(current.row(), 0);
        EXPECT_EQ(current.column(), c.column);
        EXPECT_TRUE(grid.selectionModel()->isSelected(current)); // drawn as the selected cell
        EXPECT_EQ(query.recNo(), 1);
    }
    // A later move keeps the column.
    query.last();
    EXPECT_EQ(grid.currentIndex().column(), 1);
}

TEST(GridCells, AHugeValueIsShownCutWithoutSplittingACharacter)
{
    const struct {
        std::string value;
        QString shown;
    } cases[] = {
        {"", QString()},
        {"short", QStringLiteral("short")},
        {std::string(kShownCellBytes, 'a'), QString(static_cast<qsizetype>(kShownCellBytes), u'a')},
        {std::string(10 * 1024 * 1024, 'b'), QString(static_cast<qsizetype>(kShownCellBytes), u'b') + u'…'},
        {QString(1000, u'张').toStdString(), QString(kShownCellBytes / 3, u'张') + u'…'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shownText(c.value), c.shown) << c.value.size();
}

INSTANTIATE_TEST_SUITE_P(ReadAtOnceOrWindowed, Grid, ::testing::Bool());
