#include "core/schema_names.h"

#include "core/search_key_statements.h"

#include <QRegularExpression>

namespace ostrel {

QStringList splitStatements(const QString& sql)
{
    QStringList statements;
    QString current;
    const int n = sql.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            while (i < n && sql[i] != u'\n')
                ++i;
            current += u'\n';
            continue;
        }
        if (c == u'\'') {
            // A literal runs to its closing quote; a doubled quote stands for one.
            int end = i + 1;
            while (end < n && (sql[end] != u'\'' || (end + 1 < n && sql[end + 1] == u'\'' && ++end)))
                ++end;
            current += QStringView(sql).mid(i, end + 1 - i);
            i = end;
            continue;
        }
        if (c == u';') {
            if (!current.trimmed().isEmpty())
                statements << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

namespace {

// The table and its columns of a CREATE TABLE statement; a table without a name stays empty.
SchemaTable tableOf(const QString& statement)
{
    static const QRegularExpression head(QStringLiteral(R"(^CREATE\s+TABLE\s+(\w+)\s*\()"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = head.match(statement);
    if (!match.hasMatch())
        return {};
    SchemaTable table{match.captured(1), {}};
    // Columns are the items between the outer parentheses; each starts with its name.
    const QString body = statement.mid(match.capturedEnd(), statement.lastIndexOf(u')') - match.capturedEnd());
    int depth = 0;
    QString item;
    auto take = [&] {
        const QString name = item.trimmed().section(QRegularExpression(QStringLiteral("\\s+")), 0, 0);
        if (!name.isEmpty())
            table.columns << name;
        item.clear();
    };
    for (QChar c : body) {
        if (c == u'(')
            ++depth;
        else if (c == u')')
            --depth;
        if (c == u',' && depth == 0)
            take();
        else
            item += c;
    }
    take();
    return table;
}

} // namespace

const std::vector<SchemaTable>& schemaTables()
{
    static const std::vector<SchemaTable> tables = [] {
        std::vector<SchemaTable> all;
        QStringList statements = splitStatements(QString::fromUtf8(schemaSql()));
        statements << searchKeyTableSql();
        for (const QString& statement : statements) {
            SchemaTable table = tableOf(statement);
            if (!table.name.isEmpty())
                all.push_back(std::move(table));
        }
        return all;
    }();
    return tables;
}

const QHash<QString, QString>& schemaNames()
{
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> all;
        for (const SchemaTable& table : schemaTables()) {
            all.insert(table.name.toLower(), table.name);
            for (const QString& column : table.columns)
                all.insert(column.toLower(), column);
        }
        const QString counter = QString::fromLatin1(kChangeCounterColumn);
        all.insert(counter.toLower(), counter);
        return all;
    }();
    return names;
}

} // namespace ostrel
