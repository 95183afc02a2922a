// Merging duplicate cards on both engines: every field, visit and anniversary ends on the kept
// card, images and the sync record follow it, a card changed by another desktop or an engine
// error leaves every card as it was; and the remembered "not a duplicate" pairs.
#include "core/card_image_store.h"
#include "core/duplicates/duplicate_finder.h"
#include "core/duplicates/duplicate_merge.h"
#include "core/duplicates/not_duplicates.h"
#include "core/open_database.h"
#include "core/schema_upgrade.h"
#include "core/search_keys.h"
#include "core/sync/sync_cards.h"
#include "core/sync/sync_state.h"
#include "engine/engine_error.h"
#include "engine/postgres/pg_connection.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "pg_server.h"
#include "test_database.h"

#include <gtest/gtest.h>

#include <map>

using namespace ostrel;

namespace {

using Fields = std::map<const char*, const char*>; // D_B column -> value

size_t fieldOf(const char* column)
{
    for (size_t i = 0; i < kCardFieldCount; ++i)
        if (cardFields()[i].columnName() == QString::fromLatin1(column))
            return i;
    ADD_FAILURE() << column;
    return 0;
}

CardValues valuesOf(const Fields& fields)
{
    CardValues values;
    for (const auto& [column, value] : fields)
        values[fieldOf(column)] = QString::fromUtf8(value);
    return values;
}

// A card database of either engine, and a second connection to it: another desktop.
class DuplicateMerge : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam()) {
            OSTREL_NEEDS_SERVER();
            connection = test::freshServerDatabase();
            db = std::make_unique<PgConnection>(connection, cardDatabaseRules());
            other = std::make_unique<PgConnection>(connection, cardDatabaseRules());
        } else {
            auto file = std::make_unique<SqlCipherConnection>(cardDatabaseRules());
            file->setConnectionString(copy.connectionString());
            ASSERT_EQ(upgradeSchema(*file), UpgradeResult::Upgraded);
            db = std::move(file);
            auto second = std::make_unique<SqlCipherConnection>(cardDatabaseRules());
            second->setConnectionString(copy.connectionString());
            other = std::move(second);
        }
    }
    int64_t addCard(const Fields& fields, int visits = 0, int anniversaries = 0)
    {
        const int64_t id = sync::addLocalCard(*db, valuesOf(fields), QStringLiteral("2026-03-31"));
        for (int i = 0; i < visits; ++i)
            db->runBound(QStringLiteral("insert into DList (DID, LDate, LType, LMemo) values (?1, '2026-01-0%1', '面谈', ?2)").arg(i + 1),
                         {QVariant::fromValue<qint64>(id), QStringLiteral("谈'%1").arg(id)});
        for (int i = 0; i < anniversaries; ++i)
            db->runBound(QStringLiteral("insert into DJNR (DID, JDate, JMemo) values (?1, '1990-05-0%1', '生日')").arg(i + 1),
                         {QVariant::fromValue<qint64>(id)});
        return id;
    }
    std::vector<int64_t> recordsOf(const char* table, int64_t card)
    {
        std::vector<int64_t> ids;
        db->runBound(QStringLiteral("select ID from %1 where DID = ?1 order by ID").arg(QString::fromLatin1(table)),
                     {QVariant::fromValue<qint64>(card)}, [&](const Database::Row& row) { ids.push_back(row.integer(0)); });
        return ids;
    }
    bool live(int64_t card) { return !sync::loadLocalCard(*db, card)->deleted; }

    test::TestDatabase copy;
    QString connection;
    std::unique_ptr<Database> db;
    std::unique_ptr<Database> other;
};

const Fields kZhang = {{"theType", "客户"}, {"BName", "张伟"}, {"BSex", "男"}, {"BMob", "138-0013-8000"},
                       {"BMail", "zw@example.com"}, {"DName", "华为技术有限公司"}, {"DJob", "经理"},
                       {"DAdd", "深圳市龙岗区"}, {"FDes", "老客户"}};
const Fields kZhangScanned = {{"theType", "朋友"}, {"BName", "张 伟"}, {"BSex", "男"}, {"BMob", "+86 13800138000"},
                              {"BQQ", "12345"}, {"DName", "华为技术有限公司"}, {"DJob", "总监"},
                              {"DPho", "0755-28780808"}, {"FDes", "扫描'的名片"}};
const Fields kZhangPhone = {{"BName", "张伟"}, {"BMob", "13800138000"}, {"FPho", "010-65521234"}};

TEST_P(DuplicateMerge, EveryFieldVisitAndAnniversaryEndsOnTheKeptCard)
{
    const struct {
        const char* what;
        int visits[3];
        int anniversaries[3];
        size_t kept;                        // the default kept card
        std::map<const char*, size_t> pick; // fields whose value the user takes from another card
        Fields expected;                    // every field of the kept card afterwards
    } cases[] = {
        {"most visits kept; empty fields filled from the others; the rest noted",
         {1, 3, 0}, {1, 0, 2}, 1, {},
         {{"theType", "朋友"}, {"BName", "张 伟"}, {"BSex", "男"}, {"BMob", "+86 13800138000"}, {"BMail", "zw@example.com"},
          {"BQQ", "12345"}, {"DName", "华为技术有限公司"}, {"DJob", "总监"}, {"DAdd", "深圳市龙岗区"}, {"DPho", "0755-28780808"},
          {"FPho", "010-65521234"},
          {"FDes", "扫描'的名片；分类：客户；姓名：张伟；移动电话：138-0013-8000；移动电话：13800138000；担任职务：经理；补充信息：老客户"}}},
        {"no visits: the newest kept; values picked from the others",
         {0, 0, 0}, {0, 1, 0}, 2, {{"BName", 0}, {"DJob", 0}, {"FDes", 1}},
         {{"theType", "朋友"}, {"BName", "张伟"}, {"BSex", "男"}, {"BMob", "13800138000"}, {"BMail", "zw@example.com"},
          {"BQQ", "12345"}, {"DName", "华为技术有限公司"}, {"DJob", "经理"}, {"DAdd", "深圳市龙岗区"}, {"DPho", "0755-28780808"},
          {"FPho", "010-65521234"},
          {"FDes", "扫描'的名片；分类：客户；姓名：张 伟；移动电话：+86 13800138000；移动电话：138-0013-8000；担任职务：总监；补充信息：老客户"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<int64_t> ids = {addCard(kZhang, c.visits[0], c.anniversaries[0]),
                                          addCard(kZhangScanned, c.visits[1], c.anniversaries[1]),
                                          addCard(kZhangPhone, c.visits[2], c.anniversaries[2])};
        std::vector<int64_t> visits, anniversaries;
        for (int64_t id : ids) {
            for (int64_t v : recordsOf("DList", id))
                visits.push_back(v);
            for (int64_t a : recordsOf("DJNR", id))
                anniversaries.push_back(a);
        }
        std::sort(visits.begin(), visits.end());
        std::sort(anniversaries.begin(), anniversaries.end());

        const std::vector<MergeCard> cards = loadMergeCards(*db, ids);
        ASSERT_EQ(cards.size(), 3u);
        const size_t kept = defaultKeptCard(cards);
        EXPECT_EQ(kept, c.kept);
        FieldChoice choice = defaultChoice(cards, kept);
        for (const auto& [column, card] : c.pick)
            choice[fieldOf(column)] = card;
        const CardValues values = mergedValues(cards, choice);
        EXPECT_EQ(values, valuesOf(c.expected));
        ASSERT_EQ(mergeCards(*db, cards, kept, values), MergeOutcome::Merged);

        EXPECT_EQ(sync::loadLocalCard(*db, ids[kept])->values, valuesOf(c.expected));
        EXPECT_EQ(recordsOf("DList", ids[kept]), visits);
        EXPECT_EQ(recordsOf("DJNR", ids[kept]), anniversaries);
        for (size_t i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(live(ids[i]), i == kept) << i;
            // Quick find offers the kept card alone.
            EXPECT_EQ(quickFind(*db, QStringLiteral("13800138000"), {ids[i]}).size(), i == kept ? 1u : 0u) << i;
        }
    }
}

TEST_P(DuplicateMerge, ImagesAndTheSyncRecordFollowTheKeptCard)
{
    const int64_t kept = addCard(kZhang, 2);
    const int64_t scanned = addCard(kZhangScanned);
    const int64_t synced = addCard(kZhangPhone);
    const QByteArray front("front"), back("back"), keptBack("kept back");
    saveCardImage(*db, scanned, CardSide::Front, front);
    saveCardImage(*db, scanned, CardSide::Back, back);
    saveCardImage(*db, kept, CardSide::Back, keptBack);
    sync::saveSyncRecord(*db, {synced, QStringLiteral("uid-phone"), QStringLiteral("/book/a.vcf"), QStringLiteral("\"e1\""), QStringLiteral("BEGIN:VCARD"), {}});
    const std::vector<MergeCard> cards = loadMergeCards(*db, {kept, scanned, synced});
    ASSERT_EQ(mergeCards(*db, cards, 0, mergedValues(cards, defaultChoice(cards, 0))), MergeOutcome::Merged);

    EXPECT_EQ(cardImage(*db, kept, CardSide::Front), front);
    EXPECT_EQ(cardImage(*db, kept, CardSide::Back), keptBack);
    EXPECT_EQ(cardImage(*db, scanned, CardSide::Back), back); // kept with its deleted card
    const sync::SyncRecords records = sync::loadSyncRecords(*db);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records.at(kept).href, QStringLiteral("/book/a.vcf"));
    EXPECT_FALSE(records.at(kept).changed.isEmpty()); // sent again at the next sync

    // A second merge: the kept card has a record, so the other's stays with it and the next
    // sync deletes that contact, as for any deleted card.
    const int64_t second = addCard(kZhangPhone);
    sync::saveSyncRecord(*db, {second, QStringLiteral("uid-2"), QStringLiteral("/book/b.vcf"), QStringLiteral("\"e2\""), QStringLiteral("x"), {}});
    const std::vector<MergeCard> again = loadMergeCards(*db, {kept, second});
    ASSERT_EQ(mergeCards(*db, again, 0, mergedValues(again, defaultChoice(again, 0))), MergeOutcome::Merged);
    EXPECT_EQ(sync::loadSyncRecords(*db).at(second).href, QStringLiteral("/book/b.vcf"));
    EXPECT_TRUE(sync::loadLocalCard(*db, second)->deleted);
}

// Everything the cards hold, to compare before and after a refused or failed merge.
struct Snapshot {
    std::vector<std::optional<sync::LocalCard>> cards;
    std::vector<std::vector<int64_t>> visits, anniversaries;
    size_t syncRecords = 0;
    QByteArray image;
    bool operator==(const Snapshot& o) const
    {
        if (cards.size() != o.cards.size())
            return false;
        for (size_t i = 0; i < cards.size(); ++i)
            if (cards[i]->deleted != o.cards[i]->deleted || cards[i]->values != o.cards[i]->values)
                return false;
        return visits == o.visits && anniversaries == o.anniversaries && syncRecords == o.syncRecords && image == o.image;
    }
};

TEST_P(DuplicateMerge, AChangeElsewhereOrAnEngineErrorLeavesEveryCardAsItWas)
{
    const QString raiseFile = QStringLiteral("CREATE TRIGGER Fail BEFORE UPDATE ON DJNR BEGIN SELECT RAISE(ABORT, 'disk gone'); END");
    const QString raiseServer = QStringLiteral(
        "CREATE FUNCTION fail() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'disk gone'; END $$;\n"
        "CREATE TRIGGER fail BEFORE UPDATE ON \"DJNR\" FOR EACH ROW EXECUTE FUNCTION fail()");
    const struct {
        const char* what;
        const char* byOtherDesktop; // %1 the second card; empty: the engine fails midway instead
        MergeOutcome outcome;
    } cases[] = {
        {"changed by another desktop", "update D_B set DJob='董事' where ID=%1", MergeOutcome::Changed},
        {"deleted by another desktop", "Update D_B Set theDel='是' where ID=%1", MergeOutcome::Changed},
        {"the engine fails after the card, visits and images were written", "", MergeOutcome::Merged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<int64_t> ids = {addCard(kZhang, 1, 1), addCard(kZhangScanned, 2, 1)};
        saveCardImage(*db, ids[0], CardSide::Front, QByteArray("img"));
        sync::saveSyncRecord(*db, {ids[0], QStringLiteral("u"), QStringLiteral("/h"), QStringLiteral("e"), QStringLiteral("t"), {}});
        const auto snapshot = [&] {
            Snapshot s;
            for (int64_t id : ids) {
                s.cards.push_back(sync::loadLocalCard(*db, id));
                s.visits.push_back(recordsOf("DList", id));
                s.anniversaries.push_back(recordsOf("DJNR", id));
            }
            s.syncRecords = sync::loadSyncRecords(*db).count(ids[0]);
            s.image = cardImage(*db, ids[0]);
            return s;
        };
        const std::vector<MergeCard> cards = loadMergeCards(*db, ids);
        const size_t kept = defaultKeptCard(cards);
        const CardValues values = mergedValues(cards, defaultChoice(cards, kept));
        if (*c.byOtherDesktop) {
            other->execute(QString::fromUtf8(c.byOtherDesktop).arg(ids[1]));
            const Snapshot before = snapshot();
            EXPECT_EQ(mergeCards(*db, cards, kept, values), c.outcome);
            EXPECT_TRUE(snapshot() == before);
            continue;
        }
        if (GetParam())
            static_cast<PgConnection&>(*other).runServerSql(raiseServer);
        else
            other->execute(raiseFile);
        const Snapshot before = snapshot();
        EXPECT_TRUE(test::engineMessage([&] { mergeCards(*db, cards, kept, values); }).contains(QStringLiteral("disk gone")));
        EXPECT_TRUE(snapshot() == before);
        EXPECT_EQ(mergeStateAfterError(*db, cards, kept, values), MergeState::Unchanged);
    }
}

TEST_P(DuplicateMerge, ANoteLongerThanTheFieldTakesIsRefused)
{
    const std::vector<int64_t> ids = {addCard(kZhang), addCard(kZhangScanned)};
    const std::vector<MergeCard> cards = loadMergeCards(*db, ids);
    CardValues values = mergedValues(cards, defaultChoice(cards, 1));
    values[kCardFieldCount - 1] = QString(noteByteLimit() / 2 + 1, QChar(u'注'));
    EXPECT_EQ(mergeCards(*db, cards, 1, values), MergeOutcome::TooLong);
    EXPECT_TRUE(live(ids[0]) && live(ids[1]));
    values[kCardFieldCount - 1] = QString(noteByteLimit() / 2, QChar(u'注'));
    EXPECT_EQ(mergeCards(*db, cards, 1, values), MergeOutcome::Merged);
}

TEST_P(DuplicateMerge, APairSaidNotToBeADuplicateIsNotOfferedUntilForgotten)
{
    const int64_t a = addCard(kZhang), b = addCard(kZhangScanned), c = addCard({{"BName", "王芳"}, {"BMail", "WF@x.cn"}});
    const int64_t d = addCard({{"BName", "李娜"}, {"BMail", "wf@x.cn"}});
    const auto groups = [&] {
        std::vector<std::vector<int64_t>> all;
        for (const DuplicateGroup& group : findDuplicates(*db))
            if (group.cards.front() >= a) // the delivered cards' own groups aside
                all.push_back(group.cards);
        return all;
    };
    ASSERT_EQ(groups(), (std::vector<std::vector<int64_t>>{{a, b}, {c, d}}));
    rememberNotDuplicates(*db, {{b, a}});
    rememberNotDuplicates(*db, {{a, b}}); // said twice, kept once
    EXPECT_EQ(groups(), (std::vector<std::vector<int64_t>>{{c, d}}));
    EXPECT_EQ(forgetNotDuplicateDecisions(*db), 1);
    EXPECT_EQ(groups(), (std::vector<std::vector<int64_t>>{{a, b}, {c, d}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, DuplicateMerge, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Server" : "File"; });

} // namespace
