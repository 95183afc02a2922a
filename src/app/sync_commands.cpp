#include "app/sync_commands.h"

#include "app/application.h"
#include "app/console.h"
#include "app/server_commands.h"
#include "core/open_database.h"
#include "core/sync/card_sync.h"
#include "core/sync/carddav_client.h"
#include "engine/engine_error.h"

#include <QCoreApplication>

namespace ostrel {

namespace {

inline constexpr char kPasswordVariable[] = "OSTREL_SYNC_PASSWORD";

OpenedCardDatabase openProgramDatabase()
{
    OpenedCardDatabase opened = openCardDatabaseFor(programDir());
    openOnTerminal(opened);
    // A file from before the sync has no sync tables yet; the window would add them at its start.
    if (opened.fileCommands)
        opened.fileCommands->upgrade();
    return opened;
}

QString syncPassword(const QString& user)
{
    if (qEnvironmentVariableIsSet(kPasswordVariable))
        return qEnvironmentVariable(kPasswordVariable);
    return readHiddenLine(QStringLiteral("通讯录服务器上用户 %1 的密码：").arg(user));
}

// The account's first address book, or a new one named 名片 when it has none.
sync::AddressBook chooseBook(sync::CardDavClient& client, const QUrl& url)
{
    const std::vector<sync::AddressBook> books = client.discover(url);
    if (!books.empty()) {
        printLine(QStringLiteral("服务器上有 %1 个通讯录，选用第一个。").arg(books.size()));
        return books.front();
    }
    const QString name = QStringLiteral("名片");
    printLine(QStringLiteral("账户中还没有通讯录，新建了通讯录「%1」。").arg(name));
    return {client.createAddressBook(url, name), name};
}

int setup(const QString& address, const QString& user)
{
    const QUrl url = QUrl::fromUserInput(address);
    if (!url.isValid() || (url.scheme() != QStringLiteral("http") && url.scheme() != QStringLiteral("https"))) {
        printLine(QStringLiteral("“%1”不是服务器地址，请写成 https://服务器/ 这样的网址。").arg(address), stderr);
        return 2;
    }
    const QString password = syncPassword(user);
    OpenedCardDatabase opened = openProgramDatabase();
    printLine(QStringLiteral("正在连接 %1 …").arg(url.toDisplayString()));
    sync::CardDavClient client(user, password);
    const sync::AddressBook book = chooseBook(client, url);
    sync::SyncAccount account;
    account.book = book.url;
    account.user = user;
    account.password = password;
    sync::saveSyncAccount(*opened.database, url.toString(), account);
    const QString name = book.name.isEmpty() ? QStringLiteral("（未命名）") : book.name;
    printLine(QStringLiteral("同步的通讯录：%1 %2").arg(name, book.url.toDisplayString()));
    printLine(QStringLiteral("设置已保存在名片数据库中（用户 %1）。运行 ostrel --sync 即可同步。").arg(user));
    return 0;
}

int syncOnce()
{
    OpenedCardDatabase opened = openProgramDatabase();
    const sync::SyncAccount account = sync::loadSyncAccount(*opened.database);
    if (account.book.isEmpty()) {
        printLine(QStringLiteral("还没有设置同步的通讯录。请先运行：ostrel --sync-setup 服务器地址 用户名"), stderr);
        return 1;
    }
    printLine(QStringLiteral("正在与通讯录 %1 同步…").arg(account.book.toDisplayString()));
    const sync::SyncReport report = sync::syncCards(*opened.database, account);
    printLine(report.summary());
    printLine(QStringLiteral("同步完成。"));
    return 0;
}

} // namespace

std::optional<int> runSyncCommand(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const QString command = QString::fromLocal8Bit(argv[1]);
    const bool setupCommand = command == QStringLiteral("--sync-setup");
    if (!setupCommand && command != QStringLiteral("--sync"))
        return std::nullopt;
    QCoreApplication app(argc, argv);
    if (argc != (setupCommand ? 4 : 2)) {
        printLine(setupCommand ? QStringLiteral("用法：ostrel --sync-setup 服务器地址 用户名") : QStringLiteral("用法：ostrel --sync"), stderr);
        return 2;
    }
    try {
        if (setupCommand)
            return setup(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        return syncOnce();
    } catch (const sync::SyncError& e) {
        printLine(QStringLiteral("同步失败：%1").arg(e.message()), stderr);
        return 1;
    } catch (const EngineError& e) {
        printLine(e.message(), stderr);
        return 1;
    }
}

} // namespace ostrel
