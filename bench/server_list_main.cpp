// The card list on both engines at 100,000 and 1,000,000 cards, or the count given: refresh
// (the paged list of live cards, its visit and anniversary counts, the first screen of
// rows) and the name search, on the encrypted file and on a PostgreSQL server on this
// machine holding the same rows (copied by copyToServer). One line per figure, with the
// engine and the workload. A second argument "refresh" measures the server's refresh alone,
// "window" the main window's on the server (its refreshes and peak memory).
//
// The server's cluster is kept for later runs in $OSTREL_BENCH_CACHE/server (default
// /var/tmp/ostrel-bench-server: the server runs as nobody when this runs as root, and nobody
// cannot reach root's cache folder).
#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/card_statements.h"
#include "cards/main_window.h"
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "engine/postgres/pg_connection.h"
#include "core/quick_find_index.h"
#include "core/schema_upgrade.h"
#include "core/search_keys.h"
#include "core/server_changes.h"
#include "core/server_find_index.h"
#include "core/server_setup.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "generator.h"
#include "measure.h"
#include "pg_server.h"
#include "core/open_database.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"

#include <QCheckBox>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
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

// Best and median of each of times, one line: the figure beside the target.
void printTimes(const char* what, const std::vector<double>& times)
{
    std::printf("%s_best_ms=%.0f %s_median_ms=%.0f", what, *std::min_element(times.begin(), times.end()), what,
                median(times));
}

QString loadNow()
{
    QFile load(QStringLiteral("/proc/loadavg"));
    load.open(QIODevice::ReadOnly);
    return QString::fromLatin1(load.readAll()).section(u' ', 0, 0);
}

// A refresh as the window runs it once the index of the server's keys is in: the counters
// from the index (the engine's when it cannot tell), the first screen of rows; the list's IDs.
std::vector<int64_t> refreshWithIndex(PgConnection& db, const QString& sql, QuickFinder& indexed, QuickFinder& counters)
{
    ResultSet list = db.selectPaged(sql);
    int64_t counts[2];
    if (!indexed.countAll(db, list.ids(), counts[0], counts[1]))
        counters.countByEngine(db, list.ids(), [&] { return db.sumsInIdRuns(visitAndAnniversaryCountSql(), list.ids()); });
    for (int r = 0; r < std::min(kScreenRows, list.rowCount()); ++r)
        for (int c = 0; c < list.columnCount(); ++c)
            list.raw(r, c);
    return list.ids();
}

// A refresh after another desktop added or deleted a visit of a listed card: as before
// (the keys, every card counted, the first rows), with the counts kept from the change log,
// and as the window does it once the index of the server's keys is in.
void measureRefreshAfterChange(int cards, PgConnection& db, PgConnection& other, const QString& columns)
{
    const QString sql = cardListSql(columns, QString());
    const std::vector<int64_t> ids = db.selectPaged(sql).ids();
    QuickFinder counters;
    listOnce(db, sql, counters);
    // As the window does it once the index of the server's keys is in: the counters from it.
    QuickFinder indexed;
    const double loadMs = elapsedMs([&] { indexed.setIndex(serverQuickFindIndexLoader(db)(nullptr)); });
    std::printf("engine=server cards=%d load=%s index_load_ms=%.0f\n", cards, qPrintable(loadNow()), loadMs);
    const auto indexedOnce = [&] { refreshWithIndex(db, sql, indexed, counters); };
    // As the window does it now: the index's counters, and the list's IDs kept between
    // refreshes and brought up to date from the log (on a connection of its own, as the
    // window's list is kept on the window's).
    PgConnection followed(db.connectionString(), cardDatabaseRules());
    QuickFinder followedIndex, followedCounters;
    followedIndex.setIndex(serverQuickFindIndexLoader(followed)(nullptr));
    const auto followedOnce = [&] {
        followServerCardList(followed, sql);
        return refreshWithIndex(followed, sql, followedIndex, followedCounters);
    };
    bool followedSame = followedOnce() == ids;
    std::vector<double> before, now, withIndex, withFollowed;
    for (int i = 0; i < kRefreshes; ++i) {
        const int64_t card = ids[static_cast<size_t>(i) * ids.size() / kRefreshes];
        other.execute(i % 2 == 0 ? QStringLiteral("insert into DList(DID,LDate,LType,LMemo) values(%1,'2026-01-02','电话','bench')").arg(card)
                                 : QStringLiteral("delete from DList where LMemo='bench' and DID=%1").arg(ids[static_cast<size_t>(i - 1) * ids.size() / kRefreshes]));
        now.push_back(elapsedMs([&] { listOnce(db, sql, counters); }));
        withIndex.push_back(elapsedMs(indexedOnce));
        std::vector<int64_t> followedIds;
        withFollowed.push_back(elapsedMs([&] { followedIds = followedOnce(); }));
        followedSame = followedSame && followedIds == db.selectPaged(sql).ids();
        before.push_back(elapsedMs([&] {
            ResultSet list = db.selectPaged(sql);
            db.sumsInIdRuns(visitAndAnniversaryCountSql(), list.ids());
            for (int r = 0; r < std::min(kScreenRows, list.rowCount()); ++r)
                for (int c = 0; c < list.columnCount(); ++c)
                    list.raw(r, c);
        }));
    }
    const auto recount = [&] { return db.sumsInIdRuns(visitAndAnniversaryCountSql(), ids); };
    int64_t fromIndex[2] = {-1, -1};
    const bool same = counters.countByEngine(db, ids, recount) == recount()
        && indexed.countAll(db, ids, fromIndex[0], fromIndex[1]) && std::vector<qint64>{fromIndex[0], fromIndex[1]} == recount();
    std::printf("engine=server cards=%d load=%s after_change ", cards, qPrintable(loadNow()));
    printTimes("old_refresh", before);
    std::printf(" ");
    printTimes("log_refresh", now);
    std::printf(" ");
    printTimes("indexed_refresh", withIndex);
    std::printf(" ");
    printTimes("followed_refresh", withFollowed);
    std::printf(" target_ms=%d counts_same=%s list_same=%s\n", cards > 100000 ? 300 : 60, same ? "yes" : "NO",
                followedSame ? "yes" : "NO");
    std::fflush(stdout);
}

// Quick find on the server, typed a key at a time from an empty box: before, the engine's
// scan and the found cards counted; log, the finder without an index (the server matches,
// the next keystroke narrows its kept keys); indexed, as the window's finder does it once the
// index of the server's keys is in. Each figure is the keystroke that makes the text of that
// length.
void measureQuickFind(int cards, PgConnection& db, const QString& columns)
{
    const std::vector<int64_t> list = db.selectPaged(cardListSql(columns, QString())).ids();
    QuickFinder indexed; // kept across typings, as the window keeps it
    indexed.setIndex(serverQuickFindIndexLoader(db)(nullptr));
    const auto sums = [&](const std::vector<int64_t>& found) { return db.sumsInIdRuns(visitAndAnniversaryCountSql(), found); };
    const struct {
        const char* kind;
        const char* text;
    } queries[] = {{"initials", "wjzq"}, {"pinyin", "zhan"}, {"phone", "1381"}};
    constexpr int kTypings = 3;
    for (const auto& q : queries) {
        const QString text = QString::fromLatin1(q.text);
        std::vector<double> before[5], now[5], withIndex[5];
        size_t found[5] = {};
        bool same = true;
        for (int typing = 0; typing < kTypings; ++typing) {
            QuickFinder finder;
            for (int length = 1; length <= 4; ++length) {
                const QString typed = text.left(length);
                std::vector<int64_t> old;
                std::vector<qint64> oldCounts;
                before[length].push_back(elapsedMs([&] { oldCounts = sums(old = quickFind(db, typed, list)); }));
                for (auto [times, path] : {std::pair{now, &finder}, std::pair{withIndex, &indexed}}) {
                    std::vector<int64_t> fresh;
                    std::vector<qint64> counts;
                    times[length].push_back(elapsedMs([&] {
                        fresh = path->find(db, typed, list);
                        int64_t visits = 0, anniversaries = 0;
                        counts = path->countsOfFound(visits, anniversaries)
                            ? std::vector<qint64>{visits, anniversaries}
                            : path->countByEngine(db, fresh, [&] { return sums(fresh); });
                    }));
                    same = same && old == fresh && oldCounts == counts;
                    found[length] = fresh.size();
                }
            }
        }
        for (int length : {1, 2, 4}) {
            std::printf("engine=server listed=%zu load=%s kind=%s typed=%s ", list.size(), qPrintable(loadNow()), q.kind,
                        qPrintable(text.left(length)));
            printTimes("old_keystroke", before[length]);
            std::printf(" ");
            printTimes("log_keystroke", now[length]);
            std::printf(" ");
            printTimes("indexed_keystroke", withIndex[length]);
            std::printf(" target_ms=%d found=%zu same=%s\n", cards > 100000 ? 100 : 30, found[length], same ? "yes" : "NO");
        }
        std::fflush(stdout);
    }
}

void measure(const char* engine, int cards, Database& db)
{
    const QString columns = shownColumns(db);
    int listed = 0;
    QuickFinder counters;
    const double refresh = medianMs(kRefreshes, [&] { listed = listOnce(db, cardListSql(columns, QString()), counters); });
    // The file's window counts from its index once it is read, not by the engine as here: its
    // refresh beside the target is ostrel_bench_list's.
    if (std::string_view(engine) == "server")
        std::printf("engine=server cards=%d refresh_ms=%.0f target_ms=%d listed=%d\n", cards, refresh, cards > 100000 ? 300 : 60,
                    listed);
    else
        std::printf("engine=%s cards=%d engine_counted_refresh_ms=%.0f listed=%d\n", engine, cards, refresh, listed);
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

// The main window on the server, as a user starts it: its peak memory after the start (the
// index of every card's key read), ten refreshes, a name search, a title sort and a few
// keystrokes of quick find.
void measureWindow(int cards, const QString& connection)
{
    QTemporaryDir folder;
    const QString programDir = folder.path() + u'/';
    QDir(programDir).mkpath(QStringLiteral("Data"));
    QFile settings(programDir + QString::fromLatin1(kServerSettingsFile));
    if (!settings.open(QIODevice::WriteOnly) || settings.write(connection.toUtf8() + '\n') <= 0)
        throw EngineError(QStringLiteral("cannot write the server settings"));
    settings.close();
    setProgramDir(programDir);
    resetPeak();
    {
        TfrmDM dm(openCardDatabaseFor(programDir));
        TfrmMain window(dm);
        window.resize(1280, 800);
        const double start = elapsedMs([&] {
            window.FormCreate();
            window.show();
        });
        const double indexMs = elapsedMs([&] { window.waitForQuickFindIndex(); });
        std::printf("engine=server cards=%d load=%s window_start_ms=%.0f index_wait_ms=%.0f index=%s rss_mb=%.0f peak_mb=%.0f\n",
                    cards, qPrintable(loadNow()), start, indexMs, window.hasQuickFindIndex() ? "yes" : "no",
                    statusMb("VmRSS:"), statusMb("VmHWM:"));
        std::vector<double> refreshes;
        for (int i = 0; i < kRefreshes; ++i)
            refreshes.push_back(elapsedMs([&] { window.myRef(); }));
        std::printf("engine=server cards=%d load=%s window_", cards, qPrintable(loadNow()));
        printTimes("myRef", refreshes);
        std::printf(" target_ms=%d listed=%d rss_mb=%.0f peak_mb=%.0f\n", cards > 100000 ? 300 : 60,
                    window.ADOQuery1->recordCount(), statusMb("VmRSS:"), statusMb("VmHWM:"));
        // Then a name search, a title sort of the whole list and quick find, as the file's
        // list benchmark does.
        window.Edit3->setText(QStringLiteral("王"));
        const double search = elapsedMs([&] { window.BitBtn1Click(); });
        window.CheckBox3->setChecked(false);
        window.BitBtn1Click();
        const int nameColumn = window.ADOQuery1->rows().columnIndex(QStringLiteral("姓名"));
        const double sort = elapsedMs([&] { window.DBGrid1->titleClick(nameColumn); });
        for (const char* typed : {"z", "zh", "zhan"}) {
            window.QuickFindEdit->setText(QString::fromLatin1(typed));
            window.quickFind();
        }
        std::printf("engine=server cards=%d window_name_search_ms=%.0f sort_ms=%.0f\n", cards, search, sort);
        std::printf("engine=server cards=%d after_start_refreshes_search_sort_quickfind rss_mb=%.0f peak_mb=%.0f "
                    "target_peak_mb=%d\n",
                    cards, statusMb("VmRSS:"), statusMb("VmHWM:"), cards > 100000 ? 150 : 70);
        std::fflush(stdout);
    }
    setProgramDir({});
}

// refreshOnly: the server's refresh figures alone, for paired runs; window: the main
// window's on the server alone.
void run(int cards, bool refreshOnly, bool window)
{
    const Workload workload = Workload::ofCards(cards);
    const QString database = cachedDatabase(workload);
    SqlCipherConnection file{cardDatabaseRules()};
    file.setConnectionString(QStringLiteral("Data Source=%1;%2=%3").arg(database, QString::fromLatin1(kPasswordKey),
                                                                       QString::fromLatin1(kDatabasePassword)));
    file.open();
    if (!refreshOnly && !window)
        measure("file", cards, file);

    // Named by the cached file it copies and the server's schema, short: a socket's path has
    // at most 107 bytes.
    // What an older server's start adds (upgradeServer, run below as the program's start runs
    // it) is left out: a copy made before gets it then.
    QStringList made = serverSchemaStatements();
    for (const QString& added : serverChangeLogStatements())
        made.removeOne(added);
    const QString source = QFileInfo(database).completeBaseName() + made.join(u';');
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
    const double upgrade = elapsedMs([&] { upgradeServer(db); });
    std::printf("engine=server cards=%d start_upgrade_ms=%.0f\n", cards, upgrade);
    if (window) {
        file.close();
        db.close();
        measureWindow(cards, server.connectionText(QStringLiteral("cards")));
        return;
    }
    measure("server", cards, db);
    PgConnection other(server.connectionText(QStringLiteral("cards")), cardDatabaseRules());
    const QString columns = shownColumns(db);
    measureRefreshAfterChange(cards, db, other, columns);
    if (!refreshOnly)
        measureQuickFind(cards, db, columns);
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    const std::string_view mode = argc > 2 ? argv[2] : "";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ostrel::Application app(argc, argv);
    ostrel::testhooks::enable();
    try {
        for (int cards : argc > 1 ? std::vector<int>{std::atoi(argv[1])} : std::vector<int>{100000, 1000000})
            ostrel::bench::run(cards, mode == "refresh", mode == "window");
    } catch (const ostrel::EngineError& e) {
        std::fprintf(stderr, "%s\n", e.message().toUtf8().constData());
        return 1;
    }
    return 0;
}
