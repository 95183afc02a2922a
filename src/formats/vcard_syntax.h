#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ostrel::vcard {

// The syntax of vCard files (.vcf): content lines, parameters, escapes, folding,
// quoted-printable and base64 values in any charset. It knows no field of what the cards
// hold: the caller names the properties it wants (PropertyNames) and maps them itself.

// A file holds at most this many cards; the reader stops at the next one.
constexpr size_t kMaxCards = 1'000'000;

// TYPE values a caller may ask about, in the order the writer lists them.
enum Type : unsigned { Work = 1, Home = 2, Voice = 4, Cell = 8, Fax = 16, Internet = 32, Pager = 64 };

// One content line, "group.NAME;PARAM=…:value", of a property the caller's names know.
struct Property {
    int name = 0;       // the caller's number for the name (PropertyNames::add)
    unsigned types = 0; // TYPE values in both spellings ("TEL;CELL", "TYPE=cell")
    QByteArray service; // X-SERVICE-TYPE, lower case
    QString value;      // decoded text, vCard escapes still in it

    bool is(Type type) const { return (types & type) != 0; }
};

// The property names a reader decodes and a writer writes, each with a number of the
// caller's (above 0). The reader leaves out the value of any other name, so a card's
// unknown properties cost no decoding.
class PropertyNames {
public:
    PropertyNames();
    PropertyNames(const PropertyNames&) = delete;
    PropertyNames& operator=(const PropertyNames&) = delete;

    // name in upper case; number above 0, one per name.
    void add(const QByteArray& name, int number);
    // The number of a name in any case: 0 for a name not added; below 0 for the names the
    // syntax itself reads (BEGIN, END, and those of binary values such as PHOTO).
    int find(QByteArrayView name) const;
    // The name of a number added.
    QByteArrayView text(int number) const { return m_texts[static_cast<size_t>(number)]; }

private:
    void put(const QByteArray& name, int number);

    std::vector<std::unique_ptr<QByteArray>> m_names; // the text the keys below point into
    std::unordered_map<std::string_view, int> m_numbers;
    std::vector<QByteArray> m_texts; // by number
};

// A value's escapes undone ("\n" a line break, "\," a comma …).
QString unescaped(QStringView value);
// The same; a value without escapes is shared, not copied.
QString unescaped(const QString& value);
// A structured value's parts (N, ADR, ORG: separator ';') or a list's values (','), each
// unescaped.
QStringList parts(QStringView value, QChar separator = u';');
// The text as a value: backslash, comma and semicolon escaped, a line break as "\n".
QString escaped(const QString& text);

enum class FileStatus { Cards, Empty, NotVCard };

// The cards of a file a card at a time, each as the properties the names know: versions
// 2.1, 3.0 and 4.0, folded lines, a byte-order mark (UTF-8 or UTF-16), CRLF or LF. Survives
// any byte sequence; a line, a card's properties and a value have caps. The file's status
// and number of cards are known from the start (a quick pass over its BEGIN and END lines).
class CardReader {
public:
    // The bytes and the names must outlive the reader.
    CardReader(QByteArrayView bytes, const PropertyNames& names);
    ~CardReader();
    CardReader(const CardReader&) = delete;
    CardReader& operator=(const CardReader&) = delete;

    FileStatus status() const { return m_status; }
    size_t count() const { return m_count; }
    // More cards than kMaxCards: only the first ones are read.
    bool truncated() const { return m_truncated; }
    // The next card's properties, in their order, in place of those given; false after the
    // last card. A nested card (a vCard 2.1 AGENT) is not one of them.
    bool next(std::vector<Property>& properties);

private:
    struct Lines;
    QByteArray m_converted; // the file as UTF-8 when it came as UTF-16
    const PropertyNames& m_names;
    std::unique_ptr<Lines> m_lines;
    FileStatus m_status = FileStatus::Empty;
    size_t m_count = 0;
    size_t m_read = 0;
    bool m_truncated = false;
};

// Writing vCard 3.0 in UTF-8, lines folded at 75 bytes.
void beginCard(QByteArray& out);
// One property: the name, its TYPE values, the value (escaped already).
void appendProperty(QByteArrayView name, unsigned types, const QString& value, QByteArray& out);
void endCard(QByteArray& out);

} // namespace ostrel::vcard
