#include "core/scan/card_sides.h"

#include <QSet>

#include <algorithm>
#include <cstdlib>

namespace ostrel {

namespace {

constexpr int kNotesField = kCardFieldCount - 1;
const QString kNoteSeparator = QStringLiteral("；");

// A value as both sides may write it: blanks, separators and case aside.
QString bare(const QString& text)
{
    QString out;
    for (const QChar c : text)
        if (c.isLetterOrNumber())
            out += c.toCaseFolded();
    return out;
}

QString caption(int field)
{
    return cardFields()[static_cast<size_t>(field)].captionText().remove(u' ').remove(u'：');
}

// 补充信息 of the front, with what only the back holds added item by item.
class Notes {
public:
    explicit Notes(const ScannedCard& front) : m_front(front.values[kNotesField].trimmed())
    {
        for (const QString& value : front.values)
            if (const QString b = bare(value); !b.isEmpty())
                m_held << b;
        m_confidence = m_front.isEmpty() ? 100 : front.confidence[kNotesField];
    }
    // Whether the front holds the text already, in a field of the same value or inside its notes.
    bool holds(const QString& text) const
    {
        const QString b = bare(text);
        return b.isEmpty() || m_held.contains(b) || bare(m_front + m_added.join(QString())).contains(b);
    }
    void add(const QString& item, const QString& value, int confidence)
    {
        if (holds(value))
            return;
        m_added << item;
        m_confidence = std::min(m_confidence, confidence);
    }
    void into(ScannedCard& card) const
    {
        if (m_added.isEmpty())
            return;
        card.values[kNotesField] = (m_front.isEmpty() ? m_added : QStringList{m_front} + m_added).join(kNoteSeparator);
        card.confidence[kNotesField] = m_confidence;
    }

private:
    QString m_front;
    QSet<QString> m_held;
    QStringList m_added;
    int m_confidence;
};

} // namespace

ScannedCard withBackSide(const ScannedCard& front, const ScannedCard& back)
{
    ScannedCard card = front;
    Notes notes(front);
    for (int i = 0; i < kNotesField; ++i) {
        const auto at = static_cast<size_t>(i);
        const QString value = back.values[at].trimmed();
        if (value.isEmpty())
            continue;
        QString& mine = card.values[at];
        if (bare(mine).contains(bare(value))) {
            // Read alike on both sides: surer than either reading.
            card.confidence[at] = std::max(card.confidence[at], back.confidence[at]);
        } else if (mine.trimmed().isEmpty() && !notes.holds(value)) {
            mine = value;
            card.confidence[at] = back.confidence[at];
        } else {
            notes.add(caption(i) + QStringLiteral("：") + value, value, back.confidence[at]);
        }
    }
    for (const QString& item : back.values[kNotesField].split(kNoteSeparator, Qt::SkipEmptyParts))
        notes.add(item.trimmed(), item, back.confidence[kNotesField]);
    notes.into(card);
    if (!back.rawText.isEmpty())
        card.rawText = front.rawText.isEmpty() ? back.rawText : front.rawText + u'\n' + back.rawText;
    return card;
}

bool showsMarks(const QImage& image)
{
    if (image.isNull())
        return false;
    const QImage page = image.scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                            .convertToFormat(QImage::Format_RGB32);
    // The light across the page, smoothed far beyond the size of any mark: a photo's uneven
    // light, its noise and a scanner's grey are no marks; a logo, a line or a pattern is.
    const QImage light = page.scaled(8, 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .scaled(page.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    constexpr int kInk = 64;
    qsizetype marked = 0;
    for (int y = 0; y < page.height(); ++y) {
        const auto* seen = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        const auto* lit = reinterpret_cast<const QRgb*>(light.constScanLine(y));
        for (int x = 0; x < page.width(); ++x) {
            const int apart = std::max({std::abs(qRed(seen[x]) - qRed(lit[x])), std::abs(qGreen(seen[x]) - qGreen(lit[x])),
                                        std::abs(qBlue(seen[x]) - qBlue(lit[x]))});
            marked += apart > kInk ? 1 : 0;
        }
    }
    // One page in a thousand: a small logo, not a speck of dust.
    return marked * 1000 >= qsizetype(page.width()) * page.height();
}

} // namespace ostrel
