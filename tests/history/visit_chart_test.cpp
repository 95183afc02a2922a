#include "history/visit_chart.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSet>

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

std::vector<ChartValue> months(int count)
{
    std::vector<ChartValue> values;
    for (int i = 0; i < count; ++i) {
        const int month = i % 12 + 1;
        QString label = QStringLiteral("%1月").arg(month);
        if (i == 0 || month == 1)
            label += QStringLiteral("\n%1").arg(2024 + i / 12);
        values.push_back({label, {}, static_cast<double>((i * 37) % 23 + 1), static_cast<double>((i * 11) % 17)});
    }
    return values;
}

std::vector<ChartValue> named(std::initializer_list<const char*> labels)
{
    std::vector<ChartValue> values;
    double value = 120;
    for (const char* label : labels)
        values.push_back({QString::fromUtf8(label), {}, value /= 1.4});
    return values;
}

// The chart painted offscreen at a scale, as a screen of that scale shows it.
QImage paint(VisitChart& chart, qreal scale)
{
    QImage image(chart.size() * scale, QImage::Format_ARGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    chart.render(&painter);
    return image;
}

int colours(const QImage& image)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            seen.insert(image.pixel(x, y));
    return static_cast<int>(seen.size());
}

TEST(VisitChartPainting, EveryChartDrawsItsValuesWithLabelsThatFit)
{
    const struct {
        const char* what;
        VisitChart::Kind kind;
        std::vector<ChartValue> values;
        QSize size;
    } cases[] = {
        {"12 months", VisitChart::Kind::Columns, months(12), {520, 260}},
        {"36 months in a narrow chart: every n-th label", VisitChart::Kind::Columns, months(36), {300, 220}},
        {"the most visited cards, one name far too long", VisitChart::Kind::Bars,
         named({"王小明", "欧阳娜娜", "新疆维吾尔自治区乌鲁木齐市某某某国际贸易有限公司的联系人", "李四", "O'Brien", "张三丰",
                "赵六", "钱七", "孙八", "周九"}),
         {360, 260}},
        {"provinces", VisitChart::Kind::Bars, named({"北京", "广西壮族自治区", "上海", "其它"}), {300, 180}},
        {"categories as a ring", VisitChart::Kind::Ring, named({"客户", "朋友", "同事", "供应商及合作伙伴", "未填"}), {360, 220}},
    };
    for (const auto& c : cases) {
        for (const qreal scale : {1.0, 1.5, 2.0}) {
            SCOPED_TRACE(testing::Message() << c.what << " at " << scale);
            VisitChart chart(c.kind, QStringLiteral("标题"));
            chart.resize(c.size);
            chart.setValues(c.values);
            const QImage image = paint(chart, scale);
            const QFontMetricsF fm(chart.font());
            EXPECT_GE(colours(image), 4) << "blank";
            const QRectF bounds(QPointF(0, 0), QSizeF(c.size));
            const auto& texts = chart.drawnTexts();
            ASSERT_GT(texts.size(), c.values.size() / 4);
            for (size_t i = 0; i < texts.size(); ++i) {
                const QRectF& drawn = texts[i].drawn;
                EXPECT_TRUE(bounds.adjusted(-0.5, -0.5, 0.5, 0.5).contains(drawn)) << texts[i].text.toStdString();
                EXPECT_LE(drawn.width(), texts[i].box.width() + 0.5) << texts[i].text.toStdString();
                for (const QString& line : texts[i].text.split(u'\n'))
                    EXPECT_LE(fm.horizontalAdvance(line), texts[i].box.width() + 0.5) << line.toStdString();
                for (size_t j = i + 1; j < texts.size(); ++j) {
                    const QRectF both = drawn.intersected(texts[j].drawn);
                    // The ring's total sits inside the ring, the only text over another's box.
                    if (c.kind != VisitChart::Kind::Ring) {
                        EXPECT_TRUE(both.width() < 1 || both.height() < 1)
                            << texts[i].text.toStdString() << " over " << texts[j].text.toStdString();
                    }
                }
            }
        }
    }
}

TEST(VisitChartPainting, WithoutVisitsItSaysSoAndEveryBarIsFoundUnderThePointer)
{
    VisitChart empty(VisitChart::Kind::Columns, QStringLiteral("每月拜访次数"));
    empty.resize(400, 240);
    std::vector<ChartValue> zero = months(12);
    for (ChartValue& v : zero)
        v.value = v.previous = 0;
    empty.setValues(zero);
    paint(empty, 1);
    ASSERT_EQ(empty.drawnTexts().size(), 2u);
    EXPECT_EQ(empty.drawnTexts()[1].text, QStringLiteral("没有拜访记录"));
    EXPECT_EQ(empty.valueAt({200, 120}), -1);

    for (const VisitChart::Kind kind : {VisitChart::Kind::Columns, VisitChart::Kind::Bars}) {
        VisitChart chart(kind, QStringLiteral("标题"));
        chart.resize(400, 240);
        chart.setValues(named({"甲", "乙", "丙", "丁"}));
        paint(chart, 1);
        // A label's place belongs to its value: the bars are in order along the axis.
        std::vector<int> found;
        for (const auto& text : chart.drawnTexts()) {
            const QPointF centre = text.box.center();
            for (int i = 0; i < 4; ++i)
                if (text.text == chart.values()[static_cast<size_t>(i)].label) {
                    const QPointF probe = kind == VisitChart::Kind::Columns ? QPointF(centre.x(), 100)
                                                                           : QPointF(text.box.right() + 10, centre.y());
                    found.push_back(chart.valueAt(probe));
                }
        }
        EXPECT_EQ(found, (std::vector<int>{0, 1, 2, 3}));
    }
}

} // namespace
