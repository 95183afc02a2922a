#include "core/duplicates/duplicate_keys.h"

#include "core/pinyin.h"
#include "core/search_keys.h"

#include <opencc/opencc.h>

#include <QRegularExpression>

#include <algorithm>
#include <mutex>

namespace ostrel {

namespace {

bool allAsciiDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c.unicode() < u'0' || c.unicode() > u'9')
            return false;
    return true;
}

qsizetype digitCount(const QString& text)
{
    return std::count_if(text.begin(), text.end(), [](QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; });
}

bool isMobile(const QString& digits)
{
    return digits.size() == 11 && digits.front() == u'1' && digits.at(1) >= u'3';
}

// Area code 0 plus 2 or 3 digits, then a 7- or 8-digit number.
bool isFullLandline(const QString& digits)
{
    return digits.size() >= 10 && digits.size() <= 12 && digits.front() == u'0' && digits.at(1) != u'0';
}

// One number: the digits quick find keeps (separators and +86/0086 gone), then sorted into
// mobile or landline. After +86 a landline has lost the 0 of its area code.
void addNumber(const QString& piece, PhoneNumbers& out)
{
    const QString text = quickFindText(piece);
    if (!allAsciiDigits(text))
        return;
    // Quick find dropped a country code when it kept fewer digits than were written.
    const bool international = text.size() < digitCount(piece.normalized(QString::NormalizationForm_KC));
    QString digits = text;
    // An old habit writes a mobile with a trunk 0 in front.
    if (digits.size() == 12 && digits.front() == u'0' && isMobile(digits.mid(1)))
        digits.remove(0, 1);
    if (isMobile(digits)) {
        out.mobiles << digits;
        return;
    }
    if (international && digits.front() != u'0')
        digits.prepend(u'0');
    if (isFullLandline(digits))
        out.landlines << digits;
}

struct OpenCC {
    opencc_t handle = reinterpret_cast<opencc_t>(-1);
    OpenCC() { handle = opencc_open(OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP); }
    ~OpenCC()
    {
        if (ok())
            opencc_close(handle);
    }
    bool ok() const { return handle != reinterpret_cast<opencc_t>(-1); }
};

OpenCC& openCC()
{
    static OpenCC instance;
    return instance;
}

} // namespace

PhoneNumbers phoneNumbers(const QString& field)
{
    PhoneNumbers out;
    static const QRegularExpression between(QStringLiteral("[/,;，；、|]"));
    for (const QString& piece : field.split(between, Qt::SkipEmptyParts))
        addNumber(piece, out);
    return out;
}

QString companyCore(const QString& foldedCompany)
{
    static const QRegularExpression bracketed(QStringLiteral("\\([^)]*\\)|\\[[^]]*\\]|【[^】]*】"));
    static const QRegularExpression notWord(QStringLiteral("[^\\p{L}\\p{N}]"));
    QString core = foldedCompany;
    core.remove(bracketed).remove(notWord);
    // Longest first, so that 有限公司 goes before 公司 would leave 有限.
    static const QStringList endings = {
        QStringLiteral("股份有限公司"), QStringLiteral("有限责任公司"), QStringLiteral("有限公司"), QStringLiteral("集团公司"),
        QStringLiteral("分公司"), QStringLiteral("公司"), QStringLiteral("集团"), QStringLiteral("coltd"),
        QStringLiteral("company"), QStringLiteral("corp"), QStringLiteral("ltd"), QStringLiteral("inc"),
    };
    for (bool cut = true; cut;) {
        cut = false;
        for (const QString& ending : endings)
            if (core.size() > ending.size() && core.endsWith(ending)) {
                core.chop(ending.size());
                cut = true;
            }
    }
    return core;
}

bool simplifiedFoldingAvailable()
{
    return openCC().ok();
}

void toSimplified(std::vector<QString*>& texts)
{
    static std::mutex lock; // one OpenCC handle, not known to be safe across threads
    const std::lock_guard guard(lock);
    if (texts.empty() || !openCC().ok())
        return;
    // One call for all: a call per text would cost more than the whole grouping. A line
    // break cannot be in a folded text, so it keeps the texts apart.
    QByteArray joined;
    for (const QString* text : texts)
        joined += text->toUtf8() + '\n';
    char* converted = opencc_convert_utf8(openCC().handle, joined.constData(), static_cast<size_t>(joined.size()));
    if (!converted)
        return;
    const QList<QByteArray> lines = QByteArray(converted).split('\n');
    opencc_convert_utf8_free(converted);
    if (lines.size() != static_cast<qsizetype>(texts.size()) + 1)
        return; // the table changed the line count: keep the texts as they were
    for (size_t i = 0; i < texts.size(); ++i)
        *texts[i] = QString::fromUtf8(lines[static_cast<qsizetype>(i)]);
}

std::vector<DuplicateKeys> duplicateKeys(std::span<const DuplicateSource> cards)
{
    std::vector<DuplicateKeys> keys(cards.size());
    std::vector<QString*> simplify;
    simplify.reserve(cards.size() * 2);
    for (size_t i = 0; i < cards.size(); ++i) {
        const DuplicateSource& card = cards[i];
        DuplicateKeys& key = keys[i];
        key.name = quickFindText(card.name);
        key.company = quickFindText(card.company);
        key.mail = quickFindText(card.mail);
        if (!key.mail.contains(u'@'))
            key.mail.clear();
        simplify.push_back(&key.name);
        simplify.push_back(&key.company);
        for (const QString& field : card.personalPhones) {
            const PhoneNumbers numbers = phoneNumbers(field);
            key.mobiles << numbers.mobiles;
            key.landlines << numbers.landlines;
            key.phones << numbers.mobiles << numbers.landlines;
        }
        for (const QString& field : card.workPhones) {
            const PhoneNumbers numbers = phoneNumbers(field);
            key.mobiles << numbers.mobiles;
            key.phones << numbers.mobiles << numbers.landlines;
        }
        key.mobiles.removeDuplicates();
        key.landlines.removeDuplicates();
        key.phones.removeDuplicates();
    }
    toSimplified(simplify);
    for (DuplicateKeys& key : keys) {
        // One character says too little: a placeholder such as 无 or a lone surname.
        if (key.name.size() < 2)
            key.name.clear();
        if (key.company.size() < 2)
            key.company.clear();
        key.companyCore = companyCore(key.company);
        if (key.companyCore.size() < 2)
            key.companyCore.clear();
        if (!key.name.isEmpty())
            key.readings = nameSpellings(key.name).full;
    }
    return keys;
}

} // namespace ostrel
