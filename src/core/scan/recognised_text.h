#pragma once
#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

namespace ostrel {

// Another reading of a line or of a part of it, with the characters weighed at each place
// (blanks left out, the one read first).
struct LineReading {
    QString text;
    std::vector<QStringList> choices;
};

// One line as the recogniser read it: its text, where it stands on the page, and the mean
// confidence of its words (0..100).
struct RecognisedLine {
    QString text;
    QRect box;
    double confidence = 0;
    // For a line read on its own (large type: the name), the characters the recogniser took
    // into account at each place of the text, blanks left out, the one read first.
    std::vector<QStringList> choices = {};
    // For a line holding an e-mail address, its other readings (each run read again on its
    // own at other sizes, the English model held to the characters of an address).
    std::vector<LineReading> rereadings = {};
};

using RecognisedLines = std::vector<RecognisedLine>;

} // namespace ostrel
