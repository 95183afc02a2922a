#include "duplicate_cards.h"

#include <QStringList>

#include <random>

namespace ostrel::bench {

namespace {

const QStringList surnames = QString::fromUtf8("王 李 张 刘 陈 杨 黄 赵 吴 周 徐 孙 马 朱 胡 郭 何 高 林 罗 郑 梁 谢 宋 唐 许 韩 冯 邓 曹").split(u' ');
const QStringList given = QString::fromUtf8("伟 芳 娜 敏 静 丽 强 磊 军 洋 勇 艳 杰 娟 涛 明 超 秀 霞 平 刚 桂 英 华 玉 萍 红 建 文 辉 力 鹏 飞 欣 宇 浩 然 凯 晨 雪").split(u' ');
const QStringList places = QString::fromUtf8("北京 上海 深圳 广州 杭州 成都 武汉 南京 天津 西安 苏州 重庆").split(u' ');
const QStringList trades = QString::fromUtf8("华信 东方 中科 恒达 远洋 新星 金桥 博睿 天成 宏图 瑞丰 安泰 鼎盛 汇通 华联 永信").split(u' ');
const QStringList kinds = QString::fromUtf8("科技 贸易 电子 建设 咨询 物流 医药 机械").split(u' ');
const QStringList areaCodes = {u"010"_qs, u"021"_qs, u"0755"_qs, u"020"_qs, u"0571"_qs, u"028"_qs, u"027"_qs, u"025"_qs};
// Names whose traditional form differs, for the planted traditional spellings.
const QStringList simplifiedNames = QString::fromUtf8("陈伟 张丽 刘强 黄华 赵军 吴涛 郑红 谢飞").split(u' ');
const QStringList traditionalNames = QString::fromUtf8("陳偉 張麗 劉強 黃華 趙軍 吳濤 鄭紅 謝飛").split(u' ');

class Maker {
public:
    explicit Maker(unsigned seed) : m_random(seed) {}
    int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    bool chance(double p) { return std::bernoulli_distribution(p)(m_random); }
    QString pick(const QStringList& list) { return list[below(static_cast<int>(list.size()))]; }
    QString digits(int count)
    {
        QString out;
        for (int i = 0; i < count; ++i)
            out += QChar(u'0' + below(10));
        return out;
    }
    QString name() { return pick(surnames) + pick(given) + (chance(0.6) ? pick(given) : QString()); }
    QString mobile() { return u'1' + QString::number(3 + below(7)) + digits(9); }
    QString company() { return pick(places) + pick(trades) + pick(trades) + pick(kinds) + QStringLiteral("有限公司"); }
    QString landline(const QString& area) { return area + u'-' + QString::number(2 + below(8)) + digits(area.size() == 3 ? 7 : 6); }

private:
    std::mt19937 m_random;
};

QString reformattedMobile(Maker& make, const QString& mobile)
{
    switch (make.below(4)) {
    case 0:
        return mobile.left(3) + u'-' + mobile.mid(3, 4) + u'-' + mobile.mid(7);
    case 1:
        return QStringLiteral("+86 ") + mobile.left(3) + u' ' + mobile.mid(3, 4) + u' ' + mobile.mid(7);
    case 2:
        return QStringLiteral("0086") + mobile;
    default:
        return mobile;
    }
}

QString respelledName(Maker& make, const QString& name)
{
    if (const qsizetype known = simplifiedNames.indexOf(name); known >= 0 && make.chance(0.7))
        return traditionalNames[known];
    if (make.chance(0.5))
        return name.left(1) + (make.chance(0.5) ? u" "_qs : u"\u3000"_qs) + name.mid(1);
    return name;
}

QString respelledCompany(Maker& make, const QString& company)
{
    if (company.isEmpty())
        return company;
    QString core = company;
    core.chop(4); // 有限公司
    switch (make.below(3)) {
    case 0:
        return core + QStringLiteral("股份有限公司");
    case 1:
        return core + QStringLiteral("（") + make.pick(places) + QStringLiteral("）有限公司");
    default:
        return company;
    }
}

// Another card of the same person: some values reformatted, some left out.
DuplicateSource duplicateOf(Maker& make, const DuplicateSource& card, qint64 id)
{
    DuplicateSource copy = card;
    copy.id = id;
    copy.name = respelledName(make, card.name);
    copy.company = respelledCompany(make, card.company);
    if (make.chance(0.5))
        copy.mail = card.mail.toUpper();
    if (!card.personalPhones[1].isEmpty())
        copy.personalPhones[1] = make.chance(0.15) ? QString() : reformattedMobile(make, card.personalPhones[1]);
    if (make.chance(0.3))
        copy.mail.clear();
    return copy;
}

} // namespace

DuplicateWorkload duplicateWorkload(int cards, unsigned seed)
{
    Maker make(seed);
    DuplicateWorkload out;
    std::vector<QString> switchboards;
    std::vector<QString> landlines;
    for (int i = 0; i < cards / 20; ++i)
        switchboards.push_back(make.landline(make.pick(areaCodes)));
    int person = 0;
    while (static_cast<int>(out.cards.size()) < cards) {
        DuplicateSource card;
        card.id = static_cast<qint64>(out.cards.size()) + 1;
        card.name = make.chance(0.03) ? make.pick(simplifiedNames) : make.name();
        const int companyNumber = make.below(std::max(1, cards / 20));
        card.company = make.chance(0.9) ? make.company() : QString();
        if (make.chance(0.5))
            card.mail = QStringLiteral("u%1@example%2.cn").arg(person).arg(make.below(50));
        // A landline of its own sometimes has the 7 or 8 digits of one in another city.
        QString own = make.chance(0.3) ? make.landline(make.pick(areaCodes)) : QString();
        // Each number lends its digits once, and a borrowed number lends none: two people
        // never get the same full number.
        const bool borrow = !own.isEmpty() && !landlines.empty() && make.chance(0.2);
        if (borrow) {
            const size_t at = static_cast<size_t>(make.below(static_cast<int>(landlines.size())));
            const QString other = landlines[at];
            landlines[at] = landlines.back();
            landlines.pop_back();
            const QString area = other.left(other.indexOf(u'-'));
            QString elsewhere = make.pick(areaCodes);
            if (elsewhere == area)
                elsewhere = areaCodes[(areaCodes.indexOf(area) + 1) % areaCodes.size()];
            own = elsewhere + other.mid(other.indexOf(u'-'));
        }
        else if (!own.isEmpty())
            landlines.push_back(own);
        card.personalPhones = {own, make.chance(0.85) ? make.mobile() : QString(), QString()};
        card.workPhones = {make.chance(0.5) ? switchboards[static_cast<size_t>(companyNumber) % switchboards.size()] : QString(), QString()};
        out.cards.push_back(card);
        out.person.push_back(person);
        if (make.chance(0.08))
            for (int copies = 1 + make.below(2); copies > 0 && static_cast<int>(out.cards.size()) < cards; --copies) {
                out.cards.push_back(duplicateOf(make, card, static_cast<qint64>(out.cards.size()) + 1));
                out.person.push_back(person);
            }
        ++person;
    }
    return out;
}

} // namespace ostrel::bench
