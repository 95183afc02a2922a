// The vCard syntax on its own: content lines, parameters, folding, encodings and charsets,
// escapes, and the lines the writer makes. What a card's fields make of it is tested in core.
#include "formats/vcard_syntax.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::vcard;

namespace {

enum : int { Fn = 1, Note, Tel, Impp };

struct Names : PropertyNames {
    Names()
    {
        add("FN", Fn);
        add("NOTE", Note);
        add("TEL", Tel);
        add("IMPP", Impp);
    }
};

// Each card's listed properties as "number types service=value".
std::vector<QStringList> read(const QByteArray& bytes, FileStatus& status)
{
    const Names names;
    CardReader reader(bytes, names);
    status = reader.status();
    std::vector<QStringList> cards;
    std::vector<Property> properties;
    while (reader.next(properties)) {
        QStringList card;
        for (const Property& p : properties)
            card << QStringLiteral("%1 %2 %3=%4").arg(p.name).arg(p.types).arg(QString::fromLatin1(p.service), p.value);
        cards.push_back(card);
    }
    EXPECT_EQ(cards.size(), reader.count());
    return cards;
}

QByteArray utf16(const char16_t* text)
{
    return QByteArray(reinterpret_cast<const char*>(text), static_cast<qsizetype>(std::char_traits<char16_t>::length(text) * 2));
}

} // namespace

TEST(VCardSyntax, LinesParametersAndValues)
{
    const struct {
        const char* what;
        QByteArray text;
        FileStatus status;
        std::vector<QStringList> cards;
    } cases[] = {
        {"folding by a blank or a tab, CRLF or LF, unknown names and photos left out",
         "BEGIN:VCARD\r\nFN:Anna\r\n  Smith\nNOTE:a\r\n\tb\r\nX-UNKNOWN:x\r\nPHOTO;ENCODING=b:AAAA\r\n BBBB\r\nEND:VCARD\r\n",
         FileStatus::Cards, {{"1 0 =Anna Smith", "2 0 =ab"}}},
        {"quoted-printable with a soft line break, in a charset; base64; escapes kept",
         "BEGIN:VCARD\r\nNOTE;CHARSET=GBK;ENCODING=QUOTED-PRINTABLE:=C4=E3=BA=\r\n=C3\r\nFN;ENCODING=BASE64:5L2g5aW9\r\n"
         "NOTE:a\\,b\\nc\r\nEND:VCARD\r\n",
         FileStatus::Cards, {{"2 0 =你好", "1 0 =你好", "2 0 =a\\,b\\nc"}}},
        {"groups, types bare, repeated and quoted in any case, a service lower-cased",
         "BEGIN:VCARD\r\nitem1.TEL;CELL;type=voice:1\r\ntel;TYPE=\"work,fax\":2\r\nIMPP;X-SERVICE-TYPE=QQ:x:3\r\nEND:VCARD\r\n",
         FileStatus::Cards, {{QStringLiteral("3 %1 =1").arg(Cell | Voice), QStringLiteral("3 %1 =2").arg(Work | Fax), "4 0 qq=x:3"}}},
        {"a nested card is not one of the file's; a file cut off gives its last card",
         "BEGIN:VCARD\nFN:a\nAGENT:\nBEGIN:VCARD\nFN:b\nEND:VCARD\nEND:VCARD\nBEGIN:VCARD\nFN:c\n", FileStatus::Cards,
         {{"1 0 =a"}, {"1 0 =c"}}},
        {"UTF-16 with its byte-order mark",
         utf16(u"\uFEFFBEGIN:VCARD\nFN:戊\nEND:VCARD\n"), FileStatus::Cards,
         {{"1 0 =戊"}}},
        {"blank lines only", "\r\n \n", FileStatus::Empty, {}},
        {"a calendar", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n", FileStatus::NotVCard, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileStatus status{};
        EXPECT_EQ(read(c.text, status), c.cards);
        EXPECT_EQ(status, c.status);
    }
}

TEST(VCardSyntax, Escapes)
{
    const struct {
        QString text, value;
    } cases[] = {{"a,b;c\\d", "a\\,b\\;c\\\\d"}, {"第一行\n第二行", "第一行\\n第二行"}, {"", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(escaped(c.text), c.value);
        EXPECT_EQ(unescaped(c.value), c.text);
    }
    EXPECT_EQ(parts(u"王\\;;五;;"), QStringList({"王;", "五", "", ""}));
    EXPECT_EQ(parts(u"a\\,b,c", u','), QStringList({"a,b", "c"}));
}

TEST(VCardSyntax, WrittenLinesFoldAt75BytesBetweenCharacters)
{
    QByteArray out;
    beginCard(out);
    appendProperty("NOTE", Home | Voice, QString(40, QChar(u'名')), out);
    appendProperty("FN", 0, QStringLiteral("x"), out);
    endCard(out);
    EXPECT_TRUE(out.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE;TYPE=HOME,VOICE:"));
    EXPECT_TRUE(out.endsWith("\r\nFN:x\r\nEND:VCARD\r\n"));
    for (const QByteArray& line : out.split('\n')) {
        EXPECT_LE(line.size(), 76);
        EXPECT_TRUE(QString::fromUtf8(line).toUtf8() == line) << "a character split by the fold";
    }
    // The folded value reads back whole.
    const Names names;
    CardReader reader(out, names);
    std::vector<Property> properties;
    ASSERT_TRUE(reader.next(properties));
    EXPECT_EQ(properties.front().value, QString(40, QChar(u'名')));
}
