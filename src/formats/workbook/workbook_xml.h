#pragma once
// A pull reader for the large parts of an .xlsx (the sheet and the shared strings), fed
// piece by piece from the zip entry: the part is never held whole, and it reads sheet data
// several times faster than QXmlStreamReader. It checks what the readers rely on (tags
// nest and close, entities and characters are valid, the text is UTF-8 or UTF-16) and
// refuses a document type declaration; whatever else is odd is read as leniently as the
// readers can use it.
#include <QString>
#include <QStringDecoder>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QIODevice;

namespace ostrel::workbook {

class XmlPull {
public:
    enum Token { StartElement, EndElement, Characters, EndDocument };

    // Reads at most `limit` expanded bytes of `part` from the device: past that, the part
    // is too large (EngineError).
    XmlPull(QIODevice& device, const QString& part, qint64 limit);

    // The next token. An empty element gives a start and an end. Names, attributes and text
    // stay valid until the next call. Throws EngineError ("工作簿已损坏：<part> ...").
    Token next();
    // The local name (after any prefix) of the element just started or ended.
    std::string_view name() const { return m_name; }
    // An attribute of the element just started, by local name, entities decoded; empty
    // when absent. Valid until the next call of next() or attribute().
    std::string_view attribute(std::string_view localName);
    // The characters of a Characters token, entities decoded; a long run may come in
    // several tokens.
    std::string_view text() const { return m_text; }

    // After a start: skips the rest of the element, its end included.
    void skipElement();
    // After a start: the text directly inside the element (child elements skipped), read
    // to the element's end.
    std::string elementText();

    [[noreturn]] void damaged(const QString& detail) const;

private:
    enum class Parsed { Token, More, Skipped };

    bool fill();
    qint64 readChunk();
    Parsed parse(Token& token);
    Parsed parseMarkup(Token& token);
    Parsed parseStartTag(Token& token);
    Parsed parseText(Token& token);
    void declaration(std::string_view body);
    // The text with entities and line ends decoded: raw itself when nothing needs it, else
    // kept in `store`.
    std::string_view decode(std::string_view raw, std::string& store);
    void requireUtf8(std::string_view text) const;

    QIODevice& m_device;
    QString m_part;
    qint64 m_limit;
    qint64 m_read = 0;
    bool m_eof = false;
    std::string m_buffer;
    size_t m_pos = 0;
    // For UTF-16 text, which is turned into UTF-8 as it is read.
    QStringDecoder m_decoder;
    QString m_surrogate;
    bool m_started = false;

    std::string_view m_name;
    std::string_view m_text;
    std::string m_decoded;
    std::vector<std::pair<std::string_view, std::string_view>> m_attributes; // local name, raw value
    std::string m_attribute;
    std::vector<std::string> m_open; // qualified names of the open elements
    size_t m_depth = 0;
    bool m_emptyElement = false; // the start just given closes at once
    bool m_rootClosed = false;
};

} // namespace ostrel::workbook
