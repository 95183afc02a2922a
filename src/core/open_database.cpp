#include "core/open_database.h"

#include "core/search_keys.h"
#include "core/schema_names.h"
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"
#include "engine/sqlcipher/sqlcipher_connection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace ostrel {

namespace {

bool isUri(const QString& line)
{
    return line.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive)
        || line.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

} // namespace

const DatabaseRules& cardDatabaseRules()
{
    static const DatabaseRules rules{
        schemaNames(),
        QStringLiteral("select %1 from D_B where ID = ?1").arg(QString::fromLatin1(kChangeCounterColumn)),
        {{QByteArrayLiteral("QuickFind"), quickFindClass}},
    };
    return rules;
}

QString readServerSettings(const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QString orFile = QStringLiteral("\n如果不使用团队数据库，请删除该文件，程序将使用本机的数据库文件。");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw EngineError(QStringLiteral("无法读取团队数据库设置文件 %1（%2）。\n请检查该文件是否存在、能否读取。")
                              .arg(shown, file.errorString())
                          + orFile);
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF))) // written by an editor that marks UTF-8
        text.remove(0, 1);
    QStringList lines;
    for (const QString& raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#'))
            lines << line;
    }
    if (lines.isEmpty())
        throw EngineError(QStringLiteral("团队数据库设置文件 %1 中没有连接设置。\n"
                                         "请写入服务器的连接地址，例如 postgresql://用户名@服务器/数据库名，"
                                         "或 host=服务器 dbname=数据库名 user=用户名。")
                              .arg(shown)
                          + orFile);
    // libpq takes a URI alone; key=value pairs may be spread over lines.
    if (lines.size() > 1 && std::any_of(lines.begin(), lines.end(), isUri))
        throw EngineError(QStringLiteral("团队数据库设置文件 %1 中的连接地址（postgresql://…）必须单独写成一行，"
                                         "不能再有其他设置行。")
                              .arg(shown));
    return lines.join(u' ');
}

OpenedCardDatabase openCardDatabaseFor(const QString& programFolder)
{
    const QString settings = programFolder + QString::fromLatin1(kServerSettingsFile);
    // A link to a settings file that is gone still asks for the server.
    const QFileInfo info(settings);
    if (info.exists() || info.isSymLink())
        return {std::make_unique<PgConnection>(readServerSettings(settings), cardDatabaseRules()), nullptr};
    return openCardFile(cardConnectionString(programFolder));
}

OpenedCardDatabase openCardFile(const QString& connection)
{
    auto file = std::make_unique<SqlCipherConnection>(cardDatabaseRules());
    if (!connection.isEmpty())
        file->setConnectionString(connection);
    auto commands = std::make_unique<DatabaseFileCommands>(*file);
    return {std::move(file), std::move(commands)};
}

std::unique_ptr<Database> openSameCardDatabase(Database& db)
{
    if (auto* file = dynamic_cast<SqlCipherConnection*>(&db)) {
        auto same = std::make_unique<SqlCipherConnection>(cardDatabaseRules());
        same->setConnectionString(file->connectionString());
        if (!same->openWithPassword(file->hasUserPassword() ? file->password() : QString()))
            throw EngineError(QStringLiteral("名片数据库不能再次打开（密码已改变？）。请重新启动程序。"));
        return same;
    }
    auto server = std::make_unique<PgConnection>(db.connectionString(), cardDatabaseRules());
    server->open();
    return server;
}

QString cardConnectionString(const QString& programDir)
{
    const QString quotedEmpty = QStringLiteral("\"\"");
    const QList<QPair<QString, QString>> pairs = {
        {"provider", "Microsoft.Jet.OLEDB.4.0"},
        {"user ID", "Admin"},
        {kDataSourceKey, programDir + "Data/db.edb"},
        {"Mode", "Share Deny None"},
        {"Extended Properties", quotedEmpty},
        {"Jet OLEDB:System database", quotedEmpty},
        {"Jet OLEDB:Registry Path", quotedEmpty},
        {kPasswordKey, QStringLiteral("\"%1\"").arg(kDatabasePassword)},
        {"Jet OLEDB:Engine Type", "5"},
        {"Jet OLEDB:Database Locking Mode", "1"},
        {"Jet OLEDB:Global Partial Bulk Ops", "2"},
        {"Jet OLEDB:Global Bulk Transactions", "1"},
        {"Jet OLEDB:New Database Password", quotedEmpty},
        {"Jet OLEDB:Create System Database", "False"},
        {"Jet OLEDB:Encrypt Database", "False"},
        {"Jet OLEDB:Don't Copy Locale on Compact", "False"},
        {"Jet OLEDB:Compact Without Replica Repair", "False"},
        {"Jet OLEDB:SFP", "False"},
    };
    QStringList parts;
    for (const auto& [key, value] : pairs)
        parts << key + u'=' + value;
    return parts.join(u';');
}

} // namespace ostrel
