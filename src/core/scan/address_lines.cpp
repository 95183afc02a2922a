#include "core/scan/address_lines.h"

#include "core/scan/scan_text.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace ostrel::scan {

namespace {

// The districts and counties of the largest cities, by city: where most cards come from. A
// district is checked only after its own city, so a name read wrong is mended only to one of
// that city's districts.
const char* const kDistricts[] = {
    "北京:东城 西城 朝阳 丰台 石景山 海淀 门头沟 房山 通州 顺义 昌平 大兴 怀柔 平谷 密云 延庆",
    "上海:黄浦 徐汇 长宁 静安 普陀 虹口 杨浦 闵行 宝山 嘉定 浦东新 金山 松江 青浦 奉贤 崇明",
    "天津:和平 河东 河西 南开 河北 红桥 东丽 西青 津南 北辰 武清 宝坻 滨海新 宁河 静海 蓟州",
    "重庆:渝中 大渡口 江北 沙坪坝 九龙坡 南岸 北碚 渝北 巴南 万州 涪陵 黔江 长寿 江津 合川 永川 璧山",
    "广州:荔湾 越秀 海珠 天河 白云 黄埔 番禺 花都 南沙 从化 增城",
    "深圳:罗湖 福田 南山 宝安 龙岗 盐田 龙华 坪山 光明 大鹏新",
    "杭州:上城 拱墅 西湖 滨江 萧山 余杭 临平 钱塘 富阳 临安 桐庐 淳安 建德",
    "南京:玄武 秦淮 建邺 鼓楼 浦口 栖霞 雨花台 江宁 六合 溧水 高淳",
    "苏州:姑苏 虎丘 吴中 相城 吴江 常熟 张家港 昆山 太仓",
    "武汉:江岸 江汉 硚口 汉阳 武昌 青山 洪山 东西湖 汉南 蔡甸 江夏 黄陂 新洲",
    "成都:锦江 青羊 金牛 武侯 成华 龙泉驿 青白江 新都 温江 双流 郫都 新津 都江堰 彭州 邛崃 崇州 简阳 金堂 大邑 蒲江",
    "西安:新城 碑林 莲湖 灞桥 未央 雁塔 阎良 临潼 长安 高陵 鄠邑 蓝田 周至",
    "长沙:芙蓉 天心 岳麓 开福 雨花 望城 长沙 浏阳 宁乡",
    "郑州:中原 二七 管城回族 金水 上街 惠济 中牟 巩义 荥阳 新密 新郑 登封",
    "济南:历下 市中 槐荫 天桥 历城 长清 章丘 济阳 莱芜 钢城 平阴 商河",
    "青岛:市南 市北 黄岛 崂山 李沧 城阳 即墨 胶州 平度 莱西",
    "沈阳:和平 沈河 大东 皇姑 铁西 苏家屯 浑南 沈北新 于洪 辽中 康平 法库 新民",
    "大连:中山 西岗 沙河口 甘井子 旅顺口 金州 普兰店 长海 瓦房店 庄河",
    "哈尔滨:道里 南岗 道外 平房 松北 香坊 呼兰 阿城 双城",
    "长春:南关 宽城 朝阳 二道 绿园 双阳 九台",
    "合肥:瑶海 庐阳 蜀山 包河 长丰 肥东 肥西 庐江 巢湖",
    "福州:鼓楼 台江 仓山 马尾 晋安 长乐 闽侯 连江 罗源 闽清 永泰 福清",
    "厦门:思明 海沧 湖里 集美 同安 翔安",
    "南昌:东湖 西湖 青云谱 青山湖 新建 红谷滩 南昌 安义 进贤",
    "昆明:五华 盘龙 官渡 西山 东川 呈贡 晋宁 安宁",
    "贵阳:南明 云岩 花溪 乌当 白云 观山湖 开阳 息烽 修文 清镇",
    "南宁:兴宁 青秀 江南 西乡塘 良庆 邕宁 武鸣",
    "石家庄:长安 桥西 新华 井陉矿 裕华 藁城 鹿泉 栾城",
    "太原:小店 迎泽 杏花岭 尖草坪 万柏林 晋源 清徐 阳曲 娄烦 古交",
    "宁波:海曙 江北 北仑 镇海 鄞州 奉化 余姚 慈溪 象山 宁海",
    "无锡:锡山 惠山 滨湖 梁溪 新吴 江阴 宜兴",
    "佛山:禅城 南海 顺德 三水 高明",
    "兰州:城关 七里河 西固 安宁 红古", "乌鲁木齐:天山 沙依巴克 新市 水磨沟 头屯河 达坂城 米东",
    "海口:秀英 龙华 琼山 美兰", "呼和浩特:新城 回民 玉泉 赛罕",
};

const QHash<QString, QStringList>& districtsByCity()
{
    static const QHash<QString, QStringList> table = [] {
        QHash<QString, QStringList> t;
        for (const char* row : kDistricts) {
            const QString s = QString::fromUtf8(row);
            t.insert(s.section(QLatin1Char(':'), 0, 0), s.section(QLatin1Char(':'), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
        return t;
    }();
    return table;
}

// How many characters two texts of one length differ in.
int differences(QStringView a, QStringView b)
{
    int n = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        n += a[i] == b[i] ? 0 : 1;
    return n;
}

// The provinces, all of them: one read with a character wrong is mended when it is one
// character from a single province ("浙汀省" → 浙江省).
QString provinceMended(const QString& text)
{
    static const QStringList provinces = QStringLiteral("河北 山西 辽宁 吉林 黑龙江 江苏 浙江 安徽 福建 江西 山东 河南 湖北 "
                                                        "湖南 广东 海南 四川 贵州 云南 陕西 甘肃 青海 台湾")
                                             .split(QLatin1Char(' '));
    const qsizetype end = text.indexOf(QStringLiteral("省"));
    if (end < 2)
        return text;
    QString found;
    int matches = 0;
    for (const QString& p : provinces) {
        if (p.size() > end)
            continue;
        const int n = differences(QStringView(text).mid(end - p.size(), p.size()), p);
        if (n == 0)
            return text;
        if (n == 1 && (end == p.size() || !isHan(text[end - p.size() - 1]))) {
            found = p;
            ++matches;
        }
    }
    return matches == 1 ? QString(text).replace(end - found.size(), found.size(), found) : text;
}

QString districtMended(const QString& text)
{
    const auto& table = districtsByCity();
    for (auto it = table.begin(); it != table.end(); ++it) {
        const qsizetype city = text.indexOf(it.key() + QStringLiteral("市"));
        if (city < 0)
            continue;
        const qsizetype at = city + it.key().size() + 1;
        QString found;
        int matches = 0;
        for (const QString& d : it.value()) {
            if (at + d.size() >= text.size() || !QStringLiteral("区县").contains(text[at + d.size()]))
                continue;
            const int n = differences(QStringView(text).mid(at, d.size()), d);
            if (n == 0)
                return text;
            if (n == 1 && d.size() >= 2) {
                found = d;
                ++matches;
            }
        }
        if (matches == 1)
            return QString(text).replace(at, found.size(), found);
        return text;
    }
    return text;
}

} // namespace

AddressParts splitPostcode(const QString& text)
{
    static const QRegularExpression tail(QStringLiteral("[\\s(]*(\\d{6})\\)?$"));
    const auto m = tail.match(text);
    if (!m.hasMatch())
        return {text, {}};
    return {text.left(m.capturedStart()), m.captured(1)};
}

QString mendedAddress(const QString& text)
{
    // A bracket, bar or letter read for the 1 of a number before 号, 层, 楼, 室 …
    static const QRegularExpression one(QStringLiteral("(?<=\\d)\\s*[\\]\\[|lI!](?=\\d*\\s*[号层楼室栋座幢])"));
    QString out = QString(text).replace(one, QStringLiteral("1"));
    static const QRegularExpression spaced(QStringLiteral("(?<=\\d)\\s+(?=[号层楼室栋座幢])"));
    out.remove(spaced);
    return districtMended(provinceMended(out));
}

bool isAddress(const QString& text)
{
    static const QRegularExpression han(
        QStringLiteral("(省|市|区|县|镇|路|街|道|巷|弄|号|楼|室|层|大厦|广场|园区|大道)"));
    static const QRegularExpression latin(
        QStringLiteral("\\b(Road|Rd\\.?|Street|St\\.|Avenue|Ave\\.?|Floor|Building|Room|District|Province|"
                       "Tower|Plaza|Park|Lane)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    if (hanCount(text) >= 5)
        return han.globalMatch(text).hasNext() && [&] {
            int n = 0;
            auto it = han.globalMatch(text);
            while (it.hasNext()) {
                it.next();
                ++n;
            }
            return n >= 2;
        }();
    return latin.match(text).hasMatch() && text.contains(QRegularExpression(QStringLiteral("\\d")));
}

} // namespace ostrel::scan
