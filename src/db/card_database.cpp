#include "card_database.h"

#include "connection_string.h"
#include "engine_error.h"
#include "pg_connection.h"
#include "sqlcipher_connection.h"

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

std::unique_ptr<CardDatabase> openCardDatabaseFor(const QString& programFolder)
{
    const QString settings = programFolder + QString::fromLatin1(kServerSettingsFile);
    // A link to a settings file that is gone still asks for the server.
    const QFileInfo info(settings);
    if (info.exists() || info.isSymLink())
        return std::make_unique<PgConnection>(readServerSettings(settings));
    auto file = std::make_unique<SqlCipherConnection>();
    file->setConnectionString(cardConnectionString(programFolder));
    return file;
}

} // namespace ostrel
