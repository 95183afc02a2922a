#include "core/pinyin.h"

#include "engine/engine_error.h"

#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/utrans.h>

#include <QHash>

#include <memory>

namespace ostrel {

namespace {

// The other common readings of characters whose reading depends on the word, surnames
// first. ICU gives one reading per character; these add the rest (its own is kept first).
const char* const kHeteronyms[][2] = {
    {"曾", "zeng ceng"},  {"单", "shan dan chan"}, {"解", "xie jie"},   {"仇", "qiu chou"},  {"朴", "piao pu"},
    {"区", "ou qu"},      {"查", "zha cha"},       {"覃", "qin tan"},   {"乐", "yue le"},    {"缪", "miao mou miu"},
    {"盖", "ge gai"},     {"种", "chong zhong"},   {"尉", "wei yu"},    {"长", "chang zhang"}, {"重", "chong zhong"},
    {"翟", "zhai di"},    {"召", "shao zhao"},     {"折", "she zhe"},   {"繁", "po fan"},    {"员", "yun yuan"},
    {"宿", "su xiu"},     {"句", "gou ju"},        {"隗", "wei kui"},   {"贾", "jia gu"},    {"藏", "zang cang"},
    {"沈", "shen chen"},  {"褚", "chu zhu"},       {"秘", "bi mi"},     {"薄", "bo bao"},    {"万", "wan mo"},
    {"行", "xing hang"},  {"传", "chuan zhuan"},   {"强", "qiang jiang"}, {"都", "du dou"},  {"大", "da dai"},
    {"和", "he huo"},     {"谌", "chen shen"},     {"参", "can shen cen"}, {"角", "jiao jue"}, {"率", "shuai lv"},
};

struct TransliteratorClose {
    void operator()(UTransliterator* t) const { utrans_close(t); }
};
using Transliterator = std::unique_ptr<UTransliterator, TransliteratorClose>;

Transliterator openTransliterator(const char16_t* id)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError error;
    UTransliterator* t = utrans_openU(reinterpret_cast<const UChar*>(id), -1, UTRANS_FORWARD, nullptr, 0, &error, &status);
    if (U_FAILURE(status))
        throw EngineError(QStringLiteral("无法生成拼音（ICU %1）").arg(QString::fromLatin1(u_errorName(status))));
    return Transliterator(t);
}

QString transliterate(UTransliterator* t, const QString& text)
{
    QString buffer = text;
    buffer.resize(std::max<qsizetype>(64, text.size() * 8));
    int32_t length = static_cast<int32_t>(text.size());
    int32_t limit = length;
    UErrorCode status = U_ZERO_ERROR;
    utrans_transUChars(t, reinterpret_cast<UChar*>(buffer.data()), &length, static_cast<int32_t>(buffer.size()), 0,
                       &limit, &status);
    if (U_FAILURE(status))
        return QString();
    buffer.truncate(length);
    return buffer;
}

// The readings of Chinese characters, each worked out once: a million names hold a few
// thousand distinct characters.
class Speller {
public:
    Speller() : m_han(openTransliterator(u"Han-Latin")), m_ascii(openTransliterator(u"Latin-ASCII"))
    {
        for (const auto& [character, readings] : kHeteronyms)
            m_extra.insert(QString::fromUtf8(character).toUcs4().value(0),
                           QString::fromLatin1(readings).split(u' '));
    }

    const QStringList& readings(char32_t c)
    {
        auto found = m_cache.find(c);
        if (found != m_cache.end())
            return *found;
        QStringList list;
        const QString latin = transliterate(m_han.get(), QString::fromUcs4(&c, 1)).trimmed();
        const QString ascii = transliterate(m_ascii.get(), latin).toLower();
        auto add = [&](const QString& reading) {
            if (!reading.isEmpty() && !list.contains(reading))
                list << reading;
        };
        // A character ICU cannot read comes back as it was.
        if (!ascii.isEmpty() && ascii.front().isLetter() && ascii.front().unicode() < 0x80) {
            add(ascii);
            // ü is typed as v on a keyboard: lü is found by "lv" as well as "lu".
            if (latin.contains(u'ü') || latin.contains(QChar(0x01D6)) || latin.contains(QChar(0x01D8))
                || latin.contains(QChar(0x01DA)) || latin.contains(QChar(0x01DC)))
                add(QString(ascii).replace(u'u', u'v'));
        }
        for (const QString& other : m_extra.value(c))
            add(other);
        return *m_cache.insert(c, list);
    }

private:
    Transliterator m_han;
    Transliterator m_ascii;
    QHash<char32_t, QStringList> m_extra;
    QHash<char32_t, QStringList> m_cache;
};

Speller& speller()
{
    static Speller instance;
    return instance;
}

bool isHan(char32_t c)
{
    UErrorCode status = U_ZERO_ERROR;
    return uscript_getScript(static_cast<UChar32>(c), &status) == USCRIPT_HAN;
}

// Every way of continuing each spelling with one of the choices, at most kMaxSpellings.
void extend(QStringList& spellings, const QStringList& choices)
{
    QStringList next;
    for (const QString& spelling : spellings)
        for (const QString& choice : choices)
            if (next.size() < kMaxSpellings)
                next << spelling + choice;
    spellings = next;
}

} // namespace

NameSpellings nameSpellings(const QString& name)
{
    QStringList full{QString()};
    QStringList initials{QString()};
    QString word; // a run of letters or digits that are not Chinese
    bool any = false;
    auto endWord = [&] {
        if (word.isEmpty())
            return;
        extend(full, {word});
        extend(initials, {word.left(1)});
        word.clear();
    };
    for (char32_t c : name.toUcs4()) {
        if (isHan(c)) {
            const QStringList& readings = speller().readings(c);
            if (readings.isEmpty())
                continue;
            endWord();
            QStringList firsts;
            for (const QString& reading : readings)
                if (!firsts.contains(reading.left(1)))
                    firsts << reading.left(1);
            extend(full, readings);
            extend(initials, firsts);
            any = true;
        } else if (u_isalnum(static_cast<UChar32>(c))) {
            word += QString::fromUcs4(&c, 1).toLower();
            any = true;
        } else {
            endWord();
        }
    }
    endWord();
    if (!any)
        return {};
    full.removeDuplicates();
    initials.removeDuplicates();
    return {full, initials};
}

} // namespace ostrel
