#include "core/scan/card_reader.h"

#include "core/scan/card_page.h"
#include "core/scan/card_words.h"
#include "core/scan/latin_runs.h"
#include "core/scan/scan_text.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <leptonica/allheaders.h>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>

namespace ostrel {

using scan::Page;
using scan::PageLine;
using scan::PageWord;
using scan::PixPtr;
using scan::clipped;
using scan::latinReadAgain;
using scan::choicesFrom;
using scan::readAlone;
using scan::symbolChoices;

namespace {

// The height lines are read at on their own: large type is read poorly as it stands.
constexpr int kLoneLineHeight = 40;
constexpr int kColumnGap = 3;
// Bytes the allocator has handed out and not had back; 0 where that cannot be asked.
qint64 heapInUse()
{
#ifdef __GLIBC__
    return qint64(mallinfo2().uordblks);
#else
    return 0;
#endif
}

QString tessdataDir(const QString& dataPath)
{
    if (!dataPath.isEmpty())
        return dataPath;
    const QByteArray env = qgetenv("TESSDATA_PREFIX");
    return env.isEmpty() ? QStringLiteral("/usr/share/tesseract-ocr/5/tessdata") : QString::fromLocal8Bit(env);
}

// The page pass's lines, word by word with their boxes.
std::vector<PageLine> pageLines(tesseract::TessBaseAPI& api)
{
    std::vector<PageLine> lines;
    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it || it->Empty(tesseract::RIL_WORD))
        return lines;
    do {
        int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        if (lines.empty() || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE)) {
            it->BoundingBox(tesseract::RIL_TEXTLINE, &x1, &y1, &x2, &y2);
            lines.push_back({QRect(QPoint(x1, y1), QPoint(x2, y2)), {}});
        }
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
        it->BoundingBox(tesseract::RIL_WORD, &x1, &y1, &x2, &y2);
        const QString word = QString::fromUtf8(text.get()).trimmed();
        if (!word.isEmpty())
            lines.back().words.push_back({word, QRect(QPoint(x1, y1), QPoint(x2, y2)), it->Confidence(tesseract::RIL_WORD),
                                          scan::hanCount(word) > 0 ? choicesFrom(*it, true) : std::vector<QStringList>{}});
    } while (it->Next(tesseract::RIL_WORD));
    return lines;
}

// A line parted where the gap between two words is wider than kColumnGap line heights: the
// page pass joins the lines of two columns that stand level with each other.
std::vector<PageLine> splitAtGaps(const std::vector<PageLine>& lines)
{
    std::vector<PageLine> out;
    for (const PageLine& line : lines) {
        PageLine part;
        for (const PageWord& word : line.words) {
            if (!part.words.empty() && word.box.left() - part.box.right() > kColumnGap * line.box.height()) {
                out.push_back(part);
                part = {};
            }
            part.box |= word.box;
            part.words.push_back(word);
        }
        if (part.words.empty())
            continue;
        // Alone, the line keeps the page pass's box (the words' boxes are taller for Chinese).
        if (part.words.size() == line.words.size())
            part.box = line.box;
        else
            part.box = QRect(part.box.left(), line.box.top(), part.box.width(), line.box.height());
        out.push_back(part);
    }
    return out;
}

// A long box whose ink is mostly one piece: a rule or the edge of a coloured band, not a line
// of type, whose characters stand apart. Read as a line it only gives a row of dashes, and
// the recogniser keeps the scratch of so long a line for good.
bool isRule(Pix* ink, const QRect& r)
{
    if (r.width() < 8 * r.height())
        return false;
    BOX* box = boxCreate(r.x(), r.y(), r.width(), r.height());
    PixPtr clip(pixClipRectangle(ink, box, nullptr));
    boxDestroy(&box);
    BOXA* pieces = clip ? pixConnCompBB(clip.get(), 8) : nullptr;
    l_int32 widest = 0;
    for (l_int32 i = 0; pieces && i < boxaGetCount(pieces); ++i) {
        l_int32 x, y, w, h;
        boxaGetBoxGeometry(pieces, i, &x, &y, &w, &h);
        widest = std::max(widest, w);
    }
    boxaDestroy(&pieces);
    return widest * 4 >= r.width() * 3;
}

// The characters weighed at each place of a text by the readings of its length (blanks left
// out), the text's own character first.
std::vector<QStringList> gathered(const QString& text, const std::vector<std::vector<QStringList>>& readings)
{
    const QString bare = QString(text).remove(QLatin1Char(' '));
    std::vector<QStringList> out;
    for (const QChar c : bare)
        out.push_back({QString(c)});
    for (const auto& reading : readings) {
        if (reading.size() != out.size())
            continue;
        for (size_t i = 0; i < out.size(); ++i)
            for (const auto& choice : reading[i])
                if (!out[i].contains(choice))
                    out[i] << choice;
    }
    return out;
}

} // namespace

void restartWithOneOcrThread(char** argv)
{
    if (qgetenv("OMP_THREAD_LIMIT") == "1")
        return;
    setenv("OMP_THREAD_LIMIT", "1", 1);
    execv("/proc/self/exe", argv);
    // The restart failed: the program still runs, only its recognition is slower.
}

CardReader::CardReader(const QString& dataPath, qint64 restartGrowth)
    : api_(std::make_unique<tesseract::TessBaseAPI>()), restartGrowth_(restartGrowth)
{
    setMsgSeverity(L_SEVERITY_ERROR); // the deskew's search notes are not the user's concern
    const QString dir = tessdataDir(dataPath);
    for (const auto& [lang, package] : {std::pair{"chi_sim", "tesseract-ocr-chi-sim"}, std::pair{"eng", "tesseract-ocr-eng"}})
        if (!QFile::exists(QDir(dir).filePath(QStringLiteral("%1.traineddata").arg(QLatin1String(lang)))))
            throw ScanError(QStringLiteral("缺少文字识别数据 %1（%2），请安装软件包 %3 后再扫描名片。")
                                .arg(QLatin1String(lang), dir, QLatin1String(package)));
    dataDir_ = dir;
    latin_ = std::make_unique<tesseract::TessBaseAPI>();
    startNetworks();
    const QByteArray path = QFile::encodeName(dir);
    // Orientation needs its own small model; without it cards are read as they stand.
    if (QFile::exists(QDir(dir).filePath(QStringLiteral("osd.traineddata")))) {
        osd_ = std::make_unique<tesseract::TessBaseAPI>();
        if (osd_->Init(path.constData(), "osd", tesseract::OEM_TESSERACT_ONLY) != 0)
            osd_.reset();
        else
            osd_->SetPageSegMode(tesseract::PSM_OSD_ONLY);
    }
}

// The two network recognisers, started afresh by End() and this.
void CardReader::startNetworks()
{
    const QByteArray path = QFile::encodeName(dataDir_);
    if (api_->Init(path.constData(), "chi_sim", tesseract::OEM_LSTM_ONLY) != 0)
        throw ScanError(QStringLiteral("文字识别引擎无法启动：%1 中的识别数据无法读取，请重新安装软件包 "
                                       "tesseract-ocr-chi-sim 和 tesseract-ocr-eng。").arg(dataDir_));
    api_->SetPageSegMode(tesseract::PSM_AUTO);
    // The characters weighed beside each one read: the field rules mend a name or a company
    // with them when the card spells it in Latin letters.
    api_->SetVariable("lstm_choice_mode", "2");
    if (latin_->Init(path.constData(), "eng", tesseract::OEM_LSTM_ONLY) != 0)
        throw ScanError(QStringLiteral("文字识别引擎无法启动：%1 中的英文识别数据无法读取，请重新安装软件包 "
                                       "tesseract-ocr-eng。").arg(dataDir_));
    latin_->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    latin_->SetVariable("debug_file", "/dev/null");
    // Stray dots of a textured card make one-letter "words"; the model's own dictionary is kept.
    api_->SetVariable("debug_file", "/dev/null");
}

CardReader::~CardReader()
{
    if (osd_)
        osd_->End();
    latin_->End();
    api_->End();
}

// Quarter turns clockwise that set the card upright, by the orientation model.
int CardReader::uprightTurns(PIX* binary)
{
    if (!osd_)
        return 0;
    osd_->SetImage(binary);
    osd_->SetSourceResolution(300);
    int degrees = 0;
    float confidence = 0;
    const char* script = nullptr;
    float scriptConfidence = 0;
    if (!osd_->DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence) || confidence < 1.5f)
        return 0;
    return ((360 - degrees) / 90) % 4;
}

namespace {

// A line the page pass made of pieces of large type it could not read (a name split into
// "人", "[2 、" and "[ 记 ] /"): a few marks read with little confidence, not a name. Its ink
// is read again. The recogniser is seldom sure of a name in large type it reads right.
// Lines in large type are left to be read again as they stand (see rereadLargeType).
bool isDoubtful(const RecognisedLine& line, int medianHeight)
{
    const QString bare = QString(line.text).remove(QLatin1Char(' '));
    const bool nameLike = scan::hanCount(bare) == bare.size() && bare.size() >= 2 && scan::surnameLength(bare) > 0;
    return line.confidence < 60 && bare.size() <= 5 && !nameLike && line.box.height() < medianHeight * 3 / 2;
}

int medianHeight(const RecognisedLines& lines)
{
    std::vector<int> heights;
    for (const auto& l : lines)
        heights.push_back(l.box.height());
    std::nth_element(heights.begin(), heights.begin() + heights.size() / 2, heights.end());
    return heights[heights.size() / 2];
}

} // namespace

// Type the page pass did not see as text, or saw only as a few doubtful marks, read line by
// line: it misses the name in large type standing alone more often than any other line. The
// ink outside every line read is joined across the gaps between characters; what has the
// shape of a line of type is read on its own.
void CardReader::readMissedLines(Pix* page, Pix* binary, RecognisedLines& lines)
{
    const int median = medianHeight(lines);
    PixPtr rest(pixCopy(nullptr, binary));
    for (const auto& line : lines) {
        if (isDoubtful(line, median))
            continue;
        const int margin = line.box.height() / 4;
        BOX* box = boxCreate(line.box.x() - margin, line.box.y() - margin, line.box.width() + 2 * margin,
                             line.box.height() + 2 * margin);
        pixClearInRect(rest.get(), box);
        boxDestroy(&box);
    }
    PixPtr joined(pixCloseBrick(nullptr, rest.get(), 31, 1));
    BOXA* boxes = joined ? pixConnCompBB(joined.get(), 8) : nullptr;
    if (!boxes)
        return;
    const int pageHeight = int(pixGetHeight(rest.get()));
    api_->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    for (l_int32 i = 0; i < boxaGetCount(boxes); ++i) {
        l_int32 x, y, w, h, count = 0;
        boxaGetBoxGeometry(boxes, i, &x, &y, &w, &h);
        if (h < 18 || h > pageHeight / 5 || w < h)
            continue;
        BOX* box = boxaGetBox(boxes, i, L_CLONE);
        pixCountPixelsInRect(rest.get(), box, &count, nullptr);
        boxDestroy(&box);
        // Ink covers a good part of a line of type; a speck or a thin rule covers little.
        const QRect r(x, y, w, h);
        if (count < w * h / 12 || isRule(rest.get(), r))
            continue;
        PixPtr clip = clipped(page, r, 0);
        if (!clip)
            continue;
        RecognisedLine read = readLone(clip.get());
        // The recogniser is seldom sure of a lone line of large type even when it reads it
        // right; a rule or the edge of a coloured band is read as a row of dashes.
        static const QRegularExpression dashes(QStringLiteral("[一\\-—_=~.·\\s]"));
        if (read.text.isEmpty() || read.confidence < 10 || QString(read.text).remove(dashes).size() * 2 < read.text.size())
            continue;
        // The doubtful lines made of this type give way to it.
        const auto covered = [&](const RecognisedLine& l) { return isDoubtful(l, median) && l.box.intersects(r); };
        lines.erase(std::remove_if(lines.begin(), lines.end(), covered), lines.end());
        read.box = r;
        const auto at = std::find_if(lines.begin(), lines.end(), [&](const RecognisedLine& l) { return l.box.top() > y; });
        lines.insert(at, std::move(read));
    }
    boxaDestroy(&boxes);
    api_->SetPageSegMode(tesseract::PSM_AUTO);
}

// A clip of one line of type (a quarter of its height above and below) read on its own at
// kLoneLineHeight, and at other sizes when that reads nothing: the recogniser now and then
// reads two large characters as nothing at one size and rightly at another.
RecognisedLine CardReader::readLone(Pix* clip)
{
    RecognisedLine best;
    for (const int height : {kLoneLineHeight, kLoneLineHeight * 4 / 5, kLoneLineHeight * 6 / 5}) {
        const float factor = float(height) * 1.5f / float(pixGetHeight(clip));
        PixPtr scaled(pixScale(clip, factor, factor));
        double confidence = 0;
        const QString text = scaled ? readAlone(*api_, scaled.get(), &confidence) : QString();
        if (!text.isEmpty() && confidence > best.confidence) {
            best.text = text;
            best.confidence = confidence;
            best.choices = symbolChoices(*api_);
        }
        if (!best.text.isEmpty())
            break;
    }
    return best;
}

// Lines in type much larger than the rest (the name) read again on their own at the size
// the recogniser reads best: in the page pass large type beside a logo is often misread.
void CardReader::rereadLargeType(Pix* page, Pix* binary, RecognisedLines& lines)
{
    // The ink of each line of type joined across the gaps between its characters: the page
    // pass often gives a name's line the box of its first character only.
    PixPtr joined(pixCloseBrick(nullptr, binary, 31, 1));
    BOXA* inkBoxes = joined ? pixConnCompBB(joined.get(), 8) : nullptr;
    std::vector<QRect> ink;
    for (l_int32 i = 0; inkBoxes && i < boxaGetCount(inkBoxes); ++i) {
        l_int32 x, y, w, h;
        boxaGetBoxGeometry(inkBoxes, i, &x, &y, &w, &h);
        ink.emplace_back(x, y, w, h);
    }
    boxaDestroy(&inkBoxes);
    const int median = medianHeight(lines);
    api_->SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    for (auto& line : lines) {
        if (line.box.height() < median * 3 / 2)
            continue;
        for (const QRect& r : ink) {
            const QRect both = r & line.box;
            if (!both.isEmpty() && both.height() * 2 >= line.box.height() && r.height() <= line.box.height() * 3 / 2)
                line.box |= r;
        }
        const int margin = line.box.height() / 4;
        BOX* box = boxCreate(std::max(0, line.box.x() - margin), std::max(0, line.box.y() - margin),
                             line.box.width() + 2 * margin, line.box.height() + 2 * margin);
        PixPtr clip(pixClipRectangle(page, box, nullptr));
        boxDestroy(&box);
        if (!clip)
            continue;
        // Read at three sizes: the best reading is kept, and the characters weighed at each
        // place by every reading of the same length are gathered for the field rules.
        std::vector<std::vector<QStringList>> readings{line.choices};
        for (const int height : {kLoneLineHeight, kLoneLineHeight * 4 / 5, kLoneLineHeight * 6 / 5}) {
            const float factor = float(height) / float(pixGetHeight(clip.get()));
            PixPtr scaled(pixScale(clip.get(), factor, factor));
            double confidence = 0;
            const QString again = readAlone(*api_, scaled.get(), &confidence);
            readings.push_back(symbolChoices(*api_));
            if (!again.isEmpty() && confidence > line.confidence) {
                line.text = again;
                line.confidence = confidence;
            }
        }
        line.choices = gathered(line.text, readings);
    }
    api_->SetPageSegMode(tesseract::PSM_AUTO);
}

RecognisedLines CardReader::readPage(Pix* gray, Pix* binary)
{
    api_->SetImage(gray);
    api_->SetSourceResolution(300);
    RecognisedLines lines;
    if (api_->Recognize(nullptr) == 0)
        for (const PageLine& line : splitAtGaps(pageLines(*api_)))
            lines.push_back(latinReadAgain(*latin_, gray, binary, line));
    if (!lines.empty()) {
        readMissedLines(gray, binary, lines);
        rereadLargeType(gray, binary, lines);
    }
    api_->Clear();
    return lines;
}

namespace {

// Lines that hold a telephone number or an e-mail address: every card has some, a card read
// the wrong way up has none. A card on its side may be read as columns of upright text, which
// may hold such numbers too: only lines that run across count.
int sensibleLines(const RecognisedLines& lines)
{
    int n = 0;
    for (const auto& line : lines) {
        if (line.box.height() > line.box.width())
            continue;
        const QString text = scan::mended(scan::normalised(line.text));
        n += !scan::phoneNumbers(text).isEmpty() || !scan::mailAddress(text).isEmpty() ? 1 : 0;
    }
    return n;
}

} // namespace

RecognisedLines CardReader::readLines(const QImage& image)
{
    if (image.isNull() || image.width() < 16 || image.height() < 16)
        throw ScanError(QStringLiteral("未识别到文字：图像太小或是空的。"), ScanError::Kind::NoText);
    const qint64 heapBefore = heapInUse();
    Page page = scan::prepared(image);
    int turns = uprightTurns(page.binary.get());
    page.turn(turns);
    RecognisedLines lines = readPage(page.gray.get(), page.binary.get());
    lastTurns_ = turns;
    // The orientation model now and then takes a card for upright that is upside down or on
    // its side: then the other ways up are read too, and the one that makes most sense kept.
    if (sensibleLines(lines) < 2) {
        int best = sensibleLines(lines);
        for (const int more : {2, 3, 2}) {
            page.turn(more);
            turns = (turns + more) % 4;
            RecognisedLines again = readPage(page.gray.get(), page.binary.get());
            if (const int sense = sensibleLines(again); sense > best) {
                best = sense;
                lines = std::move(again);
                lastTurns_ = turns;
            }
            if (best >= 2)
                break;
        }
    }
    page = {};
    // The network recognisers keep their scratch (a beam of candidates for every step of the
    // longest line read, the layers' buffers) sized to the longest line they have ever read,
    // and give it back only when ended: once that has grown by restartGrowth_ they start
    // afresh, which reads the same and costs a fraction of a second now and then.
    heldGrowth_ = std::max<qint64>(0, heldGrowth_ + heapInUse() - heapBefore);
    if (heldGrowth_ >= restartGrowth_) {
        latin_->End();
        api_->End();
        startNetworks();
        heldGrowth_ = 0;
    }
#ifdef __GLIBC__
    // The recogniser's many short-lived blocks otherwise leave the heap ever more scattered
    // over a batch of cards.
    malloc_trim(0);
#endif
    if (lines.empty())
        throw ScanError(QStringLiteral("未识别到文字：图像中没有可读的名片文字。"), ScanError::Kind::NoText);
    return lines;
}

ScannedCard CardReader::readCard(const QImage& image)
{
    ScannedCard card = extractCardFields(readLines(image));
    card.quarterTurns = lastTurns_;
    return card;
}

std::vector<ScannedCard> CardReader::readFile(const QString& path)
{
    const CardPages pages(path);
    std::vector<ScannedCard> cards;
    for (int i = 0; i < pages.count(); ++i)
        cards.push_back(readCard(pages.page(i)));
    return cards;
}

} // namespace ostrel
