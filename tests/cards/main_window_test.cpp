#include "core/open_database.h"
#include "main_window_fixture.h"
#include "cards/card_statements.h"
#include "pg_server.h"
#include "core/search_keys.h"
#include "engine/query.h"
#include "ui/common/click_label.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/lookup_combo.h"
#include "ui_helpers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <vector>

using namespace ostrel;
using test::MainWindow;

TEST_F(MainWindow, FirstListShowsLiveCardsNewestFirstInTheConfiguredColumns)
{
    addCard(QStringLiteral("张三"));
    addCard(QStringLiteral("李四"));
    const int gone = addCard(QStringLiteral("王五"));
    addCard(QStringLiteral("赵六"));
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(gone));
    // Reorder and narrow the shown columns: 姓名 first, then 分类 at 55 px; 性别 hidden.
    exec(QStringLiteral("update D_XS set theInt=0, theWidth=120 where ID=2"));
    exec(QStringLiteral("update D_XS set theWidth=55 where ID=1"));
    exec(QStringLiteral("update D_XS set theXS=0 where ID=3"));
    setToday({2026, 3, 31});
    startMain();

    EXPECT_EQ(listedNames(), (QStringList{"赵六", "李四", "张三"}));
    const QStringList titles = main->ADOQuery1->rows().columns();
    EXPECT_EQ(titles.mid(0, 4), (QStringList{"ID", "姓名", "分类", "固定电话"}));
    EXPECT_EQ(titles.size(), 1 + 24);
    EXPECT_TRUE(main->DBGrid1->isColumnHidden(0));
    EXPECT_EQ(main->DBGrid1->currentIndex(), main->DBGrid1->model()->index(0, 1)); // not in the hidden ID
    EXPECT_EQ(main->DBGrid1->columnWidth(1), 120);
    EXPECT_EQ(main->DBGrid1->columnWidth(2), 55);
    EXPECT_EQ(main->DBGrid1->columnWidth(24), 80); // 录入日期 last
    EXPECT_EQ(main->Edit1->text(), QStringLiteral("2026-02-28"));
    EXPECT_FALSE(main->CheckBox1->isChecked());
    EXPECT_EQ(main->windowTitle(), QStringLiteral("Ostrel名片管理软件"));
    EXPECT_EQ(counters(), QStringLiteral("名片数量：3 拜访次数：0 纪念日数：0"));
}

TEST_F(MainWindow, SimpleSearchConditionsNarrowTheListAndTheCounters)
{
    const int a = addCard(QStringLiteral("张三"), QStringLiteral("男"), QStringLiteral("客户"), QStringLiteral("2026-03-01"));
    const int b = addCard(QStringLiteral("张小花"), QStringLiteral("女"), QStringLiteral("朋友"), QStringLiteral("2026-03-15"));
    addCard(QStringLiteral("李四"), QStringLiteral("男"), QString(), QStringLiteral("2026-03-20"));
    exec(QStringLiteral("update D_B set DArea='上海' where ID=%1").arg(b));
    for (int card : {a, a, b})
        exec(QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'2026-03-02','电话','x')").arg(card));
    exec(QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'2000-05-01','生日')").arg(b));
    startMain();

    const struct {
        std::function<void(TfrmMain*)> set;
        const char* names;
        const char* counters;
    } cases[] = {
        {[](TfrmMain*) {}, "李四,张小花,张三", "名片数量：3 拜访次数：3 纪念日数：1"},
        {[](TfrmMain* m) { test::typeText(m->Edit3, QStringLiteral("张")); }, "张小花,张三",
         "名片数量：2 拜访次数：3 纪念日数：1"},
        {[](TfrmMain* m) { test::typeText(m->Edit3, QStringLiteral("小")); }, "张小花", "名片数量：1 拜访次数：1 纪念日数：1"},
        {[](TfrmMain* m) {
             m->Edit1->setText(QStringLiteral("2026-03-01"));
             m->Edit2->setText(QStringLiteral("2026-03-15"));
         },
         "张小花,张三", "名片数量：2 拜访次数：3 纪念日数：1"},
        {[](TfrmMain* m) {
             m->CheckBox1->setChecked(true);
             m->Edit1->setText(QStringLiteral("2026-03-15"));
             m->Edit2->setText(QStringLiteral("2026-03-15"));
         },
         "张小花", "名片数量：1 拜访次数：1 纪念日数：1"},
        // Dates typed loosely are searched in the stored form.
        {[](TfrmMain* m) {
             m->Edit1->setText(QStringLiteral("2026/3/1"));
             m->Edit2->setText(QStringLiteral("20260315"));
         },
         "张小花,张三", "名片数量：2 拜访次数：3 纪念日数：1"},
        {[](TfrmMain* m) {
             m->Edit1->setText(QStringLiteral("2026-3-15"));
             m->Edit2->setText(QStringLiteral("2026.03.15"));
         },
         "张小花", "名片数量：1 拜访次数：1 纪念日数：1"},
        {[](TfrmMain* m) {
             m->CheckBox4->setChecked(true);
             m->DBLookupComboBox2->setKeyValue(QStringLiteral("男"));
         },
         "李四,张三", "名片数量：2 拜访次数：2 纪念日数：0"},
        {[](TfrmMain* m) {
             m->CheckBox5->setChecked(true);
             m->DBLookupComboBox3->setKeyValue(QStringLiteral("上海"));
         },
         "张小花", "名片数量：1 拜访次数：1 纪念日数：1"},
        // Ticked without a choice: the empty category.
        {[](TfrmMain* m) { QTest::mouseClick(m->DBLookupComboBox1, Qt::LeftButton); }, "李四",
         "名片数量：1 拜访次数：0 纪念日数：0"},
        {[](TfrmMain* m) {
             m->CheckBox2->setChecked(true);
             m->DBLookupComboBox1->setKeyValue(QStringLiteral("客户"));
             test::typeText(m->Edit3, QStringLiteral("张"));
             m->CheckBox4->setChecked(true);
             m->DBLookupComboBox2->setKeyValue(QStringLiteral("男"));
         },
         "张三", "名片数量：1 拜访次数：2 纪念日数：0"},
    };
    for (const auto& c : cases) {
        for (QCheckBox* box : {main->CheckBox1, main->CheckBox2, main->CheckBox3, main->CheckBox4, main->CheckBox5})
            box->setChecked(false);
        main->Edit3->clear();
        main->CheckBox3->setChecked(false);
        c.set(main.get());
        search();
        EXPECT_EQ(listedNames().join(u','), QString::fromUtf8(c.names)) << main->cardFilter.toStdString();
        EXPECT_EQ(counters(), QString::fromUtf8(c.counters)) << main->cardFilter.toStdString();
    }
    EXPECT_TRUE(testhooks::shown().isEmpty());
}

TEST_F(MainWindow, TypingInAConditionTicksItsBox)
{
    startMain();
    test::typeText(main->Edit3, QStringLiteral("a"));
    EXPECT_TRUE(main->CheckBox3->isChecked());
    test::typeText(main->Edit2, QStringLiteral("1"));
    EXPECT_TRUE(main->CheckBox1->isChecked());
    for (auto [combo, box] : {std::pair{main->DBLookupComboBox1, main->CheckBox2},
                              std::pair{main->DBLookupComboBox2, main->CheckBox4},
                              std::pair{main->DBLookupComboBox3, main->CheckBox5}}) {
        EXPECT_FALSE(box->isChecked());
        QTest::mouseClick(combo, Qt::LeftButton);
        EXPECT_TRUE(box->isChecked());
    }
}

TEST_F(MainWindow, ChoosingALookupValueByKeyboardTicksItsBox)
{
    startMain();
    const struct {
        const char* how;
        std::function<void(DBLookupComboBox*)> choose;
    } ways[] = {
        {"arrow key", [](DBLookupComboBox* combo) { QTest::keyClick(combo, Qt::Key_Down); }},
        {"typing", [](DBLookupComboBox* combo) { test::typeText(combo, combo->itemText(1).left(1)); }},
    };
    for (const auto& way : ways) {
        for (auto [combo, box] : {std::pair{main->DBLookupComboBox1, main->CheckBox2},
                                  std::pair{main->DBLookupComboBox2, main->CheckBox4},
                                  std::pair{main->DBLookupComboBox3, main->CheckBox5}}) {
            SCOPED_TRACE(way.how + (u' ' + combo->objectName()).toStdString());
            box->setChecked(false);
            combo->setKeyValue(QString());
            combo->setFocus(Qt::TabFocusReason);
            EXPECT_FALSE(box->isChecked()); // passing through by Tab chooses nothing
            way.choose(combo);
            EXPECT_FALSE(combo->text().isEmpty());
            EXPECT_TRUE(box->isChecked());
        }
    }
    // And the search then takes the chosen value.
    for (QCheckBox* box : {main->CheckBox1, main->CheckBox3, main->CheckBox4, main->CheckBox5})
        box->setChecked(false);
    search();
    EXPECT_EQ(main->cardFilter, categoryClause(main->DBLookupComboBox1->text()));
}

TEST_F(MainWindow, EnterRunsTheSearchFromEverySearchControl)
{
    addCard(QStringLiteral("张三"));
    addCard(QStringLiteral("李四"));
    startMain();
    const struct {
        QWidget* control;
        Qt::Key key;
    } cases[] = {
        {main->Edit1, Qt::Key_Return},     {main->Edit2, Qt::Key_Return},     {main->Edit3, Qt::Key_Enter},
        {main->DBLookupComboBox1, Qt::Key_Return}, {main->DBLookupComboBox2, Qt::Key_Return},
        {main->DBLookupComboBox3, Qt::Key_Enter},  {main->CheckBox1, Qt::Key_Return},
        {main->CheckBox2, Qt::Key_Return}, {main->CheckBox3, Qt::Key_Return}, {main->CheckBox4, Qt::Key_Enter},
        {main->CheckBox5, Qt::Key_Return},
        // The window's default button: Enter in the card list runs it too.
        {main->DBGrid1, Qt::Key_Return},   {main->DBGrid1, Qt::Key_Enter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control->objectName().toStdString());
        // An advanced filter that only the search replaces.
        main->cardFilter = QStringLiteral(" AND (BName LIKE '%李%')");
        main->myRef();
        ASSERT_EQ(listedNames(), QStringList{"李四"});
        c.control->setFocus();
        QTest::keyClick(c.control, c.key);
        EXPECT_EQ(main->cardFilter, QString());
        EXPECT_EQ(listedNames(), (QStringList{"李四", "张三"}));
    }
    for (QCheckBox* box : {main->CheckBox1, main->CheckBox2, main->CheckBox3, main->CheckBox4, main->CheckBox5})
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString(); // Enter ticks nothing
    // Enter in the quick-find box finds there and leaves the search alone.
    main->cardFilter = QStringLiteral(" AND (BName LIKE '%李%')");
    main->myRef();
    main->QuickFindEdit->setText(QStringLiteral("zhang"));
    QTest::keyClick(main->QuickFindEdit, Qt::Key_Return);
    EXPECT_EQ(main->cardFilter, QStringLiteral(" AND (BName LIKE '%李%')"));
    EXPECT_EQ(listedNames(), QStringList{});
}

TEST_F(MainWindow, ImpossibleEntryDateIsRefusedNamingItsBox)
{
    addCard(QStringLiteral("张三"), QStringLiteral("男"), QStringLiteral("客户"), QStringLiteral("2026-02-28"));
    startMain();
    for (GbkEdit* bound : {main->Edit1, main->Edit2}) {
        SCOPED_TRACE(bound->objectName().toStdString());
        testhooks::clear();
        main->cardFilter = QStringLiteral(" AND (BName LIKE '%张%')");
        main->Edit1->setText(QStringLiteral("2026-02-01"));
        main->Edit2->setText(QStringLiteral("2026-03-01"));
        bound->setText(QStringLiteral("2026-02-30"));
        search();
        EXPECT_EQ(testhooks::shownTexts(),
                  QStringList{QStringLiteral("录入日期 “2026-02-30” 不是有效的日期，请按 年-月-日 填写，例如 2024-06-05！")});
        EXPECT_EQ(main->focusWidget(), bound);
        EXPECT_EQ(main->cardFilter, QStringLiteral(" AND (BName LIKE '%张%')")); // nothing replaced
    }
}

TEST_F(MainWindow, SimpleSearchReplacesAnAdvancedFilter)
{
    addCard(QStringLiteral("张三"));
    addCard(QStringLiteral("李四"));
    startMain();
    main->cardFilter = QStringLiteral(" AND (BName LIKE '%李%')");
    main->myRef();
    EXPECT_EQ(listedNames(), QStringList{"李四"});
    search();
    EXPECT_EQ(main->cardFilter, QString());
    EXPECT_EQ(listedNames(), (QStringList{"李四", "张三"}));
}

TEST_F(MainWindow, QuotesInSearchBoxesAreSearchedAsTyped)
{
    addCard(QStringLiteral("O'Brien"));
    addCard(QStringLiteral("OBrien"));
    startMain();
    test::typeText(main->Edit3, QStringLiteral("O'B"));
    search();
    EXPECT_EQ(listedNames(), QStringList{"O'Brien"});
    main->Edit1->setText(QStringLiteral("'"));
    main->Edit2->setText(QStringLiteral("' OR 1=1 --"));
    search();
    EXPECT_EQ(listedNames(), QStringList{});
    EXPECT_TRUE(testhooks::shown().isEmpty());
}

TEST_F(MainWindow, NoDisplayedColumnStillListsAndCounts)
{
    const int card = addCard(QStringLiteral("张三"));
    exec(QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'2000-01-01','x')").arg(card));
    exec(QStringLiteral("update D_XS set theXS=0"));
    startMain();
    EXPECT_EQ(main->ADOQuery1->rows().columns(), QStringList{"ID"});
    EXPECT_EQ(main->ADOQuery1->recordCount(), 1);
    EXPECT_EQ(counters(), QStringLiteral("名片数量：1 拜访次数：0 纪念日数：1"));
}

TEST_F(MainWindow, DeleteAsksAndMarksTheCardDeleted)
{
    addCard(QStringLiteral("张三"));
    const int card = addCard(QStringLiteral("李四"));
    startMain();
    ASSERT_EQ(main->ADOQuery1->text(QStringLiteral("ID")).toInt(), card);

    testhooks::queueAnswer(false);
    QTest::mouseClick(main->SpeedButton3, Qt::LeftButton);
    ASSERT_EQ(testhooks::shown().size(), 1);
    EXPECT_EQ(testhooks::shown()[0].title, QStringLiteral("删除名片"));
    EXPECT_EQ(testhooks::shown()[0].text, QStringLiteral("确认要删除名片信息吗？该删除将不可恢复！"));
    EXPECT_EQ(listedNames(), (QStringList{"李四", "张三"}));

    testhooks::queueAnswer(true);
    QTest::mouseClick(main->SpeedButton3, Qt::LeftButton);
    EXPECT_EQ(listedNames(), QStringList{"张三"});
    EXPECT_EQ(main->Label1->text(), QStringLiteral("名片数量：1"));
    EXPECT_EQ(column(QStringLiteral("select theDel from D_B where ID=%1").arg(card)), QStringList{"是"});
}

TEST_F(MainWindow, PreviousAndNextStopAtTheEnds)
{
    for (const char* name : {"一", "二", "三"})
        addCard(QString::fromUtf8(name));
    startMain();
    const struct {
        QToolButton* button;
        int recNo;
    } steps[] = {
        {main->SpeedButton4, 1}, {main->SpeedButton5, 2}, {main->SpeedButton5, 3},
        {main->SpeedButton5, 3}, {main->SpeedButton4, 2}, {main->SpeedButton4, 1},
    };
    for (const auto& step : steps) {
        QTest::mouseClick(step.button, Qt::LeftButton);
        EXPECT_EQ(main->ADOQuery1->recNo(), step.recNo);
        EXPECT_EQ(main->DBGrid1->currentIndex().row(), step.recNo - 1);
    }
}

TEST_F(MainWindow, CommandsOnAnEmptyListDoNothing)
{
    startMain();
    for (QToolButton* button : {main->SpeedButton2, main->SpeedButton3, main->SpeedButton4, main->SpeedButton5})
        QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(testhooks::shown().isEmpty());
    EXPECT_EQ(testhooks::pendingModals(), 0);
}

TEST_F(MainWindow, SelectedNameComesFromTheCardWhenTheNameColumnIsHidden)
{
    addCard(QStringLiteral("张三"));
    startMain();
    EXPECT_EQ(main->selectedCardName(), QStringLiteral("张三"));
    exec(QStringLiteral("update D_XS set theXS=0 where ID=2"));
    main->myRef();
    EXPECT_EQ(main->selectedCardName(), QStringLiteral("张三"));
    EXPECT_TRUE(testhooks::shown().isEmpty());
}

TEST_F(MainWindow, ReminderFindsTheComingWeekAcrossMonthAndYearEnds)
{
    const int card = addCard(QStringLiteral("张三"));
    const int gone = addCard(QStringLiteral("李四"));
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(gone));
    const char* dates[] = {"2001-03-07", "1990-02-26", "1985-03-06", "1999-12-30", "2000-01-02", "2000-01-05", "2000-12-27"};
    for (const char* date : dates)
        exec(QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'%2','x')").arg(card).arg(QString::fromUtf8(date)));
    exec(QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'1970-03-01','deleted card')").arg(gone));
    startMain();
    const struct {
        QDate today;
        int found;
    } cases[] = {
        {{2026, 2, 26}, 2},  // 02-26..03-05: 02-26 and 03-01 (a deleted card's)
        {{2026, 2, 28}, 3},  // 02-28..03-07: 03-01, 03-06, 03-07
        {{2026, 12, 28}, 2}, // 12-28..01-04: 12-30, 01-02
        {{2026, 12, 25}, 2}, // 12-25..01-01: 12-27, 12-30
        {{2026, 6, 1}, 0},
    };
    for (const auto& c : cases) {
        setToday(c.today);
        EXPECT_EQ(main->anniversaryReminder(), c.found) << c.today.toString(Qt::ISODate).toStdString();
    }
}

TEST_F(MainWindow, AboutOpensTheHomePage)
{
    startMain();
    QTest::mouseClick(main->SpeedButton6, Qt::LeftButton);
    QTest::mouseClick(main->Label4, Qt::LeftButton);
    ASSERT_EQ(testhooks::shown().size(), 2);
    for (const auto& shown : testhooks::shown()) {
        EXPECT_EQ(shown.kind, testhooks::Shown::Url);
        EXPECT_EQ(shown.text, QStringLiteral("https://www.example.com/"));
    }
}

TEST_F(MainWindow, CommandsOpenTheirWindowsForTheSelectedCard)
{
    const int card = addCard(QStringLiteral("张三"));
    exec(QStringLiteral("update D_XS set theXS=0 where ID=2")); // the list hides 姓名
    startMain();
    QStringList opened;
    auto record = [&](QDialog* window) {
        QString title = window->windowTitle();
        if (QLabel* id = window->findChild<QLabel*>(QStringLiteral("Lab_ID")))
            title += u'#' + id->text();
        opened << title;
    };
    for (int i = 0; i < 4; ++i)
        testhooks::queueModal(record);
    QTest::mouseClick(main->SpeedButton8, Qt::LeftButton);
    QTest::mouseClick(main->SpeedButton9, Qt::LeftButton);
    QTest::mouseClick(main->SpeedButton2, Qt::LeftButton);
    QTest::mouseClick(main->SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(opened, (QStringList{QStringLiteral("张三 拜访记录#%1").arg(card), QStringLiteral("张三 纪念日#%1").arg(card),
                                   QStringLiteral("修改 名片"), QStringLiteral("新增 名片")}));
    EXPECT_TRUE(testhooks::shownTexts().isEmpty());
}

TEST_F(MainWindow, ReminderOpensTheOverviewWhenShown)
{
    const int card = addCard(QStringLiteral("张三"));
    exec(QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'1999-12-30','生日')").arg(card));
    setToday({2026, 12, 28});
    startMain();
    int listed = -1;
    QString range;
    testhooks::queueModal([&](QDialog* overview) {
        listed = overview->findChild<Query*>(QStringLiteral("ADOQuery1"))->recordCount();
        range = overview->findChild<QLineEdit*>(QStringLiteral("Edit1"))->text() + QStringLiteral("..")
            + overview->findChild<QLineEdit*>(QStringLiteral("Edit2"))->text();
    });
    main->show();
    EXPECT_EQ(listed, 1);
    EXPECT_EQ(range, QStringLiteral("12-28..01-04"));
}

// An engine failure inside any kind of handler ends in the one error box, at the slot:
// nothing reaches the application's last line, and the window stays usable.
TEST_F(MainWindow, EngineErrorsInHandlersEndInTheErrorBoxAtTheSlot)
{
    addCard(QStringLiteral("张三"));
    addCard(QStringLiteral("李四"));
    startMain();
    main->show();
    // No window reacts to a grid move through the engine yet; this handler stands for one.
    connectGuarded(main->ADOQuery1, &Query::currentChanged, main.get(), [this](int) { column(QStringLiteral("select ID from D_XS")); });
    struct Case {
        const char* kind;
        const char* hiddenTable; // renamed away, so the handler's statement fails
        std::function<void(TfrmMain*)> act;
    };
    const std::vector<Case> cases = {
        {"button", "D_XS", [](TfrmMain* m) { QTest::mouseClick(m->BitBtn1, Qt::LeftButton); }},
        {"menu", "D_B",
         [](TfrmMain* m) {
             testhooks::queueAnswer(true);
             m->PopupMenu1->findChild<QAction*>(QStringLiteral("N3"))->trigger();
         }},
        {"double click", "D_Type",
         [](TfrmMain* m) {
             const QRect cell = m->DBGrid1->visualRect(m->DBGrid1->model()->index(0, 1));
             QTest::mouseDClick(m->DBGrid1->viewport(), Qt::LeftButton, {}, cell.center());
         }},
        {"grid move", "D_XS", [](TfrmMain* m) { QTest::keyClick(m->DBGrid1, Qt::Key_Down); }},
        // A team server restarted under an open window: the connection is gone.
        {"lost server connection", nullptr,
         [](TfrmMain* m) {
             test::restartServer();
             QTest::mouseClick(m->BitBtn1, Qt::LeftButton);
         }},
    };
    const auto* app = static_cast<Application*>(QCoreApplication::instance());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        if (!c.hiddenTable && !test::onServerEngine())
            continue;
        main->myRef();
        testhooks::clear();
        const int lastLine = app->lastLineCatches();
        if (c.hiddenTable)
            exec(QStringLiteral("alter table %1 rename to Hidden").arg(QString::fromLatin1(c.hiddenTable)));
        c.act(main.get());
        if (c.hiddenTable)
            exec(QStringLiteral("alter table Hidden rename to %1").arg(QString::fromLatin1(c.hiddenTable)));
        QStringList errors;
        for (const testhooks::Shown& box : testhooks::shown())
            if (box.kind == testhooks::Shown::Error)
                errors << box.text;
        ASSERT_EQ(errors.size(), 1);
        if (!c.hiddenTable) {
            EXPECT_TRUE(errors[0].startsWith(QStringLiteral("与团队数据库服务器的连接已断开"))) << errors[0].toStdString();
        }
        EXPECT_EQ(app->lastLineCatches(), lastLine);
        EXPECT_TRUE(main->isVisible());
        EXPECT_EQ(testhooks::pendingAnswers(), 0);
    }
    // Usable afterwards, nothing lost: the next search lists the cards again.
    testhooks::clear();
    search();
    EXPECT_EQ(listedNames(), (QStringList{"李四", "张三"}));
    EXPECT_TRUE(testhooks::shown().isEmpty());
}

// A list longer than the pages it is read in: a title-click sort and then a refresh show
// the rows a list read at once shows, and the counters agree with counting every visit
// and anniversary of the listed cards, across the gaps deleted cards leave.
TEST_F(MainWindow, LongListSortsRefreshesAndCountsAsAListReadAtOnce)
{
    const QStringList names = QString::fromUtf8("曾 张三 李四 王五 阿明 zhang Bob 单 解").split(u' ');
    exec(QStringLiteral("begin"));
    for (int i = 0; i < 400; ++i) {
        const int id = addCard(names[i % names.size()] + QString::number(i % 5));
        if (i % 9 == 0)
            exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(id));
        for (int v = 0; v < i % 4; ++v)
            exec(QStringLiteral("insert into DList(DID) values(%1)").arg(id));
        if (i % 3 == 0)
            exec(QStringLiteral("insert into DJNR(DID, JDate) values(%1, '2000-01-01')").arg(id));
    }
    exec(QStringLiteral("insert into DList(DID) values(100000)")); // a visit of no card
    exec(QStringLiteral("commit"));
    startMain();
    const int nameColumn = main->ADOQuery1->rows().columnIndex(QStringLiteral("姓名"));
    auto shown = [&] {
        QStringList cells;
        const QAbstractItemModel* model = main->DBGrid1->model();
        for (int r = 0; r < model->rowCount(); ++r)
            cells << model->index(r, 0).data().toString() + u' ' + model->index(r, nameColumn).data().toString();
        return cells;
    };
    auto readAtOnce = [&](const QString& sort) {
        Query once(&dm.ADOConnection1);
        once.run(main->ADOQuery1->sql());
        if (!sort.isEmpty())
            once.setSort(sort);
        QStringList cells;
        for (int r = 0; r < once.rows().rowCount(); ++r)
            cells << once.rows().text(r, 0) + u' ' + once.rows().text(r, nameColumn);
        return cells;
    };
    main->DBGrid1->titleClick(nameColumn);
    EXPECT_EQ(shown(), readAtOnce(QStringLiteral("姓名 ASC")));
    main->DBGrid1->titleClick(nameColumn);
    EXPECT_EQ(shown(), readAtOnce(QStringLiteral("姓名 DESC")));
    main->myRef();
    EXPECT_EQ(shown(), readAtOnce(QString()));
    const QString live = QStringLiteral(" where did in (select id from D_B where theDel='否')");
    EXPECT_EQ(counters(), QStringLiteral("名片数量：%1 拜访次数：%2 纪念日数：%3")
                              .arg(column(QStringLiteral("select count(*) from D_B where theDel='否'")).first(),
                                   column(QStringLiteral("select count(*) from DList") + live).first(),
                                   column(QStringLiteral("select count(*) from DJNR") + live).first()));
}

TEST_F(MainWindow, VisitsAndAnniversariesWrittenByAnotherDesktopShowInTheNextRefresh)
{
    const int card = addCard(QStringLiteral("张三"));
    startMain();
    main->waitForQuickFindIndex(); // on the file the counters then come from the index
    TfrmDM other(openCardDatabaseFor(database.programDir()));
    const struct {
        QString sql;
        const char* counters;
    } steps[] = {
        {QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'2026-01-02','电话','x')"), "名片数量：1 拜访次数：1 纪念日数：0"},
        {QStringLiteral("insert into DJNR(DID,JDate,JMemo) values(%1,'2001-01-02','x')"), "名片数量：1 拜访次数：1 纪念日数：1"},
        {QStringLiteral("delete from DList where DID=%1"), "名片数量：1 拜访次数：0 纪念日数：1"},
        {QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'2026-01-03','电话','y'), (%1,'2026-01-04','电话','z')"),
         "名片数量：1 拜访次数：2 纪念日数：1"},
        {QStringLiteral("update DJNR set DID=0 where DID=%1"), "名片数量：1 拜访次数：2 纪念日数：0"},
        // The cards' own rows, written without their keys: a server's list kept between
        // refreshes follows them all the same.
        {QStringLiteral("update D_B set theDel='是' where ID=%1"), "名片数量：0 拜访次数：0 纪念日数：0"},
        {QStringLiteral("update D_B set theDel='否' where ID=%1"), "名片数量：1 拜访次数：2 纪念日数：0"},
        {QStringLiteral("insert into D_B(BName, theDel) values('李四', '否')"), "名片数量：2 拜访次数：2 纪念日数：0"},
        {QStringLiteral("delete from D_B where ID<>%1"), "名片数量：1 拜访次数：2 纪念日数：0"},
    };
    for (const auto& step : steps) {
        main->myRef(); // the same list again: a kept count must not outlive the change
        other.ADOConnection1.execute(step.sql.arg(card));
        main->myRef();
        EXPECT_EQ(counters(), QString::fromUtf8(step.counters)) << step.sql.toStdString();
    }
    if (test::onServerEngine()) {
        // A truncation the server's log cannot account for: the engine counts, and the
        // dropped quick-find index is read anew.
        other.ADOConnection1.execute(QStringLiteral("truncate table DList"));
        main->myRef();
        EXPECT_EQ(counters(), QStringLiteral("名片数量：1 拜访次数：0 纪念日数：0"));
        main->waitForQuickFindIndex();
        EXPECT_TRUE(main->hasQuickFindIndex());
    }
}

TEST_F(MainWindow, QuickFindNarrowsAsTypedWithTheSearchConditionsAndEscRestores)
{
    const int zhang = addCard(QStringLiteral("张三"));
    const int li = addCard(QStringLiteral("李四"));
    addCard(QStringLiteral("王五"));
    exec(QStringLiteral("update D_B set BMob='138-0013-8000', DName='深圳市腾讯计算机系统有限公司' where ID=%1").arg(zhang));
    exec(QStringLiteral("update D_B set BMob='+86 138 0013 8000', BMail='lisi@qq.com' where ID=%1").arg(li));
    exec(QStringLiteral("insert into DList(DID) values(%1), (%1), (%2)").arg(zhang).arg(li));
    exec(QStringLiteral("insert into DJNR(DID, JDate) values(%1, '2000-01-01')").arg(li));
    // A file builds the keys of the cards already there on open; a server is keyed by every
    // program that saves a card, and these were written behind the program's back.
    if (test::onServerEngine())
        updateSearchKeysAfter(dm.ADOConnection1, 0);
    startMain();
    EXPECT_EQ(main->QuickFindEdit->placeholderText(), QStringLiteral("拼音/首字母/电话/单位/邮箱"));
    const QString described = counters();

    const struct {
        const char* typed;
        QStringList names;
        const char* counts;
    } cases[] = {
        {"zs", {"张三"}, "名片数量：1 拜访次数：2 纪念日数：0"},
        {"13800", {"李四", "张三"}, "名片数量：2 拜访次数：3 纪念日数：1"},
        {"腾讯", {"张三"}, "名片数量：1 拜访次数：2 纪念日数：0"},
        {"@qq.com", {"李四"}, "名片数量：1 拜访次数：1 纪念日数：1"},
        {"'%", {}, "名片数量：0 拜访次数：0 纪念日数：0"},
    };
    for (const auto& c : cases) {
        main->QuickFindEdit->clear();
        main->quickFind();
        test::typeText(main->QuickFindEdit, QString::fromUtf8(c.typed));
        // The list waits for a pause in the typing.
        EXPECT_EQ(listedNames().size(), 3) << c.typed;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !main->QuickFindTimer->isActive(); }, 2000));
        EXPECT_EQ(listedNames(), c.names) << c.typed;
        EXPECT_EQ(counters(), QString::fromUtf8(c.counts)) << c.typed;
    }
    QTest::keyClick(main->QuickFindEdit, Qt::Key_Escape);
    EXPECT_TRUE(main->QuickFindEdit->text().isEmpty());
    EXPECT_EQ(listedNames(), (QStringList{"王五", "李四", "张三"}));
    EXPECT_EQ(counters(), described);

    // The described conditions apply together with it.
    main->Edit3->setText(QStringLiteral("张"));
    search();
    main->QuickFindEdit->setText(QStringLiteral("13800"));
    main->quickFind();
    EXPECT_EQ(listedNames(), QStringList{"张三"});
    QTest::keyClick(main->QuickFindEdit, Qt::Key_Escape);
    EXPECT_EQ(listedNames(), QStringList{"张三"});
    main->CheckBox3->setChecked(false);
    search();

    // A card saved in the editor is found at once; once deleted, it is not.
    main->QuickFindEdit->setText(QStringLiteral("zhaoliu"));
    main->quickFind();
    EXPECT_EQ(listedNames(), QStringList{});
    testhooks::queueModal([](QDialog* editor) {
        editor->findChild<QLineEdit*>(QStringLiteral("EditB1"))->setText(QStringLiteral("赵六"));
        QTest::mouseClick(editor->findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
        editor->close();
    });
    QTest::mouseClick(main->SpeedButton1, Qt::LeftButton);
    EXPECT_EQ(listedNames(), QStringList{"赵六"});
    testhooks::queueAnswer(true);
    QTest::mouseClick(main->SpeedButton3, Qt::LeftButton);
    EXPECT_EQ(listedNames(), QStringList{});
    EXPECT_EQ(counters(), QStringLiteral("名片数量：0 拜访次数：0 纪念日数：0"));
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BKey")), QStringList{"3"});
}
