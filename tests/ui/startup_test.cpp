#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "ui/common/gbk_edit.h"
#include "cards/main_window.h"
#include "engine/query.h"
#include "core/schema_upgrade.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "test_database.h"
#include "ui/common/db_grid.h"
#include "ui/common/lookup_combo.h"
#include "core/open_database.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

class Startup : public ::testing::Test {
protected:
    Startup()
    {
        testhooks::clear();
        setProgramDir(copy.programDir());
    }
    ~Startup() override
    {
        setToday({});
        setProgramDir({});
        testhooks::clear();
    }

    void start()
    {
        window = std::make_unique<TfrmMain>(dm);
        runGuarded([&] { window->FormCreate(); });
    }

    test::TestDatabase copy;
    TfrmDM dm{test::cardDatabaseFor(copy)};
    std::unique_ptr<TfrmMain> window;
};

} // namespace

TEST_F(Startup, DateBoxesHoldTheLastMonthUnticked)
{
    const struct {
        QDate day;
        const char* from;
        const char* to;
    } cases[] = {
        {{2026, 3, 31}, "2026-02-28", "2026-03-31"},
        {{2026, 1, 5}, "2025-12-05", "2026-01-05"},
        {{2024, 3, 31}, "2024-02-29", "2024-03-31"},
        {{2026, 7, 1}, "2026-06-01", "2026-07-01"},
    };
    for (const auto& c : cases) {
        setToday(c.day);
        start();
        EXPECT_EQ(window->Edit1->text(), QString::fromUtf8(c.from));
        EXPECT_EQ(window->Edit2->text(), QString::fromUtf8(c.to));
        EXPECT_FALSE(window->CheckBox1->isChecked());
        EXPECT_EQ(window->cardFilter, QString());
    }
}

TEST_F(Startup, ConnectsFromTheProgramFolderAndFillsTheLists)
{
    start();
    if (!test::onServerEngine()) {
        EXPECT_TRUE(dm.ADOConnection1.connectionString().contains(QStringLiteral("Data Source=") + copy.path() + u';'));
    }
    EXPECT_TRUE(dm.ADOConnection1.isOpen());
    EXPECT_EQ(window->DBLookupComboBox2->count(), 2);
    EXPECT_EQ(window->DBLookupComboBox3->count(), 34);
    EXPECT_EQ(window->DBLookupComboBox1->text(), QString());
    EXPECT_EQ(window->Label1->text(), QStringLiteral("名片数量：0"));
    EXPECT_TRUE(testhooks::shown().isEmpty());
}

TEST_F(Startup, LookupBoxPreselectsListedValuesOnly)
{
    start();
    DBLookupComboBox* box = window->DBLookupComboBox2;
    box->setKeyValue(QStringLiteral("女"));
    EXPECT_EQ(box->text(), QStringLiteral("女"));
    box->setKeyValue(QStringLiteral("未知"));
    EXPECT_EQ(box->text(), QString());
    // A category added elsewhere is listed once a loader reruns the shared query.
    dm.ADOConnection1.execute(QStringLiteral("insert into D_Type(theName) values('新分类')"));
    window->DBLookupComboBox1->setKeyValue(QStringLiteral("客户"));
    DBLookupComboBox other;
    dm.DBComType(&other);
    EXPECT_GE(window->DBLookupComboBox1->findText(QStringLiteral("新分类")), 0);
    EXPECT_EQ(window->DBLookupComboBox1->text(), QStringLiteral("客户"));
}

TEST_F(Startup, MissingDatabaseShowsTheErrorAndTheWindowStaysUsable)
{
    OSTREL_FILE_ONLY("a missing database file");
    QFile::remove(copy.path());
    start();
    ASSERT_EQ(testhooks::shown().size(), 1);
    EXPECT_EQ(testhooks::shown()[0].kind, testhooks::Shown::Error);
    EXPECT_EQ(testhooks::shown()[0].title, QStringLiteral("Ostrel名片管理软件"));
    // What to do, then the engine's own text.
    EXPECT_TRUE(testhooks::shown()[0].text.startsWith(QStringLiteral("无法打开数据库文件。")));
    EXPECT_TRUE(testhooks::shown()[0].text.contains(QStringLiteral("\nunable to open database file")));
    // The steps after the failed refresh did not run.
    EXPECT_TRUE(window->CheckBox1->isChecked());
    EXPECT_EQ(window->DBLookupComboBox1->count(), 0);
    EXPECT_FALSE(QFile::exists(copy.path()));

    // The reminder on show fails the same way; the window is shown all the same.
    window->show();
    EXPECT_EQ(testhooks::shown().size(), 2);
    EXPECT_TRUE(window->isVisible());
    // A click that needs the database shows the error box and leaves the window usable.
    QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
    EXPECT_EQ(testhooks::shown().size(), 3);
    EXPECT_EQ(testhooks::shown().last().kind, testhooks::Shown::Error);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(Startup, UserPasswordIsAskedThreeTimesAndAWrongOneChangesNothing)
{
    OSTREL_FILE_ONLY("the file's password");
    {
        SqlCipherConnection before{cardDatabaseRules()};
        before.setConnectionString(copy.connectionString());
        before.execute(QStringLiteral("insert into D_B(BName, theDel) values('锁着的','否')"));
        upgradeSchema(before); // a current file: opening it with the password writes nothing
        before.changePassword(QStringLiteral("芝麻开门"));
    }
    QFile file(copy.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray stored = file.readAll();
    const struct {
        QStringList typed; // one per box; a box with nothing queued is cancelled
        bool opens;
        int boxes;
    } cases[] = {
        {{"芝麻开门"}, true, 1},
        {{"错", "", "芝麻开门"}, true, 3},
        {{"错", "", "芝麻开门 "}, false, 3},
        {{}, false, 1},
    };
    for (const auto& c : cases) {
        const std::string name = c.typed.join(u'|').toStdString();
        testhooks::clear();
        dm.ADOConnection1.close();
        for (const QString& typed : c.typed)
            testhooks::queuePassword(typed);
        start();
        QStringList labels;
        for (const auto& shown : testhooks::shown())
            if (shown.kind == testhooks::Shown::Password)
                labels << shown.text;
        ASSERT_EQ(labels.size(), c.boxes) << name;
        if (c.boxes > 1) {
            EXPECT_EQ(labels[1], QStringLiteral("密码不对，请重新输入（还可以输入 2 次）：")) << name;
        }
        EXPECT_FALSE(testhooks::shownTexts().join(u'|').contains(QStringLiteral("芝麻开门"))) << name;
        if (c.opens) {
            EXPECT_EQ(testhooks::shown().size(), c.boxes) << name;
            EXPECT_EQ(window->ADOQuery1->text(QStringLiteral("姓名")), QStringLiteral("锁着的")) << name;
            EXPECT_EQ(window->DBLookupComboBox2->count(), 2) << name;
            continue;
        }
        // As for a missing file: the error box, the steps after it not run, the window usable.
        ASSERT_EQ(testhooks::shown().size(), c.boxes + 1) << name;
        EXPECT_EQ(testhooks::shown().last().kind, testhooks::Shown::Error) << name;
        EXPECT_TRUE(testhooks::shown().last().text.startsWith(QStringLiteral("没有输入正确的密码"))) << name;
        EXPECT_TRUE(window->CheckBox1->isChecked()) << name;
        EXPECT_EQ(window->DBLookupComboBox1->count(), 0) << name;
        window->show();
        QTest::mouseClick(window->BitBtn1, Qt::LeftButton);
        EXPECT_EQ(testhooks::shown().size(), c.boxes + 3) << name;
        EXPECT_TRUE(window->isVisible()) << name;
        file.seek(0);
        EXPECT_EQ(file.readAll(), stored) << name;
        EXPECT_FALSE(QFile::exists(copy.path() + QStringLiteral("-journal"))) << name;
    }
}

TEST(ErrorBox, AppendsAFullStopWhenTheLastCharacterSortsAfterIt)
{
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {
        {"no such table: D_X", "no such table: D_X."},
        {"file is encrypted or is not a database", "file is encrypted or is not a database."},
        {"done.", "done."},
        {"(1)", "(1)"},
        {"姓名 不能为空！", "姓名 不能为空！."},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorBoxText(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown)) << c.message;
}

TEST(StandardTexts, ButtonsAndTheFileDialogReadInChinese)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("标题"), QStringLiteral("内容"),
                    QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QStringList buttons;
    for (QMessageBox::StandardButton b : {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
        buttons << box.button(b)->text();
    EXPECT_EQ(buttons, (QStringList{"确定", "是(&Y)", "否(&N)", "取消"}));

    QFileDialog dialog(nullptr, QStringLiteral("打开"), QString(), QStringLiteral("Excel文件(*.xls)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList labels;
    for (QFileDialog::DialogLabel label : {QFileDialog::LookIn, QFileDialog::FileName, QFileDialog::FileType,
                                           QFileDialog::Accept, QFileDialog::Reject})
        labels << dialog.labelText(label);
    EXPECT_EQ(labels, (QStringList{"查找范围：", "文件名称(&N)：", "文件类型：", "打开(&O)", "取消"}));
}

TEST(StandardTexts, CaptionsGetNoProgramNameAppended)
{
    // The window system appends a display name, when one is set, to every caption.
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
    QCoreApplication::setApplicationName(name);
    EXPECT_EQ(name, QStringLiteral("Ostrel名片管理软件"));
}
