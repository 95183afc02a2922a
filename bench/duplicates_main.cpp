// The duplicate search on generated cards with planted duplicates: time, peak memory, and
// how many of the planted pairs it finds (recall) and how many of its pairs are planted
// (precision). Cards as arguments (default 100,000 and 1,000,000); the seed is fixed. Then
// the merge of a group of three cards holding 1,000 visits in a generated database of
// 100,000 cards and on a server of this machine ("merge" alone as the argument runs only that).
#include "duplicate_cards.h"
#include "generator.h"
#include "measure.h"

#include "core/duplicates/duplicate_finder.h"
#include "core/duplicates/duplicate_merge.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "core/server_setup.h"
#include "core/sync/sync_cards.h"
#include "engine/connection_string.h"
#include "engine/postgres/pg_connection.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "pg_server.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <cstdlib>
#include <unordered_map>

using namespace ostrel;

namespace {

void run(int count)
{
    const double empty = bench::statusMb("VmRSS:");
    const bench::DuplicateWorkload work = bench::duplicateWorkload(count, 20261210);
    bench::resetPeak();
    const double before = bench::statusMb("VmRSS:");
    // The program never holds these: it reads a page of cards at a time and keeps the hashes
    // of their keys.
    std::printf("%9d cards: %6.1f MB the generated cards (not held by the program)\n", count, before - empty);
    std::vector<DuplicateGroup> groups;
    // The processor time beside the wall-clock time: this machine is shared, and a loaded one
    // stretches the latter.
    const std::clock_t cpuStart = std::clock();
    const double ms = bench::elapsedMs([&] { groups = findDuplicates(work.cards); });
    const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    const double peak = bench::statusMb("VmHWM:") - before;

    // Pairs: the planted ones are the cards of one person; the found ones share a group.
    std::unordered_map<int, long long> perPerson;
    for (int p : work.person)
        ++perPerson[p];
    long long planted = 0;
    for (const auto& [p, n] : perPerson)
        planted += n * (n - 1) / 2;
    long long found = 0, right = 0;
    for (const DuplicateGroup& g : groups)
        for (size_t i = 0; i < g.cards.size(); ++i)
            for (size_t j = i + 1; j < g.cards.size(); ++j) {
                ++found;
                right += work.person[static_cast<size_t>(g.cards[i] - 1)] == work.person[static_cast<size_t>(g.cards[j] - 1)];
            }
    // Which signal joins which cards wrongly: the direct pairs by their strongest reason.
    long long wrong[kDuplicateReasonCount] = {}, all[kDuplicateReasonCount] = {};
    for (const DuplicateGroup& g : groups)
        for (const DuplicatePair& pair : g.pairs) {
            const int r = static_cast<int>(pair.reasons.front());
            ++all[r];
            wrong[r] += work.person[static_cast<size_t>(pair.first - 1)] != work.person[static_cast<size_t>(pair.second - 1)];
        }
    for (int r = 0; r < kDuplicateReasonCount; ++r)
        std::printf("  %-24s %7lld pairs, %6lld of different people\n", qPrintable(duplicateReasonText(static_cast<DuplicateReason>(r))), all[r], wrong[r]);
    std::printf("%9d cards: %8.0f ms (processor %.0f ms), %6.1f MB peak of the search (target <= 150 MB at 1,000,000), %zu groups, %lld planted pairs, %lld found, "
                "precision %.4f, recall %.4f\n",
                count, ms, cpuMs, peak, groups.size(), planted, found, found ? double(right) / double(found) : 1.0,
                planted ? double(right) / double(planted) : 1.0);
}

// A group of three cards of one person, the visits spread over them, added to the database.
std::vector<int64_t> addGroup(Database& db, int visits)
{
    std::vector<int64_t> ids;
    const int share[] = {visits / 2, visits / 3, visits - visits / 2 - visits / 3};
    for (int c = 0; c < 3; ++c) {
        CardValues values;
        values[kNameField] = c == 1 ? QStringLiteral("张 伟") : QStringLiteral("张伟");
        values[4] = QStringLiteral("138001380%1").arg(c);
        values[12] = QStringLiteral("华为技术有限公司");
        const int64_t id = sync::addLocalCard(db, values, QStringLiteral("2026-03-31"));
        for (int v = 0; v < share[c]; ++v)
            db.runBound(QStringLiteral("insert into DList (DID, LDate, LType, LMemo) values (?1, '2025-06-01', '面谈', '谈价格')"),
                        {QVariant::fromValue<qint64>(id)});
        db.runBound(QStringLiteral("insert into DJNR (DID, JDate, JMemo) values (?1, '1990-05-01', '生日')"), {QVariant::fromValue<qint64>(id)});
        ids.push_back(id);
    }
    return ids;
}

void measureMerge(Database& db, const char* engine, int cards, int visits)
{
    std::vector<double> times;
    for (int run = 0; run < 5; ++run) {
        db.beginTransaction();
        const std::vector<int64_t> group = addGroup(db, visits);
        db.commit();
        times.push_back(bench::elapsedMs([&] {
            const std::vector<MergeCard> read = loadMergeCards(db, group);
            const size_t kept = defaultKeptCard(read);
            if (mergeCards(db, read, kept, mergedValues(read, defaultChoice(read, kept))) != MergeOutcome::Merged)
                std::abort();
        }));
    }
    std::sort(times.begin(), times.end());
    std::printf("engine=%s merge of 3 cards with %d visits in %d cards: median %.0f ms, best %.0f ms (target <= 500 ms)\n", engine,
                visits, cards, bench::median(times), times.front());
}

// On the file of a generated database, and on a PostgreSQL server of this machine with a
// fresh card database (skipped when none can be started).
void runMerge(int cards, int visits)
{
    QTemporaryDir folder;
    const QString program = bench::makeProgramFolder(folder, bench::Workload::ofCards(cards));
    SqlCipherConnection file(cardDatabaseRules());
    file.setConnectionString(cardConnectionString(program));
    upgradeSchema(file);
    measureMerge(file, "file", cards, visits);

    QTemporaryDir serverFolder;
    test::LocalServer server(serverFolder.path());
    if (!server.unavailable().isEmpty()) {
        std::printf("engine=server skipped: %s\n", qPrintable(server.unavailable()));
        return;
    }
    server.admin(QStringLiteral("CREATE DATABASE cards"));
    PgConnection db(server.connectionText(QStringLiteral("cards")), cardDatabaseRules());
    initServer(db);
    measureMerge(db, "server", 0, visits);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> counts;
    bool mergeOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "merge") == 0)
            mergeOnly = true;
        else
            counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty() && !mergeOnly)
        counts = {100000, 1000000};
    for (int count : counts)
        run(count);
    runMerge(100000, 1000);
}
