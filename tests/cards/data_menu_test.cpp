// The main window's 数据 menu and what belongs to the database file: backups (by hand and at
// close), restoring, the password, a read-only file, and a team server without them.
#include "core/database_file_commands.h"
#include "core/open_database.h"
#include "main_window_fixture.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "plain_user.h"
#include "ui_helpers.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

using namespace ostrel;
using test::MainWindow;

TEST_F(MainWindow, CloseAsksAndOnlyYesEnds)
{
    startMain();
    main->show();
    testhooks::queueAnswer(false);
    EXPECT_FALSE(main->close());
    EXPECT_TRUE(main->isVisible());
    ASSERT_EQ(testhooks::shown().size(), 1);
    EXPECT_EQ(testhooks::shown()[0].text, QStringLiteral("您确认要退出 Ostrel名片管理软件 吗？ ^_^ "));
    EXPECT_FALSE(QFileInfo::exists(backupFolder()));
    testhooks::queueAnswer(true);
    EXPECT_TRUE(main->close());
    // A normal close keeps the day's backup of the file (a team server's administrator backs it up).
    EXPECT_EQ(QDir(backupFolder()).entryList(QDir::Files),
              test::onServerEngine() ? QStringList{} : QStringList{"db-" + dateText(today()) + ".edb"});
}

TEST_F(MainWindow, DataMenuBacksUpAndRestores)
{
    OSTREL_FILE_ONLY("backing up and restoring the file");
    addCard(QStringLiteral("备份前"));
    startMain();
    const QString backup = database.programDir() + QStringLiteral("我的备份.edb");
    testhooks::queueFile(backup);
    runGuarded([&] { main->BackupAction->trigger(); });
    EXPECT_EQ(testhooks::shownTexts().last(), QStringLiteral("数据已备份到 ") + backup);
    addCard(QStringLiteral("备份后"));
    main->myRef();

    // A file that fails the checks is refused and nothing changes.
    const QString damaged = database.programDir() + QStringLiteral("坏.edb");
    QFile(damaged).open(QIODevice::WriteOnly);
    for (const QString& source : {damaged, database.path()}) {
        testhooks::clear();
        testhooks::queueFile(source);
        testhooks::queueAnswer(true);
        runGuarded([&] { main->RestoreAction->trigger(); });
        ASSERT_EQ(testhooks::shown().last().kind, testhooks::Shown::Error) << source.toStdString();
        EXPECT_EQ(listedNames(), (QStringList{"备份后", "备份前"}));
    }
    // The user can still say no.
    testhooks::queueFile(backup);
    testhooks::queueAnswer(false);
    runGuarded([&] { main->RestoreAction->trigger(); });
    EXPECT_EQ(listedNames(), (QStringList{"备份后", "备份前"}));

    testhooks::clear();
    testhooks::queueFile(backup);
    testhooks::queueAnswer(true);
    runGuarded([&] { main->RestoreAction->trigger(); });
    EXPECT_EQ(listedNames(), QStringList{"备份前"});
    const QStringList kept = QDir(backupFolder()).entryList({QStringLiteral("恢复前-*.edb")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(testhooks::shownTexts().last().startsWith(QStringLiteral("数据已恢复。"))) << testhooks::shownTexts().join(u'|').toStdString();
}

TEST_F(MainWindow, DataMenuSetsChangesAndRemovesThePassword)
{
    OSTREL_FILE_ONLY("the file's password");
    addCard(QStringLiteral("卡片"));
    startMain();
    DatabaseFileCommands& db = *dm.fileCommands();
    const struct {
        const char* name;
        QStringList typed; // the current password when one is set, the new one, the new one again
        const char* key;   // the file's key afterwards; "" for the program's own
        const char* said;  // the start of the message, none when the user cancelled
    } cases[] = {
        {"empty", {""}, "", "密码不能为空"},
        {"the program's own", {"kqv749"}, "", "这是程序自带的密码"},
        {"typed differently", {"甲'1", "甲'2"}, "", "两次输入的新密码不一样"},
        {"cancelled", {"甲'1"}, "", nullptr},
        {"set", {"甲'1", "甲'1"}, "甲'1", "密码已设置。"},
        {"wrong current", {"甲'2"}, "甲'1", "现在的密码不对"},
        {"changed", {"甲'1", "新 密码", "新 密码"}, "新 密码", "密码已修改。"},
        {"removed", {"新 密码", "", ""}, "", "密码已取消。"},
    };
    for (const auto& c : cases) {
        testhooks::clear();
        for (const QString& typed : c.typed)
            testhooks::queuePassword(typed);
        runGuarded([&] { main->PasswordAction->trigger(); });
        EXPECT_EQ(testhooks::pendingAnswers(), 0) << c.name;
        QStringList said;
        for (const auto& shown : testhooks::shown())
            if (shown.kind != testhooks::Shown::Password)
                said << shown.text;
        if (c.said) {
            ASSERT_EQ(said.size(), 1) << c.name << ": " << said.join(u'|').toStdString();
            EXPECT_TRUE(said[0].startsWith(QString::fromUtf8(c.said))) << c.name << ": " << said[0].toStdString();
        } else {
            EXPECT_EQ(said, QStringList()) << c.name;
        }
        const QString key = *c.key ? QString::fromUtf8(c.key) : QStringLiteral("kqv749");
        EXPECT_TRUE(db.opensWithPassword(key)) << c.name;
        EXPECT_EQ(db.hasUserPassword(), *c.key != 0) << c.name;
        // The list shown before reads on through the reopened connection.
        EXPECT_EQ(listedNames(), QStringList{"卡片"}) << c.name;
    }

    // A backup made with a password is restored once its password is given, and keeps it.
    db.changePassword(QStringLiteral("备份的"));
    const QString backup = database.programDir() + QStringLiteral("有密码.edb");
    testhooks::queueFile(backup);
    runGuarded([&] { main->BackupAction->trigger(); });
    db.changePassword({});
    addCard(QStringLiteral("备份后"));
    testhooks::clear();
    testhooks::queueFile(backup);
    testhooks::queuePassword(QStringLiteral("错"));
    testhooks::queuePassword(QStringLiteral("备份的"));
    testhooks::queueAnswer(true);
    runGuarded([&] { main->RestoreAction->trigger(); });
    main->myRef();
    EXPECT_EQ(listedNames(), QStringList{"卡片"});
    EXPECT_TRUE(db.hasUserPassword());
    EXPECT_TRUE(testhooks::shownTexts().last().contains(QStringLiteral("恢复后的数据库使用所选备份的密码")))
        << testhooks::shownTexts().join(u'|').toStdString();
}

TEST_F(MainWindow, ReadOnlyFolderListsTheCardsAndRefusesEachSave)
{
    OSTREL_FILE_ONLY("a file in a read-only folder");
    addCard(QStringLiteral("只读"));
    dm.ADOConnection1.close();
    const QString data = database.programDir() + QStringLiteral("Data");
    QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        const test::PlainUser user;
        startMain();
        EXPECT_EQ(listedNames(), QStringList{"只读"});
        EXPECT_FALSE(main->ReadOnlyLabel->isHidden());
        EXPECT_FALSE(main->QuickFindEdit->isEnabled()) << "no key table can be built";
        testhooks::queueAnswer(true);
        QTest::mouseClick(main->SpeedButton3, Qt::LeftButton);
        ASSERT_EQ(testhooks::shown().last().kind, testhooks::Shown::Error);
        EXPECT_TRUE(testhooks::shown().last().text.contains(QStringLiteral("只读"))) << testhooks::shown().last().text.toStdString();
        EXPECT_EQ(listedNames(), QStringList{"只读"});
        // Closing writes no backup and shows no error.
        testhooks::clear();
        testhooks::queueAnswer(true);
        EXPECT_TRUE(main->close());
        EXPECT_EQ(testhooks::shown().size(), 1);
    }
    QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(MainWindow, StatusLineNamesTheDatabaseAndATeamServerLeavesOutTheFileCommands)
{
    // On a file run, a server's engine as the windows see it: no file of its own, named by its server.
    struct ServerLike : SqlCipherConnection {
        ServerLike() : SqlCipherConnection(cardDatabaseRules()) {}
        bool has(Capability capability) const override { return capability != Capability::LocalFile; }
        QString displayName() const override { return QStringLiteral("db.example/名片"); }
    };
    std::unique_ptr<TfrmDM> standIn;
    if (!test::onServerEngine()) {
        startMain();
        EXPECT_EQ(main->DatabaseLabel->text().trimmed(), QStringLiteral("数据库：") + QDir::toNativeSeparators(database.path()));
        main.reset();
        auto engine = std::make_unique<ServerLike>();
        engine->setConnectionString(database.connectionString());
        standIn = std::make_unique<TfrmDM>(std::move(engine));
    }
    TfrmDM& team = standIn ? *standIn : dm;
    addCard(QStringLiteral("同事的"));
    TfrmMain window(team);
    runGuarded([&] { window.FormCreate(); });
    EXPECT_TRUE(testhooks::shown().isEmpty());
    EXPECT_EQ(window.DatabaseLabel->text().trimmed(), QStringLiteral("团队数据库：") + team.ADOConnection1.displayName());
    EXPECT_EQ(window.ADOQuery1->recordCount(), 1);
    for (QAction* action : {window.BackupAction, window.RestoreAction, window.PasswordAction}) {
        EXPECT_FALSE(action->isEnabled()) << action->objectName().toStdString();
        EXPECT_TRUE(action->toolTip().startsWith(QStringLiteral("团队数据库"))) << action->objectName().toStdString();
    }
    window.resize(1000, 600);
    window.show();
    if (const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOTS"); !dir.isEmpty()) {
        EXPECT_TRUE(window.grab().save(QDir(dir).filePath(QStringLiteral("team_main.png"))));
    }
    // Closing keeps no daily backup: the server's administrator backs it up.
    testhooks::clear();
    testhooks::queueAnswer(true);
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(QFileInfo::exists(backupFolder()));
}
