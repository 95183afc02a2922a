#include "test_database.h"

#include "db/connection_string.h"
#include "db/sqlcipher_connection.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

namespace ostrel::test {

QString deliveredDatabase()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        QFile schema(QStringLiteral(OSTREL_SCHEMA_SQL));
        if (!schema.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot read schema.sql");
        const QString target = dir.path() + QStringLiteral("/db.edb");
        deliverDatabase(target, QString::fromLatin1(kDatabasePassword), QString::fromUtf8(schema.readAll()));
        return target;
    }();
    return path;
}

TestDatabase::TestDatabase()
{
    QDir(m_dir.path()).mkpath(QStringLiteral("Data"));
    if (!QFile::copy(deliveredDatabase(), path()))
        throw std::runtime_error("cannot copy the delivered database");
}

QString TestDatabase::connectionString() const
{
    return cardConnectionString(programDir());
}

} // namespace ostrel::test
