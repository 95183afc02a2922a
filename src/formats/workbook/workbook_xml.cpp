#include "formats/workbook/workbook_xml.h"

#include "engine/engine_error.h"

#include <QIODevice>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ostrel::workbook {

namespace {

// Read from the zip entry at a time.
constexpr qint64 kChunk = 256 * 1024;
// One tag, comment or CDATA section; a legitimate one is far smaller (a cell holds at
// most 32,767 characters). Longer runs of text come in pieces and need no limit.
constexpr size_t kMaxMarkup = 4u << 20;
// Sheet data nests five or six deep.
constexpr size_t kMaxDepth = 256;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view localName(std::string_view qualified)
{
    const size_t colon = qualified.rfind(':');
    return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

bool isXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool validUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        char32_t code = 0;
        char32_t least = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (end - p <= more)
            return false;
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += more + 1;
    }
    return true;
}

// Where a run of text that the buffer cuts off may end for now: not inside an entity, a
// line end or a character.
size_t safeTextEnd(std::string_view run)
{
    size_t end = run.size();
    const size_t amp = run.rfind('&');
    if (amp != std::string_view::npos && run.find(';', amp) == std::string_view::npos)
        end = amp;
    if (end > 0 && run[end - 1] == '\r')
        --end;
    size_t lead = end;
    while (lead > 0 && end - lead < 4 && (static_cast<unsigned char>(run[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead > 0 && static_cast<unsigned char>(run[lead - 1]) >= 0xC0) {
        const auto byte = static_cast<unsigned char>(run[lead - 1]);
        const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        if (end - (lead - 1) < length)
            end = lead - 1;
    }
    return end;
}

} // namespace

XmlPull::XmlPull(QIODevice& device, const QString& part, qint64 limit) : m_device(device), m_part(part), m_limit(limit)
{
    m_buffer.reserve(static_cast<size_t>(kChunk) * 2);
}

void XmlPull::damaged(const QString& detail) const
{
    throw EngineError(QStringLiteral("工作簿已损坏：%1 %2").arg(m_part, detail));
}

void XmlPull::requireUtf8(std::string_view text) const
{
    if (!validUtf8(text))
        damaged(QStringLiteral("含有无效的 UTF-8 编码"));
}

qint64 XmlPull::readChunk()
{
    const size_t old = m_buffer.size();
    m_buffer.resize(old + static_cast<size_t>(kChunk));
    const qint64 got = m_device.read(m_buffer.data() + old, kChunk);
    m_buffer.resize(old + static_cast<size_t>(std::max<qint64>(got, 0)));
    if (got < 0)
        damaged(QStringLiteral("解压出错"));
    m_read += got;
    if (m_read > m_limit)
        throw EngineError(QStringLiteral("工作簿过大：%1 解压后超过 %2 MB").arg(m_part).arg(m_limit >> 20));
    if (got == 0)
        m_eof = true;
    return got;
}

bool XmlPull::fill()
{
    if (m_eof)
        return false;
    // What was read is dropped; the token at hand moves to the front.
    m_buffer.erase(0, m_pos);
    m_pos = 0;
    const size_t old = m_buffer.size();
    // The first bytes tell the encoding: at least four of them.
    do {
        if (readChunk() == 0)
            break;
    } while (!m_started && m_buffer.size() < 4);
    if (m_buffer.size() == old)
        return false;
    if (!m_started) {
        m_started = true;
        const std::string_view head(m_buffer);
        if (head.starts_with("\xEF\xBB\xBF"))
            m_buffer.erase(0, 3);
        else if (head.starts_with("\xFF\xFE") || head.starts_with(std::string_view("<\0?\0", 4)))
            m_decoder = QStringDecoder(QStringConverter::Utf16LE);
        else if (head.starts_with("\xFE\xFF") || head.starts_with(std::string_view("\0<\0?", 4)))
            m_decoder = QStringDecoder(QStringConverter::Utf16BE);
    }
    if (m_decoder.isValid()) {
        QString decoded = m_surrogate + m_decoder.decode(QByteArrayView(m_buffer.data() + old, static_cast<qsizetype>(m_buffer.size() - old)));
        if (m_decoder.hasError())
            damaged(QStringLiteral("含有无效的 UTF-16 编码"));
        // A pair of surrogates the pieces cut apart is joined before it is turned into UTF-8.
        m_surrogate.clear();
        if (!decoded.isEmpty() && decoded.back().isHighSurrogate()) {
            m_surrogate = decoded.back();
            decoded.chop(1);
        }
        const QByteArray utf8 = decoded.toUtf8();
        m_buffer.resize(old);
        m_buffer.append(utf8.constData(), static_cast<size_t>(utf8.size()));
    }
    return true;
}

XmlPull::Token XmlPull::next()
{
    if (m_emptyElement) {
        m_emptyElement = false;
        if (--m_depth == 0)
            m_rootClosed = true;
        return EndElement;
    }
    for (;;) {
        const size_t start = m_pos;
        Token token = EndDocument;
        const Parsed parsed = parse(token);
        if (parsed == Parsed::Token)
            return token;
        if (parsed == Parsed::Skipped)
            continue;
        m_pos = start;
        if (m_eof) {
            if (m_pos < m_buffer.size() || m_depth > 0 || !m_rootClosed)
                damaged(QStringLiteral("XML 不完整"));
            return EndDocument;
        }
        if (m_buffer.size() - m_pos > kMaxMarkup)
            damaged(QStringLiteral("标记过长"));
        fill();
    }
}

XmlPull::Parsed XmlPull::parse(Token& token)
{
    if (m_pos >= m_buffer.size())
        return Parsed::More;
    return m_buffer[m_pos] == '<' ? parseMarkup(token) : parseText(token);
}

XmlPull::Parsed XmlPull::parseText(Token& token)
{
    const std::string_view rest = std::string_view(m_buffer).substr(m_pos);
    size_t length = rest.find('<');
    if (length == std::string_view::npos) {
        length = m_eof ? rest.size() : safeTextEnd(rest);
        if (length == 0)
            return Parsed::More;
    }
    const std::string_view raw = rest.substr(0, length);
    m_pos += length;
    m_text = decode(raw, m_decoded);
    // Text outside the root element is no part of the data.
    if (m_depth == 0)
        return Parsed::Skipped;
    token = Characters;
    return Parsed::Token;
}

XmlPull::Parsed XmlPull::parseMarkup(Token& token)
{
    const std::string_view rest = std::string_view(m_buffer).substr(m_pos);
    // Enough to tell the kinds of markup apart.
    if (rest.size() < 9 && !m_eof)
        return Parsed::More;
    if (rest.size() < 2)
        return Parsed::More;
    const auto skipTo = [&](std::string_view close, size_t from) {
        const size_t at = rest.find(close, from);
        if (at == std::string_view::npos)
            return Parsed::More;
        m_pos += at + close.size();
        return Parsed::Skipped;
    };
    switch (rest[1]) {
    case '/': {
        const size_t close = rest.find('>', 2);
        if (close == std::string_view::npos)
            return Parsed::More;
        std::string_view name = rest.substr(2, close - 2);
        while (!name.empty() && isSpace(name.back()))
            name.remove_suffix(1);
        if (m_depth == 0 || m_open[m_depth - 1] != name)
            damaged(QStringLiteral("结束标签 </%1> 与开始标签不符").arg(QString::fromUtf8(name.substr(0, 40))));
        if (--m_depth == 0)
            m_rootClosed = true;
        m_name = localName(name);
        m_pos += close + 1;
        token = EndElement;
        return Parsed::Token;
    }
    case '?': {
        const size_t close = rest.find("?>", 2);
        if (close == std::string_view::npos)
            return Parsed::More;
        const std::string_view body = rest.substr(2, close - 2);
        if (body.starts_with("xml") && body.size() > 3 && isSpace(body[3]))
            declaration(body);
        m_pos += close + 2;
        return Parsed::Skipped;
    }
    case '!':
        if (rest.starts_with("<!--"))
            return skipTo("-->", 4);
        if (rest.starts_with("<![CDATA[")) {
            const size_t close = rest.find("]]>", 9);
            if (close == std::string_view::npos)
                return Parsed::More;
            const std::string_view raw = rest.substr(9, close - 9);
            m_pos += close + 3;
            requireUtf8(raw);
            m_text = raw;
            if (raw.find('\r') != std::string_view::npos) {
                // Line ends read as in any other text.
                m_decoded.clear();
                for (size_t i = 0; i < raw.size(); ++i) {
                    m_decoded += raw[i] == '\r' ? '\n' : raw[i];
                    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
                        ++i;
                }
                m_text = m_decoded;
            }
            if (m_depth == 0)
                return Parsed::Skipped;
            token = Characters;
            return Parsed::Token;
        }
        // Entities declared in a document type can expand without bound.
        damaged(QStringLiteral("含有文档类型声明"));
    default:
        return parseStartTag(token);
    }
}

XmlPull::Parsed XmlPull::parseStartTag(Token& token)
{
    const std::string_view rest = std::string_view(m_buffer).substr(m_pos);
    const size_t n = rest.size();
    size_t i = 1;
    while (i < n && !isSpace(rest[i]) && rest[i] != '>' && rest[i] != '/')
        ++i;
    if (i >= n)
        return Parsed::More;
    const std::string_view name = rest.substr(1, i - 1);
    if (name.empty())
        damaged(QStringLiteral("标签无效"));
    m_attributes.clear();
    bool empty = false;
    for (;;) {
        while (i < n && isSpace(rest[i]))
            ++i;
        if (i >= n)
            return Parsed::More;
        if (rest[i] == '>') {
            ++i;
            break;
        }
        if (rest[i] == '/') {
            if (i + 1 >= n)
                return Parsed::More;
            if (rest[i + 1] != '>')
                damaged(QStringLiteral("标签 <%1> 无效").arg(QString::fromUtf8(name.substr(0, 40))));
            i += 2;
            empty = true;
            break;
        }
        const size_t nameStart = i;
        while (i < n && !isSpace(rest[i]) && rest[i] != '=' && rest[i] != '>' && rest[i] != '/')
            ++i;
        const std::string_view attribute = rest.substr(nameStart, i - nameStart);
        while (i < n && isSpace(rest[i]))
            ++i;
        if (i + 1 >= n)
            return Parsed::More;
        if (attribute.empty() || rest[i] != '=')
            damaged(QStringLiteral("标签 <%1> 的属性无效").arg(QString::fromUtf8(name.substr(0, 40))));
        ++i;
        while (i < n && isSpace(rest[i]))
            ++i;
        if (i >= n)
            return Parsed::More;
        const char quote = rest[i];
        if (quote != '"' && quote != '\'')
            damaged(QStringLiteral("标签 <%1> 的属性无效").arg(QString::fromUtf8(name.substr(0, 40))));
        const size_t close = rest.find(quote, i + 1);
        if (close == std::string_view::npos)
            return Parsed::More;
        const std::string_view value = rest.substr(i + 1, close - i - 1);
        if (value.find('<') != std::string_view::npos)
            damaged(QStringLiteral("标签 <%1> 的属性无效").arg(QString::fromUtf8(name.substr(0, 40))));
        m_attributes.emplace_back(localName(attribute), value);
        i = close + 1;
    }
    if (m_rootClosed)
        damaged(QStringLiteral("根元素之后还有元素"));
    if (m_depth >= kMaxDepth)
        damaged(QStringLiteral("元素嵌套过深"));
    if (m_open.size() <= m_depth)
        m_open.emplace_back();
    m_open[m_depth++].assign(name);
    m_name = localName(name);
    m_emptyElement = empty;
    m_pos += i;
    token = StartElement;
    return Parsed::Token;
}

void XmlPull::declaration(std::string_view body)
{
    const size_t at = body.find("encoding");
    if (at == std::string_view::npos)
        return;
    const size_t open = body.find_first_of("\"'", at);
    const size_t close = open == std::string_view::npos ? open : body.find(body[open], open + 1);
    if (close == std::string_view::npos)
        damaged(QStringLiteral("XML 声明无效"));
    const QString encoding = QString::fromLatin1(body.substr(open + 1, close - open - 1)).toLower();
    const bool utf16 = m_decoder.isValid();
    if (utf16 ? !encoding.startsWith(QLatin1String("utf-16")) : encoding != QLatin1String("utf-8") && encoding != QLatin1String("utf8"))
        damaged(QStringLiteral("不支持的编码 %1").arg(encoding.left(40)));
}

std::string_view XmlPull::decode(std::string_view raw, std::string& out)
{
    if (raw.find_first_of("&\r") == std::string_view::npos) {
        requireUtf8(raw);
        return raw;
    }
    out.clear();
    size_t i = 0;
    while (i < raw.size()) {
        const size_t special = raw.find_first_of("&\r", i);
        out.append(raw.substr(i, special == std::string_view::npos ? std::string_view::npos : special - i));
        if (special == std::string_view::npos)
            break;
        if (raw[special] == '\r') {
            // Line ends read as "\n", as XML has them.
            out += '\n';
            i = special + 1;
            if (i < raw.size() && raw[i] == '\n')
                ++i;
            continue;
        }
        const size_t semicolon = raw.find(';', special);
        if (semicolon == std::string_view::npos || semicolon - special > 10)
            damaged(QStringLiteral("实体引用无效"));
        const std::string_view entity = raw.substr(special + 1, semicolon - special - 1);
        char32_t code = 0;
        if (entity == "lt") {
            code = '<';
        } else if (entity == "gt") {
            code = '>';
        } else if (entity == "amp") {
            code = '&';
        } else if (entity == "quot") {
            code = '"';
        } else if (entity == "apos") {
            code = '\'';
        } else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            uint32_t value = 0;
            const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
            if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || !isXmlChar(value))
                damaged(QStringLiteral("字符引用 &%1; 无效").arg(QString::fromLatin1(entity)));
            code = value;
        } else {
            damaged(QStringLiteral("未定义的实体 &%1;").arg(QString::fromUtf8(entity)));
        }
        appendUtf8(out, code);
        i = semicolon + 1;
    }
    requireUtf8(out);
    return out;
}

std::string_view XmlPull::attribute(std::string_view localName)
{
    for (const auto& [name, value] : m_attributes)
        if (name == localName)
            return decode(value, m_attribute);
    return {};
}

void XmlPull::skipElement()
{
    for (int depth = 1; depth > 0;) {
        switch (next()) {
        case StartElement:
            ++depth;
            break;
        case EndElement:
            --depth;
            break;
        case EndDocument:
            damaged(QStringLiteral("XML 不完整"));
        case Characters:
            break;
        }
    }
}

std::string XmlPull::elementText()
{
    std::string text;
    for (;;) {
        switch (next()) {
        case Characters:
            text.append(m_text);
            break;
        case StartElement:
            skipElement();
            break;
        case EndElement:
            return text;
        case EndDocument:
            damaged(QStringLiteral("XML 不完整"));
        }
    }
}

} // namespace ostrel::workbook
