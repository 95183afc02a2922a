#include "core/duplicates/duplicate_merge.h"

#include "core/card_image_store.h"
#include "core/sync/sync_cards.h"
#include "core/sync/sync_state.h"
#include "engine/database.h"
#include "engine/transaction.h"
#include "formats/gbk.h"

#include <algorithm>
#include <numeric>

namespace ostrel {

namespace {

constexpr int kNoteField = kCardFieldCount - 1; // 补充信息

QVariant idValue(int64_t id)
{
    return QVariant::fromValue<qint64>(id);
}

int countOf(Database& db, const char* table, int64_t card)
{
    return static_cast<int>(db.firstInteger(QStringLiteral("select count(*) from %1 where DID = ?1").arg(QString::fromLatin1(table)),
                                            {idValue(card)}));
}

// The cards in the order their values are preferred: most visits, then the newest.
std::vector<size_t> preferred(const std::vector<MergeCard>& cards)
{
    std::vector<size_t> order(cards.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (cards[a].visits != cards[b].visits)
            return cards[a].visits > cards[b].visits;
        return cards[a].id > cards[b].id;
    });
    return order;
}

// The GBK bytes a field takes: what the editor accepts, or more where an import may cut longer.
int fieldByteLimit(const CardField& field)
{
    return field.isLookup() ? 0 : std::max(field.inputLimit, field.importCut);
}

bool stillAsRead(Database& db, const MergeCard& card)
{
    // The counter first: on a server it locks the card until the commit.
    if (db.changeCounter(card.id) != card.counter)
        return false;
    const std::optional<sync::LocalCard> now = sync::loadLocalCard(db, card.id);
    return now && !now->deleted && now->values == card.values;
}

bool hasTable(Database& db, const QString& existsSql)
{
    return db.firstInteger(existsSql) > 0;
}

// A side of the scanned image the kept card lacks, and the sync record when it has none,
// come from the others, the preferred first.
void moveImagesAndSync(Database& db, const std::vector<MergeCard>& cards, size_t kept, const std::vector<size_t>& order)
{
    const QVariant keptId = idValue(cards[kept].id);
    const bool images = hasTable(db, cardImageTableExistsSql());
    const bool sync = hasTable(db, sync::syncTablesExistSql());
    for (size_t i : order) {
        if (i == kept)
            continue;
        const QVariant other = idValue(cards[i].id);
        if (images)
            db.runBound(QStringLiteral("update D_BImage set DID = ?1 where DID = ?2 and theSide not in "
                                       "(select theSide from D_BImage where DID = ?1)"),
                        {keptId, other});
        // The kept card goes on as the phone's contact; the records left with the others
        // make the next sync delete their contacts, as for any deleted card.
        if (sync && db.firstInteger(QStringLiteral("select count(*) from D_Sync where ID = ?1"), {keptId}) == 0)
            db.runBound(QStringLiteral("update D_Sync set ID = ?1 where ID = ?2"), {keptId, other});
    }
}

} // namespace

std::vector<MergeCard> loadMergeCards(Database& db, const std::vector<int64_t>& ids)
{
    std::vector<MergeCard> cards;
    for (int64_t id : ids) {
        const std::optional<sync::LocalCard> card = sync::loadLocalCard(db, id);
        if (!card)
            continue;
        cards.push_back({id, !card->deleted, card->values, countOf(db, "DList", id), countOf(db, "DJNR", id),
                         db.changeCounter(id)});
    }
    return cards;
}

size_t defaultKeptCard(const std::vector<MergeCard>& cards)
{
    return cards.empty() ? 0 : preferred(cards).front();
}

FieldChoice defaultChoice(const std::vector<MergeCard>& cards, size_t kept)
{
    const std::vector<size_t> order = preferred(cards);
    FieldChoice choice;
    for (size_t f = 0; f < choice.size(); ++f) {
        choice[f] = kept;
        if (!cards[kept].values[f].isEmpty())
            continue;
        const auto filled = std::find_if(order.begin(), order.end(), [&](size_t i) { return !cards[i].values[f].isEmpty(); });
        if (filled != order.end())
            choice[f] = *filled;
    }
    return choice;
}

bool fieldDiffers(const std::vector<MergeCard>& cards, int field)
{
    const auto f = static_cast<size_t>(field);
    return std::any_of(cards.begin(), cards.end(), [&](const MergeCard& card) { return card.values[f] != cards.front().values[f]; });
}

CardValues mergedValues(const std::vector<MergeCard>& cards, const FieldChoice& choice)
{
    CardValues values;
    for (size_t f = 0; f < values.size(); ++f)
        values[f] = cards[choice[f]].values[f];
    QString& note = values[kNoteField];
    const std::vector<size_t> order = preferred(cards);
    for (int f = 0; f < kCardFieldCount; ++f) {
        const auto field = static_cast<size_t>(f);
        for (size_t i : order) {
            const QString& value = cards[i].values[field];
            if (value.isEmpty() || value == values[field])
                continue;
            const QString kept = cardFields()[field].importTitleText() + u'：' + value;
            if (note.contains(f == kNoteField ? value : kept))
                continue;
            if (!note.isEmpty())
                note += u'；';
            note += kept;
        }
    }
    return values;
}

int noteByteLimit()
{
    return fieldByteLimit(cardFields()[kNoteField]);
}

MergeOutcome mergeCards(Database& db, const std::vector<MergeCard>& cards, size_t kept, const CardValues& values)
{
    for (int f = 0; f < kCardFieldCount; ++f) {
        const CardField& field = cardFields()[static_cast<size_t>(f)];
        if (!field.isLookup() && gbkLength(values[static_cast<size_t>(f)]) > fieldByteLimit(field))
            return MergeOutcome::TooLong;
    }
    Transaction transaction(db);
    for (const MergeCard& card : cards)
        if (!stillAsRead(db, card))
            return MergeOutcome::Changed;
    const QVariant keptId = idValue(cards[kept].id);
    const std::vector<size_t> order = preferred(cards);
    // Before the kept card is written: its write then marks the moved sync record as changed here.
    moveImagesAndSync(db, cards, kept, order);
    sync::writeLocalCard(db, cards[kept].id, values);
    for (size_t i : order) {
        if (i == kept)
            continue;
        const QVariant other = idValue(cards[i].id);
        db.runBound(QStringLiteral("update DList set DID = ?1 where DID = ?2"), {keptId, other});
        db.runBound(QStringLiteral("update DJNR set DID = ?1 where DID = ?2"), {keptId, other});
        sync::deleteLocalCard(db, cards[i].id);
    }
    transaction.commit();
    return MergeOutcome::Merged;
}

MergeState mergeStateAfterError(Database& db, const std::vector<MergeCard>& cards, size_t kept, const CardValues& values)
{
    std::vector<int64_t> ids;
    for (const MergeCard& card : cards)
        ids.push_back(card.id);
    const std::vector<MergeCard> now = loadMergeCards(db, ids);
    if (now.size() != cards.size())
        return MergeState::Other;
    bool unchanged = true, merged = true;
    int visits = 0, anniversaries = 0;
    for (size_t i = 0; i < cards.size(); ++i) {
        unchanged = unchanged && now[i].live && now[i].values == cards[i].values && now[i].visits == cards[i].visits
                    && now[i].anniversaries == cards[i].anniversaries;
        merged = merged && (i == kept ? now[i].live && now[i].values == values : !now[i].live && now[i].visits == 0
                                                                                     && now[i].anniversaries == 0);
        visits += cards[i].visits;
        anniversaries += cards[i].anniversaries;
    }
    if (unchanged)
        return MergeState::Unchanged;
    if (merged && now[kept].visits == visits && now[kept].anniversaries == anniversaries)
        return MergeState::Merged;
    return MergeState::Other;
}

} // namespace ostrel
