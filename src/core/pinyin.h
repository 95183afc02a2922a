#pragma once
#include <QString>
#include <QStringList>

namespace ostrel {

// How a name is spelt in pinyin, without tones or blanks, lower case: every reading of the
// whole name (ICU's reading of each character first, then the other common readings of
// heteronyms such as 曾 zeng/ceng or 单 shan/dan, at most kMaxSpellings of them) and the
// initials of each. Characters that are not Chinese stay as they are (letters lower-cased);
// blanks, punctuation and symbols are left out. A name without letters, digits or Chinese
// gives none.
struct NameSpellings {
    QStringList full;     // "zhangsan"
    QStringList initials; // "zs"; a run of letters or digits counts as one word
};

inline constexpr int kMaxSpellings = 8;

NameSpellings nameSpellings(const QString& name);

} // namespace ostrel
