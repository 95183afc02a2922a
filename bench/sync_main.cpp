// The phone sync against a Radicale on this machine: the first sync of a generated card
// database to an empty address book, a sync with nothing changed, and one after ten cards
// changed on each side. Time and added peak memory, one line per figure with the workload
// and the target beside it. ostrel_bench_sync [N] (10,000 cards when not given).
#include "core/card_fields.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "core/sync/card_sync.h"
#include "core/sync/carddav_client.h"
#include "dav_server.h"
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "generator.h"
#include "measure.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <malloc.h>
#include <cstdio>

namespace ostrel::bench {

namespace {

constexpr int kChanged = 10;

void printFigure(int cards, const char* what, double ms, double addedMb, const sync::SyncReport& report, const char* target)
{
    std::printf("cards=%d %s_s=%.2f added_peak_mb=%.0f uploaded=%d downloaded=%d target=\"%s\"\n", cards, what, ms / 1000, addedMb,
                report.uploaded, report.downloaded, target);
    std::fflush(stdout);
}

void run(int cards)
{
    test::DavServer server(test::DavServer::Radicale);
    if (!server.unavailable().isEmpty())
        throw EngineError(server.unavailable());
    QTemporaryDir folder;
    const QString program = makeProgramFolder(folder, Workload::ofCards(cards));
    OpenedCardDatabase opened = openCardFile(cardConnectionString(program));
    upgradeSchema(dynamic_cast<SqlCipherConnection&>(*opened.database));
    Database& db = *opened.database;
    sync::CardDavClient phone(test::DavServer::user(), test::DavServer::password(), 60);
    sync::SyncAccount account{phone.createAddressBook(server.root(), QStringLiteral("名片")), test::DavServer::user(),
                              test::DavServer::password(), {}, 60};

    const auto measured = [&](const char* what, const char* target) {
        malloc_trim(0);
        resetPeak();
        const double before = statusMb("VmHWM:");
        sync::SyncReport report;
        const double ms = elapsedMs([&] { report = sync::syncCards(db, account); });
        printFigure(cards, what, ms, statusMb("VmHWM:") - before, report, target);
    };
    measured("first_sync", "<= 60 s, <= 100 MB added");
    measured("unchanged_sync", "<= 1 s");

    // Ten cards changed here, ten others on the phone.
    db.runBound(QStringLiteral("update D_B set BMail = 'changed@example.com' where ID in (select ID from D_B where theDel='否' order by ID limit ?1)"),
                {kChanged});
    QStringList hrefs;
    for (const sync::DavCard& card : phone.list(account.book))
        hrefs << card.href;
    for (const sync::DavCard& card : phone.fetch(account.book, hrefs.mid(hrefs.size() / 2, kChanged))) {
        QByteArray text = card.data;
        text.replace("\nFN:", "\nFN:改").replace("\nN:", "\nN:改");
        const sync::WriteResult put = phone.put(account.book, card.href, text, card.etag);
        if (put.outcome != sync::WriteResult::Done)
            std::fprintf(stderr, "the phone's change was refused: HTTP %d %s\n", put.status, put.reason.toUtf8().constData());
    }
    measured("incremental_sync_10_each_side", "(no target; a few seconds at most)");
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    try {
        std::vector<int> counts = ostrel::bench::cardCounts(argc, argv);
        if (argc < 2)
            counts = {10000};
        for (int cards : counts)
            ostrel::bench::run(cards);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
