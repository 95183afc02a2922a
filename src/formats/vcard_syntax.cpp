#include "formats/vcard_syntax.h"

#include "formats/charset.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

namespace ostrel::vcard {

namespace {

// Caps on what hostile or broken files may make us hold: an unfolded line (photos run to
// hundreds of kilobytes and are skipped), a value's characters (far above any card field's
// limit) and a card's properties.
constexpr qsizetype kMaxLine = 1 << 20;
constexpr qsizetype kMaxValue = 4096;
constexpr size_t kMaxProperties = 500;

// The numbers of the names the syntax reads itself; 0 is a name nobody listed.
constexpr int kOther = 0;
constexpr int kBegin = -1;
constexpr int kEnd = -2;
constexpr int kBinary = -3; // photos and other binary values: left out

constexpr std::pair<Type, const char*> kTypes[] = {{Work, "WORK"}, {Home, "HOME"},         {Voice, "VOICE"}, {Cell, "CELL"},
                                                   {Fax, "FAX"},   {Internet, "INTERNET"}, {Pager, "PAGER"}};

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

// What a property's parameters say of its value.
struct ValueForm {
    enum class Encoding { Plain, QuotedPrintable, Base64 } encoding = Encoding::Plain;
    QByteArrayView charset;
};

// One parameter after the name: a TYPE value, the value's encoding or charset, or the
// service of an IMPP address.
void readParameter(QByteArrayView param, Property& p, ValueForm& form)
{
    using Encoding = ValueForm::Encoding;
    const qsizetype eq = param.indexOf('=');
    if (eq < 0) {
        // vCard 2.1 writes bare values: "TEL;CELL;VOICE", "NOTE;QUOTED-PRINTABLE".
        const QByteArrayView bare = param.trimmed();
        if (sameLetters(bare, "QUOTED-PRINTABLE"))
            form.encoding = Encoding::QuotedPrintable;
        else if (sameLetters(bare, "BASE64"))
            form.encoding = Encoding::Base64;
        else if (sameLetters(bare, "8BIT") || sameLetters(bare, "7BIT"))
            form.encoding = Encoding::Plain;
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
        form.encoding = sameLetters(e, "QUOTED-PRINTABLE") || sameLetters(e, "Q") ? Encoding::QuotedPrintable
            : sameLetters(e, "BASE64") || sameLetters(e, "B")                      ? Encoding::Base64
                                                                                   : Encoding::Plain;
    } else if (sameLetters(key, "CHARSET")) {
        form.charset = withoutQuotes(value).trimmed();
    } else if (sameLetters(key, "X-SERVICE-TYPE")) {
        p.service = withoutQuotes(value).toByteArray().toLower();
    }
}

// One unfolded line as a property; photos and other binary values are left out. A property
// nobody listed is named kOther and its value is not decoded; so is every property when
// only the BEGIN and END lines matter.
LineKind parseLine(QByteArrayView line, const PropertyNames& names, Property& p, bool boundsOnly)
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
    ValueForm form;
    forEachOutsideQuotes(line.first(colon), ';', [&](QByteArrayView param) {
        if (first) {
            first = false;
            const QByteArrayView name = param.sliced(param.lastIndexOf('.') + 1).trimmed();
            if (boundsOnly)
                p.name = sameLetters(name, "BEGIN") ? kBegin : sameLetters(name, "END") ? kEnd : kOther;
            else
                p.name = names.find(name);
        } else if (!boundsOnly && p.name > kOther) {
            readParameter(param, p, form);
        }
    });
    const QByteArrayView raw = line.sliced(colon + 1);
    if (p.name == kBegin || p.name == kEnd) {
        if (!sameLetters(raw.trimmed(), "VCARD"))
            return LineKind::Other;
        return p.name == kBegin ? LineKind::Begin : LineKind::End;
    }
    if (p.name == kBinary)
        return LineKind::Other;
    p.value.clear();
    if (boundsOnly || p.name == kOther)
        return LineKind::Property;
    QByteArray bytes;
    if (form.encoding == ValueForm::Encoding::QuotedPrintable)
        bytes = quotedPrintable(raw);
    else if (form.encoding == ValueForm::Encoding::Base64)
        bytes = QByteArray::fromBase64(raw.toByteArray());
    p.value = decoded(form.encoding == ValueForm::Encoding::Plain ? raw : QByteArrayView(bytes), form.charset);
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


} // namespace

PropertyNames::PropertyNames()
{
    for (const char* name : {"PHOTO", "LOGO", "SOUND", "KEY"})
        put(name, kBinary);
    put("BEGIN", kBegin);
    put("END", kEnd);
}

void PropertyNames::put(const QByteArray& name, int number)
{
    m_names.push_back(std::make_unique<QByteArray>(name));
    m_numbers.emplace(std::string_view(m_names.back()->constData(), static_cast<size_t>(name.size())), number);
}

void PropertyNames::add(const QByteArray& name, int number)
{
    Q_ASSERT(number > 0);
    put(name, number);
    if (m_texts.size() <= static_cast<size_t>(number))
        m_texts.resize(static_cast<size_t>(number) + 1);
    m_texts[static_cast<size_t>(number)] = name;
}

int PropertyNames::find(QByteArrayView name) const
{
    char upper[32];
    if (name.size() > qsizetype(sizeof upper))
        return kOther;
    for (qsizetype i = 0; i < name.size(); ++i)
        upper[i] = asciiUpper(name[i]);
    const auto it = m_numbers.find(std::string_view(upper, static_cast<size_t>(name.size())));
    return it == m_numbers.end() ? kOther : it->second;
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

QString unescaped(const QString& v)
{
    return v.contains(u'\\') ? unescaped(QStringView(v)) : v;
}

QStringList parts(QStringView v, QChar separator)
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

// The cards' lines as read, and the property the line now read fills.
struct CardReader::Lines {
    explicit Lines(QByteArrayView bytes) : reader(bytes) {}
    LineReader reader;
    Property property;
};

CardReader::CardReader(QByteArrayView bytes, const PropertyNames& names) : m_names(names)
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
    m_status = FileStatus::NotVCard;
    // A first pass over the BEGIN and END lines alone counts the cards.
    LineReader reader(bytes);
    QByteArrayView line;
    Property p;
    int depth = 0; // a vCard 2.1 AGENT holds a card of its own, which is not one of the file's
    while (reader.next(line)) {
        const LineKind kind = parseLine(line, m_names, p, true);
        if (kind == LineKind::Begin) {
            if (depth == 0 && m_count == kMaxCards) {
                m_truncated = true;
                break;
            }
            m_status = FileStatus::Cards;
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

CardReader::~CardReader() = default;

bool CardReader::next(std::vector<Property>& properties)
{
    if (m_read == m_count)
        return false;
    properties.clear();
    size_t unlisted = 0; // properties nobody listed: they count towards the cap
    Lines& l = *m_lines;
    QByteArrayView line;
    int depth = 0;
    while (l.reader.next(line)) {
        const LineKind kind = parseLine(line, m_names, l.property, false);
        if (kind == LineKind::Begin) {
            ++depth;
        } else if (kind == LineKind::End && depth > 0) {
            if (--depth == 0)
                break;
        } else if (kind == LineKind::Property && depth == 1 && properties.size() + unlisted < kMaxProperties) {
            if (l.property.name == kOther)
                ++unlisted;
            else
                properties.push_back(std::move(l.property));
        }
    }
    ++m_read;
    return true;
}

void beginCard(QByteArray& out)
{
    out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
}

void appendProperty(QByteArrayView name, unsigned types, const QString& value, QByteArray& out)
{
    // One line at a time in one buffer, then folded into the text.
    thread_local QByteArray line;
    thread_local QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    line.resize(0);
    line.append(name);
    const char* separator = ";TYPE=";
    for (const auto& [bit, text] : kTypes)
        if (types & bit) {
            line += separator;
            line += text;
            separator = ",";
        }
    line += ':';
    const qsizetype start = line.size();
    line.resize(start + utf8.requiredSpace(value.size()));
    line.resize(utf8.appendToBuffer(line.data() + start, value) - line.constData());
    appendFolded(line, out);
}

void endCard(QByteArray& out)
{
    out += "END:VCARD\r\n";
}

} // namespace ostrel::vcard
