// The field extractor on recognised text as the recogniser gives it: blanks between Chinese
// characters, full-width colons, the usual misreadings.
#include "core/scan/address_lines.h"
#include "core/scan/card_labels.h"
#include "core/scan/field_extractor.h"
#include "core/scan/name_mending.h"
#include "core/scan/scan_text.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>
#include <string>

namespace ostrel {
namespace {

struct Line {
    const char* text;
    int height = 30;
    double confidence = 90;
};

struct FieldCase {
    const char* what;
    std::vector<Line> lines;
    std::map<std::string, const char*> expected; // column -> value; every other field stays empty
};

RecognisedLines recognised(const std::vector<Line>& lines)
{
    RecognisedLines out;
    int y = 10;
    for (const auto& l : lines) {
        out.push_back({QString::fromUtf8(l.text), QRect(20, y, 400, l.height), l.confidence});
        y += l.height + 10;
    }
    return out;
}

const std::vector<FieldCase> kCards = {
    {"labelled Chinese card",
     {{"北 京 星 辰 科 技 有 限 公 司", 36}, {"张 伟", 60}, {"销售总监", 28}, {"手机：138 0013 8000"},
      {"电话：010-6275 1234"}, {"传真：010-6275 1235"}, {"邮箱：zhangwei@xingchen.com.cn"},
      {"地址：北京市海淀区中关村大街27号 邮编：100080"}},
     {{"BName", "张伟"}, {"DName", "北京星辰科技有限公司"}, {"DJob", "销售总监"}, {"BMob", "13800138000"},
      {"DPho", "010-62751234"}, {"DFax", "010-62751235"}, {"BMail", "zhangwei@xingchen.com.cn"},
      {"DAdd", "北京市海淀区中关村大街27号"}, {"DPos", "100080"}}},
    {"unlabelled phones and an address with its postcode",
     {{"欧阳明", 56}, {"上海浦江律师事务所", 32}, {"合伙人 律师", 24}, {"13912345678"}, {"021-5888 6666"},
      {"上海市浦东新区世纪大道100号 200120"}},
     {{"BName", "欧阳明"}, {"DName", "上海浦江律师事务所"}, {"DJob", "合伙人律师"}, {"BMob", "13912345678"},
      {"DPho", "021-58886666"}, {"DAdd", "上海市浦东新区世纪大道100号"}, {"DPos", "200120"}}},
    {"+86 forms and single-letter labels",
     {{"李娜", 50}, {"M: +86 186-1234-5678"}, {"T: +86 (0)755 8888 9999"}, {"F: 0086 755 8888 9998"},
      {"E: lina@huaxin.cn"}},
     {{"BName", "李娜"}, {"BMob", "18612345678"}, {"DPho", "0755-88889999"}, {"DFax", "0755-88889998"},
      {"BMail", "lina@huaxin.cn"}}},
    {"two mobiles on one line and on two lines",
     {{"王芳", 50}, {"手机：13800001111 / 13900002222"}, {"Mobile: 15000003333"}},
     {{"BName", "王芳"}, {"BMob", "13800001111，13900002222，15000003333"}}},
    {"English card",
     {{"David Smith", 48}, {"Sales Director", 24}, {"Acme Trading Co., Ltd.", 30}, {"Tel: +86 10 8123 4567"},
      {"Email: david.smith@acmetrading.com"}, {"www.acmetrading.com"}},
     {{"BName", "David Smith"}, {"DJob", "Sales Director"}, {"DName", "Acme Trading Co., Ltd."},
      {"DPho", "010-81234567"}, {"BMail", "david.smith@acmetrading.com"}, {"DWWW", "www.acmetrading.com"}}},
    {"misread e-mail and digits",
     {{"赵 磊", 50}, {"E-mail：zhaolei©yunfan,com"}, {"手机：1370O12345l"}, {"邮箱 (a) 不是地址"}},
     {{"BName", "赵磊"}, {"BMail", "zhaolei@yunfan.com"}, {"BMob", "13700123451"}, {"FDes", "邮箱@不是地址"}}},
    {"department beside its company, and department with title",
     {{"深圳华信通讯集团 市场部", 30}, {"陈静", 52}, {"市场部经理", 24}},
     {{"DName", "深圳华信通讯集团"}, {"DPart", "市场部"}, {"BName", "陈静"}, {"DJob", "经理"},
      {"FDes", "市场部"}}},
    {"department on a line of its own",
     {{"中国建设银行", 34}, {"个人金融部", 26}, {"刘洋 客户经理", 40}},
     {{"DName", "中国建设银行"}, {"DPart", "个人金融部"}, {"BName", "刘洋"}, {"DJob", "客户经理"}}},
    {"the company the e-mail domain names wins; the other is kept",
     {{"杭州云帆网络有限公司", 30}, {"星河科技有限公司", 30}, {"周杰", 50}, {"zhoujie@xhkj.com"}},
     {{"DName", "星河科技有限公司"}, {"BName", "周杰"}, {"BMail", "zhoujie@xhkj.com"},
      {"FDes", "杭州云帆网络有限公司"}}},
    {"QQ, WeChat, direct line and unmatched text",
     {{"孙悦", 50}, {"QQ：123456789"}, {"微信：sunyue_88"}, {"直线：010-87654321"}, {"诚信 共赢 创新"}},
     {{"BName", "孙悦"}, {"BQQ", "123456789"}, {"BPho", "010-87654321"}, {"FDes", "微信：sunyue_88；诚信共赢创新"}}},
    {"bilingual card keeps the Chinese name, title and address",
     {{"黄 志 强", 54}, {"Huang Zhiqiang", 26}, {"技术总监", 24}, {"Technical Director", 20},
      {"地址：广州市天河区体育西路191号"}, {"Add: No.191 Tiyu West Road, Tianhe District, Guangzhou"},
      {"电话：020-38881234  传真：020-38881235"}},
     {{"BName", "黄志强"}, {"DJob", "技术总监"}, {"DAdd", "广州市天河区体育西路191号"},
      {"DPho", "020-38881234"}, {"DFax", "020-38881235"},
      {"FDes", "Technical Director；Add：No.191 Tiyu West Road, Tianhe District, Guangzhou；Huang Zhiqiang"}}},
    {"colon misread after Chinese labels; capitals and a lost @ in addresses",
     {{"林 杰", 50}, {"网 址 > WwW.Xinrui.com"}, {"邮箱 ; jiang.linxinrui.com"}, {"电话 ; 025-8756 5242"}},
     {{"BName", "林杰"}, {"DWWW", "www.xinrui.com"}, {"BMail", "jiang.lin@xinrui.com"}, {"DPho", "025-87565242"}}},
    {"comma inside a mailbox name, cn read as en",
     {{"吴国庆", 50}, {"E-mail: guoqing, wu@jinshi.com.en"}, {"wwWW.jinshi.com.cn"}},
     {{"BName", "吴国庆"}, {"BMail", "guoqing.wu@jinshi.com.cn"}, {"DWWW", "www.jinshi.com.cn"}}},
    {"title heads that are surnames, 限 lost, stray quote, misread labels, postcode on the next line",
     {{"高 平", 50}, {"高级工程师", 24}, {"上海云帆科技有 ” 公司", 30}, {"工 : 021-5888 6666"},
      {"传 芮 : 021-5888 6667"}, {"地址：上海市浦东新区世纪大道 100 号 ”邮编"}, {": 200120"}},
     {{"BName", "高平"}, {"DJob", "高级工程师"}, {"DName", "上海云帆科技有限公司"}, {"DPho", "021-58886666"},
      {"DFax", "021-58886667"}, {"DAdd", "上海市浦东新区世纪大道100号"}, {"DPos", "200120"}}},
    {"项目经理 is a title, a QQ label with nothing after it keeps the next line's words",
     {{"罗 伟", 50}, {"项目经理", 24}, {"QQ:"}, {"销售部"}},
     {{"BName", "罗伟"}, {"DJob", "项目经理"}, {"DPart", "销售部"}, {"FDes", "QQ"}}},
    {"e-mail mended: blanks around its dots, @ read as a capital, by the company's pinyin, by the name",
     {{"宋 霞", 50}, {"南京博远科技有限公司", 30}, {"E: xia .songGboyuan.com"}},
     {{"BName", "宋霞"}, {"DName", "南京博远科技有限公司"}, {"BMail", "xia.song@boyuan.com"}}},
    {"q before the @ and g for q mended by the name; a logo's mark before the name dropped",
     {{"(_) 林志强", 54}, {"E-mail: zhigiang.linq@huaxin.com"}},
     {{"BName", "林志强"}, {"BMail", "zhiqiang.lin@huaxin.com"}}},
    {"a name misread mended by the mailbox name: the surname, a character read as two, one of two",
     {{"同 杰", 52}, {"E: jie.gao@abc.com"}},
     {{"BName", "高杰"}, {"BMail", "jie.gao@abc.com"}}},
    {"the mailbox name read without its @ still mends the name",
     {{"罗 石 石", 56}, {"E-mail: lei.luobhengda.com"}, {"www.hengda.com"}},
     {{"BName", "罗磊"}, {"BMail", "lei.luo@hengda.com"}, {"DWWW", "www.hengda.com"}}},
    {"one character of a two-character given name mended",
     {{"郭雨村", 56}, {"邮箱：yuxuan.guo@abc.cn"}},
     {{"BName", "郭雨轩"}, {"BMail", "yuxuan.guo@abc.cn"}}},
    {"a letter added after the surname's spelling in the mailbox name; an initial kept",
     {{"谢刚", 52}, {"E: gang.xieg@abc.com"}, {"王丽", 52}, {"E: wangl@abc.com"}},
     {{"BName", "谢刚"}, {"BMail", "gang.xie@abc.com"}, {"FDes", "E：wangl@abc.com；王丽"}}},
    {"the dot of a mailbox name read as a hyphen; a hyphen between other words kept",
     {{"杨勇", 52}, {"E: yong-yang@abc.com"}, {"李静", 52}, {"E: ming-wang@abc.com"}},
     {{"BName", "杨勇"}, {"BMail", "yong.yang@abc.com"}, {"FDes", "E：ming-wang@abc.com；李静"}}},
    {"another person's mailbox changes no character of the name",
     {{"李静", 50}, {"E: ming.wang@abc.com"}},
     {{"BName", "李静"}, {"BMail", "ming.wang@abc.com"}}},
    {"two columns read as one line: the name, then the web address with its dot read as a colon",
     {{"陈国庆 www:abc.com.cn", 60}, {"E: guoqing.chen@abc.com.cn"}},
     {{"BName", "陈国庆"}, {"DWWW", "www.abc.com.cn"}, {"BMail", "guoqing.chen@abc.com.cn"}}},
    {"a character of a logo parted from the name by a bar",
     {{"人 | 陈志强", 54}, {"E: zhiqiang.chen@abc.com"}},
     {{"BName", "陈志强"}, {"BMail", "zhiqiang.chen@abc.com"}}},
    {"a name read as nothing like one: the letters spell it, the more common surname first",
     {{"艺人小看", 60}, {"Liang Lei", 26}, {"南京云帆咨询有限公司", 30}, {"E-mail: lei.liang@yunfan.com"}},
     {{"BName", "梁磊"}, {"DName", "南京云帆咨询有限公司"}, {"BMail", "lei.liang@yunfan.com"},
      {"FDes", "艺人小看；Liang Lei"}}},
    {"no name read on a Chinese card: the mailbox spells it",
     {{"成都华信建设工程有限责任公司", 32}, {"E: zhiqiang.gao@huaxin.com.cn"}},
     {{"BName", "高志强"}, {"DName", "成都华信建设工程有限责任公司"}, {"BMail", "zhiqiang.gao@huaxin.com.cn"}}},
    {"web address a letter apart from the e-mail's domain: the one the company spells wins",
     {{"周杰", 50}, {"杭州云帆网络有限公司", 30}, {"E: jie.zhou@yunfan.com"}, {"www.yunfam.com"}},
     {{"BName", "周杰"}, {"DName", "杭州云帆网络有限公司"}, {"BMail", "jie.zhou@yunfan.com"}, {"DWWW", "www.yunfan.com"}}},
    {"and the other way: the e-mail's domain mended by the web address",
     {{"周杰", 50}, {"星河科技有限公司", 30}, {"E: jie.zhou@xhjk.com"}, {"www.xhkj.com"}},
     {{"BName", "周杰"}, {"DName", "星河科技有限公司"}, {"BMail", "jie.zhou@xhkj.com"}, {"DWWW", "www.xhkj.com"}}},
    {"a district of a known city read with one character wrong",
     {{"张伟", 50}, {"地址：北京市海这区中关村大街27号 100080"}},
     {{"BName", "张伟"}, {"DAdd", "北京市海淀区中关村大街27号"}, {"DPos", "100080"}}},
    {"and a bracket read for the 1 before 号, on an unlabelled address",
     {{"张伟", 50}, {"四川省成都市武伐区天府大道6] 号"}},
     {{"BName", "张伟"}, {"DAdd", "四川省成都市武侯区天府大道61号"}}},
    {"a province read with one character wrong",
     {{"张伟", 50}, {"地址：浙汀省杭州市西湖区文三路5号"}},
     {{"BName", "张伟"}, {"DAdd", "浙江省杭州市西湖区文三路5号"}}},
    {"the address label ends its line, the address on the next",
     {{"张伟", 50}, {"地址："}, {"北京市海淀区中关村大街27号"}},
     {{"BName", "张伟"}, {"DAdd", "北京市海淀区中关村大街27号"}}},
    {"a district the city's list lacks is left as read; so is one two districts are as close to",
     {{"李娜", 50}, {"地址：南京市江北新区浦滨路88号"}, {"王芳", 50}, {"地址：北京市南城区建国路9号"}},
     {{"BName", "李娜"}, {"DAdd", "南京市江北新区浦滨路88号"}, {"FDes", "地址：北京市南城区建国路9号；王芳"}}},
    {"400 line and extension",
     {{"吴昊", 50}, {"电话：400-820-8820"}, {"Tel: 0571-8765 4321 转 806"}},
     {{"BName", "吴昊"}, {"DPho", "400-820-8820"}, {"BPho", "0571-87654321-806"}}},
};

class ScanFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(ScanFields, EachFieldFromItsLine)
{
    const FieldCase& c = GetParam();
    const ScannedCard card = extractCardFields(recognised(c.lines));
    const auto fields = cardFields();
    for (int i = 0; i < kCardFieldCount; ++i) {
        const auto* column = fields[size_t(i)].column;
        const auto it = c.expected.find(column);
        const QString want = it == c.expected.end() ? QString() : QString::fromUtf8(it->second);
        EXPECT_EQ(card.values[size_t(i)].toStdString(), want.toStdString()) << column;
        EXPECT_EQ(card.confidence[size_t(i)] > 0, !want.isEmpty()) << column;
    }
}

INSTANTIATE_TEST_SUITE_P(Cards, ScanFields, ::testing::ValuesIn(kCards), [](const auto& info) {
    return "Card" + std::to_string(info.index);
});

// Every word the recogniser read is somewhere on the card: in a field or in 补充信息.
TEST(ScanFieldsKeep, NothingReadIsDropped)
{
    for (const auto& c : kCards) {
        const ScannedCard card = extractCardFields(recognised(c.lines));
        QString all;
        for (const auto& v : card.values)
            all += v;
        all.remove(QRegularExpression(QStringLiteral("[\\s\\-()+]")));
        for (const auto& line : c.lines) {
            // Misread characters are mended, not dropped: the mended reading is what is kept.
            const QString text = scan::mendedAddress(scan::mended(scan::normalised(QString::fromUtf8(line.text))));
            // Labels are not kept; what follows them is.
            for (const auto& segment : scan::segmentsOf(text, nullptr))
            for (const auto& word : segment.text.split(QRegularExpression(QStringLiteral("[\\s:：/]+")), Qt::SkipEmptyParts)) {
                if (word.size() < 4 || word.contains(QRegularExpression(QStringLiteral("^[+\\d\\-()转]+$"))))
                    continue; // numbers are reformatted; their digits are checked by the field cases
                if (word.contains(QRegularExpression(QStringLiteral("\\.(com|cn)$"))))
                    continue; // misread addresses lose the misread letters; the field cases check them
                // A line may be shared out over fields ("刘洋客户经理"): every character is kept.
                const QString kept = QString(word).remove(QRegularExpression(QStringLiteral("[\\-()+]")));
                for (const QChar ch : kept)
                    // Mail and web addresses are kept in lower case.
                    EXPECT_GE(all.count(ch, Qt::CaseInsensitive), kept.count(ch, Qt::CaseInsensitive)) << c.what << ": " << word.toStdString();
            }
        }
    }
}

TEST(ScanFieldsConfidence, ALowConfidenceLineGivesALowConfidenceField)
{
    const ScannedCard card = extractCardFields(recognised({{"张伟", 50, 95}, {"手机：13800138000", 30, 40}}));
    EXPECT_GE(card.confidenceOf("BName"), kLowScanConfidence);
    EXPECT_LT(card.confidenceOf("BMob"), kLowScanConfidence);
    EXPECT_EQ(card.rawText.toStdString(), "张伟\n手机：13800138000");
}

TEST(ScanFieldsConfidence, ANameWithoutAKnownSurnameIsMarked)
{
    const ScannedCard card = extractCardFields(recognised({{"甲乙", 50, 95}}));
    EXPECT_EQ(card.value("BName").toStdString(), "甲乙");
    EXPECT_LT(card.confidenceOf("BName"), kLowScanConfidence);
}

// Names mended with the characters the recogniser weighed at each place (the field cases
// above carry none): a weighed character wins over the most common one of its reading.
TEST(ScanNameMending, WeighedCharactersChooseTheSpelling)
{
    struct Case {
        const char* read;
        std::vector<std::vector<const char*>> choices;
        const char* mailbox;
        const char* want; // "" when nothing is mended
    };
    const std::vector<Case> cases = {
        {"陈暇", {{"陈"}, {"暇", "霞"}}, "xia.chen", "陈霞"},       // a rare homophone gives way to a common one
        {"宋熏", {{"宋"}, {"熏", "雷"}}, "lei.song", "宋雷"},       // the weighed 雷 before the commoner 磊
        {"宋熏", {{"宋"}, {"熏"}}, "lei.song", "宋磊"},             // none weighed: the commonest of the reading
        {"欧阳平", {}, "ping.ouyang", ""},                          // spelled right already
        {"伍平", {}, "ping.ouyang", ""},                            // 伍 is a surname of another reading
        {"林杰", {}, "jiang.lin", ""},                              // 杰 is a common name character
        {"周海若", {}, "haiyan.zhou", "周海艳"},                    // two of three agree: a common 若 gives way
        {"周若若", {}, "haiyan.zhou", ""},                          // one of three agrees: nothing
    };
    for (const auto& c : cases) {
        std::vector<QStringList> choices;
        for (const auto& place : c.choices) {
            choices.emplace_back();
            for (const char* ch : place)
                choices.back() << QString::fromUtf8(ch);
        }
        const QString read = QString::fromUtf8(c.read);
        const auto words = scan::latinNameWords(QString::fromLatin1(c.mailbox) + QStringLiteral("@abc.com"), {});
        QString got = scan::spelledChoice(read, choices, scan::spelledNames(words));
        if (!scan::spelledAs(got, scan::spelledNames(words)))
            got = scan::spelledRepair(got, choices, words);
        EXPECT_EQ((got == read ? QString() : got).toStdString(), c.want) << c.read << " " << c.mailbox;
    }
}

// The e-mail address chosen among the readings of its line (the first, and others read on
// their own): by the name its mailbox spells, by the web site, by most readings.
TEST(ScanMailReadings, TheCardChoosesAmongTheReadings)
{
    struct Reading {
        const char* text;
        const char* weighed = ""; // a letter weighed beside the one read at that place, blank for none
    };
    struct Case {
        const char* name;
        const char* mail;
        std::vector<Reading> again;
        const char* web;
        const char* want;
    };
    const std::vector<Case> cases = {
        {"曹丽娟", "tjuan.cao@tianyu.com.cn", {{":lijuan.cao@tianyu.com.cn"}, {"j:lijuan.cao@tianyu.com.cn"}}, "",
         "lijuan.cao@tianyu.com.cn"},                                                       // the reading that spells the name
        {"高杰", "die.gao@haichuan.com", {{":die.gao@haichuan.com", " j"}, {":die.gao@haichuan.com"}}, "",
         "jie.gao@haichuan.com"},                                                           // a letter weighed spells it
        {"冯丽娟", "liguan.feng@huaxin.com", {{":liguan.feng@huaxin.com", "   j"}}, "", "lijuan.feng@huaxin.com"},
        {"吴静", "jingwu@xingchen.com", {{"E:jing-wu@xingchen.com"}, {"E:jingwu@xingchen.com"}}, "",
         "jing.wu@xingchen.com"},                                                           // the stop another reading kept
        {"唐丽娟", "li.juan.tang@yunfan.com", {{":lijuan.tang@yunfan.com"}}, "", "lijuan.tang@yunfan.com"},
        {"李娜", "na.li@boyuam.com", {{":na.li@boyuan.com"}}, "www.boyuan.com", "na.li@boyuan.com"}, // the web site's domain
        {"", "david.smlth@acme.com", {{"E:david.smith@acme.com"}, {"E:david.smith@acme.com"}}, "",
         "david.smith@acme.com"},                                                           // most readings agree
        {"", "david.smith@acme.com", {{"E:david.smlth@acme.com"}}, "", "david.smith@acme.com"}, // a tie keeps the first
    };
    for (const auto& c : cases) {
        RecognisedLines lines = recognised({{c.name, 50}, {"E: "}, {c.web}});
        lines[1].text += QString::fromLatin1(c.mail);
        for (const auto& r : c.again) {
            const QString text = QString::fromLatin1(r.text);
            std::vector<QStringList> choices;
            for (qsizetype i = 0; i < text.size(); ++i) {
                choices.push_back({QString(text[i])});
                if (const char w = r.weighed[std::min(i, qsizetype(strlen(r.weighed)))]; w != 0 && w != ' ')
                    choices.back() << QString(QLatin1Char(w));
            }
            lines[1].rereadings.push_back({text, choices});
        }
        EXPECT_EQ(extractCardFields(lines).value("BMail").toStdString(), c.want) << c.mail;
    }
}

TEST(ScanText, PhoneNumbersInTheCardsForm)
{
    const std::vector<std::pair<const char*, std::vector<std::string>>> cases = {
        {"+86 138 0013 8000", {"13800138000"}},
        {"0086-13800138000", {"13800138000"}},
        {"(+86) 10 6275 1234", {"010-62751234"}},
        {"0755-8888 9999", {"0755-88889999"}},
        {"138001380001390013900", {}}, // 21 digits: no number
        {"13800138000 13900139000", {"13800138000", "13900139000"}},
        {"021-5888 6666 ext. 12", {"021-58886666-12"}},
        {"800 810 8888", {"800-810-8888"}},
        {"电话会议", {}},
    };
    for (const auto& [text, want] : cases) {
        std::vector<std::string> got;
        for (const auto& n : scan::phoneNumbers(QString::fromUtf8(text)))
            got.push_back(n.toStdString());
        EXPECT_EQ(got, want) << text;
    }
}

TEST(ScanText, MisreadingsMended)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"li©abc,com", "li@abc.com"},
        {"li (a) abc.cn", "li@abc.cn"},
        {"li @ abc . com", "li@abc.com"},
        {"139 OO12 345l", "139 0012 3451"},
        {"Room 1O", "Room 1O"},            // too short a run to be a number
        {"hello2012Olympics", "hello2012Olympics"}, // digits inside a word stay as they are
        {"yong, wu@xingchen.com", "yong.wu@xingchen.com"},
        {"tel 010, 8888", "tel 010, 8888"}, // a comma elsewhere is a comma
        {"ww.abc.com and wwww.abc.com", "www.abc.com and www.abc.com"},
        {"a@b.com.en", "a@b.com.cn"},
        {"www, abc.com,.cn", "www.abc.com.cn"},
        {"wwwabc.com and wwf.org", "www.abc.com and wwf.org"},
        {"yong.-yang@abc.com", "yong.yang@abc.com"},
        {"li:.na@abc.com", "li.na@abc.com"},
        {"li@,abc.com", "li@abc.com"},
        {"www:abc.com.cn", "www.abc.com.cn"},
        {"www.Xinrui com", "www.Xinrui.com"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(scan::mended(QString::fromUtf8(in)).toStdString(), out) << in;
}

TEST(ScanText, MailMendedByTheWebSitesDomain)
{
    const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
        {"zhou.jianhuaetianyu.com.cn", "tianyu.com.cn", "zhou.jianhua@tianyu.com.cn"}, // @ read as e
        {"li.naoboyuan.com", "boyuan.com", "li.na@boyuan.com"},                       // @ read as o
        {"li.nangboyuan.com", "boyuan.com", "li.nang@boyuan.com"},                    // @ lost
        {"li.na@boyuan.com", "boyuan.com", ""},                                       // nothing to mend
        {"li.naeboyuan.com", "", ""},                                                 // no web site
        {"boyuan.com", "boyuan.com", ""},                                             // no mailbox name
        {"li.naeboyuan.com.cn", "boyuan.com", ""},                                    // domain not at the end
        {"li.naGboyuan.com", "boyuan.com", "li.na@boyuan.com"},                       // @ read as a capital
    };
    for (const auto& [text, domain, want] : cases)
        EXPECT_EQ(scan::mailAtDomain(QString::fromLatin1(text), QString::fromLatin1(domain)).toStdString(), want) << text;
}

TEST(ScanText, MailAndWebAddressesInLowerCase)
{
    EXPECT_EQ(scan::mailAddress(QStringLiteral("E: Li.Na@Boyuan.COM")).toStdString(), "li.na@boyuan.com");
    EXPECT_EQ(scan::mailAddress(QStringLiteral("+li.na@boyuan.com")).toStdString(), "li.na@boyuan.com");
    EXPECT_EQ(scan::webAddress(QStringLiteral("WWW.Boyuan.com")).toStdString(), "www.boyuan.com");
}

} // namespace
} // namespace ostrel
