#pragma once
// A clean business card drawn with Qt, as a 300 DPI flatbed scan of a 90 × 54 mm card gives
// it: the name in large type, then one line per further field.
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QStringList>

namespace ostrel::test {

inline QImage drawnCard(const QString& name, const QStringList& lines)
{
    QImage card(1063, 638, QImage::Format_RGB32);
    card.fill(Qt::white);
    QPainter p(&card);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(64);
    p.setFont(font);
    p.drawText(80, 120, name);
    font.setPixelSize(32);
    p.setFont(font);
    int y = 210;
    for (const QString& line : lines) {
        p.drawText(80, y, line);
        y += 70;
    }
    return card;
}

} // namespace ostrel::test
