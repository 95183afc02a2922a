// The card list on both engines at 100,000 and 1,000,000 cards, or the count given: refresh
// (the paged list of live cards, its visit and anniversary counts, the first screen of
// rows) and the name search, on the encrypted file and on a PostgreSQL server on this
// machine holding the same rows (copied by copyToServer). One line per figure, with the
// engine and the workload.
//
// The server's cluster is kept for later runs in $OSTREL_BENCH_CACHE/server (default
// /var/tmp/ostrel-bench-server: the server runs as nobody when this runs as root, and nobody
// cannot reach root's cache folder).
#include "cards/card_statements.h"
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"
#include "core/quick_find_index.h"
#include "core/server_setup.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "generator.h"
#include "measure.h"
#include "pg_server.h"
#include "core/open_database.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <string_view>
#include <cstdio>

namespace ostrel::bench {

namespace {

constexpr int kRefreshes = 10;
constexpr int kSearches = 5;
constexpr int kScreenRows = 40;

QString serverFolder()
{
    const QString chosen = qEnvironmentVariable("OSTREL_BENCH_CACHE");
    return (chosen.isEmpty() ? QStringLiteral("/var/tmp/ostrel-bench-server") : chosen + QStringLiteral("/server"));
}

// The shown columns as the main window builds them from D_XS.
QString shownColumns(Database& db)
{
    QString columns;
    const ResultSet rows = db.select(displayedColumnsSql());
    for (int r = 0; r < rows.rowCount(); ++r)
        columns += displayedColumnText(rows.text(r, 0), rows.text(r, 2));
    return columns;
}

// What a refresh or a search of the main window asks of the engine: the counters as the
// window keeps them, against the server's change stamp.
int listOnce(Database& db, const QString& sql, QuickFinder& counters)
{
    ResultSet list = db.selectPaged(sql);
    counters.countByEngine(db, list.ids(), [&] { return db.sumsInIdRuns(visitAndAnniversaryCountSql(), list.ids()); });
    for (int r = 0; r < std::min(kScreenRows, list.rowCount()); ++r)
        for (int c = 0; c < list.columnCount(); ++c)
            list.raw(r, c);
    return list.rowCount();
}

void measure(const char* engine, int cards, Database& db)
{
    const QString columns = shownColumns(db);
    int listed = 0;
    QuickFinder counters;
    const double refresh = medianMs(kRefreshes, [&] { listed = listOnce(db, cardListSql(columns, QString()), counters); });
    std::printf("engine=%s cards=%d refresh_ms=%.0f target_ms=%d listed=%d\n", engine, cards, refresh,
                std::string_view(engine) == "server" ? (cards > 100000 ? 300 : 60) : (cards > 100000 ? 250 : 30), listed);
    // The parts of a refresh: the keys alone, the counters alone (as after a change of visits).
    std::vector<int64_t> ids;
    const double keys = medianMs(3, [&] { ids = db.selectPaged(cardListSql(columns, QString())).ids(); });
    const double counts = medianMs(3, [&] { db.sumsInIdRuns(visitAndAnniversaryCountSql(), ids); });
    std::printf("engine=%s cards=%d keys_ms=%.0f counts_ms=%.0f\n", engine, cards, keys, counts);
    const double search =
        medianMs(kSearches, [&] { listed = listOnce(db, cardListSql(columns, nameClause(QStringLiteral("王"))), counters); });
    std::printf("engine=%s cards=%d name_search_ms=%.0f found=%d\n", engine, cards, search, listed);
    std::fflush(stdout);
}

void run(int cards)
{
    const Workload workload = Workload::ofCards(cards);
    const QString database = cachedDatabase(workload);
    SqlCipherConnection file{cardDatabaseRules()};
    file.setConnectionString(QStringLiteral("Data Source=%1;%2=%3").arg(database, QString::fromLatin1(kPasswordKey),
                                                                       QString::fromLatin1(kDatabasePassword)));
    file.open();
    measure("file", cards, file);

    // Named by the cached file it copies and the server's schema, short: a socket's path has
    // at most 107 bytes.
    const QString source = QFileInfo(database).completeBaseName() + serverSchemaStatements().join(u';');
    const QString folder = serverFolder() + QStringLiteral("/cards%1-%2").arg(cards).arg(qHash(source), 0, 16);
    const QString copied = folder + QStringLiteral("/copied");
    if (!QFile::exists(copied))
        QDir(folder).removeRecursively();
    test::LocalServer server(folder);
    if (!server.unavailable().isEmpty())
        throw EngineError(server.unavailable());
    if (!QFile::exists(copied)) {
        std::fprintf(stderr, "copying %d cards to the server in %s\n", cards, qPrintable(folder));
        server.admin(QStringLiteral("CREATE DATABASE cards"));
        PgConnection target(server.connectionText(QStringLiteral("cards")), cardDatabaseRules());
        initServer(target);
        const double ms = elapsedMs([&] { copyToServer(file, target); });
        std::printf("engine=server cards=%d copy_to_server_ms=%.0f\n", cards, ms);
        QFile mark(copied);
        mark.open(QIODevice::WriteOnly);
    }
    PgConnection db(server.connectionText(QStringLiteral("cards")), cardDatabaseRules());
    measure("server", cards, db);
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    try {
        for (int cards : argc > 1 ? std::vector<int>{std::atoi(argv[1])} : std::vector<int>{100000, 1000000})
            ostrel::bench::run(cards);
    } catch (const ostrel::EngineError& e) {
        std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
        return 1;
    }
    return 0;
}
