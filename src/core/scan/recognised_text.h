#pragma once
#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

namespace ostrel {

// One line as the recogniser read it: its text, where it stands on the page, and the mean
// confidence of its words (0..100).
struct RecognisedLine {
    QString text;
    QRect box;
    double confidence = 0;
    // For a line read on its own (large type: the name), the characters the recogniser took
    // into account at each place of the text, blanks left out, the one read first.
    std::vector<QStringList> choices = {};
};

using RecognisedLines = std::vector<RecognisedLine>;

} // namespace ostrel
