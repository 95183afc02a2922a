#include "vcard.h"

#include "charset.h"

#include <QStringDecoder>

#include <optional>

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

// One content line: "group.NAME;PARAM=…:value".
struct Property {
    QByteArray name;         // upper case, without its group
    QList<QByteArray> types; // lower case TYPE values, in both spellings ("TEL;CELL", "TYPE=cell")
    QByteArray service;      // X-SERVICE-TYPE, lower case
    QString value;           // decoded text, vCard escapes still in it

    bool is(const char* type) const { return types.contains(QByteArray(type)); }
};

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
        bool workAddressTaken = false;
        bool homeAddressTaken = false;
        QStringList untypedPhones, homePhones;
        std::vector<std::pair<int, QString>> exact;
        for (const Property& p : properties) {
            const QByteArray& n = p.name;
            if (n == "FN") {
                if (!fullName || fullName->isEmpty())
                    fullName = unescaped(p.value);
            } else if (n == "N") {
                if (!structuredName)
                    structuredName = parts(p.value);
            } else if (n == "TEL") {
                const QString number = phoneNumber(p.value);
                if (p.is("fax"))
                    put(f.fax, number, "传真");
                else if (p.is("cell"))
                    put(f.mobile, number, "移动电话");
                else if (p.is("pager"))
                    rest("寻呼机", number);
                else if (p.is("work"))
                    put(f.workPhone, number, "单位电话");
                else if (p.is("home"))
                    homePhones << number;
                else
                    untypedPhones << number;
            } else if (n == "EMAIL") {
                put(f.mail, unescaped(p.value), "电子邮箱");
            } else if (n == "X-QQ") {
                put(f.qq, unescaped(p.value), "QQ号码");
            } else if (n == "X-MSN") {
                put(f.msn, unescaped(p.value), "MSN号码");
            } else if (n == "IMPP") {
                instantMessaging(p);
            } else if (n == "ORG") {
                const QStringList org = parts(p.value);
                if (m_values[f.company].isEmpty() && m_values[f.department].isEmpty()) {
                    m_values[f.company] = org.value(0);
                    m_values[f.department] = joined(org.sliced(1));
                } else {
                    rest("单位", joined(org));
                }
            } else if (n == "TITLE") {
                put(f.job, unescaped(p.value), "职务");
            } else if (n == "ADR") {
                const QStringList a = parts(p.value);
                // Post office box, extended address, street, locality, region, postal code, country.
                const QString street = joined({a.value(2), a.value(1), a.value(0)});
                const QString whole = joined({a.value(4), a.value(3), street, a.value(5)});
                if (p.is("work") && !workAddressTaken) {
                    workAddressTaken = true;
                    m_values[f.workAddress] = street;
                    m_values[f.city] = a.value(3);
                    const QString listed = province(a.value(4), m_lists.provinces);
                    m_values[f.province] = listed;
                    if (listed.isEmpty())
                        rest("省份", a.value(4));
                    m_values[f.postCode] = a.value(5);
                } else if (p.is("home") && !homeAddressTaken) {
                    homeAddressTaken = true;
                    m_values[f.homeAddress] = joined({a.value(4), a.value(3), street});
                    rest("家庭邮编", a.value(5));
                } else {
                    rest(p.is("work") ? "单位地址" : p.is("home") ? "家庭地址" : "地址", whole);
                    continue;
                }
                if (!isChina(a.value(6)))
                    rest("国家", a.value(6));
            } else if (n == "URL") {
                put(f.site, unescaped(p.value), "网址");
            } else if (n == "NOTE") {
                put(f.note, unescaped(p.value), "备注");
            } else if (n == "GENDER" || n == "X-GENDER") {
                gender(p.value);
            } else if (n == "CATEGORIES") {
                QStringList values = parts(p.value, u',');
                if (!categorized && m_lists.categories.contains(values.first())) {
                    m_values[f.type] = values.takeFirst();
                    categorized = true;
                }
                rest("分类", values.join(u','));
            } else if (n == "X-SPOUSE") {
                put(f.family, unescaped(p.value), "家属");
            } else if (const char* label = restLabel(n)) {
                rest(label, unescaped(p.value));
            } else if (n.startsWith("X-OSTREL-")) {
                const QByteArray column = n.sliced(9);
                for (int i = 0; i < kCardFieldCount; ++i)
                    if (qstricmp(cardFields()[static_cast<size_t>(i)].column, column.constData()) == 0)
                        exact.emplace_back(i, unescaped(p.value));
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
    void rest(const char* label, const QString& value)
    {
        if (value.isEmpty() || m_restSize > kMaxRest)
            return;
        m_rest << QString::fromUtf8(label) + u'：' + value;
        m_restSize += m_rest.back().size();
    }
    static const char* restLabel(const QByteArray& name)
    {
        static const std::pair<const char*, const char*> labels[] = {
            {"BDAY", "生日"},         {"ANNIVERSARY", "纪念日"}, {"X-ANNIVERSARY", "纪念日"}, {"NICKNAME", "昵称"},
            {"ROLE", "角色"},         {"X-WECHAT", "微信"},      {"RELATED", "相关人"},       {"X-ASSISTANT", "助理"},
            {"X-MANAGER", "上级"},    {"X-AIM", "AIM"},          {"X-ICQ", "ICQ"},           {"X-JABBER", "Jabber"},
            {"X-SKYPE", "Skype"},     {"X-YAHOO", "Yahoo"},      {"X-GOOGLE-TALK", "Google Talk"},
        };
        for (const auto& [property, label] : labels)
            if (name == property)
                return label;
        return nullptr;
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
    CardValues m_values;
    QStringList m_rest;
    qsizetype m_restSize = 0;
};

// ---- reading ----

QByteArray upper(QByteArrayView v)
{
    return v.trimmed().toByteArray().toUpper();
}

QByteArray withoutQuotes(QByteArrayView v)
{
    v = v.trimmed();
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.sliced(1, v.size() - 2);
    return v.toByteArray();
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
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

QString decoded(QByteArrayView bytes, const QByteArray& charset)
{
    const std::string_view text(bytes.data(), static_cast<size_t>(bytes.size()));
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return QString::fromLatin1(bytes.data(), bytes.size());
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

// Splits at the separator outside double quotes.
QList<QByteArrayView> splitOutsideQuotes(QByteArrayView v, char separator)
{
    QList<QByteArrayView> out;
    bool quoted = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < v.size(); ++i) {
        if (v[i] == '"')
            quoted = !quoted;
        else if (v[i] == separator && !quoted) {
            out << v.sliced(start, i - start);
            start = i + 1;
        }
    }
    out << v.sliced(start);
    return out;
}

enum class LineKind { Other, Begin, End, Property };

// One unfolded line as a property; photos and other binary values are left out.
LineKind parseLine(QByteArrayView line, Property& p)
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
    const QList<QByteArrayView> header = splitOutsideQuotes(line.first(colon), ';');
    const QByteArrayView groupAndName = header.first();
    p.name = upper(groupAndName.sliced(groupAndName.lastIndexOf('.') + 1));
    const QByteArrayView raw = line.sliced(colon + 1);
    if (p.name == "BEGIN" || p.name == "END") {
        if (upper(raw) != "VCARD")
            return LineKind::Other;
        return p.name == "BEGIN" ? LineKind::Begin : LineKind::End;
    }
    if (p.name == "PHOTO" || p.name == "LOGO" || p.name == "SOUND" || p.name == "KEY")
        return LineKind::Other;
    p.types.clear();
    p.service.clear();
    QByteArray encoding, charset;
    for (qsizetype k = 1; k < header.size(); ++k) {
        const QByteArrayView param = header[k];
        const qsizetype eq = param.indexOf('=');
        if (eq < 0) {
            // vCard 2.1 writes bare values: "TEL;CELL;VOICE", "NOTE;QUOTED-PRINTABLE".
            const QByteArray bare = upper(param);
            if (bare == "QUOTED-PRINTABLE" || bare == "BASE64" || bare == "8BIT" || bare == "7BIT")
                encoding = bare;
            else if (!bare.isEmpty())
                p.types << bare.toLower();
            continue;
        }
        const QByteArray key = upper(param.first(eq));
        const QByteArrayView value = param.sliced(eq + 1);
        if (key == "TYPE") {
            // TYPE=a,b and TYPE="a,b"
            const QByteArray unquoted = withoutQuotes(value);
            for (QByteArrayView type : splitOutsideQuotes(unquoted, ','))
                if (const QByteArray t = withoutQuotes(type); !t.isEmpty())
                    p.types << t.toLower();
        } else if (key == "ENCODING") {
            encoding = upper(withoutQuotes(value));
        } else if (key == "CHARSET") {
            charset = upper(withoutQuotes(value));
        } else if (key == "X-SERVICE-TYPE") {
            p.service = withoutQuotes(value).toLower();
        }
    }
    QByteArray bytes;
    if (encoding == "QUOTED-PRINTABLE" || encoding == "Q")
        bytes = quotedPrintable(raw);
    else if (encoding == "BASE64" || encoding == "B")
        bytes = QByteArray::fromBase64(raw.toByteArray());
    else
        bytes = raw.toByteArray();
    p.value = decoded(bytes, charset);
    if (p.value.size() > kMaxValue)
        p.value.truncate(kMaxValue);
    return LineKind::Property;
}

// The file's lines with folding undone: a line that starts with a blank or a tab continues
// the one before, and a quoted-printable line that ends in "=" goes on in the next.
class LineReader {
public:
    explicit LineReader(QByteArrayView data) : m_data(data) {}

    bool next(QByteArray& logical)
    {
        QByteArrayView line;
        if (!physical(line))
            return false;
        logical = line.first(std::min(line.size(), kMaxLine)).toByteArray();
        while (true) {
            const qsizetype start = m_pos;
            if (!physical(line))
                break;
            if (logical.endsWith('=') && isQuotedPrintable(logical))
                logical.chop(1);
            else if (!line.isEmpty() && (line.front() == ' ' || line.front() == '\t'))
                line = line.sliced(1);
            else {
                m_pos = start;
                break;
            }
            if (logical.size() < kMaxLine)
                logical.append(line.first(std::min(line.size(), kMaxLine - logical.size())));
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
    static bool isQuotedPrintable(const QByteArray& line)
    {
        const qsizetype colon = line.indexOf(':');
        return colon > 0 && QByteArrayView(line).first(colon).toByteArray().toUpper().contains("QUOTED-PRINTABLE");
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
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
        out += line.sliced(start, end - start);
        out += "\r\n ";
        start = end;
        room = 74;
    }
    out += line.sliced(start);
    out += "\r\n";
}

Property property(const char* name, const QString& value, QList<QByteArray> types = {})
{
    return {QByteArray(name), std::move(types), {}, value};
}

} // namespace

VCardFile readVCards(QByteArrayView bytes, const VCardLists& lists)
{
    VCardFile file;
    QByteArray converted;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        // UTF-16, as some Windows programs save it.
        if (std::optional<std::string> utf8 = toUtf8({bytes.data(), static_cast<size_t>(bytes.size())}, "UTF-16", true))
            converted = QByteArray::fromStdString(*utf8);
        bytes = converted;
    }
    if (bytes.trimmed().isEmpty())
        return file;
    file.status = VCardFile::NotVCard;
    LineReader reader(bytes);
    QByteArray line;
    Property p;
    std::vector<Property> properties;
    int depth = 0; // a vCard 2.1 AGENT holds a card of its own, which is not one of the file's
    auto endCard = [&] {
        file.cards.push_back(CardMapper(lists).map(properties));
        properties.clear();
    };
    while (reader.next(line)) {
        const LineKind kind = parseLine(line, p);
        if (kind == LineKind::Begin) {
            if (depth == 0 && file.cards.size() == kMaxCards) {
                file.truncated = true;
                break;
            }
            file.status = VCardFile::Cards;
            ++depth;
        } else if (kind == LineKind::End && depth > 0) {
            if (--depth == 0)
                endCard();
        } else if (kind == LineKind::Property && depth == 1 && properties.size() < kMaxProperties) {
            properties.push_back(std::move(p));
        }
    }
    // A file cut off inside its last card still gives what it holds.
    if (depth > 0)
        endCard();
    return file;
}

void writeVCard(const CardValues& card, QByteArray& out)
{
    const Fields& f = fields();
    auto value = [&](int index) -> const QString& { return card[static_cast<size_t>(index)]; };
    std::vector<Property> props;
    auto add = [&](const char* name, int index, QList<QByteArray> types = {}) {
        if (!value(index).isEmpty())
            props.push_back(property(name, escaped(value(index)), std::move(types)));
    };
    const QString& name = value(f.name);
    props.push_back(property("FN", escaped(name)));
    // N: Chinese names stay whole as the family name; "John Smith" is Smith; John.
    const qsizetype blank = name.lastIndexOf(u' ');
    const bool western = blank > 0 && !std::any_of(name.begin(), name.end(), isWide);
    props.push_back(property("N", western ? escaped(name.sliced(blank + 1)) + u';' + escaped(name.left(blank)) + QStringLiteral(";;;")
                                          : escaped(name) + QStringLiteral(";;;;")));
    add("CATEGORIES", f.type);
    const QString& sex = value(f.sex);
    if (sex == QStringLiteral("男") || sex == QStringLiteral("女"))
        props.push_back(property("X-GENDER", sex == QStringLiteral("男") ? QStringLiteral("M") : QStringLiteral("F")));
    add("TEL", f.phone, {"voice"});
    add("TEL", f.mobile, {"cell"});
    add("EMAIL", f.mail, {"internet"});
    add("X-QQ", f.qq);
    add("X-MSN", f.msn);
    add("NOTE", f.note);
    if (!value(f.company).isEmpty() || !value(f.department).isEmpty())
        props.push_back(property("ORG", escaped(value(f.company)) + u';' + escaped(value(f.department))));
    add("TITLE", f.job);
    if (!value(f.workAddress).isEmpty() || !value(f.city).isEmpty() || !value(f.province).isEmpty() || !value(f.postCode).isEmpty())
        props.push_back(property("ADR",
                                 QStringLiteral(";;%1;%2;%3;%4;")
                                     .arg(escaped(value(f.workAddress)), escaped(value(f.city)), escaped(value(f.province)),
                                          escaped(value(f.postCode))),
                                 {"work"}));
    add("TEL", f.workPhone, {"work", "voice"});
    add("TEL", f.fax, {"work", "fax"});
    add("URL", f.site);
    if (!value(f.homeAddress).isEmpty())
        props.push_back(property("ADR", QStringLiteral(";;%1;;;;").arg(escaped(value(f.homeAddress))), {"home"}));
    add("TEL", f.homePhone, {"home", "voice"});

    // What these properties read back as: each field that differs is written exactly. So
    // are those that depend on the lists of the database reading the file: 分类, and 省份
    // with 补充信息 (where an unlisted region goes).
    const CardValues readBack = CardMapper(VCardLists{{value(f.type)}, {}, {}}).map(props);
    const bool hasProvince = !value(f.province).isEmpty();
    for (int i = 0; i < kCardFieldCount; ++i)
        if (i == f.type || (hasProvince && (i == f.province || i == f.rest)) || readBack[static_cast<size_t>(i)] != value(i))
            props.push_back({"X-OSTREL-" + QByteArray(cardFields()[static_cast<size_t>(i)].column).toUpper(), {}, {},
                             escaped(value(i))});
    out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    for (const Property& p : props) {
        QByteArray line = p.name;
        if (!p.types.isEmpty())
            line += ";TYPE=" + p.types.join(',').toUpper();
        line += ':';
        line += p.value.toUtf8();
        appendFolded(line, out);
    }
    out += "END:VCARD\r\n";
}

} // namespace ostrel
