#include "pg_server.h"

#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"
#include "core/server_setup.h"
#include "core/open_database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <pwd.h>
#include <unistd.h>

namespace ostrel::test {

namespace {

// The newest installed server's programs (Debian keeps them per version).
QString serverBinDir()
{
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    std::sort(found.begin(), found.end(), [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    for (auto it = found.crbegin(); it != found.crend(); ++it) {
        const QString bin = versions.filePath(*it + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

QString quoted(const QString& text)
{
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

constexpr int kPort = 5432; // a socket in a folder of its own: no other server is there

QString logPath(const QString& folder)
{
    return folder + QStringLiteral("/server.log");
}

bool copyCluster(const QString& from, const QString& to)
{
    const QString line = QStringLiteral("cp -a %1 %2").arg(quoted(from + QStringLiteral("/data")), quoted(to + QStringLiteral("/data")));
    return std::system(line.toLocal8Bit().constData()) == 0;
}

// initdb takes seconds on a loaded machine, and CTest starts a test program once per test:
// the cluster is made once per build folder, server version and user, and each run starts a
// copy. It is made under the temporary folder, which the user nobody can reach wherever the
// build folder lies, and renamed into place whole.
bool copySeedCluster(const QString& folder)
{
    const QString bin = serverBinDir();
    if (bin.isEmpty())
        return false; // LocalServer says why
    const QString seed = QStringLiteral(OSTREL_PG_SEED "-%1-%2").arg(QFileInfo(bin).dir().dirName()).arg(geteuid());
    if (!QFile::exists(seed + QStringLiteral("/data/PG_VERSION"))) {
        QTemporaryDir made(QDir::tempPath() + QStringLiteral("/ostrel-pg-seed-XXXXXX"));
        QTemporaryDir staged(seed + QStringLiteral(".new-XXXXXX"));
        if (!made.isValid() || !staged.isValid())
            return false;
        bool started = false;
        {
            const LocalServer first(made.path()); // initdb, and a start that proves the cluster
            started = first.unavailable().isEmpty();
        } // stopped: a copy of a running cluster would not start
        if (!started || !copyCluster(made.path(), staged.path()))
            return false;
        // Another program making it at the same time wins the rename; this one's is removed.
        QDir().rename(staged.path(), seed);
    }
    return copyCluster(seed, folder);
}

// The test program's server, with a template database holding the schema.
class Server {
public:
    Server() : m_server(m_dir.path())
    {
        m_unavailable = m_dir.isValid() ? m_server.unavailable() : QStringLiteral("no temporary folder");
        if (!m_unavailable.isEmpty())
            return;
        try {
            m_server.admin(QStringLiteral("CREATE DATABASE ostrel_template"));
            PgConnection templateDb(m_server.connectionText(QStringLiteral("ostrel_template")), cardDatabaseRules());
            initServer(templateDb);
        } catch (const EngineError& error) {
            m_unavailable = QStringLiteral("the template database was not made: ") + error.message();
        }
    }

    const QString& unavailable() const { return m_unavailable; }

    QString newDatabase(bool withSchema)
    {
        if (!m_unavailable.isEmpty())
            return {};
        const QString name = QStringLiteral("cards_%1").arg(++m_databases);
        m_server.admin(QStringLiteral("CREATE DATABASE %1%2").arg(name, withSchema ? QStringLiteral(" TEMPLATE ostrel_template") : QString()));
        return m_server.connectionText(name);
    }

    void restart() { m_server.restart(); }

private:
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/ostrel-pg-XXXXXX")};
    bool m_seeded = m_dir.isValid() && copySeedCluster(m_dir.path()); // else LocalServer runs initdb
    LocalServer m_server;
    QString m_unavailable;
    int m_databases = 0;
};

} // namespace

LocalServer::LocalServer(const QString& folder) : m_folder(folder)
{
    m_bin = serverBinDir();
    if (m_bin.isEmpty()) {
        m_unavailable = QStringLiteral("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb); "
                                       "scripts/install-deps installs it");
        return;
    }
    QDir().mkpath(folder);
    // The server refuses to run as root: it runs as nobody, in a folder of nobody's.
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            m_unavailable = QStringLiteral("cannot hand the server's folder to the user nobody");
            return;
        }
        m_asUser = QStringLiteral("runuser -u nobody -- ");
    }
    const QString data = folder + QStringLiteral("/data");
    m_new = !QFile::exists(data + QStringLiteral("/PG_VERSION"));
    if ((m_new && !command(QStringLiteral("initdb -D %1 -U ostrel --auth=trust --locale=C --encoding=UTF8 --no-sync").arg(quoted(data))))
        || !command(QStringLiteral("pg_ctl -D %1 -l %2 -w -o %3 start")
                        .arg(quoted(data), quoted(logPath(folder)),
                             quoted(QStringLiteral("-p %1 -k %2 -c listen_addresses= -c fsync=off "
                                                   "-c synchronous_commit=off -c full_page_writes=off")
                                        .arg(kPort)
                                        .arg(folder))))) {
        m_unavailable = QStringLiteral("the server did not start: ") + logTail();
        return;
    }
    m_running = true;
}

LocalServer::~LocalServer()
{
    if (m_running)
        command(QStringLiteral("pg_ctl -D %1 -m fast -w stop").arg(quoted(m_folder + QStringLiteral("/data"))));
}

QString LocalServer::connectionText(const QString& database) const
{
    return QStringLiteral("host=%1 port=%2 user=ostrel dbname=%3").arg(m_folder).arg(kPort).arg(database);
}

void LocalServer::admin(const QString& sql)
{
    PgConnection postgres(connectionText(QStringLiteral("postgres")), cardDatabaseRules());
    postgres.runServerSql(sql);
}

void LocalServer::restart()
{
    if (!command(QStringLiteral("pg_ctl -D %1 -m fast -w restart").arg(quoted(m_folder + QStringLiteral("/data")))))
        throw EngineError(QStringLiteral("the test server did not restart: ") + logTail());
}

bool LocalServer::command(const QString& line)
{
    const QString full = m_asUser + m_bin + u'/' + line + QStringLiteral(" >>") + quoted(logPath(m_folder) + QStringLiteral(".tool"))
        + QStringLiteral(" 2>&1");
    return std::system(full.toLocal8Bit().constData()) == 0;
}

QString LocalServer::logTail() const
{
    QString text;
    for (const QString& path : {logPath(m_folder) + QStringLiteral(".tool"), logPath(m_folder)}) {
        QFile log(path);
        if (log.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(log.readAll().right(600));
    }
    return text;
}

namespace {

Server& server()
{
    static Server instance;
    return instance;
}

} // namespace

QString freshServerDatabase()
{
    return server().newDatabase(true);
}

QString emptyServerDatabase()
{
    return server().newDatabase(false);
}

QString serverUnavailable()
{
    return server().unavailable();
}

void restartServer()
{
    server().restart();
}

} // namespace ostrel::test
