// The duplicate search: each signal on pairs of cards, the near misses that must stay apart,
// groups joined through chains, their order, and the read from a card database.
#include "test_database.h"

#include "core/card_fields.h"
#include "core/duplicates/duplicate_finder.h"
#include "core/new_card_statements.h"
#include "core/open_database.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace ostrel {
namespace {

using R = DuplicateReason;

struct Card {
    QString name;
    QString company;
    QString mail;
    QString mobile;   // 移动电话
    QString landline; // 固定电话
    QString work;     // 单位电话
};

DuplicateSource source(int64_t id, const Card& card)
{
    return {id, card.name, card.company, card.mail, {card.landline, card.mobile}, {card.work}};
}

std::vector<DuplicateSource> sources(const std::vector<Card>& cards)
{
    std::vector<DuplicateSource> out;
    for (size_t i = 0; i < cards.size(); ++i)
        out.push_back(source(static_cast<int64_t>(i + 1), cards[i]));
    return out;
}

std::string texts(const std::vector<R>& reasons)
{
    std::string out;
    for (R reason : reasons)
        out += duplicateReasonText(reason).toStdString() + ' ';
    return out;
}

struct PairCase {
    const char* what;
    Card a;
    Card b;
    std::vector<R> reasons; // empty: the two must not be grouped
};

class DuplicatePairs : public ::testing::TestWithParam<PairCase> {};

TEST_P(DuplicatePairs, GroupedForTheirReasonsOnly)
{
    const PairCase& c = GetParam();
    const std::vector<DuplicateGroup> groups = findDuplicates(sources({c.a, c.b}));
    if (c.reasons.empty()) {
        EXPECT_TRUE(groups.empty()) << c.what << ": " << texts(groups.front().reasons);
        return;
    }
    ASSERT_EQ(groups.size(), 1u) << c.what;
    EXPECT_EQ(groups[0].cards, (std::vector<int64_t>{1, 2})) << c.what;
    EXPECT_EQ(texts(groups[0].reasons), texts(c.reasons)) << c.what;
    ASSERT_EQ(groups[0].pairs.size(), 1u) << c.what;
    EXPECT_EQ(texts(groups[0].pairs[0].reasons), texts(c.reasons)) << c.what;
}

const QString huawei = QStringLiteral("华为技术有限公司");

INSTANTIATE_TEST_SUITE_P(DuplicateSignals, DuplicatePairs, ::testing::Values(
    PairCase{"mobile written two ways, name with a blank",
             {u"张伟"_qs, {}, {}, u"138-0013-8000"_qs}, {u"张 伟"_qs, {}, {}, u"+86 13800138000"_qs},
             {R::SameMobile, R::SameNameAndPhone}},
    PairCase{"the same mobile alone, 0086 and a trunk 0",
             {u"王芳"_qs, {}, {}, u"0086 139 0013 9000"_qs}, {u"李娜"_qs, {}, {}, u"013900139000"_qs}, {R::SameMobile}},
    PairCase{"a mobile kept in the landline field",
             {u"王芳"_qs, {}, {}, {}, u"139.0013.9000"_qs}, {u"李娜"_qs, {}, {}, u"13900139000"_qs}, {R::SameMobile}},
    PairCase{"the same e-mail in another case",
             {u"王芳"_qs, {}, u"Li.Na@Example.COM"_qs}, {u"李娜"_qs, {}, u" li.na@example.com"_qs}, {R::SameMail}},
    PairCase{"name and company, full-width blank, different mobiles",
             {u"张伟"_qs, huawei, {}, u"13800138000"_qs}, {u"张　伟"_qs, huawei, {}, u"13900139000"_qs}, {R::SameNameAndCompany}},
    PairCase{"traditional and simplified forms",
             {u"陳偉"_qs, u"華為技術有限公司"_qs}, {u"陈伟"_qs, huawei}, {R::SameNameAndCompany}},
    PairCase{"full-width letters in a Latin name",
             {u"ＺＨＡＮＧ Ｗｅｉ"_qs, u"ACME"_qs}, {u"zhang wei"_qs, u"acme"_qs}, {R::SameNameAndCompany}},
    PairCase{"personal landline with its area code in two forms",
             {u"王芳"_qs, {}, {}, {}, u"(010) 6552-1234"_qs}, {u"李娜"_qs, {}, {}, {}, u"+86 10 6552 1234"_qs}, {R::SameLandline}},
    PairCase{"a switchboard with the same name",
             {u"张伟"_qs, {}, {}, {}, {}, u"0755-28780808"_qs}, {u"张伟"_qs, {}, {}, {}, {}, u"075528780808"_qs}, {R::SameNameAndPhone}},
    PairCase{"same pinyin, company written with a place and without",
             {u"张伟"_qs, huawei}, {u"章伟"_qs, u"华为技术(深圳)有限公司"_qs}, {R::SamePinyinNearCompany}},
    PairCase{"Latin spelling of a Chinese name, same company",
             {u"Zhang Wei"_qs, u"华为技术股份有限公司"_qs}, {u"张伟"_qs, huawei}, {R::SamePinyinNearCompany}},
    PairCase{"same pinyin and a shared switchboard",
             {u"张伟"_qs, {}, {}, {}, {}, u"010-88886666"_qs}, {u"章炜"_qs, {}, {}, {}, {}, u"010-88886666"_qs}, {R::SamePinyinAndPhone}},
    PairCase{"same name, different mobiles",
             {u"张伟"_qs, {}, {}, u"13800138000"_qs}, {u"张伟"_qs, {}, {}, u"13900139000"_qs}, {}},
    PairCase{"same name, different companies",
             {u"张伟"_qs, huawei}, {u"张伟"_qs, u"中兴通讯股份有限公司"_qs}, {}},
    PairCase{"landlines sharing their last 7 digits in two cities",
             {u"王芳"_qs, {}, {}, {}, u"010-65521234"_qs}, {u"李娜"_qs, {}, {}, {}, u"021-65521234"_qs}, {}},
    PairCase{"8-digit landlines sharing their last 7 digits",
             {u"王芳"_qs, {}, {}, {}, u"0755-86521234"_qs}, {u"李娜"_qs, {}, {}, {}, u"0755-26521234"_qs}, {}},
    PairCase{"a landline without area code is not a full number",
             {u"王芳"_qs, {}, {}, {}, u"6552-1234"_qs}, {u"李娜"_qs, {}, {}, {}, u"65521234"_qs}, {}},
    PairCase{"colleagues sharing a switchboard",
             {u"王芳"_qs, huawei, {}, {}, {}, u"0755-28780808"_qs}, {u"李娜"_qs, huawei, {}, {}, {}, u"0755-28780808"_qs}, {}},
    PairCase{"a mobile with an extension is not read as a number",
             {u"王芳"_qs, {}, {}, u"138 0013 8000 转 1"_qs}, {u"李娜"_qs, {}, {}, u"138 0013 8000 转 2"_qs}, {}},
    PairCase{"empty fields",
             {}, {}, {}},
    PairCase{"a one-character placeholder name and company",
             {u"无"_qs, u"无"_qs}, {u"无"_qs, u"无"_qs}, {}}));

TEST(DuplicateFinder, TraditionalFoldingIsAvailable)
{
    EXPECT_TRUE(simplifiedFoldingAvailable());
}

struct NumberCase {
    const char* text;
    QStringList mobiles;
    QStringList landlines;
};

TEST(DuplicateFinder, PhoneNumbersOfAField)
{
    const NumberCase cases[] = {
        {"138-0013-8000", {u"13800138000"_qs}, {}},
        {"+86 (138) 0013 8000", {u"13800138000"_qs}, {}},
        {"００８６１３８００１３８０００", {u"13800138000"_qs}, {}},
        {"(010)6552-1234", {}, {u"01065521234"_qs}},
        {"+86 21 6555 1234", {}, {u"02165551234"_qs}},
        {"0755-86521234", {}, {u"075586521234"_qs}},
        {"13800138000 / 010-65521234", {u"13800138000"_qs}, {u"01065521234"_qs}},
        {"13800138000、13900139000", {u"13800138000"_qs, u"13900139000"_qs}, {}},
        {"6552-1234", {}, {}},
        {"1380013800", {}, {}},
        {"无", {}, {}},
    };
    for (const NumberCase& c : cases) {
        const PhoneNumbers numbers = phoneNumbers(QString::fromUtf8(c.text));
        EXPECT_EQ(numbers.mobiles, c.mobiles) << c.text;
        EXPECT_EQ(numbers.landlines, c.landlines) << c.text;
    }
}

TEST(DuplicateFinder, CompanyCore)
{
    EXPECT_EQ(companyCore(u"华为技术(深圳)有限公司"_qs), u"华为技术"_qs);
    EXPECT_EQ(companyCore(u"华为技术股份有限公司"_qs), u"华为技术"_qs);
    EXPECT_EQ(companyCore(u"acme co., ltd."_qs), u"acme"_qs);
    EXPECT_EQ(companyCore(u"公司"_qs), u"公司"_qs);
}

TEST(DuplicateFinder, ChainsJoinIntoOneGroupKeepingEachPairsReasons)
{
    const std::vector<DuplicateGroup> groups = findDuplicates(sources({
        {u"王芳"_qs, {}, {}, u"13800138000"_qs},
        {u"李娜"_qs, {}, u"a@b.cn"_qs, u"138 0013 8000"_qs},
        {u"赵敏"_qs, {}, u"A@B.cn"_qs},
        {u"孙丽"_qs, {}, u"c@d.cn"_qs},
    }));
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].cards, (std::vector<int64_t>{1, 2, 3}));
    ASSERT_EQ(groups[0].pairs.size(), 2u);
    EXPECT_EQ(groups[0].pairs[0].first, 1);
    EXPECT_EQ(groups[0].pairs[0].second, 2);
    EXPECT_EQ(texts(groups[0].pairs[0].reasons), texts({R::SameMobile}));
    EXPECT_EQ(groups[0].pairs[1].first, 2);
    EXPECT_EQ(groups[0].pairs[1].second, 3);
    EXPECT_EQ(texts(groups[0].pairs[1].reasons), texts({R::SameMail}));
    EXPECT_EQ(texts(groups[0].reasons), texts({R::SameMobile, R::SameMail}));
}

TEST(DuplicateFinder, StrongestGroupsFirst)
{
    const std::vector<DuplicateGroup> groups = findDuplicates(sources({
        {u"张伟"_qs, huawei},
        {u"章伟"_qs, u"华为技术公司"_qs},
        {u"王芳"_qs, {}, u"w@f.cn"_qs},
        {u"李娜"_qs, {}, u"W@F.cn"_qs},
        {u"刘洋"_qs, {}, {}, u"13700137000"_qs},
        {u"陈静"_qs, {}, {}, u"137-0013-7000"_qs},
        {u"杨磊"_qs, {}, {}, {}, u"020-87654321"_qs},
        {u"黄勇"_qs, {}, {}, {}, u"02087654321"_qs},
    }));
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0].cards, (std::vector<int64_t>{5, 6}));
    EXPECT_EQ(groups[1].cards, (std::vector<int64_t>{3, 4}));
    EXPECT_EQ(groups[2].cards, (std::vector<int64_t>{7, 8}));
    EXPECT_EQ(groups[3].cards, (std::vector<int64_t>{1, 2}));
}

TEST(DuplicateFinder, PlaceholderValueSharedByManyIsNoSignAlone)
{
    static const char* names[] = {"王芳", "李娜", "赵敏", "孙丽", "周杰", "吴刚", "郑爽", "冯巩", "陈静", "褚涛"};
    std::vector<Card> cards;
    for (const char* name : names)
        cards.push_back({QString::fromUtf8(name), {}, u"none@none.com"_qs, u"13800000000"_qs});
    EXPECT_TRUE(findDuplicates(sources(cards)).empty());
    cards.push_back({u"王芳"_qs, {}, {}, u"13800000000"_qs});
    const std::vector<DuplicateGroup> groups = findDuplicates(sources(cards));
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].cards, (std::vector<int64_t>{1, 11}));
    EXPECT_EQ(texts(groups[0].reasons), texts({R::SameNameAndPhone}));
}

int columnOf(const char* column)
{
    const auto fields = cardFields();
    const auto it = std::find_if(fields.begin(), fields.end(), [&](const CardField& f) { return QString::fromLatin1(f.column) == QString::fromLatin1(column); });
    return static_cast<int>(it - fields.begin());
}

TEST(DuplicateFinder, ReadsTheLiveCardsOfTheDatabase)
{
    test::TestDatabase copy;
    OpenedCardDatabase opened = openCardFile(copy.connectionString());
    Database& db = *opened.database;
    if (!db.isOpen())
        db.open();
    const auto add = [&](const QString& name, const QString& mobile, const QString& unitPhone) {
        QStringList values(kCardFieldCount);
        values[kNameField] = name;
        values[columnOf("BMob")] = mobile;
        values[columnOf("DPho")] = unitPhone;
        db.execute(insertCardSql(QStringLiteral("2026-03-31"), values));
        return db.lastInsertId();
    };
    const int64_t before = findDuplicates(db).size();
    const int64_t a = add(u"张伟"_qs, u"138-0013-8000"_qs, {});
    const int64_t b = add(u"张 伟"_qs, u"+86 13800138000"_qs, {});
    const int64_t c = add(u"赵敏"_qs, u"13800138000"_qs, {});
    const int64_t d = add(u"王芳"_qs, {}, u"010-66668888"_qs);
    const int64_t e = add(u"李娜"_qs, {}, u"010-66668888"_qs);
    db.execute(QStringLiteral("Update D_B Set theDel='是' where ID=%1").arg(c));
    const std::vector<DuplicateGroup> groups = findDuplicates(db);
    ASSERT_EQ(static_cast<int64_t>(groups.size()), before + 1);
    const auto found = std::find_if(groups.begin(), groups.end(), [&](const DuplicateGroup& g) { return g.cards == std::vector<int64_t>{a, b}; });
    ASSERT_NE(found, groups.end());
    EXPECT_EQ(texts(found->reasons), texts({R::SameMobile, R::SameNameAndPhone}));
    for (const DuplicateGroup& g : groups)
        EXPECT_TRUE(std::find(g.cards.begin(), g.cards.end(), d) == g.cards.end() && std::find(g.cards.begin(), g.cards.end(), e) == g.cards.end());
}

} // namespace
} // namespace ostrel
