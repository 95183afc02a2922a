#include "core/scan/card_words.h"

#include "core/pinyin.h"
#include "core/scan/scan_text.h"

#include <QRegularExpression>
#include <QSet>

namespace ostrel::scan {

namespace {

// The common single surnames (about nine in ten people carry one of them) and the compound ones.
const QString kSurnames = QStringLiteral(
    "王李张刘陈杨黄赵吴周徐孙马朱胡郭何高林罗郑梁谢宋唐许韩冯邓曹彭曾肖田董袁潘于蒋蔡余杜叶程苏魏吕丁任沈"
    "姚卢姜崔钟谭陆汪范金石廖贾夏韦付方白邹孟熊秦邱江尹薛闫段雷侯龙史陶黎贺顾毛郝龚邵万钱严覃武戴莫孔向汤"
    "常温康施文牛樊葛邢安齐易乔伍庞颜倪庄聂章鲁岳翟殷詹申欧耿关兰焦俞左柳甘祝包宁尚符舒阮柯纪梅童凌毕单季"
    "裴霍涂成苗谷盛曲翁冉骆蓝路游辛靳管柴蒙鲍华喻祁蒲房滕屈饶解牟艾尤阳时穆农司卓古吉缪简车项连芦麦褚娄窦"
    "戚岑景党宫费卜冷晏席卫米柏宗瞿桂全佟应臧闵苟邬边卞姬师和仇栾隋商刁沙荣巫寇桑郎甄丛仲虞敖巩明佘池查麻"
    "苑迟邝官封谈匡鞠惠荆乐冀郁胥南班储原栗燕楚鄢劳谌奚皮粟冼蔺楼盘满闻位厉伊仝区郜海阚花权强帅屠豆朴盖练"
    "廉禹井祖漆巴丰支卿国狄平计索宣晋相初门云容敬来扈晁芮都普阙浦戈伏鹿薄邸雍辜羊阿乌母裘亓修邰赫杭况那宿"
    "鲜印逯隆茹诸战慕危玉银亢嵇公哈湛宾戎勾茅利於呼居揭干但尉冶斯元束檀衣信展阴昝智幸奉植衡富尧闭由");
const QStringList kCompoundSurnames = {
    QStringLiteral("欧阳"), QStringLiteral("司马"), QStringLiteral("诸葛"), QStringLiteral("上官"),
    QStringLiteral("东方"), QStringLiteral("皇甫"), QStringLiteral("令狐"), QStringLiteral("慕容"),
    QStringLiteral("尉迟"), QStringLiteral("公孙"), QStringLiteral("夏侯"), QStringLiteral("端木"),
    QStringLiteral("司徒"), QStringLiteral("长孙"), QStringLiteral("宇文"), QStringLiteral("轩辕")};

// The characters most often found in given names, the most frequent first (where two share a
// reading, the more common one stands earlier).
const QString kGivenNameCharacters = QStringLiteral(
    "英华玉秀文明兰金国春海平红丽建芳志珍林云凤桂军梅荣伟霞敏俊杰涛斌强磊洪娟静艳燕辉勇峰超宇鹏飞亮刚波东"
    "晓丹萍琴娜婷欣雪宁颖浩佳嘉子涵轩雨思梓怡博昊晨阳鑫瑞泽天一萱诗琪淑慧秋香美翠月岩德福生成龙庆光永新立"
    "清富贵宏江山松柏青学彬凯健康帅旭晖毅坤琳璐蕾雷夏莉玲芬菊莲薇蓉倩茜媛婧妍瑶璇晶昕睿哲铭航伦力民利安乐"
    "正兴家振祥卫艺娥巧爱珊莎蓓娇楠欢菲露馨钰彤悦瑾曦琦炜昌盛奇豪杨森柳若");

// Longest first, so that 总经理 wins over 经理.
const QStringList kTitleWords = {
    QStringLiteral("首席执行官"), QStringLiteral("董事长"), QStringLiteral("总经理"), QStringLiteral("副总裁"),
    QStringLiteral("工程师"), QStringLiteral("设计师"), QStringLiteral("会计师"), QStringLiteral("分析师"),
    QStringLiteral("架构师"), QStringLiteral("规划师"), QStringLiteral("建筑师"), QStringLiteral("研究员"),
    QStringLiteral("主任"), QStringLiteral("经理"), QStringLiteral("总监"), QStringLiteral("总裁"),
    QStringLiteral("董事"), QStringLiteral("主管"), QStringLiteral("助理"), QStringLiteral("顾问"),
    QStringLiteral("专员"), QStringLiteral("秘书"), QStringLiteral("律师"), QStringLiteral("教授"),
    QStringLiteral("医生"), QStringLiteral("医师"), QStringLiteral("主席"), QStringLiteral("行长"),
    QStringLiteral("院长"), QStringLiteral("所长"), QStringLiteral("处长"), QStringLiteral("科长"),
    QStringLiteral("部长"), QStringLiteral("局长"), QStringLiteral("校长"), QStringLiteral("厂长"),
    QStringLiteral("店长"), QStringLiteral("会计"), QStringLiteral("合伙人"), QStringLiteral("代表"),
    QStringLiteral("讲师"), QStringLiteral("编辑"), QStringLiteral("记者"), QStringLiteral("主编")};

const QRegularExpression kLatinTitle(
    QStringLiteral("\\b(Manager|Director|Engineer|President|CEO|CTO|CFO|COO|Chairman|Officer|Consultant|"
                   "Assistant|Specialist|Supervisor|Designer|Architect|Analyst|Professor|Lawyer|Partner|"
                   "Representative|Executive|Accountant|Secretary|Head of|Lead|Founder|VP)\\b"),
    QRegularExpression::CaseInsensitiveOption);

const QStringList kCompanySuffixes = {
    QStringLiteral("股份有限公司"), QStringLiteral("有限责任公司"), QStringLiteral("有限公司"),
    QStringLiteral("分公司"), QStringLiteral("公司"), QStringLiteral("集团"), QStringLiteral("研究院"),
    QStringLiteral("研究所"), QStringLiteral("设计院"), QStringLiteral("事务所"), QStringLiteral("银行"),
    QStringLiteral("大学"), QStringLiteral("学院"), QStringLiteral("医院"), QStringLiteral("出版社"),
    QStringLiteral("工作室"), QStringLiteral("协会"), QStringLiteral("委员会"), QStringLiteral("基金会"),
    QStringLiteral("商行"), QStringLiteral("酒店"), QStringLiteral("厂")};

const QRegularExpression kLatinCompany(
    QStringLiteral("\\b(Co\\.?,?\\s*Ltd\\.?|Ltd\\.?|Limited|Inc\\.?|Corp\\.?|Corporation|Group|LLC|Company|"
                   "University|Bank|Institute|Hospital|Law Firm|Studio)"),
    QRegularExpression::CaseInsensitiveOption);

} // namespace

int surnameLength(const QString& text)
{
    for (const auto& s : kCompoundSurnames)
        if (text.startsWith(s))
            return 2;
    return !text.isEmpty() && kSurnames.contains(text[0]) ? 1 : 0;
}

QString commonNameCharacter(const QString& syllable, bool surname)
{
    const auto spells = [&](QChar c) { return nameSpellings(QString(c)).full.contains(syllable); };
    if (surname)
        for (const auto& s : kCompoundSurnames)
            if (nameSpellings(s).full.contains(syllable))
                return s;
    for (const QChar c : surname ? kSurnames : kGivenNameCharacters)
        if (spells(c))
            return QString(c);
    return {};
}

int surnameRank(const QString& surname)
{
    if (kCompoundSurnames.contains(surname))
        return int(kSurnames.size());
    return surname.size() == 1 ? int(kSurnames.indexOf(surname)) : -1;
}

bool isCommonGivenNameCharacter(QChar c)
{
    return kGivenNameCharacters.contains(c);
}

bool hasTitleWord(const QString& text)
{
    for (const auto& w : kTitleWords)
        if (text.contains(w))
            return true;
    return kLatinTitle.match(text).hasMatch();
}

bool isTitlePrefix(const QString& text)
{
    // Each begins with a character that is also a surname (高, 项, 常, 区 …) or stands for one.
    static const QSet<QString> prefixes = {
        QStringLiteral("高级"), QStringLiteral("项目"), QStringLiteral("销售"), QStringLiteral("技术"),
        QStringLiteral("市场"), QStringLiteral("财务"), QStringLiteral("客户"), QStringLiteral("常务"),
        QStringLiteral("区域"), QStringLiteral("业务"), QStringLiteral("采购"), QStringLiteral("行政"),
        QStringLiteral("人事"), QStringLiteral("产品"), QStringLiteral("首席"), QStringLiteral("资深"),
        QStringLiteral("执行"), QStringLiteral("运营"), QStringLiteral("研发"), QStringLiteral("法务"),
        QStringLiteral("商务"), QStringLiteral("工程"), QStringLiteral("大客户"), QStringLiteral("总")};
    return prefixes.contains(text);
}

int titleSuffixLength(const QString& text)
{
    for (const auto& w : kTitleWords)
        if (text.endsWith(w))
            return int(w.size());
    return 0;
}

int nameBeforeTitle(const QString& text)
{
    const int surname = surnameLength(text);
    if (surname == 0)
        return 0;
    static const QString modifiers = QStringLiteral("总副高首主资执常");
    int best = 0;
    int bestScore = 0;
    for (int head = surname + 1; head <= surname + 2 && head < text.size(); ++head) {
        const QString rest = text.mid(head);
        if (!hasTitleWord(rest) || titleSuffixLength(rest) == 0 || isTitlePrefix(text.left(head)))
            continue;
        int score = titleSuffixLength(rest) == rest.size() ? 3 : 2;
        if (modifiers.contains(text[head - 1]))
            score -= 2;
        if (score > bestScore) {
            best = head;
            bestScore = score;
        }
    }
    return best;
}

int companyEnd(const QString& text)
{
    int end = -1;
    for (const auto& s : kCompanySuffixes) {
        const auto at = text.lastIndexOf(s);
        // 厂 and 银行 inside a longer word are not suffixes unless something stands before them.
        if (at > 0)
            end = std::max(end, int(at + s.size()));
    }
    if (end >= 0)
        return end;
    QRegularExpressionMatch last;
    auto it = kLatinCompany.globalMatch(text);
    while (it.hasNext())
        last = it.next();
    return last.hasMatch() && last.capturedStart() > 0 ? int(last.capturedEnd()) : -1;
}

bool isDepartment(const QString& text)
{
    static const QRegularExpression han(QStringLiteral("^[\\p{Han}A-Za-z0-9]{1,12}(部|处|科|中心|事业部|办公室|组)$"));
    static const QRegularExpression latin(QStringLiteral("\\b(Department|Dept\\.?|Division)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    return han.match(text).hasMatch() || latin.match(text).hasMatch();
}

} // namespace ostrel::scan
