#include "core/server_find_index.h"

#include "core/open_database.h"
#include "core/server_changes.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"

namespace ostrel {

namespace {

// More cards changed since the last look than this (an import on another desktop): read anew.
constexpr int64_t kMostTakenIn = 50000;

} // namespace

void ServerQuickFindIndex::load(Database& db, const std::atomic<bool>* stop, int64_t page)
{
    m_snapshot = readAtOneSnapshot(db, [&] {
        int64_t after = INT64_MIN;
        for (int64_t read = page; read == page;) {
            read = 0;
            // The counts' condition of their own: without it the server walks them from the
            // first card at every page (126 ms a page of 10,000 halfway through a million).
            db.runBound(QStringLiteral("select k.ID, k.theKey, coalesce(c.visits, 0), coalesce(c.anniversaries, 0) "
                                       "from D_BKey as k left join D_CardCount as c on c.card = k.ID and c.card > ?1 "
                                       "where k.ID > ?1 order by k.ID limit ?2"),
                        {QVariant::fromValue<qint64>(after), QVariant::fromValue<qint64>(page)},
                        [&](const Database::Row& row) {
                            if (stop && stop->load(std::memory_order_relaxed))
                                throw EngineError(QStringLiteral("stopped"));
                            const std::string_view key = row.utf8(1);
                            after = row.integer(0);
                            put(after, &key, static_cast<uint32_t>(row.integer(2)), static_cast<uint32_t>(row.integer(3)));
                            ++read;
                        });
        }
    });
    loaded();
}

QuickFindIndex::CatchUp ServerQuickFindIndex::catchUp(Database& db)
{
    if (m_snapshot.isEmpty())
        return CatchUp::Lost; // read inside a transaction of the caller: no moment to go on from
    bool known = true;
    QString snapshot;
    int64_t changed = 0;
    db.runBound(changedCardKeysSql(), {m_snapshot, QVariant::fromValue<qint64>(kMostTakenIn)}, [&](const Database::Row& row) {
        if (row.integer(0) == 0) {
            snapshot = row.text(1);
            changed = row.integer(2);
            known = changed <= kMostTakenIn && row.integer(3) == 0;
        } else if (known) {
            // A card without a key any more (deleted) keeps its place and matches nothing.
            const std::string_view key = row.utf8(4);
            put(row.integer(2), row.integer(3) != 0 ? &key : nullptr, static_cast<uint32_t>(row.integer(5)),
                static_cast<uint32_t>(row.integer(6)));
        }
    });
    if (!known)
        return CatchUp::Lost; // the window reads a new one on a worker

    m_snapshot = snapshot;
    return changed == 0 ? CatchUp::Unchanged : CatchUp::Changed;
}

QuickFindIndexLoader serverQuickFindIndexLoader(Database& db)
{
    if (!hasServerChangeLog(db))
        return {};
    return [connection = db.connectionString()](const std::atomic<bool>* stop) -> std::shared_ptr<QuickFindIndex> {
        PgConnection server(connection, cardDatabaseRules());
        server.open();
        auto index = std::make_shared<ServerQuickFindIndex>();
        index->load(server, stop);
        return index;
    };
}

} // namespace ostrel
