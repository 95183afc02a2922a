#include "visit_chart.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

constexpr double kMargin = 8;
const QColor kBar(47, 111, 222);
const QColor kBarHover(91, 143, 240);
const QColor kPrevious(120, 120, 120, 150);
const QColor kGrid(0, 0, 0, 28);
const QString kNoVisits = QStringLiteral("没有拜访记录");

// The smallest of 1, 2, 2.5, 5 times a power of ten at or above value: the axis' top mark.
double niceCeil(double value)
{
    if (value <= 1)
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (step * power >= value)
            return std::ceil(step * power);
    return value;
}

QString numberText(double value)
{
    return QString::number(static_cast<qint64>(std::llround(value)));
}

// A rectangle on whole pixels, so its edges stay sharp at any scale.
QRectF snapped(double left, double top, double right, double bottom)
{
    return QRectF(QPointF(std::round(left), std::round(top)), QPointF(std::round(right), std::round(bottom)));
}

} // namespace

QColor chartColor(int index)
{
    static const QColor palette[] = {{47, 111, 222}, {242, 142, 43}, {89, 161, 79}, {225, 87, 89},  {118, 183, 178},
                                     {237, 201, 72}, {176, 122, 161}, {255, 157, 167}, {156, 117, 95}, {160, 160, 160}};
    return palette[static_cast<size_t>(index) % std::size(palette)];
}

VisitChart::VisitChart(Kind kind, const QString& title, QWidget* parent) : QWidget(parent), m_kind(kind), m_title(title)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QFont chartFont = font();
    if (chartFont.pointSizeF() > 0 && chartFont.pointSizeF() < 9)
        chartFont.setPointSizeF(9); // Chinese text below 9 points is hard to read
    setFont(chartFont);
}

void VisitChart::setValues(std::vector<ChartValue> values)
{
    m_values = std::move(values);
    m_hover = -1;
    setCursor(m_kind != Kind::Ring && !isEmpty() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    update();
}

void VisitChart::setTitle(const QString& title)
{
    m_title = title;
    update();
}

bool VisitChart::isEmpty() const
{
    return std::none_of(m_values.begin(), m_values.end(), [](const ChartValue& v) { return v.value > 0; });
}

QSize VisitChart::sizeHint() const
{
    return {420, 260};
}

QSize VisitChart::minimumSizeHint() const
{
    return {240, 160};
}

VisitChart::Layout VisitChart::layout() const
{
    Layout l;
    const QFontMetricsF fm(font());
    const double line = fm.height();
    QRectF area = QRectF(rect()).adjusted(kMargin, kMargin + line + 6, -kMargin, -kMargin);
    const size_t n = m_values.size();
    if (n == 0 || area.width() < 20 || area.height() < 20)
        return l;
    double top = 0;
    for (const ChartValue& v : m_values)
        top = std::max({top, v.value, v.previous});
    l.top = niceCeil(top);
    if (m_kind == Kind::Columns) {
        const double axis = fm.horizontalAdvance(numberText(l.top)) + 6;
        l.plot = QRectF(area.left() + axis, area.top() + line / 2, area.width() - axis, area.height() - 2 * line - 6 - line / 2);
        const double slot = l.plot.width() / static_cast<double>(n);
        double widest = 0;
        for (const ChartValue& v : m_values)
            for (const QString& part : v.label.split(u'\n'))
                widest = std::max(widest, fm.horizontalAdvance(part) + 4);
        l.labelStep = std::max(1, static_cast<int>(std::ceil(widest / slot)));
        const double barWidth = std::max(1.0, slot * 0.62);
        for (size_t i = 0; i < n; ++i) {
            const double middle = l.plot.left() + slot * (static_cast<double>(i) + 0.5);
            const double height = m_values[i].value / l.top * l.plot.height();
            l.shapes.push_back(snapped(middle - barWidth / 2, l.plot.bottom() - height, middle + barWidth / 2, l.plot.bottom()));
            // Centred under its bar, kept inside the widget at both ends.
            const double half = slot * l.labelStep / 2;
            const double left = std::max(0.0, middle - half);
            const double right = std::min(static_cast<double>(width()), middle + half);
            l.labels.push_back(QRectF(left, l.plot.bottom() + 4, right - left, 2 * line));
        }
    } else if (m_kind == Kind::Bars) {
        double widest = 0;
        for (const ChartValue& v : m_values)
            widest = std::max(widest, fm.horizontalAdvance(v.label) + 8);
        const double labels = std::min(widest, area.width() * 0.4);
        const double valueRoom = fm.horizontalAdvance(numberText(l.top)) + 8;
        l.plot = QRectF(area.left() + labels, area.top(), area.width() - labels - valueRoom, area.height());
        const double row = std::min(l.plot.height() / static_cast<double>(n), line * 2.2);
        const double thickness = std::max(line * 0.7, row * 0.7);
        for (size_t i = 0; i < n; ++i) {
            const double middle = l.plot.top() + row * (static_cast<double>(i) + 0.5);
            const double length = m_values[i].value / l.top * l.plot.width();
            l.shapes.push_back(snapped(l.plot.left(), middle - thickness / 2, l.plot.left() + length, middle + thickness / 2));
            l.labels.push_back(QRectF(area.left(), middle - line / 2, labels - 6, line));
        }
    } else {
        const double side = std::min(area.height(), area.width() * 0.42);
        l.plot = QRectF(area.left(), area.top() + (area.height() - side) / 2, side, side);
        const double legendLeft = l.plot.right() + 12;
        const double rowHeight = std::min(line * 1.5, area.height() / static_cast<double>(n));
        const double legendTop = area.top() + std::max(0.0, (area.height() - rowHeight * static_cast<double>(n)) / 2);
        for (size_t i = 0; i < n; ++i) {
            const QRectF row(legendLeft, legendTop + rowHeight * static_cast<double>(i), area.right() - legendLeft, rowHeight);
            l.shapes.push_back(row);
            l.labels.push_back(row.adjusted(line, (rowHeight - line) / 2, 0, -(rowHeight - line) / 2));
        }
    }
    return l;
}

void VisitChart::drawText(QPainter& p, const QRectF& box, int flags, const QString& text)
{
    const QFontMetricsF fm(p.font());
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        line = fm.elidedText(line, Qt::ElideRight, box.width());
    const QString shown = lines.join(u'\n');
    QRectF drawn;
    p.drawText(box, flags, shown, &drawn);
    m_drawn.push_back({shown, box, drawn});
}

void VisitChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    m_drawn.clear();
    p.setPen(palette().color(QPalette::Text));
    QFont titleFont = font();
    titleFont.setBold(true);
    p.setFont(titleFont);
    drawText(p, QRectF(kMargin, kMargin / 2, width() - 2 * kMargin, QFontMetricsF(titleFont).height() + 4),
             Qt::AlignLeft | Qt::AlignVCenter, m_title);
    p.setFont(font());
    if (isEmpty()) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        drawText(p, QRectF(rect()), Qt::AlignCenter, kNoVisits);
        return;
    }
    const Layout l = layout();
    if (l.shapes.empty())
        return;
    switch (m_kind) {
    case Kind::Columns:
        paintColumns(p, l);
        break;
    case Kind::Bars:
        paintBars(p, l);
        break;
    case Kind::Ring:
        paintRing(p, l);
        break;
    }
}

void VisitChart::paintValueAxis(QPainter& p, const Layout& l, bool vertical)
{
    const QFontMetricsF fm(font());
    for (int mark = 0; mark <= 4; ++mark) {
        const double value = l.top * mark / 4;
        if (mark > 0 && mark < 4 && std::fmod(value, 1.0) != 0)
            continue; // an axis of 1 or 2 visits has no quarter marks
        const bool written = mark > 0; // 0 is the foot of the bars, where the labels are
        p.setPen(kGrid);
        if (vertical) {
            const double y = std::round(l.plot.bottom() - l.plot.height() * mark / 4) + 0.5;
            p.drawLine(QPointF(l.plot.left(), y), QPointF(l.plot.right(), y));
            p.setPen(palette().color(QPalette::Text));
            if (written)
                drawText(p, QRectF(0, y - fm.height() / 2, l.plot.left() - 4, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                         numberText(value));
        } else {
            const double x = std::round(l.plot.left() + l.plot.width() * mark / 4) + 0.5;
            p.drawLine(QPointF(x, l.plot.top()), QPointF(x, l.plot.bottom()));
        }
    }
}

void VisitChart::paintColumns(QPainter& p, const Layout& l)
{
    paintValueAxis(p, l, true);
    for (size_t i = 0; i < m_values.size(); ++i) {
        const QRectF& bar = l.shapes[i];
        p.fillRect(bar, static_cast<int>(i) == m_hover ? kBarHover : kBar);
        if (m_values[i].previous >= 0) {
            // The period before as a faint outline over the same slot.
            const double height = std::round(m_values[i].previous / l.top * l.plot.height());
            QPen pen(kPrevious, 1.5, Qt::DashLine);
            pen.setCosmetic(true);
            p.setPen(pen);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(bar.left() + 0.5, l.plot.bottom() - height + 0.5, bar.width() - 1, height - 1));
        }
        if (static_cast<int>(i) % l.labelStep == 0) {
            p.setPen(palette().color(QPalette::Text));
            drawText(p, l.labels[i], Qt::AlignHCenter | Qt::AlignTop, m_values[i].label);
        }
    }
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(QPointF(l.plot.left(), l.plot.bottom() + 0.5), QPointF(l.plot.right(), l.plot.bottom() + 0.5));
}

void VisitChart::paintBars(QPainter& p, const Layout& l)
{
    paintValueAxis(p, l, false);
    const QFontMetricsF fm(font());
    for (size_t i = 0; i < m_values.size(); ++i) {
        const QRectF& bar = l.shapes[i];
        p.fillRect(bar, static_cast<int>(i) == m_hover ? kBarHover : kBar);
        p.setPen(palette().color(QPalette::Text));
        drawText(p, l.labels[i], Qt::AlignRight | Qt::AlignVCenter, m_values[i].label);
        const QString value = numberText(m_values[i].value);
        drawText(p, QRectF(bar.right() + 4, bar.center().y() - fm.height() / 2, fm.horizontalAdvance(value) + 2, fm.height()),
                 Qt::AlignLeft | Qt::AlignVCenter, value);
    }
}

void VisitChart::paintRing(QPainter& p, const Layout& l)
{
    double total = 0;
    for (const ChartValue& v : m_values)
        total += std::max(0.0, v.value);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = l.plot.adjusted(4, 4, -4, -4);
    const double thickness = outer.width() * 0.19;
    const QRectF inner = outer.adjusted(thickness, thickness, -thickness, -thickness);
    double start = 90;
    const QFontMetricsF fm(font());
    for (size_t i = 0; i < m_values.size(); ++i) {
        const double span = -360.0 * std::max(0.0, m_values[i].value) / total;
        QPainterPath piece;
        piece.arcMoveTo(outer, start);
        piece.arcTo(outer, start, span);
        piece.arcTo(inner, start + span, -span);
        piece.closeSubpath();
        QColor colour = chartColor(static_cast<int>(i));
        if (static_cast<int>(i) == m_hover)
            colour = colour.lighter(120);
        p.fillPath(piece, colour);
        start += span;
        const QRectF& row = l.shapes[i];
        const double box = fm.height() * 0.7;
        p.fillRect(snapped(row.left(), row.center().y() - box / 2, row.left() + box, row.center().y() + box / 2),
                   chartColor(static_cast<int>(i)));
        p.setPen(palette().color(QPalette::Text));
        const QString text = QStringLiteral("%1  %2（%3%）")
                                 .arg(m_values[i].label, numberText(m_values[i].value))
                                 .arg(100.0 * m_values[i].value / total, 0, 'f', 1);
        drawText(p, l.labels[i], Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    p.setPen(palette().color(QPalette::Text));
    QFont totalFont = font();
    totalFont.setBold(true);
    p.setFont(totalFont);
    drawText(p, inner, Qt::AlignCenter, numberText(total));
    p.setFont(font());
}

int VisitChart::valueAt(const QPointF& point) const
{
    if (isEmpty())
        return -1;
    const Layout l = layout();
    for (size_t i = 0; i < l.shapes.size(); ++i) {
        QRectF target = l.shapes[i];
        if (m_kind == Kind::Columns) // the whole slot above the bar counts, so short bars are easy to hit
            target.setTop(l.plot.top());
        else if (m_kind == Kind::Bars)
            target.setRight(std::max(target.right(), l.plot.left() + 8));
        if (target.contains(point))
            return static_cast<int>(i);
    }
    if (m_kind != Kind::Ring)
        return -1;
    const QPointF centre = l.plot.center();
    const double radius = std::hypot(point.x() - centre.x(), point.y() - centre.y());
    const double outer = l.plot.width() / 2 - 4;
    if (radius > outer || radius < outer * 0.62)
        return -1;
    // Clockwise from twelve o'clock, as the pieces are drawn.
    double angle = qRadiansToDegrees(std::atan2(point.x() - centre.x(), centre.y() - point.y()));
    if (angle < 0)
        angle += 360;
    double total = 0;
    for (const ChartValue& v : m_values)
        total += std::max(0.0, v.value);
    double end = 0;
    for (size_t i = 0; i < m_values.size(); ++i) {
        end += 360.0 * std::max(0.0, m_values[i].value) / total;
        if (angle < end)
            return static_cast<int>(i);
    }
    return -1;
}

QString VisitChart::tipOf(int index) const
{
    const ChartValue& v = m_values[static_cast<size_t>(index)];
    if (!v.tip.isEmpty())
        return v.tip;
    QString tip = QString(v.label).replace(u'\n', u' ') + QStringLiteral("：") + numberText(v.value) + QStringLiteral(" 次");
    if (v.previous >= 0)
        tip += QStringLiteral("（上期 %1 次）").arg(numberText(v.previous));
    return tip;
}

bool VisitChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = valueAt(help->pos());
        if (index >= 0)
            QToolTip::showText(help->globalPos(), tipOf(index), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void VisitChart::mouseMoveEvent(QMouseEvent* event)
{
    const int index = valueAt(event->position());
    if (index != m_hover) {
        m_hover = index;
        update();
        // The value follows the pointer from bar to bar, without the tooltip's delay.
        if (index >= 0)
            QToolTip::showText(event->globalPosition().toPoint(), tipOf(index), this);
        else
            QToolTip::hideText();
    }
    QWidget::mouseMoveEvent(event);
}

void VisitChart::mousePressEvent(QMouseEvent* event)
{
    const int index = event->button() == Qt::LeftButton ? valueAt(event->position()) : -1;
    if (index >= 0)
        emit valueClicked(index);
    QWidget::mousePressEvent(event);
}

void VisitChart::leaveEvent(QEvent* event)
{
    if (m_hover >= 0) {
        m_hover = -1;
        update();
    }
    QWidget::leaveEvent(event);
}

} // namespace ostrel
