#include "app_fixture.h"
#include "history/history_commands.h"
#include "history/history_windows.h"
#include "engine/query.h"
#include "ui/common/click_label.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "ui_helpers.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace ostrel;

namespace {

class History : public test::AppFixture {
protected:
    void SetUp() override
    {
        setToday({2026, 3, 31});
        startMain();
    }

    // The first column of every listed row, in the order shown.
    static QStringList listed(Query* query, const QString& column)
    {
        QStringList values;
        const int index = query->rows().columnIndex(column);
        for (int r = 0; r < query->rows().rowCount(); ++r)
            values << query->rows().text(r, index);
        return values;
    }
    void addAnniversary(int card, const QString& date, const QString& memo = QStringLiteral("生日"))
    {
        exec(QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'%2','%3')").arg(card).arg(date, memo));
    }
    void addVisit(int card, const QString& date, const QString& memo = QStringLiteral("拜访"))
    {
        exec(QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'%2','电话','%3')")
                 .arg(card)
                 .arg(date, memo));
    }
};

// Both record windows share their behaviour; each case names its table and texts.
struct RecordsCase {
    bool visits;
    const char* table;
    const char* memoColumn;
    const char* emptyMessage;
    const char* savedMessage;
};

const RecordsCase kRecordCases[] = {
    {true, "DList", "LMemo", "拜访内容 不能为空！", "恭喜！恭喜！ 拜访信息 保存成功！"},
    {false, "DJNR", "JMemo", "纪念说明 不能为空！", "恭喜！恭喜！ 纪念日信息 保存成功！"},
};

std::unique_ptr<CardRecordsWindow> recordsWindow(TfrmMain& main, const RecordsCase& c, int card)
{
    std::unique_ptr<CardRecordsWindow> window;
    if (c.visits)
        window = std::make_unique<TfrmList>(main.dataModule(), &main);
    else
        window = std::make_unique<TfrmJNR>(main.dataModule(), &main);
    main.follow(*window);
    window->Lab_ID->setText(QString::number(card));
    window->show();
    return window;
}

TEST_F(History, SavingChecksContentKeepsDateAndKindAndStoresDuplicates)
{
    for (const RecordsCase& c : kRecordCases) {
        SCOPED_TRACE(c.table);
        testhooks::clear();
        const int card = addCard(QStringLiteral("张三"));
        auto window = recordsWindow(*main, c, card);
        const QString rows = QStringLiteral("select %1 from %2 where DID=%3").arg(c.memoColumn, c.table).arg(card);

        QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
        EXPECT_EQ(testhooks::shownTexts(), QStringList{QString::fromUtf8(c.emptyMessage)});
        EXPECT_TRUE(column(rows).isEmpty());
        EXPECT_EQ(window->focusWidget(), window->Edit2);

        // Blanks are content; the same texts twice give two rows.
        window->Edit1->setText(QStringLiteral("2026-03-01"));
        if (auto* list = dynamic_cast<TfrmList*>(window.get())) {
            list->ComboBox1->setEditText(QString());
            test::typeText(list->ComboBox1->lineEdit(), QStringLiteral("开会"));
        }
        for (int i = 0; i < 2; ++i) {
            test::typeText(window->Edit2, QStringLiteral("  "));
            QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
        }
        EXPECT_EQ(column(rows), (QStringList{"  ", "  "}));
        EXPECT_EQ(testhooks::shownTexts().last(), QString::fromUtf8(c.savedMessage));
        EXPECT_EQ(window->Edit1->text(), QStringLiteral("2026-03-01"));
        EXPECT_TRUE(window->Edit2->text().isEmpty());
        EXPECT_EQ(window->focusWidget(), window->Edit2);
        EXPECT_EQ(window->ADOQuery1->recordCount(), 2);
        if (c.visits) {
            EXPECT_EQ(static_cast<TfrmList*>(window.get())->ComboBox1->currentText(), QStringLiteral("开会"));
            EXPECT_EQ(column(QStringLiteral("select LType from DList where DID=%1").arg(card)),
                      (QStringList{"开会", "开会"}));
        }

        // A quote is part of the content, not of the statement.
        test::typeText(window->Edit2, QStringLiteral("O'Brien's 礼物"));
        QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
        EXPECT_TRUE(column(rows).contains(QStringLiteral("O'Brien's 礼物")));
        window->close();
    }
}

TEST_F(History, LooseDatesAreSavedInTheStoredFormAndImpossibleOnesRefused)
{
    const struct {
        const char* typed;
        const char* stored; // null: refused, nothing written
    } dates[] = {
        {"2024-6-5", "2024-06-05"},
        {"20000229", "2000-02-29"},
        {"2024-02-30", nullptr},
        {"明天", nullptr},
        {"", nullptr},
    };
    for (const RecordsCase& c : kRecordCases) {
        const int card = addCard(QStringLiteral("张三"));
        auto window = recordsWindow(*main, c, card);
        const QString dateName = c.visits ? QStringLiteral("拜访日期") : QStringLiteral("纪念日期");
        const QString rows = QStringLiteral("select %1 from %2 where DID=%3")
                                 .arg(c.visits ? QStringLiteral("LDate") : QStringLiteral("JDate"), c.table)
                                 .arg(card);
        for (const auto& d : dates) {
            SCOPED_TRACE(std::string(c.table) + ' ' + d.typed);
            testhooks::clear();
            exec(QStringLiteral("delete from %1").arg(c.table));
            window->Edit1->setText(QString::fromUtf8(d.typed));
            test::typeText(window->Edit2, QStringLiteral("记下"));
            QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
            if (d.stored) {
                EXPECT_EQ(column(rows), QStringList{QString::fromUtf8(d.stored)});
                EXPECT_EQ(window->Edit1->text(), QString::fromUtf8(d.stored));
                EXPECT_EQ(testhooks::shownTexts(), QStringList{QString::fromUtf8(c.savedMessage)});
            } else {
                EXPECT_TRUE(column(rows).isEmpty());
                ASSERT_EQ(testhooks::shownTexts().size(), 1);
                EXPECT_TRUE(testhooks::shownTexts().first().startsWith(dateName)) << testhooks::shownTexts().first().toStdString();
                EXPECT_EQ(window->focusWidget(), window->Edit1);
                EXPECT_EQ(window->Edit2->text(), QStringLiteral("记下")); // what was typed stays
                window->Edit2->clear();
            }
        }
        window->close();
    }
}

TEST_F(History, DatesStoredLooselyByEarlierVersionsAreFoundAfterTheUpgrade)
{
    const int card = addCard(QStringLiteral("A"));
    addAnniversary(card, QStringLiteral("2001-4-2"));
    addAnniversary(card, QStringLiteral("1999/04/05"));
    addAnniversary(card, QStringLiteral("明天"));
    addVisit(card, QStringLiteral("2026.3.30"));
    startMain(); // the next start of the program
    EXPECT_EQ(column(QStringLiteral("select JDate from DJNR order by ID")), (QStringList{"2001-04-02", "1999-04-05", "明天"}));
    EXPECT_EQ(column(QStringLiteral("select LDate from DList")), QStringList{"2026-03-30"});

    QStringList found;
    testhooks::queueModal([&](QDialog* shown) { found = listed(static_cast<TfrmJNRV*>(shown)->ADOQuery1, QStringLiteral("纪念日期")); });
    EXPECT_EQ(main->anniversaryReminder(), 2); // from 03-31 to 04-07
    EXPECT_EQ(found, (QStringList{"2001-04-02", "1999-04-05"}));

    TfrmListV visits(dm, main.get());
    visits.CheckBox1->setChecked(true);
    visits.show();
    EXPECT_EQ(listed(visits.ADOQuery1, QStringLiteral("拜访日期")), QStringList{"2026-03-30"});
}

TEST_F(History, NewestFirstAndRemovalAsksWithNoAsDefault)
{
    for (const RecordsCase& c : kRecordCases) {
        SCOPED_TRACE(c.table);
        testhooks::clear();
        const int card = addCard(QStringLiteral("李四"));
        auto window = recordsWindow(*main, c, card);

        // Nothing listed: nothing to ask.
        window->D1->trigger();
        EXPECT_TRUE(testhooks::shown().isEmpty());

        // The columns named: a server numbers a row only when its ID is left out.
        const QString insert = c.visits ? QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'%2','电话','x')")
                                        : QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'%2','x')");
        exec(insert.arg(card).arg(QStringLiteral("2025-01-01")));
        exec(insert.arg(card).arg(QStringLiteral("2026-02-01")));
        window->Ref();
        const QString dateTitle = c.visits ? QStringLiteral("拜访日期") : QStringLiteral("纪念日期");
        EXPECT_EQ(listed(window->ADOQuery1, dateTitle), (QStringList{"2026-02-01", "2025-01-01"}));
        EXPECT_TRUE(window->DBGrid1->isColumnHidden(0));

        testhooks::queueAnswer(false);
        window->D1->trigger();
        ASSERT_EQ(testhooks::shown().size(), 1);
        EXPECT_EQ(testhooks::shown().first().title, QStringLiteral("注销名片"));
        EXPECT_EQ(window->ADOQuery1->recordCount(), 2);

        testhooks::queueAnswer(true);
        window->D1->trigger();
        EXPECT_EQ(listed(window->ADOQuery1, dateTitle), (QStringList{"2025-01-01"}));
        EXPECT_EQ(column(QStringLiteral("select count(*) from %1 where DID=%2").arg(c.table).arg(card)),
                  QStringList{"1"});
        window->close();
    }
}

TEST_F(History, ClosingRefreshesTheMainWindowCounters)
{
    const int card = addCard(QStringLiteral("王五"));
    main->myRef();
    testhooks::queueModal([](QDialog* shown) {
        auto* window = static_cast<TfrmList*>(shown);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("王五 拜访记录"));
        EXPECT_EQ(window->GroupBox2->title(), QStringLiteral("王五 拜访记录"));
        test::typeText(window->Edit2, QStringLiteral("谈合同"));
        QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
        QTest::mouseClick(window->BitBtn2, Qt::LeftButton);
    });
    main->History->openVisits(QString::number(card), QStringLiteral("王五"));
    EXPECT_EQ(main->Label5->text(), QStringLiteral("拜访次数：1"));

    testhooks::queueModal([](QDialog* shown) {
        auto* window = static_cast<TfrmJNR*>(shown);
        EXPECT_EQ(window->GroupBox1->title(), QStringLiteral("王五 纪念日"));
        test::typeText(window->Edit2, QStringLiteral("生日"));
        QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
        QTest::keyClick(window, Qt::Key_Escape);
    });
    main->History->openAnniversaries(QString::number(card), QStringLiteral("王五"));
    EXPECT_EQ(main->Label2->text(), QStringLiteral("纪念日数：1"));
    EXPECT_EQ(testhooks::pendingModals(), 0);
}

TEST_F(History, EnterInTheContentBoxDoesNotSave)
{
    const int card = addCard(QStringLiteral("赵六"));
    auto window = recordsWindow(*main, kRecordCases[0], card);
    test::typeText(window->Edit2, QStringLiteral("半句"));
    QTest::keyClick(window->Edit2, Qt::Key_Return);
    EXPECT_TRUE(column(QStringLiteral("select ID from DList where DID=%1").arg(card)).isEmpty());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(History, CardIdThatIsNotANumberIsRefused)
{
    const int card = addCard(QStringLiteral("孙七"));
    auto window = recordsWindow(*main, kRecordCases[0], card);
    window->Lab_ID->setText(QStringLiteral("1 or 1=1"));
    test::typeText(window->Edit2, QStringLiteral("x"));
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
    ASSERT_FALSE(testhooks::shown().isEmpty());
    EXPECT_EQ(testhooks::shown().last().kind, testhooks::Shown::Error);
    EXPECT_TRUE(column(QStringLiteral("select ID from DList")).isEmpty());
}

TEST_F(History, VisitOverviewListsDeletedCardsNotOrphansAndNarrowsByDate)
{
    const int live = addCard(QStringLiteral("A"));
    const int deleted = addCard(QStringLiteral("B"));
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(deleted));
    addVisit(live, QStringLiteral("2026-03-15"));
    addVisit(deleted, QStringLiteral("2026-01-10"));
    addVisit(99999, QStringLiteral("2026-03-20"));

    TfrmListV window(dm, main.get());
    EXPECT_EQ(window.Edit1->text(), QStringLiteral("2026-02-28"));
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("2026-03-31"));
    window.show();
    EXPECT_EQ(listed(window.ADOQuery1, QStringLiteral("姓名")), (QStringList{"B", "A"}));
    EXPECT_EQ(window.Label1->text(), QStringLiteral("拜访记录：2"));
    EXPECT_TRUE(window.DBGrid1->isColumnHidden(5));

    QTest::mouseClick(window.CheckBox1, Qt::LeftButton);
    QTest::keyClick(window.Edit1, Qt::Key_Return);
    EXPECT_EQ(listed(window.ADOQuery1, QStringLiteral("拜访日期")), QStringList{"2026-03-15"});
    EXPECT_EQ(window.Label1->text(), QStringLiteral("拜访记录：1"));

    // A loosely typed bound is searched in the stored form; an impossible one is refused.
    window.Edit1->setText(QStringLiteral("2026/1/1"));
    QTest::keyClick(window.Edit1, Qt::Key_Return);
    EXPECT_EQ(window.Edit1->text(), QStringLiteral("2026-01-01"));
    EXPECT_EQ(window.Label1->text(), QStringLiteral("拜访记录：2"));
    window.Edit2->setText(QStringLiteral("2026-02-30"));
    QTest::keyClick(window.Edit2, Qt::Key_Return);
    EXPECT_EQ(testhooks::shownTexts(),
              QStringList{QStringLiteral("录入日期 “2026-02-30” 不是有效的日期，请按 年-月-日 填写，例如 2024-06-05！")});
    EXPECT_EQ(window.focusWidget(), window.Edit2);
    EXPECT_EQ(window.Label1->text(), QStringLiteral("拜访记录：2")); // the list as it was
}

TEST_F(History, AnniversaryOverviewOrdersByMonthDayThenName)
{
    const int a = addCard(QStringLiteral("A"));
    const int b = addCard(QStringLiteral("B"));
    addAnniversary(b, QStringLiteral("2024-06-10"));
    addAnniversary(a, QStringLiteral("1985-06-10"));
    addAnniversary(a, QStringLiteral("2024-6-5"));
    addAnniversary(a, QStringLiteral("2000-07-01"));
    addAnniversary(99999, QStringLiteral("2000-06-11"));

    TfrmJNRV window(dm, main.get());
    window.show();
    EXPECT_EQ(window.Label1->text(), QStringLiteral("纪念日记录：4"));
    window.Edit1->setText(QStringLiteral("06-01"));
    window.Edit2->setText(QStringLiteral("06-30"));
    window.CheckBox1->setChecked(true);
    QTest::mouseClick(window.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(listed(window.ADOQuery1, QStringLiteral("纪念日期")), (QStringList{"1985-06-10", "2024-06-10"}));
    EXPECT_EQ(listed(window.ADOQuery1, QStringLiteral("姓名")), (QStringList{"A", "B"}));
    EXPECT_EQ(window.Label1->text(), QStringLiteral("纪念日记录：2"));
    EXPECT_TRUE(window.DBGrid1->isColumnHidden(4));
}

TEST_F(History, OverviewReadBeforeShowingIsReadAgainWhenAnythingCameBetween)
{
    const int card = addCard(QStringLiteral("A"));
    addAnniversary(card, QStringLiteral("2000-06-10"));
    struct Case {
        const char* between;
        bool eventRuns;
        QString to;
        QString count;
    };
    const Case cases[] = {
        {"nothing: the opener's rows are shown", false, QStringLiteral("06-30"), QStringLiteral("纪念日记录：1")},
        {"an event", true, QStringLiteral("06-30"), QStringLiteral("纪念日记录：2")},
        {"another range", false, QStringLiteral("06-29"), QStringLiteral("纪念日记录：2")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.between);
        TfrmJNRV window(dm, main.get());
        window.Edit1->setText(QStringLiteral("06-01"));
        window.Edit2->setText(QStringLiteral("06-30"));
        window.CheckBox1->setChecked(true);
        window.myRef();
        addAnniversary(card, QStringLiteral("2000-06-11"));
        if (c.eventRuns)
            QCoreApplication::processEvents();
        window.Edit2->setText(c.to);
        window.show();
        EXPECT_EQ(window.Label1->text(), c.count);
        exec(QStringLiteral("delete from DJNR where JDate = '2000-06-11'"));
    }
}

TEST_F(History, AnniversaryRangesIncludingTheYearEnd)
{
    const int card = addCard(QStringLiteral("A"));
    for (const char* date : {"2000-02-25", "2000-02-26", "2000-03-05", "2000-03-06", "2000-12-27", "2000-12-30",
                             "2001-01-02", "2001-01-05", "2001-01-10"})
        addAnniversary(card, QString::fromLatin1(date));

    struct Case {
        QDate day;
        QStringList found;
    };
    const Case cases[] = {
        {{2026, 2, 26}, {"2000-02-26", "2000-03-05"}},
        {{2026, 12, 28}, {"2001-01-02", "2000-12-30"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.day.toString(Qt::ISODate).toStdString());
        setToday(c.day);
        QStringList found;
        testhooks::queueModal([&](QDialog* shown) {
            auto* window = static_cast<TfrmJNRV*>(shown);
            EXPECT_TRUE(window->CheckBox1->isChecked());
            found = listed(window->ADOQuery1, QStringLiteral("纪念日期"));
        });
        main->History->openAnniversaryReminder(monthDayText(c.day), monthDayText(c.day.addDays(7)));
        EXPECT_EQ(found, c.found);
    }

    // The December default runs into January.
    setToday({2026, 12, 9});
    TfrmJNRV window(dm, main.get());
    EXPECT_EQ(window.Edit2->text(), QStringLiteral("01-09"));
    window.CheckBox1->setChecked(true);
    window.show();
    EXPECT_EQ(listed(window.ADOQuery1, QStringLiteral("纪念日期")),
              (QStringList{"2001-01-02", "2001-01-05", "2000-12-27", "2000-12-30"}));

    // The same kind of range typed loosely; a day no month has is refused.
    window.Edit1->setText(QStringLiteral("12/28"));
    window.Edit2->setText(QStringLiteral("1/4"));
    QTest::mouseClick(window.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(window.Edit1->text() + u' ' + window.Edit2->text(), QStringLiteral("12-28 01-04"));
    EXPECT_EQ(listed(window.ADOQuery1, QStringLiteral("纪念日期")), (QStringList{"2001-01-02", "2000-12-30"}));
    testhooks::clear();
    window.Edit2->setText(QStringLiteral("02-30"));
    QTest::mouseClick(window.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("纪念日期 “02-30” 不是有效的月-日，请按 月-日 填写，例如 06-05！")});
    EXPECT_EQ(listed(window.ADOQuery1, QStringLiteral("纪念日期")), (QStringList{"2001-01-02", "2000-12-30"}));
}

TEST_F(History, OverviewMenuOpensOnceAfterManyQueries)
{
    TfrmListV visits(dm, main.get());
    TfrmJNRV anniversaries(dm, main.get());
    for (OverviewWindow* window : {static_cast<OverviewWindow*>(&visits), static_cast<OverviewWindow*>(&anniversaries)}) {
        SCOPED_TRACE(window->objectName().toStdString());
        window->show(); // the first query
        for (int i = 0; i < 4; ++i)
            QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
        int opened = 0;
        QObject::connect(window->PopupMenu1, &QMenu::aboutToShow, window, [&] { ++opened; });
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(10, 10), window->DBGrid1->viewport()->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(window->DBGrid1->viewport(), &rightClick);
        window->PopupMenu1->hide();
        EXPECT_EQ(opened, 1);
    }
}

TEST_F(History, OverviewRowOpensItsCard)
{
    QStringList opened;
    const CardOpener opener = [&](QWidget*, const QString& cardId) { opened << cardId; };
    TfrmListV empty(dm, main.get(), opener);
    empty.show();
    empty.V1->trigger();
    EXPECT_TRUE(opened.isEmpty());

    addCard(QStringLiteral("A"));
    const int card = addCard(QStringLiteral("B"));
    addAnniversary(card, QStringLiteral("2020-05-05"));
    TfrmJNRV window(dm, main.get(), opener);
    window.show();
    window.V1->trigger();
    const QRect cell = window.DBGrid1->visualRect(window.DBGrid1->model()->index(0, 1));
    QTest::mouseDClick(window.DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(opened, (QStringList{QString::number(card), QString::number(card)}));
}

} // namespace

TEST_F(History, CardOpenedFromAnOverviewRefreshesTheMainListButNotTheOverview)
{
    const int card = addCard(QStringLiteral("张三"));
    exec(QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'2026-01-02','电话','谈订单')").arg(card));
    startMain(); // sets the card opener to the card editor
    QString editorTitle;
    QStringList overviewNames;
    testhooks::queueModal([&](QDialog* overview) {
        auto* list = overview->findChild<DBGrid*>(QStringLiteral("DBGrid1"));
        testhooks::queueModal([&](QDialog* editor) {
            editorTitle = editor->windowTitle();
            auto* name = editor->findChild<QLineEdit*>(QStringLiteral("EditB1"));
            name->setText(QStringLiteral("张三丰"));
            QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        });
        const QRect cell = list->visualRect(list->model()->index(0, 1));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        overviewNames << list->model()->index(0, 1).data().toString();
    });
    main->History->openVisitOverview();
    EXPECT_EQ(editorTitle, QStringLiteral("查看 名片"));
    EXPECT_EQ(overviewNames, QStringList{QStringLiteral("张三")}); // the overview is not queried again
    EXPECT_EQ(column(QStringLiteral("select BName from D_B where ID=%1").arg(card)), QStringList{QStringLiteral("张三丰")});
    const int nameColumn = main->ADOQuery1->rows().columnIndex(QStringLiteral("姓名"));
    EXPECT_EQ(main->ADOQuery1->rows().text(0, nameColumn), QStringLiteral("张三丰"));
    EXPECT_TRUE(testhooks::shownTexts().contains(QStringLiteral("恭喜！恭喜！名片 修改 保存成功！")));
}
