// The phone sync from the main window against a real Radicale: the settings window (what is
// wrong said in Chinese, the address book found or made, a certificate trusted once the user
// confirms it), 立即同步 on its thread with its summary, the automatic times, and a card typed
// on one desktop reaching a second desktop's list through the server.
#include "cards/card_editor.h"
#include "cards/card_form.h"
#include "cards/phone_sync.h"
#include "core/card_fields.h"
#include "core/sync/carddav_client.h"
#include "core/sync/sync_state.h"
#include "dav_server.h"
#include "main_window_fixture.h"
#include "settings/sync_settings_window.h"
#include "ui/common/gbk_edit.h"
#include "ui_helpers.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

using namespace ostrel;
using test::DavServer;

namespace {

// A plain web server, which knows nothing of address books.
struct WebServer {
    WebServer()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        root = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        process.start(QStringLiteral("python3"), {QStringLiteral("-m"), QStringLiteral("http.server"), QStringLiteral("--bind"),
                                                  QStringLiteral("127.0.0.1"), QString::number(port)});
        for (int i = 0; i < 100; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (socket.waitForConnected(100))
                break;
            QThread::msleep(50);
        }
    }
    ~WebServer()
    {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
    QString root;
};

class SyncWindow : public test::MainWindow {
protected:
    void SetUp() override { OSTREL_NEEDS_DAV(server); }

    // The settings as the window saves them, for a book the phone made.
    void setUp(TfrmDM& on, const QUrl& book)
    {
        sync::SyncAccount account;
        account.book = book;
        account.user = DavServer::user();
        account.password = DavServer::password();
        sync::saveSyncAccount(on.ADOConnection1, server.root().toString(), account);
    }
    QUrl makeBook() { return phone.createAddressBook(server.root(), QStringLiteral("名片")); }
    void phoneAdds(const QUrl& book, const QString& uid, const QString& name)
    {
        const QByteArray text = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nFN:%2\r\nN:%2;;;;\r\nTEL;TYPE=CELL:13800000009\r\nEND:VCARD\r\n")
                                    .arg(uid, name).toUtf8();
        ASSERT_EQ(phone.put(book, uid + QStringLiteral(".vcf"), text, {}).outcome, sync::WriteResult::Done);
    }
    bool onServer(const QUrl& book, const QString& name)
    {
        QStringList hrefs;
        for (const sync::DavCard& card : phone.list(book))
            hrefs << card.href;
        for (const sync::DavCard& card : phone.fetch(book, hrefs))
            if (card.data.contains(name.toUtf8()))
                return true;
        return false;
    }
    // 立即同步 from the menu as a user picks it, its summary read while it is shown.
    QString syncNow(TfrmMain& window, const QString& screenshot = {})
    {
        QString summary;
        testhooks::queueModal([&](QDialog* shown) {
            summary = shown->findChild<QPlainTextEdit*>(QStringLiteral("SummaryText"))->toPlainText();
            if (!screenshot.isEmpty())
                shown->grab().save(screenshot);
        });
        window.SyncNowAction->trigger();
        // The window works on meanwhile: the sync has a thread and a connection of its own.
        EXPECT_TRUE(window.Sync->isRunning());
        EXPECT_TRUE(window.SyncLabel->text().startsWith(QStringLiteral("同步："))) << window.SyncLabel->text().toStdString();
        window.myRef();
        window.Sync->wait();
        return summary;
    }

    DavServer server{DavServer::Radicale};
    sync::CardDavClient phone{DavServer::user(), DavServer::password(), 10};
};

TEST_F(SyncWindow, SettingsSayWhatIsWrongThenFindOrMakeTheAddressBook)
{
    startMain();
    SyncSettingsWindow window(dm, main.get());
    const WebServer web;
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const QString nobody = QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort());
    closed.close(); // the port now answers nothing
    const struct {
        QString url;
        QString password;
        QString said;
    } faults[] = {
        {QStringLiteral("ftp://example.com/"), DavServer::password(), QStringLiteral("不是服务器地址")},
        {nobody, DavServer::password(), QStringLiteral("无法连接同步服务器")},
        {server.root().toString(), QStringLiteral("it's 'wrong'"), QStringLiteral("拒绝了用户名或密码")},
        {web.root, DavServer::password(), QStringLiteral("不是 CardDAV 通讯录服务器")},
    };
    window.UserEdit->setText(DavServer::user());
    for (const auto& fault : faults) {
        window.UrlEdit->setText(fault.url);
        window.PasswordEdit->setText(fault.password);
        window.TestButton->click();
        EXPECT_TRUE(window.ResultLabel->text().contains(fault.said)) << fault.url.toStdString() << ": " << window.ResultLabel->text().toStdString();
        EXPECT_EQ(window.BookCombo->count(), 0);
    }

    // A fresh account has no address book: the window offers to make one.
    window.UrlEdit->setText(server.root().toString());
    window.PasswordEdit->setText(DavServer::password());
    testhooks::queueAnswer(true);
    window.TestButton->click();
    ASSERT_EQ(window.BookCombo->count(), 1) << window.ResultLabel->text().toStdString();
    EXPECT_EQ(window.BookCombo->currentText(), QStringLiteral("名片"));
    window.OnCloseCheck->setChecked(true);
    window.EveryCheck->setChecked(true);
    window.EverySpin->setValue(5);
    window.show();
    window.grab().save(QStringLiteral("/tmp/ostrel-sync-settings.png"));
    window.BitBtn1->click();
    EXPECT_EQ(testhooks::shownTexts().last(), QStringLiteral("同步设置 保存成功！"));

    const sync::SyncAccount saved = sync::loadSyncAccount(dm.ADOConnection1);
    EXPECT_EQ(saved.book, phone.discover(server.root()).front().url);
    EXPECT_EQ(saved.password, DavServer::password());
    const sync::SyncTimes times = sync::loadSyncTimes(dm.ADOConnection1);
    EXPECT_TRUE(times.onClose);
    EXPECT_FALSE(times.onStart);
    EXPECT_EQ(times.everyMinutes, 5);
    // The main window follows the saved times once the window is closed.
    testhooks::queueModal([](QDialog*) {});
    main->SyncSettingsAction->trigger();
    EXPECT_TRUE(main->SyncTimer->isActive());
    EXPECT_EQ(main->SyncTimer->interval(), 5 * 60 * 1000);
}

TEST_F(SyncWindow, APhoneCardAppearsAfterSyncNowAndTheSummaryListsARefusedCard)
{
    startMain();
    const QUrl book = makeBook();
    setUp(dm, book);
    const int zhang = addCard(QStringLiteral("张三"));
    const int li = addCard(QStringLiteral("李四"));
    phoneAdds(book, QStringLiteral("phone-1"), QStringLiteral("王五"));
    // 李四 was named before a sync that stopped, and the phone has since taken the same UID:
    // the server refuses our copy, and the others go on.
    sync::saveSyncRecord(dm.ADOConnection1, {li, QStringLiteral("shared-uid"), QStringLiteral("shared-uid.vcf"), {}, {}, {}});
    phoneAdds(book, QStringLiteral("shared-uid"), QStringLiteral("赵六"));
    main->myRef();
    ASSERT_FALSE(listedNames().contains(QStringLiteral("王五")));

    QStringList steps;
    QObject::connect(main->Sync, &PhoneSync::progressed, main.get(), [&](const QString& step, int, int) { steps << step; });
    const QString summary = syncNow(*main, QStringLiteral("/tmp/ostrel-sync-summary.png"));
    EXPECT_TRUE(listedNames().contains(QStringLiteral("王五"))) << listedNames().join(u' ').toStdString();
    EXPECT_TRUE(steps.contains(QStringLiteral("上传本机的变更"))) << steps.join(u',').toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("下载 2 张名片"))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("未能同步的名片 1 张"))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("李四："))) << summary.toStdString();
    EXPECT_TRUE(main->SyncLabel->text().contains(QStringLiteral("1 张未能同步"))) << main->SyncLabel->text().toStdString();
    EXPECT_TRUE(onServer(book, QStringLiteral("张三")));
    EXPECT_EQ(column(QStringLiteral("select BName from D_B where ID=%1").arg(zhang)).first(), QStringLiteral("张三"));
}

TEST_F(SyncWindow, ACardTypedOnOneDesktopReachesTheSecondDesktopsList)
{
    startMain();
    const QUrl book = makeBook();
    setUp(dm, book);
    TfrmD_D editor(dm, main.get());
    main->follow(editor);
    editor.CardID = QStringLiteral("0");
    editor.show();
    test::typeText(static_cast<GbkEdit*>(editor.Form->control(kNameField)), QStringLiteral("孙七"));
    editor.BitBtn1->click();
    syncNow(*main);
    EXPECT_TRUE(onServer(book, QStringLiteral("孙七")));

    // The second desktop: a program folder and database of its own, set up for the same book.
    test::TestDatabase second;
    setProgramDir(second.programDir());
    TfrmDM dm2{test::cardDatabaseFor(second)};
    TfrmMain main2(dm2);
    runGuarded([&] { main2.FormCreate(); });
    setUp(dm2, book);
    syncNow(main2);
    Query& list = *main2.ADOQuery1;
    QStringList names;
    for (int r = 0; r < list.rows().rowCount(); ++r)
        names << list.rows().text(r, list.rows().columnIndex(QStringLiteral("姓名")));
    EXPECT_TRUE(names.contains(QStringLiteral("孙七"))) << names.join(u' ').toStdString();
}

TEST_F(SyncWindow, SyncsByItselfAtStartAndAtClose)
{
    startMain();
    const QUrl book = makeBook();
    setUp(dm, book);
    sync::saveSyncTimes(dm.ADOConnection1, {true, true, 0});
    phoneAdds(book, QStringLiteral("phone-1"), QStringLiteral("王五"));
    main.reset(); // the program started again
    startMain();
    EXPECT_TRUE(main->Sync->isRunning());
    main->Sync->wait();
    EXPECT_TRUE(listedNames().contains(QStringLiteral("王五")));
    EXPECT_TRUE(testhooks::shown().isEmpty()) << "an automatic sync shows no box";

    addCard(QStringLiteral("周八"));
    testhooks::queueAnswer(true);
    EXPECT_TRUE(main->close());
    EXPECT_TRUE(onServer(book, QStringLiteral("周八")));
}

TEST_F(SyncWindow, AnUntrustedCertificateIsTrustedOnlyOnceTheUserConfirmsIt)
{
    DavServer tls(DavServer::Radicale, true);
    OSTREL_NEEDS_DAV(tls);
    startMain();
    SyncSettingsWindow window(dm, main.get());
    window.UrlEdit->setText(tls.root().toString());
    window.UserEdit->setText(DavServer::user());
    window.PasswordEdit->setText(DavServer::password());
    testhooks::queueAnswer(false); // not confirmed: refused
    window.TestButton->click();
    EXPECT_TRUE(window.ResultLabel->text().contains(QStringLiteral("证书不受信任"))) << window.ResultLabel->text().toStdString();
    EXPECT_EQ(window.BookCombo->count(), 0);
    window.show();
    window.grab().save(QStringLiteral("/tmp/ostrel-sync-settings-untrusted.png"));
    ASSERT_FALSE(testhooks::shown().isEmpty());
    EXPECT_TRUE(testhooks::shown().last().text.contains(QStringLiteral("证书指纹（SHA-256）")));

    testhooks::queueAnswer(true); // the fingerprint confirmed
    testhooks::queueAnswer(true); // and the book made
    window.TestButton->click();
    ASSERT_EQ(window.BookCombo->count(), 1) << window.ResultLabel->text().toStdString();
    window.BitBtn1->click();
    EXPECT_EQ(sync::normalFingerprint(sync::syncSetting(dm.ADOConnection1, sync::setting::kTrusted)).size(), 64);

    addCard(QStringLiteral("张三"));
    const QString summary = syncNow(*main);
    EXPECT_TRUE(summary.contains(QStringLiteral("上传"))) << summary.toStdString() << main->SyncLabel->toolTip().toStdString();
}

} // namespace
