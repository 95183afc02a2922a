#include "formats/vcard.h"

#include "formats/charset.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace ostrel {

namespace {

// Caps on what hostile or broken files may make us hold: an unfolded line (photos run to
// hundreds of kilobytes and are skipped), a value's characters (far above any field's
// limit), a card's properties, the labelled rest of a card, and the cards of one file.
constexpr qsizetype kMaxLine = 1 << 20;
constexpr qsizetype kMaxValue = 4096;
constexpr size_t kMaxProperties = 500;
constexpr qsizetype kMaxRest = 2048;
constexpr size_t kMaxCards = 1'000'000;

// The properties the mapping knows, found by name through one table.
enum class Name : uint8_t {
    Other, Begin, End, Binary, Fn, N, Tel, Email, Qq, Msn, Impp, Org, Title, Adr, Url, Note, Gender, XGender,
    Categories, Spouse, Labelled, Exact
};

// TYPE values the mapping asks about, in the order the writer lists them.
enum Type : unsigned { Work = 1, Home = 2, Voice = 4, Cell = 8, Fax = 16, Internet = 32, Pager = 64 };
constexpr std::pair<Type, const char*> kTypes[] = {{Work, "WORK"}, {Home, "HOME"},         {Voice, "VOICE"}, {Cell, "CELL"},
                                                   {Fax, "FAX"},   {Internet, "INTERNET"}, {Pager, "PAGER"}};

// Properties with no field of their own that are kept in 补充信息 under a label.
constexpr std::pair<const char*, const char*> kLabelled[] = {
    {"BDAY", "生日"},         {"ANNIVERSARY", "纪念日"}, {"X-ANNIVERSARY", "纪念日"}, {"NICKNAME", "昵称"},
    {"ROLE", "角色"},         {"X-WECHAT", "微信"},      {"RELATED", "相关人"},       {"X-ASSISTANT", "助理"},
    {"X-MANAGER", "上级"},    {"X-AIM", "AIM"},          {"X-ICQ", "ICQ"},           {"X-JABBER", "Jabber"},
    {"X-SKYPE", "Skype"},     {"X-YAHOO", "Yahoo"},      {"X-GOOGLE-TALK", "Google Talk"},
};

// One content line: "group.NAME;PARAM=…:value".
struct Property {
    Name name = Name::Other;
    int index = 0;           // Labelled: into kLabelled; Exact: the field
    unsigned types = 0;      // TYPE values in both spellings ("TEL;CELL", "TYPE=cell")
    QByteArray service;      // X-SERVICE-TYPE, lower case
    QString value;           // decoded text, vCard escapes still in it

    bool is(Type type) const { return (types & type) != 0; }
};

char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the text is the upper-case name in any case.
bool sameLetters(QByteArrayView a, const char* b)
{
    const qsizetype n = qsizetype(qstrlen(b));
    if (a.size() != n)
        return false;
    for (qsizetype i = 0; i < n; ++i)
        if (asciiUpper(a[i]) != b[i])
            return false;
    return true;
}

unsigned typeBit(QByteArrayView text)
{
    for (const auto& [bit, name] : kTypes)
        if (sameLetters(text, name))
            return bit;
    return 0;
}

// Property names in upper case, the X-OSTREL-<column> of each field among them.
class NameTable {
public:
    NameTable()
    {
        const std::pair<const char*, Name> names[] = {
            {"BEGIN", Name::Begin}, {"END", Name::End},        {"PHOTO", Name::Binary},     {"LOGO", Name::Binary},
            {"SOUND", Name::Binary}, {"KEY", Name::Binary},    {"FN", Name::Fn},            {"N", Name::N},
            {"TEL", Name::Tel},     {"EMAIL", Name::Email},    {"X-QQ", Name::Qq},          {"X-MSN", Name::Msn},
            {"IMPP", Name::Impp},   {"ORG", Name::Org},        {"TITLE", Name::Title},      {"ADR", Name::Adr},
            {"URL", Name::Url},     {"NOTE", Name::Note},      {"GENDER", Name::Gender},    {"X-GENDER", Name::XGender},
            {"CATEGORIES", Name::Categories},                  {"X-SPOUSE", Name::Spouse}};
        for (const auto& [text, name] : names) {
            m_entries.emplace(text, Entry{name, 0});
            m_texts[static_cast<size_t>(name)] = text;
        }
        for (int i = 0; i < int(std::size(kLabelled)); ++i)
            m_entries.emplace(kLabelled[i].first, Entry{Name::Labelled, i});
        for (int i = 0; i < kCardFieldCount; ++i) {
            m_exact[static_cast<size_t>(i)] = "X-OSTREL-" + QByteArray(cardFields()[static_cast<size_t>(i)].column).toUpper();
            m_entries.emplace(std::string_view(m_exact[static_cast<size_t>(i)].constData()), Entry{Name::Exact, i});
        }
    }
    struct Entry {
        Name name;
        int index;
    };
    // The entry of a name in any case; Other for a name the mapping does not know.
    Entry find(QByteArrayView name) const
    {
        char upper[32];
        if (name.size() > qsizetype(sizeof upper))
            return {Name::Other, 0};
        for (qsizetype i = 0; i < name.size(); ++i)
            upper[i] = asciiUpper(name[i]);
        const auto it = m_entries.find(std::string_view(upper, static_cast<size_t>(name.size())));
        return it == m_entries.end() ? Entry{Name::Other, 0} : it->second;
    }
    // The name the writer gives a property.
    QByteArrayView text(const Property& p) const
    {
        return p.name == Name::Exact ? QByteArrayView(m_exact[static_cast<size_t>(p.index)])
                                     : QByteArrayView(m_texts[static_cast<size_t>(p.name)]);
    }

private:
    std::unordered_map<std::string_view, Entry> m_entries;
    std::array<QByteArray, kCardFieldCount> m_exact;
    std::array<const char*, static_cast<size_t>(Name::Exact) + 1> m_texts{};
};

const NameTable& names()
{
    static const NameTable table;
    return table;
}

// The fields by D_B column, found in the card field table.
int field(const char* column)
{
    const auto fields = cardFields();
    for (int i = 0; i < kCardFieldCount; ++i)
        if (qstrcmp(fields[static_cast<size_t>(i)].column, column) == 0)
            return i;
    qFatal("no card field %s", column);
}

struct Fields {
    int type = field("theType"), name = field("BName"), sex = field("BSex"), phone = field("BPho"), mobile = field("BMob"),
        mail = field("BMail"), qq = field("BQQ"), msn = field("BMSN"), note = field("BDes"), province = field("DArea"),
        city = field("DCity"), company = field("DName"), department = field("DPart"), job = field("DJob"),
        workAddress = field("DAdd"), workPhone = field("DPho"), fax = field("DFax"), postCode = field("DPos"),
        site = field("DWWW"), homeAddress = field("FAdd"), homePhone = field("FPho"), family = field("FPro"),
        rest = field("FDes");
};
const Fields& fields()
{
    static const Fields f;
    return f;
}

QString unescaped(QStringView v)
{
    if (!v.contains(u'\\'))
        return v.toString();
    QString out;
    out.reserve(v.size());
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == u'\\' && i + 1 < v.size()) {
            const QChar c = v[++i];
            out += c == u'n' || c == u'N' ? QChar(u'\n') : c;
        } else {
            out += v[i];
        }
    }
    return out;
}

// A value without escapes is shared, not copied.
QString unescaped(const QString& v)
{
    return v.contains(u'\\') ? unescaped(QStringView(v)) : v;
}

// A structured value's parts (N, ADR, ORG: separator ';') or a list's values (','), each
// unescaped.
QStringList parts(QStringView v, QChar separator = u';')
{
    QStringList out;
    qsizetype start = 0;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == u'\\')
            ++i;
        else if (v[i] == separator) {
            out << unescaped(v.sliced(start, i - start));
            start = i + 1;
        }
    }
    out << unescaped(v.sliced(start));
    return out;
}

QString escaped(const QString& v)
{
    QString out;
    out.reserve(v.size() + 8);
    for (const QChar c : v) {
        if (c == u'\\' || c == u',' || c == u';')
            out += u'\\';
        if (c == u'\n')
            out += QStringLiteral("\\n");
        else
            out += c;
    }
    return out;
}

bool isWide(QChar c)
{
    return c.unicode() >= 0x2E80;
}

// Parts of a name or an address in order: no blank between two Chinese parts, one between
// others.
QString joined(const QStringList& pieces)
{
    QString out;
    for (const QString& piece : pieces) {
        if (piece.isEmpty())
            continue;
        if (!out.isEmpty() && !(isWide(out.back()) && isWide(piece.front())))
            out += u' ';
        out += piece;
    }
    return out;
}

// N: family name, given name, additional names. Chinese names read family name first;
// others given name first.
QString personName(const QStringList& n)
{
    const QString family = n.value(0), given = n.value(1), middle = n.value(2);
    const bool chinese = std::any_of(family.begin(), family.end(), isWide) || std::any_of(given.begin(), given.end(), isWide);
    return chinese ? joined({family, middle, given}) : joined({given, middle, family});
}

// The province list's entry for an address region: "广东省" finds "广东".
QString province(const QString& region, const QStringList& provinces)
{
    static const QStringList suffixes = {QStringLiteral("壮族自治区"), QStringLiteral("回族自治区"), QStringLiteral("维吾尔自治区"),
                                         QStringLiteral("特别行政区"), QStringLiteral("自治区"), QStringLiteral("省"),
                                         QStringLiteral("市")};
    auto bare = [&](QString text) {
        text = text.trimmed();
        for (const QString& s : suffixes)
            if (text.size() > s.size() && text.endsWith(s))
                return text.chopped(s.size());
        return text;
    };
    const QString wanted = bare(region);
    for (const QString& p : provinces)
        if (p == region || (!wanted.isEmpty() && bare(p) == wanted))
            return p;
    return {};
}

bool isChina(const QString& country)
{
    const QString c = country.trimmed().toLower();
    return c.isEmpty() || c == QStringLiteral("中国") || c == QStringLiteral("china") || c == QStringLiteral("cn")
        || c == QStringLiteral("prc") || c == QStringLiteral("中华人民共和国");
}

// A TEL value as a number: 4.0 may write it as a "tel:" address.
QString phoneNumber(const QString& value)
{
    const QString v = unescaped(value);
    return v.startsWith(QStringLiteral("tel:"), Qt::CaseInsensitive) ? v.sliced(4) : v;
}

// Maps a card's properties to the 24 fields; what has no field goes, labelled, into 补充信息.
class CardMapper {
public:
    CardMapper(const VCardLists& lists) : m_lists(lists) {}

    CardValues map(const std::vector<Property>& properties)
    {
        const Fields& f = fields();
        std::optional<QString> fullName;
        std::optional<QStringList> structuredName;
        bool categorized = false;
        QStringList untypedPhones, homePhones;
        std::vector<std::pair<int, QString>> exact;
        for (const Property& p : properties) {
            switch (p.name) {
            case Name::Fn:
                if (!fullName || fullName->isEmpty())
                    fullName = unescaped(p.value);
                break;
            case Name::N:
                if (!structuredName)
                    structuredName = parts(p.value);
                break;
            case Name::Tel: {
                const QString number = phoneNumber(p.value);
                if (p.is(Fax))
                    put(f.fax, number, "传真");
                else if (p.is(Cell))
                    put(f.mobile, number, "移动电话");
                else if (p.is(Pager))
                    rest("寻呼机", number);
                else if (p.is(Work))
                    put(f.workPhone, number, "单位电话");
                else if (p.is(Home))
                    homePhones << number;
                else
                    untypedPhones << number;
                break;
            }
            case Name::Email:
                put(f.mail, unescaped(p.value), "电子邮箱");
                break;
            case Name::Qq:
                put(f.qq, unescaped(p.value), "QQ号码");
                break;
            case Name::Msn:
                put(f.msn, unescaped(p.value), "MSN号码");
                break;
            case Name::Impp:
                instantMessaging(p);
                break;
            case Name::Org: {
                const QStringList org = parts(p.value);
                if (m_values[f.company].isEmpty() && m_values[f.department].isEmpty()) {
                    m_values[f.company] = org.value(0);
                    m_values[f.department] = joined(org.sliced(1));
                } else {
                    rest("单位", joined(org));
                }
                break;
            }
            case Name::Title:
                put(f.job, unescaped(p.value), "职务");
                break;
            case Name::Adr:
                address(p);
                break;
            case Name::Url:
                put(f.site, unescaped(p.value), "网址");
                break;
            case Name::Note:
                put(f.note, unescaped(p.value), "备注");
                break;
            case Name::Gender:
            case Name::XGender:
                gender(p.value);
                break;
            case Name::Categories: {
                QStringList values = parts(p.value, u',');
                if (!categorized && m_lists.categories.contains(values.first())) {
                    m_values[f.type] = values.takeFirst();
                    categorized = true;
                }
                rest("分类", values.join(u','));
                break;
            }
            case Name::Spouse:
                put(f.family, unescaped(p.value), "家属");
                break;
            case Name::Labelled:
                rest(kLabelled[p.index].second, unescaped(p.value));
                break;
            case Name::Exact:
                exact.emplace_back(p.index, unescaped(p.value));
                break;
            case Name::Other:
            case Name::Begin:
            case Name::End:
            case Name::Binary:
                break;
            }
        }
        // An untyped number is the fixed telephone; a home number takes it when it is free.
        for (const QString& number : untypedPhones)
            put(f.phone, number, "电话");
        for (const QString& number : homePhones)
            put(m_values[f.phone].isEmpty() ? f.phone : f.homePhone, number, "家庭电话");
        if (!categorized)
            m_values[f.type] = m_lists.defaultCategory;
        if (fullName && !fullName->isEmpty())
            m_values[f.name] = *fullName;
        else if (structuredName)
            m_values[f.name] = personName(*structuredName);
        m_values[f.rest] = m_rest.join(QStringLiteral("；"));
        // Written by this program: the values exactly as they were.
        for (const auto& [i, value] : exact)
            m_values[static_cast<size_t>(i)] = value;
        return m_values;
    }

private:
    // The first value fills the field; later ones are kept in 补充信息.
    void put(int index, const QString& value, const char* label)
    {
        QString& slot = m_values[static_cast<size_t>(index)];
        if (slot.isEmpty())
            slot = value;
        else
            rest(label, value);
    }
    // ADR: the first work and the first home address fill their fields; others are kept.
    void address(const Property& p)
    {
        const Fields& f = fields();
        const QStringList a = parts(p.value);
        // Post office box, extended address, street, locality, region, postal code, country.
        const QString street = joined({a.value(2), a.value(1), a.value(0)});
        const QString whole = joined({a.value(4), a.value(3), street, a.value(5)});
        if (p.is(Work) && !m_workAddressTaken) {
            m_workAddressTaken = true;
            m_values[f.workAddress] = street;
            m_values[f.city] = a.value(3);
            const QString listed = province(a.value(4), m_lists.provinces);
            m_values[f.province] = listed;
            if (listed.isEmpty())
                rest("省份", a.value(4));
            m_values[f.postCode] = a.value(5);
        } else if (p.is(Home) && !m_homeAddressTaken) {
            m_homeAddressTaken = true;
            m_values[f.homeAddress] = joined({a.value(4), a.value(3), street});
            rest("家庭邮编", a.value(5));
        } else {
            rest(p.is(Work) ? "单位地址" : p.is(Home) ? "家庭地址" : "地址", whole);
            return;
        }
        if (!isChina(a.value(6)))
            rest("国家", a.value(6));
    }
    void rest(const char* label, const QString& value)
    {
        if (value.isEmpty() || m_restSize > kMaxRest)
            return;
        m_rest << QString::fromUtf8(label) + u'：' + value;
        m_restSize += m_rest.back().size();
    }
    // IMPP: a QQ or MSN account by its service, others kept labelled.
    void instantMessaging(const Property& p)
    {
        const QString v = unescaped(p.value);
        const qsizetype colon = v.indexOf(u':');
        const QString scheme = colon > 0 ? v.left(colon).toLower() : QString();
        const QString handle = colon > 0 ? v.sliced(colon + 1) : v;
        QString service = QString::fromLatin1(p.service);
        if (service.isEmpty() && scheme != QStringLiteral("x-apple") && scheme != QStringLiteral("im"))
            service = scheme;
        if (service.isEmpty() || service == QStringLiteral("qq"))
            put(fields().qq, handle, "QQ号码");
        else if (service == QStringLiteral("msn") || service == QStringLiteral("msnim"))
            put(fields().msn, handle, "MSN号码");
        else if (service == QStringLiteral("wechat") || service == QStringLiteral("weixin"))
            rest("微信", handle);
        else
            rest("即时通讯", service + u' ' + handle);
    }
    void gender(const QString& value)
    {
        const QString g = parts(value).value(0).trimmed();
        const QString upper = g.toUpper();
        QString sex;
        if (upper == QStringLiteral("M") || upper == QStringLiteral("MALE") || g == QStringLiteral("男"))
            sex = QStringLiteral("男");
        else if (upper == QStringLiteral("F") || upper == QStringLiteral("FEMALE") || g == QStringLiteral("女"))
            sex = QStringLiteral("女");
        else if (upper != QStringLiteral("U") && upper != QStringLiteral("N"))
            return rest("性别", unescaped(value));
        put(fields().sex, sex, "性别");
    }

    const VCardLists& m_lists;
    bool m_workAddressTaken = false;
    bool m_homeAddressTaken = false;
    CardValues m_values;
    QStringList m_rest;
    qsizetype m_restSize = 0;
};

// ---- reading ----

// The value without blanks around it and without the double quotes around that.
QByteArrayView withoutQuotes(QByteArrayView v)
{
    v = v.trimmed();
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.sliced(1, v.size() - 2);
    return v;
}

QByteArray quotedPrintable(QByteArrayView v)
{
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    QByteArray out;
    out.reserve(v.size());
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == '=' && i + 2 < v.size() && hex(v[i + 1]) >= 0 && hex(v[i + 2]) >= 0) {
            out += static_cast<char>(hex(v[i + 1]) * 16 + hex(v[i + 2]));
            i += 2;
        } else {
            out += v[i];
        }
    }
    return out;
}

// UTF-8 as it stands: a U+FEFF inside a value is a character of it, not a byte-order mark.
QString fromUtf8(QByteArrayView bytes)
{
    thread_local QStringDecoder decoder(QStringConverter::Utf8,
                                        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

QString decoded(QByteArrayView bytes, QByteArrayView charsetParameter)
{
    const std::string_view text(bytes.data(), static_cast<size_t>(bytes.size()));
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes.data(), bytes.size());
    const QByteArray charset = charsetParameter.toByteArray().toUpper();
    std::optional<std::string> utf8;
    const bool unicode = charset.isEmpty() || charset == "UTF-8" || charset == "UTF8";
    if (!unicode && charset.size() < 40) {
        // GB2312 and GBK files are read as GB18030, which holds them both.
        const bool gb = charset == "GB2312" || charset == "GBK" || charset == "CP936";
        utf8 = toUtf8(text, gb ? "GB18030" : charset.constData(), true);
    }
    if (!utf8 && isValidUtf8(text))
        return fromUtf8(bytes);
    // Without a (known) charset, text that is not UTF-8 is taken as what Chinese programs write.
    if (!utf8)
        utf8 = toUtf8(text, "GB18030", true);
    return fromUtf8(utf8 ? QByteArrayView(utf8->data(), static_cast<qsizetype>(utf8->size())) : bytes);
}

// Calls f with each part of the text between separators outside double quotes.
template <typename F>
void forEachOutsideQuotes(QByteArrayView v, char separator, F&& f)
{
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == '"')
            quoted = !quoted;
        else if (v[i] == separator && !quoted) {
            f(v.sliced(start, i - start));
            start = i + 1;
        }
    }
    f(v.sliced(start));
}

enum class LineKind { Other, Begin, End, Property };

// One unfolded line as a property; photos and other binary values are left out. A property
// the mapping does not know is named Other and its value is not decoded; so is every
// property when only the BEGIN and END lines matter.
LineKind parseLine(QByteArrayView line, Property& p, bool boundsOnly)
{
    bool quoted = false;
    qsizetype colon = -1;
    for (qsizetype i = 0; i < line.size() && colon < 0; ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ':' && !quoted)
            colon = i;
    }
    if (colon < 0)
        return LineKind::Other;
    bool first = true;
    p.types = 0;
    p.service.clear();
    enum class Encoding { Plain, QuotedPrintable, Base64 } encoding = Encoding::Plain;
    QByteArrayView charset;
    forEachOutsideQuotes(line.first(colon), ';', [&](QByteArrayView param) {
        if (first) {
            first = false;
            const QByteArrayView name = param.sliced(param.lastIndexOf('.') + 1).trimmed();
            if (boundsOnly) {
                p.name = sameLetters(name, "BEGIN") ? Name::Begin : sameLetters(name, "END") ? Name::End : Name::Other;
                return;
            }
            const NameTable::Entry entry = names().find(name);
            p.name = entry.name;
            p.index = entry.index;
            return;
        }
        if (boundsOnly || p.name == Name::Other || p.name == Name::Begin || p.name == Name::End || p.name == Name::Binary)
            return;
        const qsizetype eq = param.indexOf('=');
        if (eq < 0) {
            // vCard 2.1 writes bare values: "TEL;CELL;VOICE", "NOTE;QUOTED-PRINTABLE".
            const QByteArrayView bare = param.trimmed();
            if (sameLetters(bare, "QUOTED-PRINTABLE"))
                encoding = Encoding::QuotedPrintable;
            else if (sameLetters(bare, "BASE64"))
                encoding = Encoding::Base64;
            else if (sameLetters(bare, "8BIT") || sameLetters(bare, "7BIT"))
                encoding = Encoding::Plain;
            else
                p.types |= typeBit(bare);
            return;
        }
        const QByteArrayView key = param.first(eq).trimmed();
        const QByteArrayView value = param.sliced(eq + 1);
        if (sameLetters(key, "TYPE")) {
            // TYPE=a,b and TYPE="a,b"
            forEachOutsideQuotes(withoutQuotes(value), ',', [&](QByteArrayView type) { p.types |= typeBit(withoutQuotes(type)); });
        } else if (sameLetters(key, "ENCODING")) {
            const QByteArrayView e = withoutQuotes(value).trimmed();
            encoding = sameLetters(e, "QUOTED-PRINTABLE") || sameLetters(e, "Q") ? Encoding::QuotedPrintable
                : sameLetters(e, "BASE64") || sameLetters(e, "B")                 ? Encoding::Base64
                                                                                  : Encoding::Plain;
        } else if (sameLetters(key, "CHARSET")) {
            charset = withoutQuotes(value).trimmed();
        } else if (sameLetters(key, "X-SERVICE-TYPE")) {
            p.service = withoutQuotes(value).toByteArray().toLower();
        }
    });
    const QByteArrayView raw = line.sliced(colon + 1);
    if (p.name == Name::Begin || p.name == Name::End) {
        if (!sameLetters(raw.trimmed(), "VCARD"))
            return LineKind::Other;
        return p.name == Name::Begin ? LineKind::Begin : LineKind::End;
    }
    if (p.name == Name::Binary)
        return LineKind::Other;
    p.value.clear();
    if (boundsOnly || p.name == Name::Other)
        return LineKind::Property;
    QByteArray bytes;
    if (encoding == Encoding::QuotedPrintable)
        bytes = quotedPrintable(raw);
    else if (encoding == Encoding::Base64)
        bytes = QByteArray::fromBase64(raw.toByteArray());
    p.value = decoded(encoding == Encoding::Plain ? raw : QByteArrayView(bytes), charset);
    if (p.value.size() > kMaxValue)
        p.value.truncate(kMaxValue);
    return LineKind::Property;
}

// The file's lines with folding undone: a line that starts with a blank or a tab continues
// the one before, and a quoted-printable line that ends in "=" goes on in the next.
class LineReader {
public:
    explicit LineReader(QByteArrayView data) : m_data(data) {}

    // The next line: a view of the file itself unless it was folded, valid until the next call.
    bool next(QByteArrayView& logical)
    {
        QByteArrayView line;
        if (!physical(line))
            return false;
        logical = line.first(std::min(line.size(), kMaxLine));
        bool joined = false;
        while (true) {
            const qsizetype start = m_pos;
            if (!physical(line))
                break;
            const bool softBreak = logical.endsWith('=') && isQuotedPrintable(logical);
            if (!softBreak && (line.isEmpty() || (line.front() != ' ' && line.front() != '\t'))) {
                m_pos = start;
                break;
            }
            if (!joined) {
                m_joined.resize(0);
                m_joined.append(logical);
                joined = true;
            }
            if (softBreak)
                m_joined.chop(1);
            else
                line = line.sliced(1);
            if (m_joined.size() < kMaxLine)
                m_joined.append(line.first(std::min(line.size(), kMaxLine - m_joined.size())));
            logical = m_joined;
        }
        return true;
    }

private:
    bool physical(QByteArrayView& line)
    {
        if (m_pos >= m_data.size())
            return false;
        qsizetype end = m_data.indexOf('\n', m_pos);
        if (end < 0)
            end = m_data.size();
        line = m_data.sliced(m_pos, end - m_pos);
        m_pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        return true;
    }
    static bool isQuotedPrintable(QByteArrayView line)
    {
        const qsizetype colon = line.indexOf(':');
        return colon > 0 && line.first(colon).toByteArray().toUpper().contains("QUOTED-PRINTABLE");
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    QByteArray m_joined; // a folded line put together
};

// ---- writing ----

// Lines of at most 75 bytes, continued after a blank, never inside a character.
void appendFolded(const QByteArray& line, QByteArray& out)
{
    qsizetype start = 0;
    qsizetype room = 75;
    while (line.size() - start > room) {
        qsizetype end = start + room;
        while (end > start + 1 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
            --end;
        out.append(QByteArrayView(line).sliced(start, end - start));
        out += "\r\n ";
        start = end;
        room = 74;
    }
    out.append(QByteArrayView(line).sliced(start));
    out += "\r\n";
}

Property property(Name name, const QString& value, unsigned types = 0)
{
    return {name, 0, types, {}, value};
}

} // namespace

// The cards' lines as read, and what of them makes the card now read.
struct VCardReader::Lines {
    explicit Lines(QByteArrayView bytes) : reader(bytes) {}
    LineReader reader;
    Property property;
    std::vector<Property> properties;
    size_t unmapped = 0; // properties the mapping does not know: they count towards the cap
};

VCardReader::VCardReader(QByteArrayView bytes, const VCardLists& lists) : m_lists(lists)
{
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        // UTF-16, as some Windows programs save it.
        if (std::optional<std::string> utf8 = toUtf8({bytes.data(), static_cast<size_t>(bytes.size())}, "UTF-16", true))
            m_converted = QByteArray::fromStdString(*utf8);
        bytes = m_converted;
    }
    if (bytes.trimmed().isEmpty())
        return;
    m_status = VCardFile::NotVCard;
    // A first pass over the BEGIN and END lines alone counts the cards.
    LineReader reader(bytes);
    QByteArrayView line;
    Property p;
    int depth = 0; // a vCard 2.1 AGENT holds a card of its own, which is not one of the file's
    while (reader.next(line)) {
        const LineKind kind = parseLine(line, p, true);
        if (kind == LineKind::Begin) {
            if (depth == 0 && m_count == kMaxCards) {
                m_truncated = true;
                break;
            }
            m_status = VCardFile::Cards;
            ++depth;
        } else if (kind == LineKind::End && depth > 0 && --depth == 0) {
            ++m_count;
        }
    }
    // A file cut off inside its last card still gives what it holds.
    if (depth > 0)
        ++m_count;
    m_lines = std::make_unique<Lines>(bytes);
}

VCardReader::~VCardReader() = default;

bool VCardReader::next(CardValues& card)
{
    if (m_read == m_count)
        return false;
    Lines& l = *m_lines;
    QByteArrayView line;
    int depth = 0;
    while (l.reader.next(line)) {
        const LineKind kind = parseLine(line, l.property, false);
        if (kind == LineKind::Begin) {
            ++depth;
        } else if (kind == LineKind::End && depth > 0) {
            if (--depth == 0)
                break;
        } else if (kind == LineKind::Property && depth == 1 && l.properties.size() + l.unmapped < kMaxProperties) {
            if (l.property.name == Name::Other)
                ++l.unmapped;
            else
                l.properties.push_back(std::move(l.property));
        }
    }
    card = CardMapper(m_lists).map(l.properties);
    l.properties.clear();
    l.unmapped = 0;
    ++m_read;
    return true;
}

VCardFile readVCards(QByteArrayView bytes, const VCardLists& lists)
{
    VCardReader reader(bytes, lists);
    VCardFile file;
    file.status = reader.status();
    file.truncated = reader.truncated();
    file.cards.resize(reader.count());
    for (CardValues& card : file.cards)
        reader.next(card);
    return file;
}

void writeVCard(const CardValues& card, QByteArray& out)
{
    const Fields& f = fields();
    auto value = [&](int index) -> const QString& { return card[static_cast<size_t>(index)]; };
    thread_local std::vector<Property> props;
    props.clear();
    auto add = [&](Name name, int index, unsigned types = 0) {
        if (!value(index).isEmpty())
            props.push_back(property(name, escaped(value(index)), types));
    };
    const QString& name = value(f.name);
    props.push_back(property(Name::Fn, escaped(name)));
    // N: Chinese names stay whole as the family name; "John Smith" is Smith; John.
    const qsizetype blank = name.lastIndexOf(u' ');
    const bool western = blank > 0 && !std::any_of(name.begin(), name.end(), isWide);
    props.push_back(property(Name::N, western ? escaped(name.sliced(blank + 1)) + u';' + escaped(name.left(blank)) + QStringLiteral(";;;")
                                              : escaped(name) + QStringLiteral(";;;;")));
    add(Name::Categories, f.type);
    const QString& sex = value(f.sex);
    if (sex == QStringLiteral("男") || sex == QStringLiteral("女"))
        props.push_back(property(Name::XGender, sex == QStringLiteral("男") ? QStringLiteral("M") : QStringLiteral("F")));
    add(Name::Tel, f.phone, Voice);
    add(Name::Tel, f.mobile, Cell);
    add(Name::Email, f.mail, Internet);
    add(Name::Qq, f.qq);
    add(Name::Msn, f.msn);
    add(Name::Note, f.note);
    if (!value(f.company).isEmpty() || !value(f.department).isEmpty())
        props.push_back(property(Name::Org, escaped(value(f.company)) + u';' + escaped(value(f.department))));
    add(Name::Title, f.job);
    if (!value(f.workAddress).isEmpty() || !value(f.city).isEmpty() || !value(f.province).isEmpty() || !value(f.postCode).isEmpty())
        props.push_back(property(Name::Adr,
                                 QStringLiteral(";;%1;%2;%3;%4;")
                                     .arg(escaped(value(f.workAddress)), escaped(value(f.city)), escaped(value(f.province)),
                                          escaped(value(f.postCode))),
                                 Work));
    add(Name::Tel, f.workPhone, Work | Voice);
    add(Name::Tel, f.fax, Work | Fax);
    add(Name::Url, f.site);
    if (!value(f.homeAddress).isEmpty())
        props.push_back(property(Name::Adr, QStringLiteral(";;%1;;;;").arg(escaped(value(f.homeAddress))), Home));
    add(Name::Tel, f.homePhone, Home | Voice);

    // What these properties read back as: each field that differs is written exactly. So
    // are those that depend on the lists of the database reading the file: 分类, and 省份
    // with 补充信息 (where an unlisted region goes).
    const CardValues readBack = CardMapper(VCardLists{{value(f.type)}, {}, {}}).map(props);
    const bool hasProvince = !value(f.province).isEmpty();
    for (int i = 0; i < kCardFieldCount; ++i)
        if (i == f.type || (hasProvince && (i == f.province || i == f.rest)) || readBack[static_cast<size_t>(i)] != value(i))
            props.push_back({Name::Exact, i, 0, {}, escaped(value(i))});
    out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    // One line at a time in one buffer, then folded into the text.
    thread_local QByteArray line;
    thread_local QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    for (const Property& p : props) {
        line.resize(0);
        line.append(names().text(p));
        const char* separator = ";TYPE=";
        for (const auto& [bit, text] : kTypes)
            if (p.types & bit) {
                line += separator;
                line += text;
                separator = ",";
            }
        line += ':';
        const qsizetype start = line.size();
        line.resize(start + utf8.requiredSpace(p.value.size()));
        line.resize(utf8.appendToBuffer(line.data() + start, p.value) - line.constData());
        appendFolded(line, out);
    }
    out += "END:VCARD\r\n";
}

} // namespace ostrel
