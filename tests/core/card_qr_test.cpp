// Cards as QR codes: every code is read back with ZXing-C++ as a phone's camera reads it,
// its bytes compared with the vCard written, and the vCard read back by the program's own
// reader.
#include "core/card_qr.h"
#include "core/card_vcard.h"
#include "qr_decode.h"

#include <gtest/gtest.h>

#include <map>

using namespace ostrel;
using ostrel::test::decodeQr;

namespace {

int fieldIndex(const char* column)
{
    for (const CardField& f : cardFields())
        if (qstrcmp(f.column, column) == 0)
            return f.number - 1;
    ADD_FAILURE() << column;
    return 0;
}

CardValues card(const std::map<const char*, QString>& values)
{
    CardValues out;
    for (const auto& [column, value] : values)
        out[static_cast<size_t>(fieldIndex(column))] = value;
    return out;
}

// The fields the phone's vCard carries, besides the name and the QQ note.
const char* const kContactColumns[] = {"BPho", "BMob", "BMail", "DArea", "DCity", "DName", "DPart", "DJob",
                                       "DAdd", "DPho", "DFax", "DPos", "DWWW", "FAdd", "FPho"};

// Every field the phone's vCard carries at its byte limit (GBK bytes): Chinese text, two
// bytes a character, numbers, e-mail and site in ASCII.
CardValues cardAtLimits()
{
    CardValues out;
    for (const CardField& f : cardFields())
        out[static_cast<size_t>(f.number - 1)] = QString(f.inputLimit / 2, u'汉');
    for (const char* column : {"BPho", "BMob", "BQQ", "DPho", "DFax", "DPos", "FPho"})
        out[static_cast<size_t>(fieldIndex(column))] = QString(cardFields()[static_cast<size_t>(fieldIndex(column))].inputLimit, u'9');
    out[static_cast<size_t>(fieldIndex("BMail"))] = QString(38, u'm') + QStringLiteral("@example.com");
    out[static_cast<size_t>(fieldIndex("DWWW"))] = QStringLiteral("https://") + QString(42, u'w');
    out[static_cast<size_t>(fieldIndex("DArea"))] = QStringLiteral("黑龙江");
    return out;
}

struct QrCase {
    const char* what;
    CardValues card;
    QStringList leftOut;
};

const QString kRare = QString::fromUcs4(U"\U00020000\U0002A6A5\U00030EDE");

std::vector<QrCase> cases()
{
    const CardValues full = card({{"BName", "张伟"}, {"BPho", "0571-88886666"}, {"BMob", "13800138000"},
                                  {"BMail", "zhang.wei@example.com"}, {"BQQ", "12345678"}, {"DArea", "浙江"},
                                  {"DCity", "杭州"}, {"DName", "杭州恒信科技有限公司"}, {"DPart", "销售部"},
                                  {"DJob", "经理"}, {"DAdd", "文三路1号"}, {"DPho", "0571-88889999"},
                                  {"DFax", "0571-88887777"}, {"DPos", "310000"}, {"DWWW", "https://example.com"},
                                  {"FAdd", "西湖区幸福小区3幢"}, {"FPho", "0571-85550000"},
                                  // Fields a phone has no place for: never in the code.
                                  {"theType", "客户"}, {"BSex", "男"}, {"BMSN", "zw@hotmail.com"}, {"BWW", "zhangwei"},
                                  {"BDes", "老客户"}, {"FPro", "李娜"}, {"FDes", "喜欢喝茶"}});
    return {
        {"plain", card({{"BName", "王芳"}, {"BMob", "139 0000 1111"}, {"DName", "北京星辰贸易有限公司"}, {"DJob", "总经理"}}), {}},
        {"only a name", card({{"BName", "李娜"}}), {}},
        {"western name", card({{"BName", "John Smith"}, {"BMail", "john@example.com"}}), {}},
        {"full: the QQ note and the home address make room", full, {"QQ号码", "家庭地址"}},
        {"every field at its byte limit", cardAtLimits(),
         {"QQ号码", "单位地址", "家庭地址", "单位网站", "城市", "邮政编码", "省份", "单位传真", "家庭电话", "单位名称",
          "电子邮箱"}},
        {"emoji", card({{"BName", "小王😀"}, {"DName", "🍵茶叶店"}, {"DJob", "店长👍🏽"}, {"BQQ", "😀"}}), {}},
        {"rare CJK extension characters, folded lines",
         card({{"BName", kRare}, {"DAdd", kRare.repeated(8)}, {"FAdd", QStringLiteral("𰻞𰻞面馆") + kRare}}), {}},
        {"quotes", card({{"BName", "O'Brien"}, {"DName", "\"双引号\"公司 'single'"}, {"DJob", "“经理”"}}), {}},
        {"semicolons, commas and backslashes",
         card({{"BName", "赵;钱,孙\\李"}, {"DName", "甲;乙"}, {"DPart", "研发部,测试部"}, {"DAdd", "文三路1号;2幢,3单元\\B座"},
               {"DCity", "杭;州"}, {"BQQ", "1;2,3"}}),
         {}},
        {"newlines", card({{"BName", "周杰"}, {"DAdd", "第一行\n第二行"}, {"FAdd", "\n"}, {"DJob", "经理\r\n"}, {"DPart", "甲\r乙"}}), {}},
    };
}

VCardLists listsOf(const CardValues& card)
{
    return {{QStringLiteral("客户")}, {card[static_cast<size_t>(fieldIndex("DArea"))]}, QStringLiteral("客户")};
}

} // namespace

TEST(CardQrCode, PhonesReadTheVCardWrittenAndTheProgramReadsBackTheFields)
{
    for (const QrCase& c : cases()) {
        SCOPED_TRACE(c.what);
        const CardQrCode code = cardQrCode(c.card);
        ASSERT_TRUE(code.ok()) << code.error.toStdString();
        EXPECT_LE(code.version, kMaxCardQrVersion);
        EXPECT_EQ(code.width, 17 + 4 * code.version);
        EXPECT_EQ(code.leftOut, c.leftOut);
        EXPECT_TRUE(code.vcard.startsWith("BEGIN:VCARD\r\nVERSION:3.0\r\n"));
        EXPECT_FALSE(code.vcard.contains("X-OSTREL"));
        EXPECT_FALSE(QByteArray(code.vcard).replace("\r\n", "").contains('\r'));
        EXPECT_FALSE(code.vcard.contains("CATEGORIES") || code.vcard.contains("GENDER") || code.vcard.contains("X-MSN"));

        const auto decoded = decodeQr(code.image(3));
        ASSERT_TRUE(decoded.found);
        EXPECT_EQ(decoded.bytes, code.vcard);
        EXPECT_TRUE(decoded.eci);
        EXPECT_EQ(decoded.utf8, QString::fromUtf8(code.vcard));
        EXPECT_EQ(decoded.level, QStringLiteral("M"));

        const VCardFile file = readVCards(decoded.bytes, listsOf(c.card));
        ASSERT_EQ(file.cards.size(), 1u);
        const CardValues& back = file.cards[0];
        auto titleLeftOut = [&](int i) { return code.leftOut.contains(cardFields()[static_cast<size_t>(i)].importTitleText()); };
        EXPECT_EQ(back[kNameField], c.card[kNameField]);
        for (const char* column : kContactColumns) {
            const int i = fieldIndex(column);
            // A phone's reader takes a bare CR for the end of the line: every break goes as LF.
            const QString sent = QString(c.card[static_cast<size_t>(i)]).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
            EXPECT_EQ(back[static_cast<size_t>(i)], titleLeftOut(i) ? QString() : sent) << column;
        }
        // The QQ number goes as a labelled note and comes back into QQ号码; nothing else is a note.
        const int qq = fieldIndex("BQQ");
        const QString& number = c.card[static_cast<size_t>(qq)];
        EXPECT_EQ(back[static_cast<size_t>(qq)], titleLeftOut(qq) ? QString() : number);
        for (const char* column : {"BSex", "BMSN", "BWW", "FPro", "FDes", "BDes"})
            EXPECT_EQ(back[static_cast<size_t>(fieldIndex(column))], QString()) << column;
    }
}

TEST(CardQrCode, ANameTooLongForAnyCodeIsSaidSo)
{
    const CardQrCode code = cardQrCode(card({{"BName", QString(400, u'长')}, {"BMob", "13800138000"}}));
    EXPECT_FALSE(code.ok());
    EXPECT_FALSE(code.error.isEmpty());
    EXPECT_TRUE(code.vcard.isEmpty());
}

TEST(CardQrCode, ImageHasWholePixelModulesAndAQuietZone)
{
    const CardQrCode code = cardQrCode(card({{"BName", "李娜"}}));
    for (int module : {1, 4, 7}) {
        const QImage image = code.image(module);
        const int side = (code.width + 8) * module;
        ASSERT_EQ(image.size(), QSize(side, side));
        // Four white modules round the code; the finder pattern's corner module is black.
        for (int i = 0; i < side; ++i)
            for (QPoint p : {QPoint(i, 4 * module - 1), QPoint(4 * module - 1, i), QPoint(i, side - 4 * module), QPoint(side - 4 * module, i)})
                ASSERT_EQ(qGray(image.pixel(p)), 255) << module << ' ' << p.x() << ',' << p.y();
        // Each module is module × module pixels of one colour.
        for (int y = 0; y < code.width; ++y)
            for (int x = 0; x < code.width; ++x) {
                const int want = code.dark[static_cast<size_t>(y * code.width + x)] ? 0 : 255;
                for (int dy = 0; dy < module; ++dy)
                    for (int dx = 0; dx < module; ++dx)
                        ASSERT_EQ(qGray(image.pixel((x + 4) * module + dx, (y + 4) * module + dy)), want);
            }
    }
}
