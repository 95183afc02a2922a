#pragma once
#include <QRectF>
#include <QString>
#include <QWidget>

#include <vector>

namespace ostrel {

// One value of a chart: a bar, or a piece of the ring.
struct ChartValue {
    QString label;      // under or beside its bar, in the ring's legend
    QString tip;        // the tooltip's text; the label and value when empty
    double value = 0;
    double previous = -1; // the same bar of the period before, drawn as an outline; < 0: none
};

// A chart drawn with QPainter: columns (months), horizontal bars (cards, provinces) or a
// ring (categories). Bars are laid on whole pixels, so they stay sharp at any scale; a label
// that does not fit is shortened with "…" or, under columns, only every n-th is written.
// The value shows on hover; a click on a bar says which. Without any value above zero it
// says "没有拜访记录" instead of drawing empty axes.
class VisitChart : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Columns, Bars, Ring };

    VisitChart(Kind kind, const QString& title, QWidget* parent = nullptr);

    void setValues(std::vector<ChartValue> values);
    void setTitle(const QString& title);
    const std::vector<ChartValue>& values() const { return m_values; }
    bool isEmpty() const;
    // The value under a point of the widget, or -1.
    int valueAt(const QPointF& point) const;

    // What the last painting wrote: each text with the rectangle it was given. Tests check
    // that every label fits its rectangle and the widget, and that none overlaps another.
    struct DrawnText {
        QString text;
        QRectF box;   // the room it was given
        QRectF drawn; // where its glyphs went
    };
    const std::vector<DrawnText>& drawnTexts() const { return m_drawn; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void valueClicked(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Where everything goes at the present size; painting and hit tests share it.
    struct Layout {
        QRectF plot;                 // the axes' inside (columns, bars) or the ring's square
        std::vector<QRectF> shapes;  // per value: its bar, or the ring piece's legend line
        std::vector<QRectF> labels;  // per value: where its label goes
        double top = 1;              // the value axis' highest mark
        int labelStep = 1;           // columns: every n-th label is written
    };
    Layout layout() const;
    void paintColumns(QPainter& p, const Layout& l);
    void paintBars(QPainter& p, const Layout& l);
    void paintRing(QPainter& p, const Layout& l);
    void paintValueAxis(QPainter& p, const Layout& l, bool vertical);
    // Writes text into box (shortened with "…" when too long) and notes it.
    void drawText(QPainter& p, const QRectF& box, int flags, const QString& text);
    QString tipOf(int index) const;

    Kind m_kind;
    QString m_title;
    std::vector<ChartValue> m_values;
    int m_hover = -1;
    std::vector<DrawnText> m_drawn;
};

// The chart colours: one accent for bars, a palette for the ring.
QColor chartColor(int index);

} // namespace ostrel
