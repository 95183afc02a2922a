#include "core/card_image_store.h"

#include "engine/database.h"

#include <QBuffer>

namespace ostrel {

QStringList fileCardImageStatements()
{
    return {QStringLiteral("CREATE TABLE D_BImage (DID INTEGER NOT NULL, theSide INTEGER NOT NULL, "
                           "theJpeg BLOB NOT NULL, PRIMARY KEY (DID, theSide))"),
            // The file keeps no foreign keys; a trigger does what the server's cascade does.
            QStringLiteral("CREATE TRIGGER D_B_ImageGone AFTER DELETE ON D_B BEGIN "
                           "DELETE FROM D_BImage WHERE DID = OLD.ID; END")};
}

QString cardImageTableExistsSql()
{
    // A server folds the unquoted name to lower case.
    return QStringLiteral("select count(*) from sqlite_master where type='table' and lower(name)='d_bimage'");
}

bool keepsCardImages(Database& db)
{
    int64_t tables = 0;
    db.runBound(cardImageTableExistsSql(), {}, [&](const Database::Row& row) { tables = row.integer(0); });
    return tables > 0;
}

QStringList serverCardImageStatements()
{
    return {QStringLiteral("CREATE TABLE D_BImage (\"DID\" bigint NOT NULL REFERENCES \"D_B\" (\"ID\") ON DELETE CASCADE, "
                           "theSide integer NOT NULL, theJpeg bytea NOT NULL, PRIMARY KEY (\"DID\", theSide))"),
            // Replaced, not made: a server that lost the table may still have the function.
            QStringLiteral("CREATE OR REPLACE FUNCTION hex(b bytea) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ "
                           "SELECT upper(encode(b, 'hex')) $$")};
}

QByteArray keptCardJpeg(const QImage& image)
{
    if (image.isNull())
        return {};
    QImage kept = image;
    if (std::max(kept.width(), kept.height()) > kKeptImageSide)
        kept = kept.scaled(kKeptImageSide, kKeptImageSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    kept.convertToFormat(QImage::Format_RGB32).save(&buffer, "JPEG", 85);
    return jpeg;
}

void saveCardImage(Database& db, int64_t card, CardSide side, const QByteArray& jpeg)
{
    const QVariantList key{QVariant::fromValue<qint64>(card), static_cast<int>(side)};
    db.runBound(QStringLiteral("delete from D_BImage where DID = ?1 and theSide = ?2"), key);
    db.runBound(QStringLiteral("insert into D_BImage (DID, theSide, theJpeg) values (?1, ?2, ?3)"),
                {key[0], key[1], jpeg});
}

QByteArray cardImage(Database& db, int64_t card, CardSide side)
{
    QByteArray jpeg;
    db.runBound(QStringLiteral("select hex(theJpeg) from D_BImage where DID = ?1 and theSide = ?2"),
                {QVariant::fromValue<qint64>(card), static_cast<int>(side)},
                [&](const Database::Row& row) {
                    const std::string_view hex = row.utf8(0);
                    jpeg = QByteArray::fromHex(QByteArray(hex.data(), static_cast<qsizetype>(hex.size())));
                });
    return jpeg;
}

} // namespace ostrel
