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
#include "cards/main_window.h"
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

    ostrel::TfrmMain window(dm);
    window.resize(1280, 800);
    window.FormCreate();
    window.show();
    const int listed = window.ADOQuery1->recordCount();
    // Typed a key at a time, as a user types: each figure is the keystroke that makes the text.
    const struct {
        const char* kind;
        const char* text;
    } queries[] = {{"initials", "wjzq"}, {"pinyin", "zhan"}, {"phone", "1381"}};
    for (const auto& q : queries) {
        const QString text = QString::fromLatin1(q.text);
        for (int length : {1, 2, 4}) {
            const QString typed = text.left(length);
            const double ms = ostrel::bench::medianMs(3, [&] {
                window.QuickFindEdit->setText(typed);
                window.quickFind();
            });
            std::printf("listed=%d kind=%s typed=%s keystroke_ms=%.0f found=%d\n", listed, q.kind, qPrintable(typed), ms,
                        window.ADOQuery1->recordCount());
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
    std::printf("listed=%d rss_mb=%.0f peak_mb=%.0f\n", listed, ostrel::bench::statusMb("VmRSS:"),
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
