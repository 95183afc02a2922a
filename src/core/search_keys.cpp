#include "core/search_keys.h"

#include "core/card_fields.h"
#include "core/search_key_statements.h"
#include "core/pinyin.h"
#include "engine/database.h"


#include <algorithm>
#include <array>
#include <cstring>

namespace ostrel {

namespace {

// Between the parts of a key, and between the values within a part. Neither is ever in
// typed text (quickFindText drops control characters), so no match runs across two values.
constexpr char16_t kPartSeparator = u'\x01';
constexpr char16_t kValueSeparator = u'\x02';

// Full-width forms folded, lower case, without blanks or control characters.
QString folded(const QString& text)
{
    const QString normal = text.normalized(QString::NormalizationForm_KC).toLower();
    QString out;
    out.reserve(normal.size());
    for (QChar c : normal)
        if (!c.isSpace() && c.category() != QChar::Other_Control)
            out += c;
    return out;
}

bool isPhoneText(const QString& text)
{
    bool digit = false;
    for (QChar c : text) {
        if (c.isDigit() && c.unicode() < 0x80)
            digit = true;
        else if (!QStringLiteral("-+()./").contains(c))
            return false;
    }
    return digit;
}

// The digits of a phone number, without a leading +86 (or 0086).
QString phoneDigits(const QString& text)
{
    QString digits;
    for (QChar c : text)
        if (c.isDigit() && c.unicode() < 0x80)
            digits += c;
        else if (c == u'+' && digits.isEmpty())
            digits += c;
    if (digits.startsWith(QStringLiteral("+86")))
        digits.remove(0, 3);
    else if (digits.startsWith(QStringLiteral("0086")))
        digits.remove(0, 4);
    digits.remove(u'+');
    return digits;
}

// The values of a part of a key: split at kValueSeparator.
template <typename Each>
bool anyValue(std::string_view part, Each each)
{
    for (;;) {
        const size_t end = part.find(static_cast<char>(kValueSeparator));
        if (each(part.substr(0, end)))
            return true;
        if (end == std::string_view::npos)
            return false;
        part.remove_prefix(end + 1);
    }
}

// The key of the card in a row of a key source statement (ID, theDel, then the key fields).
QString searchKeyOfRow(const Database::Row& row)
{
    QString name, company, mail;
    std::vector<QString> phones;
    int column = 2;
    for (const CardField& field : cardFields()) {
        switch (field.searchKeyPart) {
        case SearchKeyPart::None:
            continue;
        case SearchKeyPart::Name:
            name = row.text(column);
            break;
        case SearchKeyPart::Phone:
            phones.push_back(row.text(column));
            break;
        case SearchKeyPart::Company:
            company = row.text(column);
            break;
        case SearchKeyPart::Mail:
            mail = row.text(column);
            break;
        }
        ++column;
    }
    return searchKeyText(name, phones, company, mail);
}

bool isLive(const Database::Row& row)
{
    return row.text(1) == QStringLiteral("否");
}

// Writes the key of every live card the source statement gives and removes the key of
// every other one; progress is told of the card numbers passed.
void writeSearchKeys(Database& db, const QString& source, const QVariantList& values,
               const std::function<void(int64_t card)>& passed = {})
{
    db.runBound(source, values, [&](const Database::Row& row) {
        const int64_t card = row.integer(0);
        if (isLive(row))
            db.runBound(writeSearchKeySql(), {QVariant::fromValue<qint64>(card), searchKeyOfRow(row)});
        else
            db.runBound(deleteSearchKeySql(), {QVariant::fromValue<qint64>(card)});
        if (passed)
            passed(card);
    });
}

} // namespace

QString quickFindText(const QString& typed)
{
    const QString text = folded(typed);
    if (isPhoneText(text)) {
        const QString digits = phoneDigits(text);
        if (!digits.isEmpty())
            return digits;
    }
    return text;
}

int quickFindClass(std::string_view key, std::string_view text)
{
    if (text.empty() || !memmem(key.data(), key.size(), text.data(), text.size()))
        return 0;
    std::array<std::string_view, 3> parts; // name, readings, initials
    std::string_view rest = key;
    for (std::string_view& part : parts) {
        const size_t end = rest.find(static_cast<char>(kPartSeparator));
        part = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    if (parts[0] == text || anyValue(parts[1], [&](std::string_view reading) { return reading == text; }))
        return 1;
    if (anyValue(parts[2], [&](std::string_view initials) { return initials.starts_with(text); }))
        return 2;
    return 3;
}

QString searchKeyText(const QString& name, const std::vector<QString>& phones, const QString& company, const QString& mail)
{
    const QString foldedName = folded(name);
    const NameSpellings spellings = nameSpellings(foldedName);
    QStringList readings;
    for (const QString& reading : spellings.full)
        if (reading != foldedName)
            readings << reading;
    QStringList others;
    for (const QString& phone : phones) {
        const QString digits = phoneDigits(phone);
        if (!digits.isEmpty() && !others.contains(digits))
            others << digits;
    }
    for (const QString& text : {company, mail}) {
        const QString value = folded(text);
        if (!value.isEmpty())
            others << value;
    }
    const QString values(kValueSeparator);
    return foldedName + kPartSeparator + readings.join(values) + kPartSeparator + spellings.initials.join(values)
        + kPartSeparator + others.join(values);
}

std::optional<QString> searchKeyOfSourceRow(const Database::Row& row)
{
    if (!isLive(row))
        return std::nullopt;
    return searchKeyOfRow(row);
}

void updateSearchKeys(Database& db, const std::vector<int64_t>& cards)
{
    for (int64_t card : cards) {
        bool found = false;
        writeSearchKeys(db, searchKeySourceOfCardSql(), {QVariant::fromValue<qint64>(card)}, [&](int64_t) { found = true; });
        if (!found)
            db.runBound(deleteSearchKeySql(), {QVariant::fromValue<qint64>(card)});
    }
}

void updateSearchKeysAfter(Database& db, int64_t lastId, const SearchKeyProgress& progress)
{
    const QVariantList after{QVariant::fromValue<qint64>(lastId)};
    int64_t first = 0, last = 0;
    if (progress)
        db.runBound(cardIdRangeSql(), after, [&](const Database::Row& row) {
            first = row.integer(0);
            last = row.integer(1);
        });
    const int64_t total = last - first + 1;
    int64_t rows = 0;
    writeSearchKeys(db, searchKeySourceAfterSql(), after, [&](int64_t card) {
        // Often enough to move a progress bar, seldom enough to cost nothing.
        if (progress && ++rows % 2000 == 1)
            progress(card - first, total);
    });
    if (progress)
        progress(total, total);
}

std::vector<int64_t> quickFind(Database& db, const QString& typed, const std::vector<int64_t>& list)
{
    const QString text = quickFindText(typed);
    if (text.isEmpty())
        return list;
    std::vector<std::pair<int64_t, int>> matches;
    db.runBound(quickFindSql(), {text}, [&](const Database::Row& row) {
        matches.emplace_back(row.integer(0), static_cast<int>(row.integer(1)));
    });
    return matchesInListOrder(std::move(matches), list);
}

std::vector<int64_t> matchesInListOrder(std::vector<std::pair<int64_t, int>> matches, const std::vector<int64_t>& list)
{
    // The matches come in card order: each card of the list finds its class by halving.
    if (!std::is_sorted(matches.begin(), matches.end()))
        std::sort(matches.begin(), matches.end());
    std::array<std::vector<int64_t>, 3> byClass;
    for (int64_t card : list) {
        const auto at = std::lower_bound(matches.begin(), matches.end(), std::pair<int64_t, int>(card, 0));
        if (at != matches.end() && at->first == card)
            byClass[static_cast<size_t>(at->second - 1)].push_back(card);
    }
    std::vector<int64_t> found = std::move(byClass[0]);
    for (size_t c = 1; c < byClass.size(); ++c)
        found.insert(found.end(), byClass[c].begin(), byClass[c].end());
    return found;
}

} // namespace ostrel
