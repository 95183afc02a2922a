#include "engine/database.h"

namespace ostrel {

namespace {

void bindAll(PreparedStatement& statement, const QVariantList& values)
{
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values[i];
        if (value.typeId() == QMetaType::QString)
            statement.bind(i + 1, value.toString());
        else if (value.typeId() == QMetaType::QByteArray)
            statement.bindBytes(i + 1, value.toByteArray());
        else if (!value.isValid())
            statement.bindNull(i + 1);
        else
            statement.bind(i + 1, static_cast<int64_t>(value.toLongLong()));
    }
}

} // namespace

int Database::runBound(const QString& sql, const QVariantList& values, const RowHandler& row)
{
    const std::unique_ptr<PreparedStatement> statement = prepare(sql);
    bindAll(*statement, values);
    if (!row)
        return statement->exec();
    while (statement->step())
        row(*statement);
    return 0;
}

int64_t Database::firstInteger(const QString& sql, const QVariantList& values)
{
    const std::unique_ptr<PreparedStatement> statement = prepare(sql);
    bindAll(*statement, values);
    return statement->step() ? statement->integer(0) : 0;
}

} // namespace ostrel
