#include "core/sync/sync_cards.h"

#include "core/search_keys.h"
#include "engine/database.h"

#include <QDateTime>
#include <QTimeZone>

namespace ostrel::sync {

namespace {

QString fieldColumns()
{
    QStringList columns;
    for (const CardField& field : cardFields())
        columns << field.columnName();
    return columns.join(u',');
}

QString selectCardsSql(const QString& condition)
{
    return QStringLiteral("select ID, theDel, ") + fieldColumns() + QStringLiteral(" from D_B") + condition + QStringLiteral(" order by ID");
}

LocalCard cardOfRow(const Database::Row& row)
{
    LocalCard card;
    card.id = row.integer(0);
    card.deleted = row.text(1) == QStringLiteral("是");
    for (int i = 0; i < kCardFieldCount; ++i)
        card.values[static_cast<size_t>(i)] = row.text(i + 2);
    return card;
}

QVariantList boundValues(const CardValues& values)
{
    QVariantList bound;
    for (const QString& value : values)
        bound << value;
    return bound;
}

QStringList lookupTexts(Database& db, const char* table)
{
    QStringList texts;
    db.runBound(QStringLiteral("select theName from %1").arg(QString::fromLatin1(table)), {},
                [&](const Database::Row& row) { texts << row.text(0); });
    return texts;
}

QString utcText(const QDateTime& time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + u'Z';
}

// REV as phones write it: basic or extended ISO 8601, with or without a zone.
QString revisionText(const QString& rev)
{
    QString compact = rev.trimmed();
    compact.remove(u'-').remove(u':');
    const qsizetype dot = compact.indexOf(u'.');
    if (dot >= 0)
        compact.remove(dot, compact.indexOf(u'Z', dot) >= 0 ? compact.indexOf(u'Z', dot) - dot : compact.size() - dot);
    for (const char* format : {"yyyyMMddTHHmmssZ", "yyyyMMddTHHmmss", "yyyyMMdd"}) {
        QDateTime time = QDateTime::fromString(compact, QString::fromLatin1(format));
        if (time.isValid()) {
            time.setTimeSpec(Qt::UTC);
            return utcText(time);
        }
    }
    return {};
}

} // namespace

std::vector<LocalCard> loadLocalCards(Database& db)
{
    std::vector<LocalCard> cards;
    db.runBound(selectCardsSql({}), {}, [&](const Database::Row& row) { cards.push_back(cardOfRow(row)); });
    return cards;
}

std::optional<LocalCard> loadLocalCard(Database& db, int64_t id)
{
    std::optional<LocalCard> card;
    db.runBound(selectCardsSql(QStringLiteral(" where ID = ?1")), {QVariant::fromValue<qint64>(id)},
                [&](const Database::Row& row) { card = cardOfRow(row); });
    return card;
}

void writeLocalCard(Database& db, int64_t id, const CardValues& values)
{
    QString sql = QStringLiteral("update D_B set ");
    int number = 1;
    for (const CardField& field : cardFields())
        sql += field.columnName() + QStringLiteral("=?%1, ").arg(number++);
    sql += QStringLiteral("theDel='否' where ID=?%1").arg(number);
    QVariantList bound = boundValues(values);
    bound << QVariant::fromValue<qint64>(id);
    db.runBound(sql, bound);
    updateSearchKeys(db, {id});
}

int64_t addLocalCard(Database& db, const CardValues& values, const QString& entryDate)
{
    QString sql = QStringLiteral("insert into D_B (theDate,") + fieldColumns() + QStringLiteral(",theDel) values (?1");
    for (int i = 0; i < kCardFieldCount; ++i)
        sql += QStringLiteral(",?%1").arg(i + 2);
    sql += QStringLiteral(",'否')");
    QVariantList bound{entryDate};
    bound += boundValues(values);
    db.runBound(sql, bound);
    const int64_t id = db.lastInsertId();
    updateSearchKeys(db, {id});
    return id;
}

void deleteLocalCard(Database& db, int64_t id)
{
    db.runBound(QStringLiteral("Update D_B Set theDel='是' where ID=?1"), {QVariant::fromValue<qint64>(id)});
    updateSearchKeys(db, {id});
}

VCardLists loadVCardLists(Database& db)
{
    VCardLists lists;
    lists.categories = lookupTexts(db, "D_Type");
    lists.provinces = lookupTexts(db, "D_P");
    db.runBound(QStringLiteral("select theType from D_Mr"), {}, [&](const Database::Row& row) { lists.defaultCategory = row.text(0); });
    return lists;
}

QByteArray cardText(const CardValues& values, const QString& uid)
{
    QByteArray text;
    writeVCard(values, text);
    QByteArray uidLine;
    vcard::appendProperty("UID", 0, vcard::escaped(uid), uidLine);
    // Right after BEGIN and VERSION, where phones look for it first.
    const qsizetype version = text.indexOf("VERSION:");
    const qsizetype at = version < 0 ? -1 : text.indexOf('\n', version);
    if (at >= 0)
        text.insert(at + 1, uidLine);
    return text;
}

std::optional<CardValues> readCardText(const QByteArray& text, const VCardLists& lists)
{
    VCardReader reader(text, lists);
    CardValues values;
    if (reader.status() != VCardFile::Cards || !reader.next(values))
        return std::nullopt;
    return values;
}

CardStamp cardStamp(const QByteArray& text)
{
    enum { Uid = 1, Rev = 2 };
    vcard::PropertyNames names;
    names.add("UID", Uid);
    names.add("REV", Rev);
    vcard::CardReader reader(text, names);
    std::vector<vcard::Property> properties;
    CardStamp stamp;
    if (!reader.next(properties))
        return stamp;
    for (const vcard::Property& property : properties) {
        if (property.name == Uid && stamp.uid.isEmpty())
            stamp.uid = vcard::unescaped(property.value).trimmed();
        else if (property.name == Rev && stamp.revision.isEmpty())
            stamp.revision = revisionText(property.value);
    }
    return stamp;
}

} // namespace ostrel::sync
