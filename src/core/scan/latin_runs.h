#pragma once
#include "core/scan/card_page.h"
#include "core/scan/recognised_text.h"

namespace tesseract {
class ResultIterator;
class TessBaseAPI;
}

// The page pass's lines as the card reader gathers them, and the runs of Latin words in them
// read again by the English model.
namespace ostrel::scan {

// A word of the page pass, where it stands and how sure the recogniser is of it.
struct PageWord {
    QString text;
    QRect box;
    double confidence = 0;
    std::vector<QStringList> choices;
};

struct PageLine {
    QRect box;
    std::vector<PageWord> words;
};

// The part of the page around a box, with a margin of a quarter of its height, scaled so that
// its height is at least minHeight.
PixPtr clipped(Pix* page, const QRect& r, int minHeight);

// The characters the recogniser weighed at each place from the iterator on, blanks left out,
// the one read first: to the end of its word, or of all that was read.
std::vector<QStringList> choicesFrom(const tesseract::ResultIterator& from, bool wordOnly);
// The characters weighed at each place of what the recogniser last read.
std::vector<QStringList> symbolChoices(tesseract::TessBaseAPI& api);

// The text of a clip read as one line, and the recogniser's mean confidence in it.
QString readAlone(tesseract::TessBaseAPI& api, Pix* clip, double* confidence);

// Runs of words without Chinese in a line (an e-mail, a web address, an English name) read
// again by the English model: the Chinese one reads Latin letters poorly, and the two together
// on the page misread Chinese in serif type as Latin.
RecognisedLine latinReadAgain(tesseract::TessBaseAPI& latin, Pix* page, Pix* binary, const PageLine& line);

} // namespace ostrel::scan
