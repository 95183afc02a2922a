#include "test_database.h"

#include "engine/engine_error.h"

#include "engine/connection_string.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "pg_server.h"
#include "core/open_database.h"

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

bool onServerEngine()
{
    static const bool server = qEnvironmentVariable("OSTREL_TEST_ENGINE") == QLatin1String("server");
    return server;
}

OpenedCardDatabase cardDatabaseFor(const TestDatabase& copy)
{
    if (onServerEngine()) {
        const QString server = freshServerDatabase();
        if (server.isEmpty()) {
            // A skip recorded here stops the test before its body.
            [] { GTEST_SKIP() << "PostgreSQL server tests skipped: " << serverUnavailable().toStdString(); }();
        } else {
            QFile settings(copy.programDir() + QString::fromLatin1(kServerSettingsFile));
            if (!settings.open(QIODevice::WriteOnly) || settings.write(server.toUtf8() + '\n') <= 0)
                throw std::runtime_error("cannot write the server settings file");
        }
    }
    return openCardDatabaseFor(copy.programDir());
}

QString engineMessage(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EngineError& e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace ostrel::test
