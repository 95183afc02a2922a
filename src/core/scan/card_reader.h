#pragma once
#include "core/scan/card_image.h"
#include "core/scan/field_extractor.h"
#include "core/scan/recognised_text.h"

#include <memory>

struct Pix;
namespace tesseract {
class TessBaseAPI;
}

namespace ostrel {

// The recogniser, loaded once and reused for every card (loading the Chinese model takes
// most of a second). Not thread-safe: one reader per thread.
class CardReader {
public:
    // dataPath: the folder of the recogniser's language files; empty for the installed one.
    // restartGrowth: the bytes the recognisers may keep of the cards read before they are
    // started afresh (their line scratch only grows).
    // Throws ScanError naming the package to install when the Chinese or English data is missing.
    explicit CardReader(const QString& dataPath = {}, qint64 restartGrowth = 16 << 20);
    ~CardReader();
    CardReader(const CardReader&) = delete;
    CardReader& operator=(const CardReader&) = delete;

    // The lines of one card image, upright, deskewed and binarised first. Throws ScanError
    // ("未识别到文字") when nothing is read.
    RecognisedLines readLines(const QImage& image);
    // The card of one image; the pages of a file, one card each.
    ScannedCard readCard(const QImage& image);
    std::vector<ScannedCard> readFile(const QString& path);

private:
    void startNetworks();
    int uprightTurns(Pix* binary);
    RecognisedLines readPage(Pix* gray, Pix* binary);
    void rereadLargeType(Pix* page, Pix* binary, RecognisedLines& lines);
    void readMissedLines(Pix* page, Pix* binary, RecognisedLines& lines);
    RecognisedLine readLone(Pix* clip);

    std::unique_ptr<tesseract::TessBaseAPI> api_;
    std::unique_ptr<tesseract::TessBaseAPI> latin_;
    std::unique_ptr<tesseract::TessBaseAPI> osd_;
    int lastTurns_ = 0;
    QString dataDir_;
    // What the recognisers have kept of the cards read since they were started.
    qint64 heldGrowth_ = 0;
    qint64 restartGrowth_;
};

// The recogniser runs its network on several threads unless told otherwise before the
// process starts; on two cores that is several times slower. Starts the program again with
// OMP_THREAD_LIMIT=1 when it is not set (returns only when it is set or the restart failed).
void restartWithOneOcrThread(char** argv);

} // namespace ostrel
