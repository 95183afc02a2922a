#include "core/scan/name_mending.h"

#include "core/pinyin.h"
#include "core/scan/card_words.h"
#include "core/scan/scan_text.h"

#include <QRegularExpression>

#include <algorithm>

namespace ostrel::scan {

// The words of the name as the card shows it in Latin letters: its e-mail's mailbox name
// ("xia.gao") and an English name ("Gao Xia"), lower case; only those of two words or more.
std::vector<QStringList> latinNameWords(const QString& mail, const QStringList& latinNames)
{
    std::vector<QStringList> out;
    QStringList sources = latinNames;
    sources << mail.left(mail.indexOf(QLatin1Char('@')));
    static const QRegularExpression parts(QStringLiteral("[^a-z]+"));
    for (const auto& source : sources) {
        QStringList words = source.toLower().split(parts, Qt::SkipEmptyParts);
        if (words.size() < 2)
            continue;
        // No syllable ends in q or c: such a letter is the @ misread.
        for (auto& w : words)
            if (w.size() > 2 && (w.endsWith(QLatin1Char('q')) || w.endsWith(QLatin1Char('c'))))
                w.chop(1);
        out.push_back(words);
    }
    return out;
}

// The name's spellings from those words, each in both orders, without blanks.
QStringList spelledNames(const std::vector<QStringList>& nameWords)
{
    QStringList out;
    for (QStringList words : nameWords) {
        out << words.join(QString());
        std::reverse(words.begin(), words.end());
        out << words.join(QString());
    }
    return out;
}

bool spelledAs(const QString& name, const QStringList& spelled)
{
    for (const auto& s : nameSpellings(name).full)
        if (spelled.contains(s))
            return true;
    return false;
}

// A name read with a wrong character mended from the characters the recogniser weighed,
// when one choice at each place spells the name as the card's Latin letters do. Among the
// choices that spell it, the one with the most common name characters wins: a rarer
// character of the same reading (暇 for 霞) is more often a misreading than the name.
QString spelledChoice(const QString& read, const std::vector<QStringList>& choices, const QStringList& spelled)
{
    if (spelled.isEmpty() || choices.empty())
        return read;
    const auto common = [](const QString& text) {
        int n = 0;
        for (qsizetype i = 1; i < text.size(); ++i)
            n += scan::isCommonGivenNameCharacter(text[i]) ? 1 : 0;
        return n;
    };
    QString best = spelledAs(read, spelled) ? read : QString();
    std::vector<int> at(choices.size(), 0);
    for (int tries = 0; tries < 2000; ++tries) {
        QString text;
        for (size_t i = 0; i < at.size(); ++i)
            text += choices[i][at[i]];
        if (scan::hanCount(text) == text.size() && (best.isEmpty() || common(text) > common(best))
            && spelledAs(text, spelled))
            best = text;
        size_t i = 0;
        while (i < at.size() && ++at[i] == choices[i].size())
            at[i++] = 0;
        if (i == at.size())
            break;
    }
    return best.isEmpty() ? read : best;
}

namespace {

bool readAs(const QString& text, const QString& syllable)
{
    return nameSpellings(text).full.contains(syllable);
}

// True when a character read is a likely one at its place of a name: a common surname, or a
// common given-name character. Such a character is taken as read, not as a misreading.
bool likelyAt(QChar c, bool surname)
{
    return surname ? scan::surnameLength(QString(c)) == 1 : scan::isCommonGivenNameCharacter(c);
}

// The character for one syllable at a place of a name: the one read when it reads so, else
// one the recogniser weighed there, else the most common name character read so. Empty
// when none is known or (strict) the character read is a likely one of another reading; kept
// counts the characters read right.
QString placeFor(const QString& read, const std::vector<QStringList>& choices, qsizetype at, const QString& syllable,
                 bool surname, bool strict, int* kept)
{
    if (at < read.size() && readAs(read.mid(at, 1), syllable)) {
        ++*kept;
        return read.mid(at, 1);
    }
    if (strict && at < read.size() && likelyAt(read[at], surname))
        return {};
    if (size_t(at) < choices.size())
        for (const auto& c : choices[size_t(at)])
            if (c.size() == 1 && scan::isHan(c[0]) && readAs(c, syllable))
                return c;
    return scan::commonNameCharacter(syllable, surname);
}

// A given name's syllables: the word whole or cut in two, each part a syllable some
// character reads as.
std::vector<QStringList> syllableSplits(const QString& word)
{
    std::vector<QStringList> out{{word}};
    for (qsizetype k = 1; k < word.size(); ++k)
        if (!scan::commonNameCharacter(word.left(k), false).isEmpty()
            && !scan::commonNameCharacter(word.mid(k), false).isEmpty())
            out.push_back({word.left(k), word.mid(k)});
    return out;
}

} // namespace

// A name the recogniser misread mended by how the card spells it in Latin letters (同杰 for
// "jie.gao", 罗石石 for "lei.luo"): each character that does not read as its
// syllable becomes one weighed there or the most common name character read so. At least
// one character read must already be right, so that an unrelated mailbox name changes
// nothing. Empty when no mending holds.
QString spelledRepair(const QString& read, const std::vector<QStringList>& choices,
                      const std::vector<QStringList>& nameWords)
{
    QString best;
    int bestKept = 0;
    // Not strict, a likely character of another reading gives way too, when every other
    // character of a name of three agrees (周海若 for "haiyan.zhou").
    for (const bool strict : {true, false})
    for (const QStringList& words : nameWords) {
        if (words.size() != 2)
            continue;
        for (const bool surnameLast : {true, false}) {
            const QString& surname = surnameLast ? words[1] : words[0];
            const QString& given = surnameLast ? words[0] : words[1];
            int kept = 0;
            const QString family = read.size() > 2 && scan::surnameLength(read) == 2
                                           && readAs(read.left(2), surname)
                                       ? (kept += 2, read.left(2))
                                       : placeFor(read, choices, 0, surname, true, strict, &kept);
            if (family.isEmpty())
                continue;
            const qsizetype from = family.size();
            const qsizetype rest = read.size() - from;
            const QString restText = read.mid(from);
            const bool restLikely = std::any_of(restText.begin(), restText.end(), [](QChar c) { return likelyAt(c, false); });
            for (const QStringList& syllables : syllableSplits(given)) {
                int keptHere = kept;
                QString text = family;
                for (qsizetype i = 0; i < syllables.size(); ++i) {
                    // Where the read characters do not stand one a syllable, none is kept.
                    const QString place = syllables.size() == rest ? placeFor(read, choices, from + i, syllables[i], false, strict, &keptHere)
                                          : restLikely               ? QString()
                                                                     : scan::commonNameCharacter(syllables[i], false);
                    if (place.isEmpty()) {
                        text.clear();
                        break;
                    }
                    text += place;
                }
                const bool holds = strict || (read.size() >= 3 && keptHere >= read.size() - 1);
                if (!text.isEmpty() && holds && keptHere > bestKept && text != read) {
                    best = text;
                    bestKept = keptHere;
                }
            }
        }
    }
    return best;
}

QString spelledGuess(const std::vector<QStringList>& nameWords)
{
    QString best;
    int bestRank = 0;
    for (const QStringList& words : nameWords) {
        if (words.size() != 2)
            continue;
        for (const bool surnameLast : {true, false}) {
            const QString family = scan::commonNameCharacter(surnameLast ? words[1] : words[0], true);
            const int rank = scan::surnameRank(family);
            if (family.isEmpty() || (!best.isEmpty() && rank >= bestRank))
                continue;
            for (const QStringList& syllables : syllableSplits(surnameLast ? words[0] : words[1])) {
                QString text = family;
                for (const QString& syllable : syllables)
                    text += scan::commonNameCharacter(syllable, false);
                if (text.size() == family.size() + syllables.size()) {
                    best = text;
                    bestRank = rank;
                    break;
                }
            }
        }
    }
    return best;
}

} // namespace ostrel::scan
