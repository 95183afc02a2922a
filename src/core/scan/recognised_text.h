#pragma once
#include <QRect>
#include <QString>

#include <vector>

namespace ostrel {

// One line as the recogniser read it: its text, where it stands on the page, and the mean
// confidence of its words (0..100).
struct RecognisedLine {
    QString text;
    QRect box;
    double confidence = 0;
};

using RecognisedLines = std::vector<RecognisedLine>;

} // namespace ostrel
