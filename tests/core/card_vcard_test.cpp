// vCard files read into cards and cards written as vCard: hand-written files of the kinds
// phones and address books export, and cards that must come back exactly.
#include "formats/gbk.h"
#include "core/card_vcard.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

const VCardLists kLists{{"客户", "朋友", "同事", "同学"}, {"北京", "浙江", "广东"}, "客户"};

// The filled fields of a card as "column=value", in field-table order.
QStringList filled(const CardValues& card)
{
    QStringList out;
    for (const CardField& field : cardFields())
        if (const QString& v = card[static_cast<size_t>(field.number - 1)]; !v.isEmpty())
            out << field.columnName() + u'=' + v;
    return out;
}

std::vector<QStringList> filledCards(const VCardFile& file)
{
    std::vector<QStringList> out;
    for (const CardValues& card : file.cards)
        out.push_back(filled(card));
    return out;
}

QByteArray utf16(const char16_t* text)
{
    return QByteArray(reinterpret_cast<const char*>(text), static_cast<qsizetype>(std::char_traits<char16_t>::length(text) * 2));
}

struct ReadCase {
    const char* what;
    QByteArray text;
    VCardFile::Status status;
    std::vector<QStringList> cards;
};

} // namespace

TEST(VCardRead, FilesOfPhonesAndAddressBooks)
{
    const ReadCase cases[] = {
        {"2.1, quoted-printable UTF-8 as Chinese Android phones write it",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0;=E4=B8=89;;;\r\n"
         "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E5=BC=A0=E4=B8=89\r\nTEL;CELL:13800138000\r\nTEL;CELL:13900139000\r\n"
         "TEL;HOME:010-1111\r\nEND:VCARD\r\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=张三", "BPho=010-1111", "BMob=13800138000", "FDes=移动电话：13900139000"}}},
        {"2.1, quoted-printable GB18030 with a soft line break, bare types",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=GBK;ENCODING=QUOTED-PRINTABLE:=C0=EE=CB=C4\r\n"
         "NOTE;QUOTED-PRINTABLE;CHARSET=GB18030:=C4=E3=BA=\r\n=C3\r\nTEL;WORK;FAX:0571-2\r\nTEL;VOICE:0571-1\r\nEND:VCARD\r\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=李四", "BPho=0571-1", "BDes=你好", "DFax=0571-2"}}},
        {"3.0 as an iPhone writes it: groups, TYPE twice, folding, escapes, a photo",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Apple Inc.//iPhone OS 17.0//EN\r\nN:王;五;;;\r\nFN:王五\r\n"
         "ORG:杭州恒信科技有限公司;销售部\r\nTITLE:经理\r\nEMAIL;type=INTERNET;type=WORK;type=pref:wang@example.com\r\n"
         "item1.TEL;type=pref:0571-8888\r\nitem1.X-ABLabel:_$!<Other>!$_\r\nTEL;type=CELL;type=VOICE:138 0000 0000\r\n"
         "TEL;TYPE=WORK,VOICE:0571-9999\r\nitem2.ADR;type=WORK;type=pref:;;文三路1号;杭州;浙江省;310000;中国\r\n"
         "ADR;TYPE=HOME:;;幸福小区\\, 3幢;北京;;;\r\n"
         "NOTE:第一行\\n第二行\\; 含分号\\, 逗号 \\\\ 反斜杠，这一行很长需要折\r\n 叠起来\r\n"
         "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDBQNDAsLDBkSEw8U\r\n"
         " HRofHh0aHBwgJC4nICIsIxwcKDcpLDAxNDQ0Hyc5PTgyPC4zNDL/2wBDAQkJCQwLDBgNDRgyIRwhMjIyMjIy\r\n"
         "BDAY:1990-05-06\r\nURL:https://example.com\r\nEND:VCARD\r\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=王五", "BPho=0571-8888", "BMob=138 0000 0000", "BMail=wang@example.com",
           "BDes=第一行\n第二行; 含分号, 逗号 \\ 反斜杠，这一行很长需要折叠起来", "DArea=浙江", "DCity=杭州",
           "DName=杭州恒信科技有限公司", "DPart=销售部", "DJob=经理", "DAdd=文三路1号", "DPho=0571-9999", "DPos=310000",
           "DWWW=https://example.com", "FAdd=北京幸福小区, 3幢", "FDes=生日：1990-05-06"}}},
        {"4.0: tel addresses, quoted types, GENDER, IMPP, CATEGORIES",
         "BEGIN:VCARD\nVERSION:4.0\nFN:Anna Smith\nN:Smith;Anna;;;\nGENDER:F\n"
         "TEL;VALUE=uri;TYPE=\"cell,voice\":tel:+86-139-0000-1111\nTEL;VALUE=uri;TYPE=\"work,fax\":tel:+86-10-5555\n"
         "IMPP;PREF=1:qq:123456\nIMPP:msnim:anna@hotmail.com\nIMPP:xmpp:anna@jabber.org\nCATEGORIES:朋友,同学\n"
         "NICKNAME:安娜\nEND:VCARD\n",
         VCardFile::Cards,
         {{"theType=朋友", "BName=Anna Smith", "BSex=女", "BMob=+86-139-0000-1111", "BQQ=123456", "BMSN=anna@hotmail.com",
           "DFax=+86-10-5555", "FDes=即时通讯：xmpp anna@jabber.org；分类：同学；昵称：安娜"}}},
        {"no FN: the name from N, Chinese without a blank, others given name first; an unlisted category",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nN:欧阳;娜娜;;;\r\nX-GENDER:男\r\nCATEGORIES:供应商\r\nX-QQ:888\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Smith;John;Paul;;\r\nX-GENDER:M\r\nX-MSN:j@live.cn\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nORG:只有单位\r\nEND:VCARD\r\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=欧阳娜娜", "BSex=男", "BQQ=888", "FDes=分类：供应商"},
          {"theType=客户", "BName=John Paul Smith", "BSex=男", "BMSN=j@live.cn"},
          {"theType=客户", "DName=只有单位"}}},
        {"a one-line QQ note (as the QR code writes it) is the QQ number; a longer note stays a note",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:丁\r\nNOTE:QQ：10001\r\nEND:VCARD\r\n"
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:戊\r\nNOTE:QQ：10002\\n周末联系\r\nEND:VCARD\r\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=丁", "BQQ=10001"}, {"theType=客户", "BName=戊", "BDes=QQ：10002\n周末联系"}}},
        {"telephones by type, and addresses that have no field of their own",
         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:甲\r\nTEL;TYPE=HOME:010-2\r\nTEL:010-1\r\nTEL;TYPE=HOME:010-3\r\n"
         "TEL;TYPE=PAGER:999\r\nADR:;;某路;;;;\r\nADR;TYPE=WORK:;;路;城;火星;100;美国\r\nEND:VCARD\r\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=甲", "BPho=010-1", "DCity=城", "DAdd=路", "DPos=100", "FPho=010-2",
           "FDes=寻呼机：999；地址：某路；省份：火星；国家：美国；家庭电话：010-3"}}},
        {"a byte-order mark, LF, a base64 note, a nested AGENT card, a file cut off in its last card",
         "\xEF\xBB\xBF" "BEGIN:VCARD\nVERSION:2.1\nFN:乙\nNOTE;ENCODING=BASE64:5L2g5aW9\nAGENT:\nBEGIN:VCARD\nFN:代理人\n"
         "END:VCARD\nEND:VCARD\nBEGIN:VCARD\nFN:丙\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=乙", "BDes=你好"}, {"theType=客户", "BName=丙"}}},
        {"2.1 photo whose base64 lines are not indented",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:丁\r\nPHOTO;ENCODING=BASE64;TYPE=JPEG:/9j/4AAQSkZJRgABAQ\r\n"
         "AAAQABAAD/2wBDAAgGBgcGBQgHBwcJ\r\nCQgKDBQNDAsLDBkSEw8U\r\n\r\nTEL;CELL:1\r\nEND:VCARD\r\n",
         VCardFile::Cards,
         {{"theType=客户", "BName=丁", "BMob=1"}}},
        {"UTF-16 with its byte-order mark", utf16(u"\uFEFFBEGIN:VCARD\r\nFN:戊\r\nEND:VCARD\r\n"),
         VCardFile::Cards,
         {{"theType=客户", "BName=戊"}}},
        {"an empty file", "", VCardFile::Empty, {}},
        {"blank lines only", "\r\n  \n\t\n", VCardFile::Empty, {}},
        {"a text that is not a vCard", "姓名,电话\n张三,123\n", VCardFile::NotVCard, {}},
        {"a calendar", "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nEND:VCALENDAR\r\n", VCardFile::NotVCard, {}},
        {"binary bytes", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe:", 20), VCardFile::NotVCard, {}},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        const VCardFile file = readVCards(c.text, kLists);
        EXPECT_EQ(file.status, c.status);
        EXPECT_EQ(filledCards(file), c.cards);
        EXPECT_FALSE(file.truncated);
    }
}

namespace {

// A value of exactly limit GBK bytes: the text, then Chinese characters (and one ASCII
// character where the limit is odd).
QString atLimit(const QString& text, int limit)
{
    QString v = gbkCut(text, limit);
    for (int i = 0; gbkLength(v) < limit; ++i)
        v += gbkLength(v) + 2 <= limit ? QChar(u"名片管理软件"[i % 6]) : QChar(u'x');
    return v;
}

CardValues card(std::initializer_list<std::pair<const char*, QString>> values)
{
    CardValues out;
    for (const auto& [column, value] : values)
        for (const CardField& field : cardFields())
            if (field.columnName() == QLatin1String(column))
                out[static_cast<size_t>(field.number - 1)] = value;
    return out;
}

} // namespace

TEST(VCardWrite, EveryCardReadsBackExactly)
{
    std::vector<CardValues> cards;
    // Every field at its import limit, with quotes, separators, escapes and a line break.
    CardValues full;
    for (const CardField& field : cardFields())
        full[static_cast<size_t>(field.number - 1)] = atLimit(QStringLiteral("O'Brien \"引\", a;b\\c:d\\n"), field.importCut);
    full[9] = atLimit(QStringLiteral("第一行\n第二行"), 200);
    cards.push_back(full);
    cards.push_back(card({{"BName", "张三"}, {"theType", "不在列表的分类"}, {"BSex", "未知"}, {"DArea", "火星殖民地"},
                          {"FPho", "010-2"}, {"DPart", "只有部门"}}));
    cards.push_back(card({{"BName", "John Smith"}, {"BSex", "男"}, {"DArea", "广东"}, {"FDes", "省份：广东"}}));
    cards.push_back(card({{"BName", "  两边空格  "}, {"BSex", "女"}, {"DCity", "杭州"}, {"FAdd", "北京幸福小区"}, {"BMob", "tel:1"}}));
    cards.push_back(card({{"BName", "李四"}, {"FDes", "生日：1990-01-01"}, {"BPho", "1"}, {"FPho", "2"}, {"DPho", "3"}}));
    cards.push_back(CardValues{});

    QByteArray text;
    for (const CardValues& c : cards)
        writeVCard(c, text);
    for (const VCardLists& lists : {kLists, VCardLists{}, VCardLists{{"不在列表的分类"}, {"火星殖民地"}, "同事"}}) {
        const VCardFile file = readVCards(text, lists);
        ASSERT_EQ(file.cards.size(), cards.size());
        for (size_t i = 0; i < cards.size(); ++i)
            EXPECT_EQ(filled(file.cards[i]), filled(cards[i])) << i;
    }
    // vCard 3.0 as phones read it: folded at 75 bytes, UTF-8, the properties they know.
    for (const QByteArray& line : text.split('\n'))
        EXPECT_LE(line.size(), 76) << line.constData();
    const QString written = QString::fromUtf8(text);
    EXPECT_TRUE(written.contains(QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:张三\r\nN:张三;;;;\r\n")));
    EXPECT_TRUE(written.contains(QStringLiteral("FN:John Smith\r\nN:Smith;John;;;\r\nX-GENDER:M\r\n")));
    EXPECT_TRUE(written.contains(QStringLiteral("ADR;TYPE=WORK:;;;;广东;;\r\n")));
    EXPECT_TRUE(written.contains(QStringLiteral("TEL;TYPE=VOICE:1\r\nTEL;TYPE=WORK,VOICE:3\r\nTEL;TYPE=HOME,VOICE:2\r\n")));
}
