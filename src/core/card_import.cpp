#include "core/card_import.h"

#include "core/new_card_statements.h"
#include "core/search_keys.h"
#include "engine/database.h"
#include "engine/engine_error.h"
#include "engine/query.h"
#include "formats/gbk.h"

#include <algorithm>
#include <memory>

namespace ostrel {

namespace {

// Progress is told (and a cancel noticed) every so many rows.
constexpr int kProgressStep = 50;

// The value cut to its limit: GBK bytes, never splitting a character. A text of at most
// limit/4 characters fits whatever they are (no character takes more than four bytes), so
// most values skip the byte count.
QString cutToLimit(const QString& value, int limit)
{
    return value.size() * 4 <= limit ? value : gbkCut(value, limit);
}

// Ends the import's transaction keeping the rows inserted so far, if the engine still
// has them: after a full disk or an I/O error it may have undone the transaction itself.
void keepImported(Database& db)
{
    try {
        if (db.inTransaction())
            db.commit();
    } catch (const EngineError&) {
        try {
            db.rollback();
        } catch (const EngineError&) {
            // The import's own error is the one to show.
        }
    }
}

qint64 lastCardId(Query& query)
{
    query.run(lastCardIdSql());
    const qint64 id = query.integer(QStringLiteral("LastID"));
    query.close();
    return id;
}

// Gives the cards numbered after keyedUpTo their search keys and commits them with the
// rows before; returns the last card's number, up to which all now have keys. The pages
// the lot read and wrote are given back.
qint64 commitChunk(Database& db, Query& query, qint64 keyedUpTo)
{
    updateSearchKeysAfter(db, keyedUpTo);
    db.commit();
    db.releaseCache();
    return lastCardId(query);
}

// The number of cards numbered after lastId, as the database really holds them; -1 when
// even that cannot be read.
int cardsAfter(Query& query, qint64 lastId)
{
    try {
        return query.countRows(cardsAfterSql(lastId));
    } catch (const EngineError&) {
        return -1;
    }
}

// After an engine error at row (counted from 0): the rows before it kept with their search
// keys (those after keyedUpTo have none yet), and the error said again with what the
// database now holds of the import (the cards after lastId).
[[noreturn]] void endAtError(Database& db, Query& query, const EngineError& e, int row, qint64 lastId, qint64 keyedUpTo,
                             bool rowSavepoints)
{
    if (rowSavepoints && db.inTransaction()) {
        try {
            db.execute(QStringLiteral("ROLLBACK TO SAVEPOINT import_row"));
        } catch (const EngineError&) {
            // No savepoint of this row (or no connection): what is stored is counted below.
        }
    }
    try {
        // The kept cards' search keys: a file builds missing ones at its next start, a
        // server never does.
        updateSearchKeysAfter(db, keyedUpTo);
    } catch (const EngineError&) {
        // The import's own error is the one to show.
    }
    keepImported(db);
    const int saved = cardsAfter(query, lastId);
    const QString outcome = saved > 0 ? QStringLiteral("此前导入的 %1 条名片已保存").arg(saved)
        : saved == 0             ? QStringLiteral("此前导入的名片未能保存，数据库中没有增加名片")
                                 : QStringLiteral("无法确认此前导入的名片是否已保存");
    throw EngineError(QStringLiteral("导入第 %1 条数据时出错，%2：\n%3").arg(row + 1).arg(outcome, e.message()), e.code());
}

} // namespace

CardImportResult importCards(Database& db, Query& query, int rowCount, const CardImportCalls& calls)
{
    // Told at most a few hundred times: each drawing of a progress costs as much as many rows.
    const int progressStep = std::max(kProgressStep, rowCount / 200);
    const int chunkRows = std::max(1, calls.chunkRows);
    // New cards are numbered after the last one, so what an interrupted import really
    // saved can be counted afterwards.
    const qint64 lastId = lastCardId(query);
    // Cards numbered after this one have no search key yet.
    qint64 keyedUpTo = lastId;
    CardImportResult result;
    CardImportCounts& counts = result.counts;
    int row = 0;
    // Where an engine error undoes the whole transaction (a server), each row is a savepoint
    // of its own, so the rows before it stay.
    const bool rowSavepoints = !db.has(Capability::FailedStatementKeepsTransaction);
    // While the import writes, the engine's cache stays small: each lot touches pages of the
    // cards' table, their indexes and keys that no later read needs, and a full cache of them
    // sat beside the sheet until the lot's commit. It costs a few percent of the import's time.
    const SmallCacheHold smallCache(db);
    try {
        // Parsed once; each row binds its values.
        const std::unique_ptr<PreparedStatement> duplicateCheck = db.prepare(duplicateCheckSql());
        const std::unique_ptr<PreparedStatement> insert = db.prepare(insertCardSql());
        CardValues values;
        db.beginTransaction();
        for (; row < rowCount; ++row) {
            calls.read(row, values);
            for (const CardField& field : cardFields()) {
                QString& value = values[static_cast<size_t>(field.number - 1)];
                value = cutToLimit(value, field.importCut);
            }
            const QString date = calls.entryDate();
            const QString& name = values[kNameField];
            if (rowSavepoints)
                db.execute(QStringLiteral("SAVEPOINT import_row"));
            duplicateCheck->bind(1, values[kCategoryField]);
            duplicateCheck->bind(2, name);
            duplicateCheck->bind(3, values[kSexField]);
            const bool duplicate = duplicateCheck->step();
            duplicateCheck->reset();
            if (!duplicate && !name.isEmpty()) {
                insert->bind(1, date);
                for (int i = 0; i < kCardFieldCount; ++i)
                    insert->bind(i + 2, values[static_cast<size_t>(i)]);
                insert->exec();
                ++counts.imported;
            } else if (name.isEmpty()) {
                ++counts.nameless;
            } else {
                ++counts.duplicates;
            }
            if (rowSavepoints)
                db.execute(QStringLiteral("RELEASE SAVEPOINT import_row"));
            if ((row + 1) % progressStep == 0 && !calls.progress(row + 1)) {
                ++row;
                result.cancelled = true;
                break;
            }
            if ((row + 1) % chunkRows == 0 && row + 1 < rowCount) {
                keyedUpTo = commitChunk(db, query, keyedUpTo);
                db.beginTransaction();
            }
        }
        commitChunk(db, query, keyedUpTo);
    } catch (const EngineError& e) {
        // A failed commit after the last row is told as the last row's.
        endAtError(db, query, e, std::min(row, std::max(rowCount - 1, 0)), lastId, keyedUpTo, rowSavepoints);
    } catch (...) {
        keepImported(db);
        throw;
    }
    result.rowsDone = row;
    return result;
}

} // namespace ostrel
