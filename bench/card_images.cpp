#include "card_images.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>

namespace ostrel::bench {

namespace {

struct Word {
    const char* han;
    const char* pinyin;
};

const Word kSurnames[] = {{"张", "zhang"}, {"王", "wang"}, {"李", "li"}, {"刘", "liu"}, {"陈", "chen"},
                          {"杨", "yang"}, {"黄", "huang"}, {"赵", "zhao"}, {"周", "zhou"}, {"吴", "wu"},
                          {"徐", "xu"}, {"孙", "sun"}, {"马", "ma"}, {"胡", "hu"}, {"郭", "guo"},
                          {"林", "lin"}, {"何", "he"}, {"高", "gao"}, {"罗", "luo"}, {"郑", "zheng"},
                          {"梁", "liang"}, {"谢", "xie"}, {"宋", "song"}, {"唐", "tang"}, {"韩", "han"},
                          {"欧阳", "ouyang"}, {"冯", "feng"}, {"邓", "deng"}, {"曹", "cao"}, {"彭", "peng"}};
const Word kGiven[] = {{"伟", "wei"}, {"芳", "fang"}, {"娜", "na"}, {"敏", "min"}, {"静", "jing"},
                       {"磊", "lei"}, {"洋", "yang"}, {"勇", "yong"}, {"艳", "yan"}, {"杰", "jie"},
                       {"涛", "tao"}, {"明", "ming"}, {"超", "chao"}, {"霞", "xia"}, {"平", "ping"},
                       {"刚", "gang"}, {"建华", "jianhua"}, {"志强", "zhiqiang"}, {"秀英", "xiuying"},
                       {"晓东", "xiaodong"}, {"海燕", "haiyan"}, {"文博", "wenbo"}, {"子涵", "zihan"},
                       {"雨轩", "yuxuan"}, {"国庆", "guoqing"}, {"丽娟", "lijuan"}};
const Word kBrands[] = {{"星辰", "xingchen"}, {"华信", "huaxin"}, {"云帆", "yunfan"}, {"恒通", "hengtong"},
                        {"博远", "boyuan"}, {"中科", "zhongke"}, {"天宇", "tianyu"}, {"金石", "jinshi"},
                        {"海川", "haichuan"}, {"瑞达", "ruida"}, {"新锐", "xinrui"}, {"长城", "changcheng"}};
const char* kIndustries[] = {"科技", "信息技术", "电子", "贸易", "建设工程", "文化传媒", "生物医药", "物流", "咨询"};
const char* kSuffixes[] = {"有限公司", "股份有限公司", "集团有限公司", "有限责任公司"};
const char* kDepartments[] = {"市场部", "销售部", "技术部", "财务部", "人力资源部", "研发中心", "客户服务中心", "采购部"};
const char* kTitles[] = {"总经理", "副总经理", "销售经理", "技术总监", "高级工程师", "项目经理", "市场总监", "主任", "财务主管", "董事长"};
const char* kTitlesEn[] = {"General Manager", "Deputy General Manager", "Sales Manager", "Technical Director",
                           "Senior Engineer", "Project Manager", "Marketing Director", "Director",
                           "Finance Supervisor", "Chairman"};
struct City {
    const char* han;
    const char* province;
    const char* area;
    const char* postcode;
    const char* district;
};
const City kCities[] = {{"北京", "北京市", "010", "100080", "海淀区"}, {"上海", "上海市", "021", "200120", "浦东新区"},
                        {"广州", "广东省广州市", "020", "510620", "天河区"}, {"深圳", "广东省深圳市", "0755", "518057", "南山区"},
                        {"杭州", "浙江省杭州市", "0571", "310012", "西湖区"}, {"成都", "四川省成都市", "028", "610041", "武侯区"},
                        {"南京", "江苏省南京市", "025", "210008", "鼓楼区"}, {"武汉", "湖北省武汉市", "027", "430074", "洪山区"}};
const char* kStreets[] = {"中关村大街", "世纪大道", "体育西路", "科技园南路", "文三路", "天府大道", "中山路", "珞喻路"};

QString u(const char* s) { return QString::fromUtf8(s); }

} // namespace

QString CardImageGenerator::digits(int n)
{
    QString s;
    for (int i = 0; i < n; ++i)
        s += QChar('0' + pick(10));
    return s;
}

// The card's values, and the printed lines (with their labels) in the order drawn.
QMap<QString, QString> CardImageGenerator::fields(QStringList& lines, QString& name, QString& english, bool bilingual)
{
    QMap<QString, QString> t;
    const Word& sur = kSurnames[pick(std::size(kSurnames))];
    const Word& giv = kGiven[pick(std::size(kGiven))];
    name = u(sur.han) + u(giv.han);
    english = QString::fromLatin1(sur.pinyin).left(1).toUpper() + QString::fromLatin1(sur.pinyin).mid(1) + ' '
              + QString::fromLatin1(giv.pinyin).left(1).toUpper() + QString::fromLatin1(giv.pinyin).mid(1);
    const City& city = kCities[pick(std::size(kCities))];
    const Word& brand = kBrands[pick(std::size(kBrands))];
    t["BName"] = name;
    t["DName"] = u(city.han) + u(brand.han) + u(kIndustries[pick(std::size(kIndustries))]) + u(kSuffixes[pick(std::size(kSuffixes))]);
    const int title = pick(std::size(kTitles));
    t["DJob"] = u(kTitles[title]);
    lines << t["DName"];
    if (chance(0.5)) {
        t["DPart"] = u(kDepartments[pick(std::size(kDepartments))]);
        lines << t["DPart"];
    }
    lines << t["DJob"];
    if (bilingual)
        lines << QString::fromLatin1(kTitlesEn[title]);
    const QString mobile = QStringLiteral("1") + QChar('3' + pick(7)) + digits(9);
    t["BMob"] = mobile;
    const QString mobileShown = std::array{mobile, mobile.left(3) + ' ' + mobile.mid(3, 4) + ' ' + mobile.mid(7),
                                           mobile.left(3) + '-' + mobile.mid(3, 4) + '-' + mobile.mid(7),
                                           "+86 " + mobile}[pick(4)];
    lines << std::array{u("手机："), u("M: "), u("Mobile: "), u("移动电话：")}[pick(4)] + mobileShown;
    const QString area = u(city.area);
    const QString local = QString::fromLatin1(area.size() == 3 ? "8" : "") + digits(7);
    t["DPho"] = area + '-' + local;
    const QString phoneShown = chance(0.7) ? area + '-' + local : "+86 " + area.mid(1) + ' ' + local;
    if (chance(0.4)) {
        t["DFax"] = area + '-' + local.left(local.size() - 1) + QChar('0' + (local.back().digitValue() + 1) % 10);
        lines << (chance(0.5) ? u("电话：") + phoneShown + u("  传真：") + t["DFax"]
                              : u("Tel: ") + phoneShown + u("  Fax: ") + t["DFax"]);
    } else {
        lines << std::array{u("电话："), u("T: "), u("Tel: ")}[pick(3)] + phoneShown;
    }
    const QString domain = QString::fromLatin1(brand.pinyin) + (chance(0.5) ? ".com" : ".com.cn");
    t["BMail"] = QString::fromLatin1(giv.pinyin) + '.' + QString::fromLatin1(sur.pinyin) + '@' + domain;
    lines << std::array{u("邮箱："), u("E-mail: "), u("E: ")}[pick(3)] + t["BMail"];
    if (chance(0.6)) {
        t["DWWW"] = "www." + domain;
        lines << (chance(0.5) ? u("网址：") : QString()) + t["DWWW"];
    }
    t["DAdd"] = u(city.province) + u(city.district) + u(kStreets[pick(std::size(kStreets))])
                + QString::number(1 + pick(300)) + u("号") + (chance(0.5) ? QString::number(2 + pick(20)) + u("层") : QString());
    t["DPos"] = u(city.postcode);
    lines << (chance(0.5) ? u("地址：") + t["DAdd"] + u("  邮编：") + t["DPos"] : u("地址：") + t["DAdd"] + ' ' + t["DPos"]);
    if (chance(0.3)) {
        t["BQQ"] = QString::number(10000 + pick(90000)) + digits(4);
        lines << u("QQ：") + t["BQQ"];
    }
    return t;
}

} // namespace ostrel::bench
