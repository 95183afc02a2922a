// Drawing and wearing the benchmark's cards.
#include "card_images.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QImageReader>
#include <QPainter>

namespace ostrel::bench {

namespace {

// 90 × 54 mm at 300 DPI.
constexpr int kWidth = 1063;
constexpr int kHeight = 638;
const char* kFonts[] = {"Noto Sans CJK SC", "Noto Serif CJK SC", "WenQuanYi Micro Hei", "AR PL UKai CN"};

bool isContact(const QString& line)
{
    return line.contains(QRegularExpression(QStringLiteral("[:：@\\d]|www")));
}

// Draws text at y in the band [left, right), shrinking the type until it fits; returns the height used.
int put(QPainter& p, const QString& family, int px, const QString& text, int left, int right, int y, Qt::Alignment align)
{
    QFont font(family);
    font.setPixelSize(px);
    while (px > 16 && QFontMetrics(font).horizontalAdvance(text) > right - left) {
        px -= 2;
        font.setPixelSize(px);
    }
    p.setFont(font);
    const QRect area(left, y, right - left, int(px * 1.4));
    p.drawText(area, int(align | Qt::AlignVCenter), text);
    return area.height();
}

} // namespace

QImage CardImageGenerator::draw(const QStringList& lines, const QString& name, const QString& english, int layout)
{
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    const QColor paper = chance(0.5) ? QColor(Qt::white) : QColor::fromHsv(pick(360), 10 + pick(25), 245);
    img.fill(paper);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QString family = QString::fromLatin1(kFonts[pick(std::size(kFonts))]);
    const QColor accent = QColor::fromHsv(pick(360), 160 + pick(80), 120 + pick(80));
    // A band of colour and a round logo, as most cards have.
    p.fillRect(QRect(0, kHeight - 24, kWidth, 24), accent);
    p.setBrush(accent);
    p.setPen(Qt::NoPen);
    const bool logoLeft = layout != 1;
    const QRect logo = logoLeft ? QRect(40, 40, 90, 90) : QRect(kWidth - 130, 40, 90, 90);
    p.drawEllipse(logo);
    p.setPen(QColor(40, 40, 40));
    QStringList header, contacts;
    for (const auto& l : lines)
        (isContact(l) ? contacts : header) << l;
    const int textLeft = layout == 1 ? 60 : 160;
    const int right = layout == 1 ? kWidth - 150 : kWidth - 40;
    const Qt::Alignment align = layout == 1 ? Qt::AlignHCenter : Qt::AlignLeft;
    int y = 36;
    if (layout == 2) { // two columns: the person left, the contacts right, the address below both
        int ly = 150;
        ly += put(p, family, 60 + pick(12), name, 40, 480, ly, Qt::AlignLeft) + 6;
        for (const auto& h : header)
            ly += put(p, family, 28, h, 40, 500, ly, Qt::AlignLeft) + 4;
        int ry = 60;
        for (const auto& c : contacts)
            if (!c.contains(QStringLiteral("地址")))
                ry += put(p, family, 26, c, 520, kWidth - 30, ry, Qt::AlignLeft) + 8;
        for (const auto& c : contacts)
            if (c.contains(QStringLiteral("地址")))
                put(p, family, 26, c, 40, kWidth - 40, std::max(ly, ry) + 10, Qt::AlignLeft);
        return img;
    }
    y += put(p, family, 60 + pick(12), name, textLeft, right, y, align) + 2;
    if (layout == 3)
        y += put(p, QStringLiteral("DejaVu Sans"), 26, english, textLeft, right, y, align);
    for (const auto& h : header)
        y += put(p, family, h.size() > 12 ? 34 : 28, h, textLeft, right, y, align) + 2;
    const int step = std::max(0, (kHeight - 40 - y - int(contacts.size()) * 36) / std::max<int>(1, contacts.size()));
    for (const auto& c : contacts)
        y += put(p, family, 26, c, 60, kWidth - 40, y + step / 2, align) + step;
    return img;
}

// A flatbed scan, a phone photo (perspective, skew, uneven light, blur, noise, JPEG 70) or
// either turned by a quarter or half turn.
QImage CardImageGenerator::worn(const QImage& card, QString& how)
{
    QImage out = card;
    if (chance(0.5)) {
        how = QStringLiteral("photo");
        QImage canvas(int(kWidth * 1.3), int(kHeight * 1.4), QImage::Format_RGB32);
        canvas.fill(QColor::fromHsv(pick(360), 30, 60 + pick(80)));
        QPainter p(&canvas);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const double j = kWidth * 0.03;
        QPolygonF quad;
        quad << QPointF(uniform(0, j), uniform(0, j)) << QPointF(kWidth - uniform(0, j), uniform(0, j))
             << QPointF(kWidth - uniform(0, j), kHeight - uniform(0, j)) << QPointF(uniform(0, j), kHeight - uniform(0, j));
        QTransform perspective;
        QTransform::quadToQuad(QPolygonF(QRectF(0, 0, kWidth, kHeight)), quad, perspective);
        QTransform t;
        t.translate(canvas.width() / 2.0, canvas.height() / 2.0).rotate(uniform(-8, 8)).translate(-kWidth / 2.0, -kHeight / 2.0);
        p.setTransform(perspective * t);
        p.drawImage(0, 0, card);
        p.resetTransform();
        // Light from one side.
        QLinearGradient light(0, 0, canvas.width(), canvas.height() * uniform(-0.5, 0.5));
        light.setColorAt(0, QColor(0, 0, 0, 0));
        light.setColorAt(1, QColor(0, 0, 0, 60 + pick(60)));
        p.fillRect(canvas.rect(), light);
        p.end();
        const double blur = uniform(0.55, 0.8);
        out = canvas.scaled(int(canvas.width() * blur), int(canvas.height() * blur), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .scaled(canvas.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else {
        how = QStringLiteral("flatbed");
    }
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int n = pick(17) - 8;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255), std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    if (chance(0.2)) {
        const int turn = 90 * (1 + pick(3));
        how += QStringLiteral("+%1°").arg(turn);
        out = out.transformed(QTransform().rotate(turn));
    }
    if (how.startsWith(QLatin1String("photo"))) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        out.save(&buffer, "JPEG", 70);
        out = QImage::fromData(jpeg, "JPEG");
    }
    return out;
}

CardImage CardImageGenerator::next()
{
    CardImage card;
    const int layout = pick(4);
    QStringList lines;
    QString name, english;
    card.truth = fields(lines, name, english, layout == 3);
    QString how;
    card.image = worn(draw(lines, name, english, layout), how);
    card.layout = QStringList{QStringLiteral("left"), QStringLiteral("centred"), QStringLiteral("two-column"),
                              QStringLiteral("bilingual")}[layout] + ' ' + how;
    return card;
}

} // namespace ostrel::bench
