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

QString quotedName(QStringView name)
{
    return u'"' + name.toString().replace(u'"', QStringLiteral("\"\"")) + u'"';
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

} // namespace

namespace {

enum class Dialect { File, Server };

bool isWord(QStringView word, const char16_t* keyword)
{
    return word.compare(QStringView(keyword), Qt::CaseInsensitive) == 0;
}

int wordEnd(const QString& text, int i)
{
    while (i < text.size() && isWordChar(text[i]))
        ++i;
    return i;
}

// The word starting at i (after spaces), or an empty view.
QStringView wordAt(const QString& text, int i)
{
    i = skipSpaces(text, i);
    return QStringView(text).mid(i, wordEnd(text, i) - i);
}

// " or replace" after "insert": the index after it; i for any other text.
int afterOrReplace(const QString& sql, int i)
{
    const int orAt = skipSpaces(sql, i);
    if (!isWord(wordAt(sql, i), u"or") || !isWord(wordAt(sql, orAt + 2), u"replace"))
        return i;
    return skipSpaces(sql, orAt + 2) + 7;
}

// "?" or "?N" at i as the server's $N (or the N-th of parameterNames), added to out; returns
// the index after it.
int serverParameter(const QString& sql, int i, int& lastParameter, const QStringList& parameterNames, QString& out)
{
    int end = i + 1;
    while (end < sql.size() && sql[end].isDigit())
        ++end;
    const int number = end > i + 1 ? QStringView(sql).mid(i + 1, end - i - 1).toInt() : lastParameter + 1;
    lastParameter = std::max(lastParameter, number);
    out += number <= parameterNames.size() ? parameterNames[number - 1] : u'$' + QString::number(number);
    return end;
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

// "Delete * from": the index of "from" after the star that follows i; i for any other text.
int fromAfterStar(const QString& sql, int i)
{
    const int star = skipSpaces(sql, i);
    if (star >= sql.size() || sql[star] != u'*')
        return i;
    const int from = skipSpaces(sql, star + 1);
    const bool isFrom = QStringView(sql).mid(from, 4).compare(u"from", Qt::CaseInsensitive) == 0
        && (from + 4 >= sql.size() || !isWordChar(sql[from + 4]));
    return isFrom ? from : i;
}

// The server's ending of "insert or replace into T (key, a, b)": the row of the same key is
// updated (or, with the key alone, left as it is).
QString onConflictUpdate(const QStringList& columns)
{
    QString out = QStringLiteral(" on conflict (") + quotedName(columns.first()) + u')';
    if (columns.size() == 1)
        return out + QStringLiteral(" do nothing");
    out += QStringLiteral(" do update set ");
    for (int c = 1; c < columns.size(); ++c)
        out += (c > 1 ? QStringLiteral(", ") : QString()) + quotedName(columns[c]) + QStringLiteral(" = excluded.") + quotedName(columns[c]);
    return out;
}

QString adapt(const QString& sql, Dialect dialect, const QHash<QString, QString>& names, const QStringList& parameterNames)
{
    const bool server = dialect == Dialect::Server;
    QString out;
    out.reserve(sql.size() + sql.size() / 4);
    const int n = sql.size();
    int i = 0;
    int lastParameter = 0;
    QString previousWord;
    // "insert or replace into T (key, a, b) …": T's columns, for the update of a row that is there.
    bool replacing = false;
    QStringList replaceColumns;
    bool inReplaceColumns = false;
    while (i < n) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"' || c == u'[') {
            const int end = skipQuoted(sql, i, c == u'[' ? QChar(u']') : c);
            out += QStringView(sql).mid(i, end - i);
            // A LIKE pattern: a backslash in it is a plain character, as in the file.
            if (server && c == u'\'' && isWord(previousWord, u"like"))
                out += QStringLiteral(" ESCAPE ''");
            previousWord.clear();
            i = end;
            continue;
        }
        if (server && c == u'?') {
            i = serverParameter(sql, i, lastParameter, parameterNames, out);
            previousWord.clear();
            continue;
        }
        if (!isWordChar(c)) {
            if (inReplaceColumns && c == u')')
                inReplaceColumns = false;
            else if (replacing && replaceColumns.isEmpty() && c == u'(' && !inReplaceColumns)
                inReplaceColumns = true;
            if (!c.isSpace())
                previousWord.clear(); // "as (select …": no name follows
            out += c;
            ++i;
            continue;
        }
        int end = wordEnd(sql, i);
        const QStringView word = QStringView(sql).mid(i, end - i);
        if (isWord(word, u"True") || isWord(word, u"False")) {
            out += isWord(word, u"True") ? u'1' : u'0';
        } else if (isWord(word, u"Delete")) {
            out += word;
            const int from = fromAfterStar(sql, end);
            if (from != end) {
                out += u' ';
                end = from;
            }
        } else if (!server) {
            out += word;
        } else if (const int after = afterOrReplace(sql, end); after != end && isWord(word, u"insert")) {
            // "insert or replace" -> "insert", the replacing added at the end.
            out += word;
            end = after;
            replacing = true;
        } else if (isWord(word, u"ifnull")) {
            out += QStringLiteral("coalesce");
        } else if (const auto known = names.constFind(word.toString().toLower()); known != names.constEnd()) {
            out += quotedName(*known);
            if (inReplaceColumns)
                replaceColumns << *known;
        } else if (isWord(previousWord, u"as") && !word.front().isDigit()) {
            out += quotedName(word);
        } else {
            out += word;
        }
        previousWord = word.toString();
        i = end;
    }
    if (replacing && !replaceColumns.isEmpty()) {
        while (out.endsWith(u';') || (!out.isEmpty() && out.back().isSpace()))
            out.chop(1);
        out += onConflictUpdate(replaceColumns);
    }
    return out;
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
