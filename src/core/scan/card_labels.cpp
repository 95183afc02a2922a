#include "core/scan/card_labels.h"

#include <QHash>
#include <QRegularExpression>

namespace ostrel::scan {

namespace {

// A colon after a Chinese label is often read as a semicolon or ">". Longer labels first: at one position the first alternative that matches wins.
const QRegularExpression kLabel(
    QStringLiteral(
        "(移动电话|手机|直线电话|直线|直拨|固定电话|办公电话|电话|座机|总机|传真|电子邮箱|电子邮件|邮箱|电邮|"
        "网址|网站|主页|地址|邮政编码|邮编|阿里旺旺|旺旺|微信|QQ|传\\p{Han}(?=\\s*[:：;；]))\\s*(?:[:：;；>]\\s*|(?=[\\d+(A-Za-z]))"
        "|(?<![A-Za-z])(Mobile|Mob|Cell|Tel|Phone|Direct|Fax|E-?mail|Website|Web|URL|Address|Addr|Add|"
        "P\\.\\s?C\\.?|Post\\s?code|Zip|WeChat|MSN)\\.?(?:\\s*[:：]\\s*|\\s+(?=[\\d+(]))"
        "|(?<![A-Za-z])([MTFEWA])\\s*[:：]\\s*"
        // A postcode's label ending the address line, its number wrapped onto the next.
        "|(邮编|邮政编码)$"),
    QRegularExpression::CaseInsensitiveOption);

LabelKind kindOf(QString label)
{
    static const QHash<QString, LabelKind> kinds = {
        {QStringLiteral("移动电话"), LabelKind::Mobile}, {QStringLiteral("手机"), LabelKind::Mobile},
        {QStringLiteral("mobile"), LabelKind::Mobile}, {QStringLiteral("mob"), LabelKind::Mobile},
        {QStringLiteral("cell"), LabelKind::Mobile}, {QStringLiteral("m"), LabelKind::Mobile},
        {QStringLiteral("直线电话"), LabelKind::Direct}, {QStringLiteral("直线"), LabelKind::Direct},
        {QStringLiteral("直拨"), LabelKind::Direct}, {QStringLiteral("固定电话"), LabelKind::Direct},
        {QStringLiteral("direct"), LabelKind::Direct},
        {QStringLiteral("电话"), LabelKind::Phone}, {QStringLiteral("办公电话"), LabelKind::Phone},
        {QStringLiteral("座机"), LabelKind::Phone}, {QStringLiteral("总机"), LabelKind::Phone},
        {QStringLiteral("tel"), LabelKind::Phone}, {QStringLiteral("phone"), LabelKind::Phone},
        {QStringLiteral("t"), LabelKind::Phone},
        {QStringLiteral("传真"), LabelKind::Fax}, {QStringLiteral("fax"), LabelKind::Fax},
        {QStringLiteral("f"), LabelKind::Fax},
        {QStringLiteral("电子邮箱"), LabelKind::Mail}, {QStringLiteral("电子邮件"), LabelKind::Mail},
        {QStringLiteral("邮箱"), LabelKind::Mail}, {QStringLiteral("电邮"), LabelKind::Mail},
        {QStringLiteral("email"), LabelKind::Mail}, {QStringLiteral("e"), LabelKind::Mail},
        {QStringLiteral("网址"), LabelKind::Web}, {QStringLiteral("网站"), LabelKind::Web},
        {QStringLiteral("主页"), LabelKind::Web}, {QStringLiteral("website"), LabelKind::Web},
        {QStringLiteral("web"), LabelKind::Web}, {QStringLiteral("url"), LabelKind::Web},
        {QStringLiteral("w"), LabelKind::Web},
        {QStringLiteral("地址"), LabelKind::Address}, {QStringLiteral("address"), LabelKind::Address},
        {QStringLiteral("addr"), LabelKind::Address}, {QStringLiteral("add"), LabelKind::Address},
        {QStringLiteral("a"), LabelKind::Address},
        {QStringLiteral("邮政编码"), LabelKind::Postcode}, {QStringLiteral("邮编"), LabelKind::Postcode},
        {QStringLiteral("pc"), LabelKind::Postcode}, {QStringLiteral("postcode"), LabelKind::Postcode},
        {QStringLiteral("zip"), LabelKind::Postcode},
        {QStringLiteral("qq"), LabelKind::QQ}, {QStringLiteral("微信"), LabelKind::WeChat},
        {QStringLiteral("wechat"), LabelKind::WeChat}, {QStringLiteral("msn"), LabelKind::MSN},
        {QStringLiteral("阿里旺旺"), LabelKind::WangWang}, {QStringLiteral("旺旺"), LabelKind::WangWang},
    };
    // 传真 with its second character misread.
    if (label.startsWith(QStringLiteral("传")))
        return LabelKind::Fax;
    label = label.toLower();
    label.remove(QRegularExpression(QStringLiteral("[\\s.\\-]")));
    return kinds.value(label, LabelKind::None);
}

} // namespace

std::vector<Segment> segmentsOf(const QString& text, const RecognisedLine* line)
{
    std::vector<Segment> segments;
    Segment current{QString(), LabelKind::None, QString(), line};
    qsizetype from = 0;
    auto it = kLabel.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        QString label = m.captured(1) + m.captured(2) + m.captured(3) + m.captured(4);
        const LabelKind kind = kindOf(label);
        if (kind == LabelKind::None)
            continue;
        current.text = text.mid(from, m.capturedStart() - from).trimmed();
        if (!current.text.isEmpty() || current.label != LabelKind::None)
            segments.push_back(current);
        current = Segment{QString(), kind, label.trimmed(), line};
        from = m.capturedEnd();
    }
    current.text = text.mid(from).trimmed();
    if (!current.text.isEmpty() || current.label != LabelKind::None)
        segments.push_back(current);
    return segments;
}

} // namespace ostrel::scan
