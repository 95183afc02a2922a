#include "core/card_vcard.h"

#include <algorithm>
#include <array>
#include <optional>

namespace ostrel {

// The syntax: properties, TYPE values, parts and escapes.
using namespace vcard;

namespace {

// Cap on the labelled rest of a card: what no field holds.
constexpr qsizetype kMaxRest = 2048;

// The properties the mapping knows, by the number it gives their names: one each, then a
// range for the labelled ones (kLabelled) and one for the exact values of the fields.
enum class Name : int {
    Other, Fn, N, Tel, Email, Qq, Msn, Impp, Org, Title, Adr, Url, Note, Gender, XGender, Categories, Spouse,
    Labelled = 32, Exact = 64
};

// Properties with no field of their own that are kept in 补充信息 under a label.
constexpr std::pair<const char*, const char*> kLabelled[] = {
    {"BDAY", "生日"},         {"ANNIVERSARY", "纪念日"}, {"X-ANNIVERSARY", "纪念日"}, {"NICKNAME", "昵称"},
    {"ROLE", "角色"},         {"X-WECHAT", "微信"},      {"RELATED", "相关人"},       {"X-ASSISTANT", "助理"},
    {"X-MANAGER", "上级"},    {"X-AIM", "AIM"},          {"X-ICQ", "ICQ"},           {"X-JABBER", "Jabber"},
    {"X-SKYPE", "Skype"},     {"X-YAHOO", "Yahoo"},      {"X-GOOGLE-TALK", "Google Talk"},
};

static_assert(std::size(kLabelled) <= static_cast<size_t>(Name::Exact) - static_cast<size_t>(Name::Labelled));

// The number of a name; index picks one of the labelled names or a field.
int number(Name name, int index = 0)
{
    return static_cast<int>(name) + index;
}

Name nameOf(int number)
{
    if (number >= static_cast<int>(Name::Exact))
        return Name::Exact;
    if (number >= static_cast<int>(Name::Labelled))
        return Name::Labelled;
    return static_cast<Name>(number);
}

// What index a labelled or exact name's number stands for.
int indexOf(int number, Name name)
{
    return number - static_cast<int>(name);
}

// Property names in upper case, the X-OSTREL-<column> of each field among them.
struct CardPropertyNames : PropertyNames {
    CardPropertyNames()
    {
        const std::pair<const char*, Name> fixed[] = {
            {"FN", Name::Fn},       {"N", Name::N},       {"TEL", Name::Tel},   {"EMAIL", Name::Email}, {"X-QQ", Name::Qq},
            {"X-MSN", Name::Msn},   {"IMPP", Name::Impp}, {"ORG", Name::Org},   {"TITLE", Name::Title}, {"ADR", Name::Adr},
            {"URL", Name::Url},     {"NOTE", Name::Note}, {"GENDER", Name::Gender},  {"X-GENDER", Name::XGender},
            {"CATEGORIES", Name::Categories},             {"X-SPOUSE", Name::Spouse}};
        for (const auto& [text, name] : fixed)
            add(text, number(name));
        for (int i = 0; i < int(std::size(kLabelled)); ++i)
            add(kLabelled[i].first, number(Name::Labelled, i));
        for (int i = 0; i < kCardFieldCount; ++i)
            add("X-OSTREL-" + QByteArray(cardFields()[static_cast<size_t>(i)].column).toUpper(), number(Name::Exact, i));
    }
};

const PropertyNames& names()
{
    static const CardPropertyNames table;
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
        for (const Property& p : properties)
            take(p);
        const Fields& f = fields();
        // An untyped number is the fixed telephone; a home number takes it when it is free.
        for (const QString& number : m_untypedPhones)
            put(f.phone, number, "电话");
        for (const QString& number : m_homePhones)
            put(m_values[f.phone].isEmpty() ? f.phone : f.homePhone, number, "家庭电话");
        if (!m_categorized)
            m_values[f.type] = m_lists.defaultCategory;
        if (m_fullName && !m_fullName->isEmpty())
            m_values[f.name] = *m_fullName;
        else if (m_structuredName)
            m_values[f.name] = personName(*m_structuredName);
        m_values[f.rest] = m_rest.join(QStringLiteral("；"));
        // Written by this program: the values exactly as they were.
        for (const auto& [i, value] : m_exact)
            m_values[static_cast<size_t>(i)] = value;
        return m_values;
    }

private:
    void take(const Property& p)
    {
        const Fields& f = fields();
        switch (nameOf(p.name)) {
        case Name::Fn:
            if (!m_fullName || m_fullName->isEmpty())
                m_fullName = unescaped(p.value);
            break;
        case Name::N:
            if (!m_structuredName)
                m_structuredName = parts(p.value);
            break;
        case Name::Tel:
            telephone(p);
            break;
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
        case Name::Org:
            organization(p);
            break;
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
            note(unescaped(p.value));
            break;
        case Name::Gender:
        case Name::XGender:
            gender(p.value);
            break;
        case Name::Categories:
            categories(p);
            break;
        case Name::Spouse:
            put(f.family, unescaped(p.value), "家属");
            break;
        case Name::Labelled:
            rest(kLabelled[indexOf(p.name, Name::Labelled)].second, unescaped(p.value));
            break;
        case Name::Exact:
            m_exact.emplace_back(indexOf(p.name, Name::Exact), unescaped(p.value));
            break;
        case Name::Other:
            break;
        }
    }
    // The QR code's vCard carries QQ as a one-line note ("QQ：…"), having no place for it:
    // read such a note back into QQ号码.
    void note(const QString& text)
    {
        const QString qqLabel = contactQqNote(QString());
        if (text.startsWith(qqLabel) && text.size() > qqLabel.size() && !text.contains(u'\n'))
            put(fields().qq, text.mid(qqLabel.size()), "QQ号码");
        else
            put(fields().note, text, "备注");
    }
    void telephone(const Property& p)
    {
        const Fields& f = fields();
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
            m_homePhones << number;
        else
            m_untypedPhones << number;
    }
    void organization(const Property& p)
    {
        const Fields& f = fields();
        const QStringList org = parts(p.value);
        if (m_values[f.company].isEmpty() && m_values[f.department].isEmpty()) {
            m_values[f.company] = org.value(0);
            m_values[f.department] = joined(org.sliced(1));
        } else {
            rest("单位", joined(org));
        }
    }
    void categories(const Property& p)
    {
        QStringList values = parts(p.value, u',');
        if (!m_categorized && m_lists.categories.contains(values.first())) {
            m_values[fields().type] = values.takeFirst();
            m_categorized = true;
        }
        rest("分类", values.join(u','));
    }
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
    std::optional<QString> m_fullName;
    std::optional<QStringList> m_structuredName;
    bool m_categorized = false;
    QStringList m_untypedPhones, m_homePhones;
    std::vector<std::pair<int, QString>> m_exact;
    bool m_workAddressTaken = false;
    bool m_homeAddressTaken = false;
    CardValues m_values;
    QStringList m_rest;
    qsizetype m_restSize = 0;
};

Property property(Name name, const QString& value, unsigned types = 0)
{
    return {number(name), types, {}, value};
}

} // namespace

VCardReader::VCardReader(QByteArrayView bytes, const VCardLists& lists) : m_cards(bytes, names()), m_lists(lists) {}

VCardReader::~VCardReader() = default;

VCardFile::Status VCardReader::status() const
{
    switch (m_cards.status()) {
    case FileStatus::Cards:
        return VCardFile::Cards;
    case FileStatus::Empty:
        return VCardFile::Empty;
    case FileStatus::NotVCard:
        break;
    }
    return VCardFile::NotVCard;
}

bool VCardReader::next(CardValues& card)
{
    if (!m_cards.next(m_properties))
        return false;
    card = CardMapper(m_lists).map(m_properties);
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

namespace {

// The properties of the card that a phone's address book has a place for, in the order the
// export writes them; with whole, also those only this program reads back (category, sex,
// QQ, MSN, description).
void contactProperties(const CardValues& card, bool whole, std::vector<Property>& props)
{
    const Fields& f = fields();
    auto value = [&](int index) -> const QString& { return card[static_cast<size_t>(index)]; };
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
    const QString& sex = value(f.sex);
    if (whole) {
        add(Name::Categories, f.type);
        if (sex == QStringLiteral("男") || sex == QStringLiteral("女"))
            props.push_back(property(Name::XGender, sex == QStringLiteral("男") ? QStringLiteral("M") : QStringLiteral("F")));
    }
    add(Name::Tel, f.phone, Voice);
    add(Name::Tel, f.mobile, Cell);
    add(Name::Email, f.mail, Internet);
    if (whole) {
        add(Name::Qq, f.qq);
        add(Name::Msn, f.msn);
        add(Name::Note, f.note);
    }
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
}

void appendCard(const std::vector<Property>& props, QByteArray& out)
{
    beginCard(out);
    for (const Property& p : props)
        appendProperty(names().text(p.name), p.types, p.value, out);
    endCard(out);
}

} // namespace

void writeVCard(const CardValues& card, QByteArray& out)
{
    const Fields& f = fields();
    auto value = [&](int index) -> const QString& { return card[static_cast<size_t>(index)]; };
    thread_local std::vector<Property> props;
    props.clear();
    contactProperties(card, true, props);

    // What these properties read back as: each field that differs is written exactly. So
    // are those that depend on the lists of the database reading the file: 分类, and 省份
    // with 补充信息 (where an unlisted region goes).
    const CardValues readBack = CardMapper(VCardLists{{value(f.type)}, {}, {}}).map(props);
    const bool hasProvince = !value(f.province).isEmpty();
    for (int i = 0; i < kCardFieldCount; ++i)
        if (i == f.type || (hasProvince && (i == f.province || i == f.rest)) || readBack[static_cast<size_t>(i)] != value(i))
            props.push_back({number(Name::Exact, i), 0, {}, escaped(value(i))});
    appendCard(props, out);
}

void writeContactVCard(const CardValues& card, QByteArray& out)
{
    // A phone's reader ends a line at a bare CR too: every line break becomes the one a
    // vCard value can hold.
    CardValues lines = card;
    for (QString& value : lines)
        value.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    std::vector<Property> props;
    contactProperties(lines, false, props);
    const QString& qq = lines[static_cast<size_t>(fields().qq)];
    if (!qq.isEmpty())
        props.push_back(property(Name::Note, escaped(contactQqNote(qq))));
    appendCard(props, out);
}

QString contactQqNote(const QString& qq)
{
    return QStringLiteral("QQ：") + qq;
}

} // namespace ostrel
