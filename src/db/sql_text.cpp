#include "sql_text.h"

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

} // namespace

QString adaptSql(const QString& sql)
{
    QString out;
    out.reserve(sql.size());
    const int n = sql.size();
    int i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == u'\'' || c == u'"' || c == u'[') {
            const int end = skipQuoted(sql, i, c == u'[' ? QChar(u']') : c);
            out += QStringView(sql).mid(i, end - i);
            i = end;
            continue;
        }
        if (!isWordChar(c)) {
            out += c;
            ++i;
            continue;
        }
        int end = i;
        while (end < n && isWordChar(sql[end]))
            ++end;
        const QStringView word = QStringView(sql).mid(i, end - i);
        if (word.compare(u"True", Qt::CaseInsensitive) == 0) {
            out += u'1';
        } else if (word.compare(u"False", Qt::CaseInsensitive) == 0) {
            out += u'0';
        } else if (word.compare(u"Delete", Qt::CaseInsensitive) == 0) {
            out += word;
            // "Delete * from" -> "Delete from"
            const int star = skipSpaces(sql, end);
            if (star < n && sql[star] == u'*') {
                const int from = skipSpaces(sql, star + 1);
                if (QStringView(sql).mid(from, 4).compare(u"from", Qt::CaseInsensitive) == 0
                    && (from + 4 >= n || !isWordChar(sql[from + 4]))) {
                    out += u' ';
                    end = from;
                }
            }
        } else {
            out += word;
        }
        i = end;
    }
    return out;
}

} // namespace ostrel
