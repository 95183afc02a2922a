#include "app/sync_commands.h"

#include "app/application.h"
#include "app/console.h"
#include "app/server_commands.h"
#include "core/open_database.h"
#include "core/sync/card_sync.h"
#include "core/sync/carddav_client.h"
#include "core/sync/sync_state.h"
#include "engine/engine_error.h"

#include <QCoreApplication>

#include <algorithm>
#include <iterator>

namespace ostrel {

namespace {

inline constexpr char kPasswordVariable[] = "OSTREL_SYNC_PASSWORD";
// The exit code of a sync that went through but left cards the server would not take.
constexpr int kSomeRefused = 3;

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
    QUrl url;
    try {
        url = sync::serverUrl(address);
    } catch (const sync::SyncError& error) {
        printLine(error.message(), stderr);
        return 2;
    }
    const QString password = syncPassword(user);
    OpenedCardDatabase opened = openProgramDatabase();
    printLine(QStringLiteral("正在连接 %1 …").arg(url.toDisplayString()));
    sync::CardDavClient client(user, password);
    // A certificate trusted beforehand with --sync-trust.
    const QString trusted = sync::syncSetting(*opened.database, sync::setting::kTrusted);
    if (!trusted.isEmpty())
        client.trustCertificate(trusted);
    const sync::AddressBook book = chooseBook(client, url);
    sync::SyncAccount account;
    account.book = book.url;
    account.user = user;
    account.password = password;
    account.trustedCertificate = trusted;
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
    if (!report.refused.isEmpty()) {
        printLine(QStringLiteral("同步完成，但有 %1 张名片未能同步（见上）。").arg(report.refused.size()), stderr);
        return kSomeRefused;
    }
    printLine(QStringLiteral("同步完成。"));
    return 0;
}

int trust(const QString& typed)
{
    const QString fingerprint = sync::normalFingerprint(typed);
    if (fingerprint.isEmpty()) {
        printLine(QStringLiteral("“%1”不是 SHA-256 证书指纹（64 位十六进制数字，可用冒号分隔）。").arg(typed.left(200)), stderr);
        return 2;
    }
    OpenedCardDatabase opened = openProgramDatabase();
    sync::setSyncSetting(*opened.database, sync::setting::kTrusted, fingerprint);
    printLine(QStringLiteral("已信任指纹为 %1 的证书。").arg(sync::shownFingerprint(fingerprint)));
    return 0;
}

} // namespace

std::optional<int> runSyncCommand(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const QString command = QString::fromLocal8Bit(argv[1]);
    const struct {
        const char* name;
        int argc;
        const char* usage;
    } commands[] = {
        {"--sync-setup", 4, "用法：ostrel --sync-setup 服务器地址 用户名"},
        {"--sync", 2, "用法：ostrel --sync"},
        {"--sync-trust", 3, "用法：ostrel --sync-trust 证书指纹"},
    };
    const auto known = std::find_if(std::begin(commands), std::end(commands),
                                    [&](const auto& c) { return command == QString::fromLatin1(c.name); });
    if (known == std::end(commands))
        return std::nullopt;
    QCoreApplication app(argc, argv);
    if (argc != known->argc) {
        printLine(QString::fromUtf8(known->usage), stderr);
        return 2;
    }
    try {
        if (known == std::begin(commands))
            return setup(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
        if (known->argc == 3)
            return trust(QString::fromLocal8Bit(argv[2]));
        return syncOnce();
    } catch (const sync::SyncError& e) {
        printLine(QStringLiteral("同步失败：%1").arg(e.message()), stderr);
        if (!e.fingerprint.isEmpty())
            printLine(QStringLiteral("核对指纹无误后，运行 ostrel --sync-trust %1 信任此证书，再重新运行。").arg(e.fingerprint), stderr);
        return 1;
    } catch (const EngineError& e) {
        printLine(e.message(), stderr);
        return 1;
    }
}

} // namespace ostrel
