// Quick find at 100,000 and 1,000,000 cards: the one-time build of the search keys of an
// existing database, then the time per keystroke (typed text in, list and counters out) for
// 1-, 2- and 4-character queries of initials, full pinyin and phone digits. One line per
// figure, with the workload.
//
//   ostrel_bench_quickfind                 100,000 generated cards
//   ostrel_bench_quickfind 1000000         the generated database of that many cards
//   ostrel_bench_quickfind path/db.edb     a copy of an existing database (never changed)
#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/card_statements.h"
#include "cards/main_window.h"
#include "core/search_keys.h"
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "core/schema_upgrade.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "generator.h"
#include "measure.h"
#include "core/open_database.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A program folder with the database: generated, or copied from the file given.
QString programFolder(const QTemporaryDir& folder, const QString& source, int& cards)
{
    bool number = false;
    cards = source.toInt(&number);
    if (number)
        return ostrel::bench::makeProgramFolder(folder, ostrel::bench::Workload::ofCards(cards));
    QDir(folder.path()).mkpath(QStringLiteral("Data"));
    if (!QFile::copy(source, folder.path() + QStringLiteral("/Data/db.edb")))
        throw ostrel::EngineError(QStringLiteral("cannot copy ") + source);
    return folder.path() + u'/';
}

void run(const QString& source)
{
    QTemporaryDir folder;
    int cards = 0;
    ostrel::setProgramDir(programFolder(folder, source, cards));
    ostrel::TfrmDM dm;
    // The data module on the file always holds its engine.
    auto& db = dynamic_cast<ostrel::SqlCipherConnection&>(dm.ADOConnection1);
    db.setConnectionString(ostrel::cardConnectionString(ostrel::programDir()));
    // As an older file: no key table (a generated or copied database may have one).
    db.execute(QStringLiteral("DROP TABLE IF EXISTS D_BKey"));
    db.close();
    const auto build = Clock::now();
    ostrel::upgradeSchema(db);
    const double buildMs = msSince(build);
    int64_t keyed = 0;
    db.runBound(QStringLiteral("select count(*) from D_BKey"), {}, [&](const auto& row) { keyed = row.integer(0); });
    std::printf("source=%s keys=%lld key_build_ms=%.0f\n", qPrintable(source), static_cast<long long>(keyed), buildMs);
    // The window starts as the program does: on a connection without the build's cached pages,
    // its peak its own.
    db.close();
    ostrel::bench::resetPeak();

    ostrel::TfrmMain window(dm);
    window.resize(1280, 800);
    const auto created = Clock::now();
    window.FormCreate();
    window.show();
    const double shownMs = msSince(created);
    const double shownRss = ostrel::bench::statusMb("VmRSS:");
    window.waitForQuickFindIndex();
    std::printf("cards=%d index_ready_ms=%.0f (from FormCreate; the window was usable after %.0f ms) index=%s "
                "rss_mb_shown=%.0f rss_mb_index=%.0f peak_mb=%.0f\n",
                cards, msSince(created), shownMs, window.hasQuickFindIndex() ? "yes" : "no", shownRss,
                ostrel::bench::statusMb("VmRSS:"), ostrel::bench::statusMb("VmHWM:"));
    const int listed = window.ADOQuery1->recordCount();
    const double target = listed > 100000 ? 100 : 30;
    // As it was before the index: the engine's scan of the keys, the counters over the
    // found cards' ID runs.
    auto engineKeystroke = [&](const QString& typed) {
        window.QuickFindEdit->setText(typed);
        window.ADOQuery1->showOnly(ostrel::quickFind(db, typed, *window.ADOQuery1->statementIds()));
        db.sumsInIdRuns(ostrel::visitAndAnniversaryCountSql(), window.ADOQuery1->rows().shownIds());
    };
    auto indexKeystroke = [&](const QString& typed) {
        window.QuickFindEdit->setText(typed);
        window.quickFind();
    };
    // Typed a key at a time from an empty box, as a user types: each figure is the
    // keystroke that makes the text of that length, the median of three typings.
    const struct {
        const char* kind;
        const char* text;
    } queries[] = {{"initials", "wjzq"}, {"pinyin", "zhan"}, {"phone", "1381"}};
    for (const auto& q : queries) {
        const QString text = QString::fromLatin1(q.text);
        for (const auto& [how, keystroke] : {std::pair<const char*, std::function<void(const QString&)>>{"engine", engineKeystroke},
                                             {"index", indexKeystroke}}) {
            std::vector<double> times[5];
            int found[5] = {};
            for (int typing = 0; typing < (std::strcmp(how, "engine") == 0 && listed > 100000 ? 1 : 3); ++typing) {
                indexKeystroke(QString());
                for (int length = 1; length <= 4; ++length) {
                    times[length].push_back(ostrel::bench::elapsedMs([&] { keystroke(text.left(length)); }));
                    found[length] = window.ADOQuery1->recordCount();
                }
            }
            for (int length : {1, 2, 4})
                std::printf("listed=%d kind=%s typed=%s by=%s keystroke_ms=%.0f target_ms=%.0f found=%d\n", listed, q.kind,
                            qPrintable(text.left(length)), how, ostrel::bench::median(times[length]), target, found[length]);
            std::fflush(stdout);
        }
    }
    window.QuickFindEdit->setText(QStringLiteral("zhan"));
    window.quickFind();
    const auto start = Clock::now();
    window.QuickFindEdit->clear();
    window.quickFind();
    std::printf("listed=%d esc_restore_ms=%.0f\n", listed, msSince(start));

    // The measurement behind matching with the engine function rather than LIKE: both scan
    // the key table once, the function without LIKE's character-by-character folding.
    for (const char* text : {"zhan", "1381"}) {
        int64_t count = 0;
        const QString like = QStringLiteral("%") + QString::fromLatin1(text) + u'%';
        const double likeMs = ostrel::bench::medianMs(3, [&] {
            db.runBound(QStringLiteral("select count(*) from D_BKey where theKey like ?1 escape '\\'"), {like},
                        [&](const auto& row) { count = row.integer(0); });
        });
        const double functionMs = ostrel::bench::medianMs(3, [&] {
            db.runBound(QStringLiteral("select count(*) from D_BKey where QuickFind(theKey, ?1) > 0"),
                        {QString::fromLatin1(text)}, [&](const auto& row) { count = row.integer(0); });
        });
        std::printf("keys=%lld text=%s scan_like_ms=%.0f scan_quickfind_ms=%.0f matches=%lld\n", static_cast<long long>(keyed),
                    text, likeMs, functionMs, static_cast<long long>(count));
    }
    // This process also ran the engine's whole-table scans above, which the window never runs
    // once its index is in: the window's own peak, beside its target, is ostrel_bench_list's.
    std::printf("listed=%d rss_mb=%.0f peak_mb_with_engine_scans=%.0f\n", listed, ostrel::bench::statusMb("VmRSS:"),
                ostrel::bench::statusMb("VmHWM:"));
    ostrel::setProgramDir({});
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ostrel::Application app(argc, argv);
    ostrel::testhooks::enable();
    QStringList sources;
    for (int i = 1; i < argc; ++i)
        sources << QString::fromLocal8Bit(argv[i]);
    if (sources.isEmpty())
        sources << QStringLiteral("100000");
    for (const QString& source : sources)
        run(source);
    return 0;
}
