// The phone sync against a Radicale on this machine, one line per figure with the workload
// and the target beside it (time, and the peak memory the sync added):
// - up: a generated card database's first sync to an empty address book, a sync with nothing
//   changed, and one after ten cards changed on each side;
// - down: an address book of the phone's (written in one request) synced into a database
//   without cards, then a sync with nothing changed.
// ostrel_bench_sync [N]: N cards each way; without N, 1,000 up (Radicale takes each new card
// in time that grows with the book: 10,000 uploads take it most of an hour here) and 10,000 down.
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
#include <cstdlib>
#include <ctime>

namespace ostrel::bench {

namespace {

constexpr int kChanged = 10;

// cpuS: this process's own processor time, so the server's share of the time shows.
void printFigure(int cards, const char* what, double ms, double cpuS, double addedMb, const sync::SyncReport& report, const char* target)
{
    std::printf("cards=%d %s_s=%.2f program_cpu_s=%.2f added_peak_mb=%.0f uploaded=%d downloaded=%d target=\"%s\"\n", cards, what,
                ms / 1000, cpuS, addedMb, report.uploaded, report.downloaded, target);
    std::fflush(stdout);
}

struct Bench {
    explicit Bench(int cards, int generated) : cards(cards)
    {
        if (!server.unavailable().isEmpty())
            throw EngineError(server.unavailable());
        const QString program = makeProgramFolder(folder, Workload::ofCards(generated));
        opened = openCardFile(cardConnectionString(program));
        upgradeSchema(dynamic_cast<SqlCipherConnection&>(*opened.database));
        account = {{}, test::DavServer::user(), test::DavServer::password(), {}, 900};
    }
    void measure(const char* what, const char* target)
    {
        malloc_trim(0);
        resetPeak();
        const double before = statusMb("VmHWM:");
        sync::SyncReport report;
        const std::clock_t cpu = std::clock();
        const double ms = elapsedMs([&] { report = sync::syncCards(*opened.database, account); });
        printFigure(cards, what, ms, double(std::clock() - cpu) / CLOCKS_PER_SEC, statusMb("VmHWM:") - before, report, target);
    }

    int cards;
    test::DavServer server{test::DavServer::Radicale};
    QTemporaryDir folder;
    OpenedCardDatabase opened;
    sync::CardDavClient phone{test::DavServer::user(), test::DavServer::password(), 900};
    sync::SyncAccount account;
};

void up(int cards)
{
    Bench bench(cards, cards);
    bench.account.book = bench.phone.createAddressBook(bench.server.root(), QStringLiteral("名片"));
    bench.measure("first_sync_up", "10,000 cards: <= 60 s, <= 100 MB added");
    bench.measure("unchanged_sync", "<= 1 s");
    // Ten cards changed here, ten others on the phone.
    bench.opened.database->runBound(
        QStringLiteral("update D_B set BMail = 'changed@example.com' where ID in (select ID from D_B where theDel='否' order by ID limit ?1)"),
        {kChanged});
    QStringList hrefs;
    for (const sync::DavCard& card : bench.phone.list(bench.account.book))
        hrefs << card.href;
    for (const sync::DavCard& card : bench.phone.fetch(bench.account.book, hrefs.mid(hrefs.size() / 2, kChanged))) {
        QByteArray text = card.data;
        text.replace("\nFN:", "\nFN:改").replace("\nN:", "\nN:改");
        const sync::WriteResult put = bench.phone.put(bench.account.book, card.href, text, card.etag);
        if (put.outcome != sync::WriteResult::Done)
            std::fprintf(stderr, "the phone's change was refused: HTTP %d %s\n", put.status, put.reason.toUtf8().constData());
    }
    bench.measure("sync_10_changed_each_side", "a few seconds");
}

void down(int cards)
{
    Bench bench(cards, 0);
    QByteArray book;
    for (int i = 0; i < cards; ++i)
        book += QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-%1\r\nFN:客户%1\r\nN:客户%1;;;;\r\nTEL;TYPE=CELL:139%2\r\n"
                               "EMAIL:c%1@example.com\r\nORG:某某有限公司\r\nEND:VCARD\r\n")
                    .arg(i)
                    .arg(i, 8, 10, QChar(u'0'))
                    .toUtf8();
    bench.account.book = bench.server.root().resolved(QUrl(QStringLiteral("/phone/book/")));
    bench.phone.discover(bench.server.root()); // makes the account's home
    if (bench.phone.put(bench.account.book, {}, book, {}).outcome != sync::WriteResult::Done)
        throw EngineError(QStringLiteral("Radicale did not take the phone's address book"));
    bench.measure("first_sync_down", "10,000 cards: <= 60 s, <= 100 MB added");
    bench.measure("unchanged_sync", "<= 1 s");
}

} // namespace

} // namespace ostrel::bench

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int given = argc > 1 ? std::atoi(argv[1]) : 0;
    try {
        ostrel::bench::up(given > 0 ? given : 1000);
        ostrel::bench::down(given > 0 ? given : 10000);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
