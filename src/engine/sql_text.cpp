#include "engine/sql_text.h"

#include <QRegularExpression>

#include <algorithm>

namespace ostrel {

QString sqlQuote(const QString& value)
{
    QString out = value;
    // A NUL would end the statement text where the engine reads it.
    out.remove(QChar(u'\0'));
    out.replace(u'\'', QStringLiteral("''"));
    return out;
}

QString monthDayBetween(const QString& expression, const QString& from, const QString& to)
{
    auto between = [&](const QString& a, const QString& b) {
        return QStringLiteral("%1 Between '%2' AND '%3'").arg(expression, sqlQuote(a), sqlQuote(b));
    };
    if (from <= to)
        return u'(' + between(from, to) + u')';
    return QStringLiteral("((%1) OR (%2))").arg(between(from, QStringLiteral("12-31")),
                                                between(QStringLiteral("01-01"), to));
}

namespace {

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

// Skips a quoted run starting at text[i] (the opening quote) and returns the index
// after its closing quote; a doubled closing character stands for one.
int skipQuoted(const QString& text, int i, QChar close)
{
    const int n = text.size();
    ++i;
    while (i < n) {
        if (text[i] == close) {
            if (i + 1 < n && text[i + 1] == close && close != u']') {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return n;
}

int skipSpaces(const QString& text, int i)
{
    while (i < text.size() && text[i].isSpace())
        ++i;
    return i;
}

enum class Dialect { File, Server };

bool isWord(QStringView word, const char16_t* keyword)
{
    return word.compare(QStringView(keyword), Qt::CaseInsensitive) == 0;
}

// The word starting at i (after spaces), or an empty view.
QStringView wordAt(const QString& text, int i)
{
    i = skipSpaces(text, i);
    int end = i;
    while (end < text.size() && isWordChar(text[end]))
        ++end;
    return QStringView(text).mid(i, end - i);
}

QString quotedName(QStringView name)
{
    return u'"' + name.toString().replace(u'"', QStringLiteral("\"\"")) + u'"';
}

// "PRAGMA name(arg)" as a call of the server's function pragma_name('arg'); empty for any
// other text.
QString serverPragma(const QString& sql)
{
    static const QRegularExpression pragma(QStringLiteral(R"(^\s*PRAGMA\s+(\w+)\s*\(\s*(\w+)\s*\)\s*;?\s*$)"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pragma.match(sql);
    if (!match.hasMatch())
        return {};
    return QStringLiteral("select * from pragma_%1('%2')").arg(match.captured(1).toLower(), match.captured(2));
}

// One pass over a statement text, outside quoted literals, for one dialect.
class Adapter {
public:
    Adapter(const QString& sql, Dialect dialect, const QHash<QString, QString>& names, const QStringList& parameterNames)
        : m_sql(sql), m_server(dialect == Dialect::Server), m_names(names), m_parameterNames(parameterNames)
    {
        m_out.reserve(sql.size() + sql.size() / 4);
    }

    QString run()
    {
        const int n = m_sql.size();
        int i = 0;
        while (i < n) {
            const QChar c = m_sql[i];
            if (c == u'\'' || c == u'"' || c == u'[')
                i = literal(i, c);
            else if (m_server && c == u'?')
                i = parameter(i);
            else if (!isWordChar(c))
                i = punctuation(i, c);
            else
                i = word(i);
        }
        if (m_replacing && !m_replaceColumns.isEmpty())
            addReplacing();
        return m_out;
    }

private:
    int literal(int i, QChar c)
    {
        const int end = skipQuoted(m_sql, i, c == u'[' ? QChar(u']') : c);
        m_out += QStringView(m_sql).mid(i, end - i);
        // A LIKE pattern: a backslash in it is a plain character, as in the file.
        if (m_server && c == u'\'' && isWord(m_previousWord, u"like"))
            m_out += QStringLiteral(" ESCAPE ''");
        m_previousWord.clear();
        return end;
    }

    // ? and ?N become $N, or the N-th of the parameter names.
    int parameter(int i)
    {
        int end = i + 1;
        while (end < m_sql.size() && m_sql[end].isDigit())
            ++end;
        const int number = end > i + 1 ? QStringView(m_sql).mid(i + 1, end - i - 1).toInt() : m_lastParameter + 1;
        m_lastParameter = std::max(m_lastParameter, number);
        m_out += number <= m_parameterNames.size() ? m_parameterNames[number - 1] : u'$' + QString::number(number);
        m_previousWord.clear();
        return end;
    }

    int punctuation(int i, QChar c)
    {
        if (m_inReplaceColumns && c == u')')
            m_inReplaceColumns = false;
        else if (m_replacing && m_replaceColumns.isEmpty() && c == u'(' && !m_inReplaceColumns)
            m_inReplaceColumns = true;
        if (!c.isSpace())
            m_previousWord.clear(); // "as (select …": no name follows
        m_out += c;
        return i + 1;
    }

    int word(int i)
    {
        int end = i;
        while (end < m_sql.size() && isWordChar(m_sql[end]))
            ++end;
        const QStringView word = QStringView(m_sql).mid(i, end - i);
        if (isWord(word, u"True"))
            m_out += u'1';
        else if (isWord(word, u"False"))
            m_out += u'0';
        else if (isWord(word, u"Delete"))
            end = deleteStar(word, end);
        else if (!m_server)
            m_out += word;
        else
            end = serverWord(word, end);
        m_previousWord = word.toString();
        return end;
    }

    // "Delete * from" -> "Delete from"
    int deleteStar(QStringView word, int end)
    {
        m_out += word;
        const int n = m_sql.size();
        const int star = skipSpaces(m_sql, end);
        if (star < n && m_sql[star] == u'*') {
            const int from = skipSpaces(m_sql, star + 1);
            if (QStringView(m_sql).mid(from, 4).compare(u"from", Qt::CaseInsensitive) == 0
                && (from + 4 >= n || !isWordChar(m_sql[from + 4]))) {
                m_out += u' ';
                return from;
            }
        }
        return end;
    }

    int serverWord(QStringView word, int end)
    {
        if (isWord(word, u"insert") && isWord(wordAt(m_sql, end), u"or")) {
            // "insert or replace" -> "insert", the replacing added at the end.
            m_out += word;
            const int orAt = skipSpaces(m_sql, end);
            if (isWord(wordAt(m_sql, orAt + 2), u"replace")) {
                m_replacing = true;
                return skipSpaces(m_sql, orAt + 2) + 7;
            }
        } else if (isWord(word, u"ifnull")) {
            m_out += QStringLiteral("coalesce");
        } else if (const auto known = m_names.constFind(word.toString().toLower()); known != m_names.constEnd()) {
            m_out += quotedName(*known);
            if (m_inReplaceColumns)
                m_replaceColumns << *known;
        } else if (isWord(m_previousWord, u"as") && !word.front().isDigit()) {
            m_out += quotedName(word);
        } else {
            m_out += word;
        }
        return end;
    }

    // "insert or replace into T (key, a, b) …" updates the row of the same key that is there.
    void addReplacing()
    {
        while (m_out.endsWith(u';') || (!m_out.isEmpty() && m_out.back().isSpace()))
            m_out.chop(1);
        m_out += QStringLiteral(" on conflict (") + quotedName(m_replaceColumns.first()) + u')';
        if (m_replaceColumns.size() == 1) {
            m_out += QStringLiteral(" do nothing");
            return;
        }
        m_out += QStringLiteral(" do update set ");
        for (int c = 1; c < m_replaceColumns.size(); ++c)
            m_out += (c > 1 ? QStringLiteral(", ") : QString()) + quotedName(m_replaceColumns[c])
                + QStringLiteral(" = excluded.") + quotedName(m_replaceColumns[c]);
    }

    const QString& m_sql;
    const bool m_server;
    const QHash<QString, QString>& m_names;
    const QStringList& m_parameterNames;
    QString m_out;
    int m_lastParameter = 0;
    QString m_previousWord;
    // "insert or replace into T (key, a, b) …": T's columns, for the update of a row that is there.
    bool m_replacing = false;
    QStringList m_replaceColumns;
    bool m_inReplaceColumns = false;
};

QString adapt(const QString& sql, Dialect dialect, const QHash<QString, QString>& names, const QStringList& parameterNames)
{
    return Adapter(sql, dialect, names, parameterNames).run();
}

} // namespace

QString adaptSql(const QString& sql)
{
    return adapt(sql, Dialect::File, {}, {});
}

QString adaptServerSql(const QString& sql, const QHash<QString, QString>& names, const QStringList& parameterNames)
{
    const QString pragma = serverPragma(sql);
    return adapt(pragma.isEmpty() ? sql : pragma, Dialect::Server, names, parameterNames);
}

} // namespace ostrel
