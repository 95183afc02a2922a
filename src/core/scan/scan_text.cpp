#include "core/scan/scan_text.h"

#include <QRegularExpression>

#include <algorithm>

namespace ostrel::scan {

bool isHan(QChar c)
{
    const auto u = c.unicode();
    return (u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3400 && u <= 0x4DBF);
}

int hanCount(const QString& text)
{
    int n = 0;
    for (const QChar c : text)
        n += isHan(c) ? 1 : 0;
    return n;
}

QString normalised(const QString& line)
{
    QString text = line.normalized(QString::NormalizationForm_KC);
    text.replace(QChar(0x3000), QLatin1Char(' '));
    text.replace(QStringLiteral("（"), QStringLiteral("("));
    text.replace(QStringLiteral("）"), QStringLiteral(")"));
    text = text.simplified();
    // A blank with Chinese on both sides, or between Chinese and a number ("大道 248 号"), is
    // the recogniser's, not the card's.
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char(' ') && i > 0 && i + 1 < text.size()
            && (((isHan(text[i - 1]) || text[i - 1] == QLatin1Char(':')) && isHan(text[i + 1]))
                || (isHan(text[i - 1]) && text[i + 1].isDigit()) || (text[i - 1].isDigit() && isHan(text[i + 1]))))
            continue;
        out += text[i];
    }
    return out;
}

namespace {

// A letter the recogniser confuses with a digit, inside a run that is mostly digits.
QString digitsMended(const QString& text)
{
    static const QRegularExpression run(QStringLiteral("[0-9OoIl|][0-9OoIl| \\-]{4,}[0-9OoIl|]"));
    QString out = text;
    auto it = run.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        QString part = m.captured();
        int digits = 0;
        int letters = 0;
        for (const QChar c : part) {
            digits += c.isDigit() ? 1 : 0;
            letters += c.isLetter() || c == QLatin1Char('|') ? 1 : 0;
        }
        if (digits < 5 || letters * 2 > digits)
            continue;
        // Inside a word (an e-mail's local part, a web address) letters are letters.
        const auto before = m.capturedStart() > 0 ? text[m.capturedStart() - 1] : QChar(' ');
        const auto after = m.capturedEnd() < text.size() ? text[m.capturedEnd()] : QChar(' ');
        if (before.isLetter() || after.isLetter() || after == QLatin1Char('@') || after == QLatin1Char('.'))
            continue;
        part.replace(QLatin1Char('O'), QLatin1Char('0')).replace(QLatin1Char('o'), QLatin1Char('0'));
        part.replace(QLatin1Char('I'), QLatin1Char('1')).replace(QLatin1Char('l'), QLatin1Char('1'));
        part.replace(QLatin1Char('|'), QLatin1Char('1'));
        out.replace(m.capturedStart(), m.capturedLength(), part);
    }
    return out;
}

} // namespace

QString mended(const QString& text)
{
    QString out = text;
    static const QRegularExpression at(QStringLiteral("\\s*(?:©|®|\\(a\\)|\\(@\\)|\\[at\\]|\\(at\\)|＠)\\s*"),
                                       QRegularExpression::CaseInsensitiveOption);
    out.replace(at, QStringLiteral("@"));
    static const QRegularExpression comma(QStringLiteral("[,，]\\s?(com|cn|net|org|edu|gov)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    out.replace(comma, QStringLiteral(".\\1"));
    // Blanks the recogniser puts around the parts of an address.
    static const QRegularExpression spacedAt(QStringLiteral("([A-Za-z0-9._-])\\s*@\\s*([A-Za-z0-9-])"));
    out.replace(spacedAt, QStringLiteral("\\1@\\2"));
    static const QRegularExpression spacedDot(QStringLiteral("([A-Za-z0-9])\\s*\\.\\s*(com|cn|net|org)\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
    out.replace(spacedDot, QStringLiteral("\\1.\\2"));
    // A comma beside the dot of an address (",." for "."); a stray mark after the @.
    static const QRegularExpression commaDot(QStringLiteral("[,，]\\s*\\.|\\.\\s*[,，](?=[A-Za-z])"));
    out.replace(commaDot, QStringLiteral("."));
    static const QRegularExpression atMark(QStringLiteral("@\\s*[,.]\\s*(?=[A-Za-z0-9])"));
    out.replace(atMark, QStringLiteral("@"));
    // Blanks, dashes and colons around the dot of a mailbox name ("yong .cao@", "yong.-yang@").
    static const QRegularExpression localDot(QStringLiteral("(?<=[A-Za-z0-9])\\s*[:;]?\\s*(?:\\.\\s*-|-\\s*\\.|\\.)\\s*[:;]?\\s*(?=[A-Za-z0-9_-]+@)"));
    out.replace(localDot, QStringLiteral("."));
    // A comma read for the dot between the parts of a mailbox name; "cn" read as "en".
    static const QRegularExpression localComma(QStringLiteral("([A-Za-z0-9])\\s*[,，]\\s*(?=[A-Za-z0-9._-]+@)"));
    out.replace(localComma, QStringLiteral("\\1."));
    static const QRegularExpression cnAsEn(QStringLiteral("\\.(com|net|org)\\.en\\b"), QRegularExpression::CaseInsensitiveOption);
    out.replace(cnAsEn, QStringLiteral(".\\1.cn"));
    // A doubled or dropped w of "www." (the strokes of w run together), its dot read as a
    // comma or a colon, or lost.
    static const QRegularExpression www(QStringLiteral("\\b(?:[wW]{2,5}\\s*[.,:]|[wW]{3,5})\\s*(?=[A-Za-z0-9-]+[.,]\\s*(?:com|cn|net|org)\\b)"));
    out.replace(www, QStringLiteral("www."));
    // The dot before the ending of a web address lost ("www.abc com").
    static const QRegularExpression lostDot(QStringLiteral("\\b(www\\.[A-Za-z0-9-]+)\\s+(com|cn|net|org)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    out.replace(lostDot, QStringLiteral("\\1.\\2"));
    // 限 in bold type read as a quote or a bar, or lost.
    static const QRegularExpression limited(QStringLiteral("有(?!限)[\\s\"'“”|丨]*(责任)?公司"));
    out.replace(limited, QStringLiteral("有限\\1公司"));
    return digitsMended(out);
}

bool isMobile(const QString& number)
{
    static const QRegularExpression mobile(QStringLiteral("^1[3-9]\\d{9}$"));
    return mobile.match(number).hasMatch();
}

namespace {

// One number's digits (country code dropped) in the card's form.
QString formatted(QString digits, bool hadCountry, const QString& extension)
{
    if (isMobile(digits))
        return digits;
    if ((digits.startsWith(QLatin1String("400")) || digits.startsWith(QLatin1String("800"))) && digits.size() == 10)
        return digits.left(3) + QLatin1Char('-') + digits.mid(3, 3) + QLatin1Char('-') + digits.mid(6);
    if (hadCountry && !digits.startsWith(QLatin1Char('0')))
        digits.prepend(QLatin1Char('0'));
    QString result = digits;
    if (digits.startsWith(QLatin1Char('0')) && digits.size() >= 10) {
        const int area = (digits[1] == QLatin1Char('1') || digits[1] == QLatin1Char('2')) ? 3 : 4;
        result = digits.left(area) + QLatin1Char('-') + digits.mid(area);
    }
    if (!extension.isEmpty())
        result += QLatin1Char('-') + extension;
    return result;
}

QString digitsOf(const QString& text)
{
    QString d;
    for (const QChar c : text)
        if (c.isDigit())
            d += c;
    return d;
}

} // namespace

QStringList phoneNumbers(const QString& text)
{
    QStringList numbers;
    // Each run of digits and separators is a number (or two mobiles written together); a
    // misread label between two numbers parts them.
    static const QRegularExpression run(
        QStringLiteral("(?:\\+\\s*86|0086|\\(\\s*\\+?86\\s*\\))?[\\s\\-]*\\(?\\d[\\d\\s\\-()]{5,}\\d"
                       "(?:\\s*(?:转|ext\\.?|x)\\s*\\d{1,6})?"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression country(QStringLiteral("^\\s*(?:\\+\\s*86|0086|\\(\\s*\\+?86\\s*\\))[\\s\\-]*"));
    static const QRegularExpression ext(QStringLiteral("(?:转|ext\\.?|x)\\s*(\\d{1,6})\\s*$"),
                                        QRegularExpression::CaseInsensitiveOption);
    auto it = run.globalMatch(text);
    while (it.hasNext()) {
        QString part = it.next().captured();
        QString extension;
        if (const auto m = ext.match(part); m.hasMatch()) {
            extension = m.captured(1);
            part.truncate(m.capturedStart());
        }
        const bool hadCountry = country.match(part).hasMatch();
        part.remove(country);
        const QString digits = digitsOf(part);
        if (digits.size() == 22 && isMobile(digits.left(11)) && isMobile(digits.mid(11))) {
            numbers << digits.left(11) << digits.mid(11);
            continue;
        }
        if (digits.size() >= 7 && digits.size() <= 13)
            numbers << formatted(digits, hadCountry, extension);
    }
    return numbers;
}

bool isPhoneText(const QString& text)
{
    static const QRegularExpression shape(
        QStringLiteral("^[+(]?[\\d][\\d\\s\\-()+/,、.]*(?:(?:转|ext\\.?|x)\\s*\\d{1,6})?$"),
        QRegularExpression::CaseInsensitiveOption);
    return shape.match(text.trimmed()).hasMatch() && !phoneNumbers(text).isEmpty();
}

QString mailAddress(const QString& text)
{
    static const QRegularExpression mail(QStringLiteral("[A-Za-z0-9][A-Za-z0-9._%+-]*@[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)+"));
    // Addresses are printed in lower case; capitals are the recogniser's.
    return mail.match(text).captured().toLower();
}

QString mailAtDomain(const QString& text, const QString& domain)
{
    const QString raw = QString(text).remove(QLatin1Char(' '));
    const QString bare = raw.toLower();
    const qsizetype at = domain.isEmpty() ? -1 : bare.lastIndexOf(domain.toLower());
    if (at < 2 || bare.contains(QLatin1Char('@')) || at + domain.size() != bare.size())
        return {};
    // The letter before the domain is the misread sign when it is one it is mistaken for.
    const QChar before = bare[at - 1];
    const bool misread = QStringLiteral("eoacbq").contains(before) || (raw[at - 1].isUpper() && raw.left(at - 1) == bare.left(at - 1));
    return mailAddress(bare.left(misread ? at - 1 : at) + QLatin1Char('@') + bare.mid(at));
}

QString webAddress(const QString& text)
{
    static const QRegularExpression web(
        QStringLiteral("(?:https?://)?(?:www\\.)?[A-Za-z0-9-]+(?:\\.[A-Za-z0-9-]+)*\\.(?:com|cn|net|org|edu|gov|cc|io|biz|info)(?:\\.cn)?(?:/[^\\s]*)?"),
        QRegularExpression::CaseInsensitiveOption);
    if (text.contains(QLatin1Char('@')))
        return {};
    return web.match(text).captured().toLower();
}

QString mailDomainFromCompany(const QString& text, const QStringList& spellings)
{
    static const QRegularExpression ending(QStringLiteral("\\.(?:com|net|org|cn)(?:\\.cn)?$"));
    const QString bare = QString(text).remove(QLatin1Char(' ')).toLower();
    const auto m = ending.match(bare);
    if (!m.hasMatch() || bare.contains(QLatin1Char('@')))
        return {};
    const QString raw = QString(text).remove(QLatin1Char(' '));
    const QString host = bare.left(m.capturedStart());
    // The longest part the name holds, unless a shorter one follows a misread @ (the name's
    // pinyin may also hold the letter the @ was read as).
    QString longest;
    for (qsizetype len = std::min<qsizetype>(host.size() - 2, 20); len >= 4; --len) {
        const QString part = host.right(len);
        if (!std::any_of(spellings.begin(), spellings.end(), [&](const QString& s) { return s.contains(part); }))
            continue;
        const QChar before = raw[host.size() - len - 1];
        if (before.isUpper() || QStringLiteral("eoacbq").contains(before))
            return part + m.captured();
        if (longest.isEmpty())
            longest = part;
    }
    return longest.isEmpty() ? QString() : longest + m.captured();
}

int editDistance(const QString& a, const QString& b)
{
    std::vector<int> row(size_t(b.size()) + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int up = row[size_t(j)];
            row[size_t(j)] = std::min({up + 1, row[size_t(j) - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row.back();
}

QString withoutStrays(const QString& text)
{
    static const QRegularExpression strays(QStringLiteral("^[\\s\"'“”‘’`|丨:：;；]+|[\\s\"'“”‘’`|丨:：;；]+$"));
    return QString(text).remove(strays);
}

QString postcodeIn(const QString& text)
{
    static const QRegularExpression code(QStringLiteral("(?<![\\d\\-])(\\d{6})(?![\\d\\-])"));
    return code.match(text).captured(1);
}

} // namespace ostrel::scan
