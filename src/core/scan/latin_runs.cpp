#include "core/scan/latin_runs.h"

#include "core/scan/scan_text.h"

#include <QRegularExpression>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>

namespace ostrel::scan {

namespace {

// The characters the recogniser weighed for the symbol the iterator stands at, its reading first.
QStringList choicesHere(const tesseract::ResultIterator& it)
{
    std::unique_ptr<char[]> text(it.GetUTF8Text(tesseract::RIL_SYMBOL));
    QStringList choices{QString::fromUtf8(text.get()).trimmed()};
    tesseract::ChoiceIterator choice(it);
    do {
        const QString other = QString::fromUtf8(choice.GetUTF8Text()).trimmed();
        if (!other.isEmpty() && !choices.contains(other) && choice.Confidence() > 0.01f && choices.size() < 6)
            choices << other;
    } while (choice.Next());
    return choices;
}

// How much less sure the English model may be of a run of Latin words and still be preferred.
constexpr double kLatinPreference = 10;

int latinLetters(const QString& text)
{
    int n = 0;
    for (const QChar c : text)
        n += (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ? 1 : 0;
    return n;
}

// Full stops and commas the clip shows: small round marks on the baseline (measured against
// the height of most letters), a colon's lower dot left out by the dot above it. -1 when the
// clip is not black and white.
int baselineMarks(Pix* clip)
{
    if (pixGetDepth(clip) != 1)
        return -1;
    BOXA* boxes = pixConnCompBB(clip, 8);
    if (!boxes)
        return -1;
    std::vector<QRect> parts;
    for (l_int32 i = 0; i < boxaGetCount(boxes); ++i) {
        l_int32 x, y, w, h;
        boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h);
        parts.emplace_back(x, y, w, h);
    }
    boxaDestroy(&boxes);
    std::vector<int> heights, bottoms;
    for (const QRect& r : parts)
        heights.push_back(r.height());
    if (heights.size() < 3)
        return 0;
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    const int tall = heights[heights.size() / 2];
    for (const QRect& r : parts)
        if (r.height() * 2 >= tall)
            bottoms.push_back(r.bottom());
    std::nth_element(bottoms.begin(), bottoms.begin() + bottoms.size() / 2, bottoms.end());
    const int baseline = bottoms[bottoms.size() / 2];
    const auto isDot = [&](const QRect& r) {
        const int big = std::max(r.width(), r.height()), small = std::min(r.width(), r.height());
        return big * 20 <= tall * 9 && small * 20 >= tall * 3 && big <= small * 2;
    };
    int marks = 0;
    for (const QRect& r : parts) {
        if (!isDot(r) || r.bottom() < baseline - tall / 5 || r.bottom() > baseline + tall * 2 / 5)
            continue;
        const bool colon = std::any_of(parts.begin(), parts.end(), [&](const QRect& o) {
            return &o != &r && isDot(o) && o.bottom() < r.top() && o.left() <= r.right() && o.right() >= r.left();
        });
        marks += colon ? 0 : 1;
    }
    return marks;
}

int periods(const QString& text)
{
    return int(text.count(QLatin1Char('.')) + text.count(QLatin1Char(',')));
}

// The letters and digits of a reading in order: what a reading that only regained a full
// stop must share with the one before it.
QString lettersOf(const QString& text)
{
    QString out;
    for (const QChar c : text)
        if (c.isLetterOrNumber() || c == QLatin1Char('@'))
            out += c.toLower();
    return out;
}

// A stretched reading is kept only when it differs from the first by little more than its
// full stops: stretching may also change letters, and two stops side by side are a misreading.
bool regainsStops(const QString& before, const QString& after)
{
    static const QRegularExpression doubled(QStringLiteral("[.,]\\s*[.,]"));
    const QString a = lettersOf(before), b = lettersOf(after);
    return !after.contains(doubled) && editDistance(a, b) <= std::max<qsizetype>(1, a.size() / 10);
}

// Widths the clip is stretched to, one after the other, when a reading lost a full stop: in
// tight type the model runs a full stop into the narrow letter beside it (li.na read as lina).
constexpr float kStretches[] = {1.25f, 1.5f, 1.75f, 2.0f};

// One run of Latin words read again by the English model; text and confidence hold the page
// pass's reading and receive the one kept.
void readRun(tesseract::TessBaseAPI& latin, Pix* page, Pix* binary, const QRect& run, QString* text, double* confidence)
{
    PixPtr clip = clipped(page, run, 30);
    if (!clip)
        return;
    double again = 0;
    const QString read = readAlone(latin, clip.get(), &again);
    if (!read.isEmpty() && again >= *confidence - kLatinPreference) {
        *text = read;
        *confidence = again;
    }
    PixPtr binaryClip = clipped(binary, run, 30);
    const int marks = binaryClip ? baselineMarks(binaryClip.get()) : -1;
    if (marks <= periods(*text))
        return;
    for (const float stretch : kStretches) {
        PixPtr wide(pixScale(clip.get(), stretch, 1.0f));
        const QString wideRead = wide ? readAlone(latin, wide.get(), &again) : QString();
        if (periods(wideRead) == marks && regainsStops(*text, wideRead)) {
            *text = wideRead;
            *confidence = again;
            return;
        }
    }
    // A full stop of an e-mail address read as a hyphen between letters: the image shows a
    // dot on the baseline, not a dash.
    static const QRegularExpression hyphen(QStringLiteral("(?<=[A-Za-z])-(?=[A-Za-z])"));
    if (text->contains(QLatin1Char('@')) && int(text->count(hyphen)) == marks - periods(*text))
        text->replace(hyphen, QStringLiteral("."));
}

// Heights (of the clip, margins included) an e-mail address is read again at.
constexpr int kMailHeights[] = {36, 48, 64};

// What an address is written with, and the capitals of the labels before one (E-mail:, Mail:).
constexpr const char* kMailCharacters = "abcdefghijklmnopqrstuvwxyz0123456789@._-:EM";

bool looksLikeMail(const QString& text)
{
    static const QRegularExpression shape(QStringLiteral("[A-Za-z0-9]{2,}.*[.,]\\s*(?:com|cn|net|org)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString t = mended(text);
    return !mailAddress(t).isEmpty() || (!t.contains(QStringLiteral("www"), Qt::CaseInsensitive) && shape.match(t).hasMatch());
}

// An e-mail address is the one field no dictionary mends and whose every letter counts: its run
// is read again at other sizes by the English model held to the characters of an address, for
// the field rules to weigh the readings against each other and against the card.
std::vector<LineReading> mailRereadings(tesseract::TessBaseAPI& latin, Pix* page, const QRect& run)
{
    std::vector<LineReading> out;
    PixPtr clip = clipped(page, run, 0);
    if (!clip)
        return out;
    latin.SetVariable("tessedit_char_whitelist", kMailCharacters);
    latin.SetVariable("lstm_choice_mode", "2");
    for (const int height : kMailHeights) {
        const float factor = float(height) / float(pixGetHeight(clip.get()));
        PixPtr scaled(pixScale(clip.get(), factor, factor));
        double confidence = 0;
        if (const QString text = scaled ? readAlone(latin, scaled.get(), &confidence) : QString(); !text.isEmpty())
            out.push_back({text, symbolChoices(latin)});
    }
    latin.SetVariable("lstm_choice_mode", "0");
    latin.SetVariable("tessedit_char_whitelist", "");
    return out;
}

} // namespace

// The characters weighed at each place from the iterator on, blanks left out: to the end of
// its word, or of all that was read.
std::vector<QStringList> choicesFrom(const tesseract::ResultIterator& from, bool wordOnly)
{
    std::vector<QStringList> out;
    tesseract::ResultIterator it(from);
    do {
        if (QStringList choices = choicesHere(it); !choices.front().isEmpty())
            out.push_back(choices);
        if (wordOnly && it.IsAtFinalElement(tesseract::RIL_WORD, tesseract::RIL_SYMBOL))
            break;
    } while (it.Next(tesseract::RIL_SYMBOL));
    return out;
}

// The characters the recogniser weighed at each place of what it last read.
std::vector<QStringList> symbolChoices(tesseract::TessBaseAPI& api)
{
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    return it && !it->Empty(tesseract::RIL_SYMBOL) ? choicesFrom(*it, false) : std::vector<QStringList>{};
}

PixPtr clipped(Pix* page, const QRect& r, int minHeight)
{
    const int margin = r.height() / 4;
    BOX* box = boxCreate(std::max(0, r.x() - margin), std::max(0, r.y() - margin), r.width() + 2 * margin,
                         r.height() + 2 * margin);
    PixPtr clip(pixClipRectangle(page, box, nullptr));
    boxDestroy(&box);
    if (!clip || int(pixGetHeight(clip.get())) >= minHeight)
        return clip;
    const float factor = float(minHeight) / float(pixGetHeight(clip.get()));
    return PixPtr(pixScale(clip.get(), factor, factor));
}

QString readAlone(tesseract::TessBaseAPI& api, Pix* clip, double* confidence)
{
    api.SetImage(clip);
    std::unique_ptr<char[]> text(api.GetUTF8Text());
    *confidence = api.MeanTextConf();
    return QString::fromUtf8(text.get()).simplified();
}

RecognisedLine latinReadAgain(tesseract::TessBaseAPI& latin, Pix* page, Pix* binary, const PageLine& line)
{
    const std::vector<PageWord>& words = line.words;
    QStringList parts;
    std::vector<QStringList> choices;
    const auto plain = [&](const QString& text) {
        for (const QChar c : text)
            if (c != QLatin1Char(' '))
                choices.push_back({QString(c)});
    };
    double confidenceSum = 0;
    std::vector<LineReading> rereadings;
    for (size_t i = 0; i < words.size();) {
        size_t end = i;
        QRect run;
        QStringList runText;
        double runConfidence = 0;
        for (; end < words.size() && scan::hanCount(words[end].text) == 0; ++end) {
            run |= words[end].box;
            runText << words[end].text;
            runConfidence += words[end].confidence;
        }
        if (end == i) {
            if (words[i].choices.size() == size_t(QString(words[i].text).remove(QLatin1Char(' ')).size()))
                choices.insert(choices.end(), words[i].choices.begin(), words[i].choices.end());
            else
                plain(words[i].text);
            parts << words[i].text;
            confidenceSum += words[i].confidence;
            ++i;
            continue;
        }
        runConfidence /= double(end - i);
        QString text = runText.join(QLatin1Char(' '));
        if (latinLetters(text) >= 2)
            readRun(latin, page, binary, run, &text, &runConfidence);
        if (looksLikeMail(text))
            for (auto& reading : mailRereadings(latin, page, run))
                rereadings.push_back(std::move(reading));
        parts << text;
        plain(text);
        confidenceSum += runConfidence * double(end - i);
        i = end;
    }
    return {parts.join(QLatin1Char(' ')), line.box, confidenceSum / double(std::max<size_t>(1, words.size())),
            std::move(choices), std::move(rereadings)};
}

} // namespace ostrel::scan
