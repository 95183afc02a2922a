#include "engine/postgres/pg_support.h"

#include <libpq-fe.h>

#include <charconv>

namespace ostrel::postgres {

namespace {

// Type numbers of the server's numeric and yes/no columns (pg_type.oid).
constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kOidOid = 26, kFloat4Oid = 700,
              kFloat8Oid = 701, kNumericOid = 1700;

} // namespace

bool isNumericType(unsigned int type)
{
    switch (type) {
    case kBoolOid:
    case kInt8Oid:
    case kInt2Oid:
    case kInt4Oid:
    case kOidOid:
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid:
        return true;
    default:
        return false;
    }
}

std::string_view cellText(const PGresult* result, int row, int column)
{
    if (PQgetisnull(result, row, column))
        return {};
    const char* value = PQgetvalue(result, row, column);
    if (PQftype(result, column) == kBoolOid)
        return *value == 't' ? "1" : "0";
    return std::string_view(value, static_cast<size_t>(PQgetlength(result, row, column)));
}

bool isNumberCell(const PGresult* result, int row, int column)
{
    return isNumericType(PQftype(result, column)) || PQgetisnull(result, row, column);
}

int64_t toInteger(std::string_view text)
{
    int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

QString trimmedMessage(const char* text)
{
    return QString::fromUtf8(text ? text : "").trimmed();
}

QByteArray arrayText(const std::vector<int64_t>& values)
{
    QByteArray text = "{";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            text += ',';
        text += QByteArray::number(static_cast<qlonglong>(values[i]));
    }
    return text + '}';
}

QStringList columnNames(const PGresult* result)
{
    QStringList names;
    for (int c = 0; c < PQnfields(result); ++c)
        names << QString::fromUtf8(PQfname(result, c));
    return names;
}

void fillRows(const PGresult* result, ResultSet& rows)
{
    const int count = PQntuples(result);
    const int columns = PQnfields(result);
    rows.reserveRows(static_cast<size_t>(count));
    for (int r = 0; r < count; ++r) {
        for (int c = 0; c < columns; ++c)
            rows.addCell(cellText(result, r, c), isNumberCell(result, r, c));
        rows.endRow();
    }
}

} // namespace ostrel::postgres
