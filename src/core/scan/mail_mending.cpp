#include "core/scan/mail_mending.h"

#include "core/pinyin.h"
#include "core/scan/card_words.h"
#include "core/scan/scan_text.h"

#include <QRegularExpression>

#include <algorithm>
#include <map>

namespace ostrel::scan {

namespace {

// The letters a mailbox name has when it spells the person's name in full, in either order
// ("lijuan", "juanli"), and with one part as its initial ("ljuan"); empty for a name that is
// not all Chinese.
struct NameLetters {
    QStringList full;
    QStringList initial;

    explicit NameLetters(const QString& name)
    {
        if (name.isEmpty() || hanCount(name) != name.size())
            return;
        const int family = std::max(1, surnameLength(name));
        surname = nameSpellings(name.left(family)).full;
        given = nameSpellings(name.mid(family)).full;
        for (const auto& s : surname)
            for (const auto& g : given) {
                full << s + g << g + s;
                initial << s.left(1) + g << g + s.left(1) << s + g.left(1) << g.left(1) + s;
            }
    }

    QStringList surname;
    QStringList given;

    // 2 for the name in full, 1 with an initial, else 0.
    int fit(const QString& mailbox) const
    {
        const QString letters = QString(mailbox).remove(QRegularExpression(QStringLiteral("[^a-z]")));
        return full.contains(letters) ? 2 : initial.contains(letters) ? 1 : 0;
    }

    // True when the stops part the mailbox name into the name's two parts ("lijuan.tang", not
    // "li.juan.tang" or "lijuantang").
    bool partedAsName(const QString& mailbox) const
    {
        const QStringList words = mailbox.split(QRegularExpression(QStringLiteral("[._-]")));
        return words.size() == 2
               && ((given.contains(words[0]) && surname.contains(words[1])) || (surname.contains(words[0]) && given.contains(words[1])));
    }
};

QString mailbox(const QString& address)
{
    return address.left(address.indexOf(QLatin1Char('@')));
}

QString hostOf(const QString& web)
{
    static const QRegularExpression prefix(QStringLiteral("^(https?://)?(www\\.)?"));
    return QString(web).remove(prefix).section(QLatin1Char('/'), 0, 0);
}

QString addressIn(const QString& reading)
{
    return mailAddress(mended(normalised(reading)).remove(QLatin1Char(' ')));
}

int stops(const QString& address)
{
    static const QRegularExpression marks(QStringLiteral("[._-]"));
    return int(address.count(marks));
}

// Readings that differ only in the stops between the words are one reading: the stops are
// what a reading at another size most often loses. It is shown with the most stops read.
struct Group {
    QString shown;
    int votes = 0;
    bool first = false; // holds the address as first read
};

// The address a reading gives, or the one it gives when one or two letters of its mailbox name are taken from the
// letters the recogniser weighed there instead, so that it spells the person's name in full;
// empty when none does. The domain must stay the one chosen.
QString respelled(const LineReading& reading, const NameLetters& name, const QString& domain)
{
    QString bare = QString(reading.text).remove(QLatin1Char(' '));
    const qsizetype at = bare.indexOf(QLatin1Char('@'));
    if (at <= 0 || reading.choices.size() != size_t(bare.size()))
        return {};
    qsizetype start = at;
    while (start > 0 && (bare[start - 1].isLetterOrNumber() || QStringLiteral("._-").contains(bare[start - 1])))
        --start;
    std::vector<std::pair<qsizetype, QChar>> swaps;
    for (qsizetype i = start; i < at; ++i)
        for (const auto& other : reading.choices[size_t(i)].mid(1))
            if (other.size() == 1 && other[0].isLower() && other[0] != bare[i])
                swaps.emplace_back(i, other[0]);
    const auto tried = [&](const QString& text) {
        const QString address = addressIn(text);
        const qsizetype a = address.indexOf(QLatin1Char('@'));
        return a > 0 && address.mid(a + 1) == domain && name.fit(address.left(a)) == 2 ? address : QString();
    };
    if (const QString found = tried(bare); !found.isEmpty())
        return found;
    for (size_t i = 0; i < swaps.size(); ++i) {
        QString one = bare;
        one[swaps[i].first] = swaps[i].second;
        if (const QString found = tried(one); !found.isEmpty())
            return found;
        for (size_t j = i + 1; j < swaps.size(); ++j) {
            if (swaps[j].first == swaps[i].first)
                continue;
            QString two = one;
            two[swaps[j].first] = swaps[j].second;
            if (const QString found = tried(two); !found.isEmpty())
                return found;
        }
    }
    return {};
}

} // namespace

void chooseMailReading(ScannedCard& card, const RecognisedLines& lines)
{
    const QString read = card.value("BMail");
    const qsizetype at = read.indexOf(QLatin1Char('@'));
    if (at <= 0)
        return;
    // The readings of the line the address was read from (its domain there).
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const RecognisedLine& l) {
        return !l.rereadings.empty() && mended(normalised(l.text)).remove(QLatin1Char(' ')).toLower().contains(read.mid(at));
    });
    if (line == lines.end())
        return;
    const NameLetters name(card.value("BName"));
    // Of the ways one reading's letters were parted, the one that parts the name, else the
    // first reading's, else the one with the most stops.
    const auto parting = [&](const QString& address, bool first) {
        return std::tuple(name.partedAsName(mailbox(address)), first, stops(address));
    };
    std::map<QString, Group> groups;
    const auto count = [&](const QString& address, bool first) {
        Group& g = groups[QString(address).remove(QRegularExpression(QStringLiteral("[._-]")))];
        ++g.votes;
        if (g.shown.isEmpty() || parting(address, first) > parting(g.shown, g.first))
            g.shown = address;
        g.first = g.first || first;
    };
    count(read, true);
    for (const auto& reading : line->rereadings)
        if (const QString address = addressIn(reading.text); !address.isEmpty())
            count(address, false);
    const QString web = hostOf(card.value("DWWW"));
    const auto rank = [&](const Group& g) {
        const qsizetype a = g.shown.indexOf(QLatin1Char('@'));
        const int fit = name.fit(g.shown.left(a)) + (!web.isEmpty() && g.shown.mid(a + 1) == web ? 1 : 0);
        return std::tuple(fit, g.votes, g.first);
    };
    const Group best = std::max_element(groups.begin(), groups.end(), [&](const auto& a, const auto& b) {
                           return rank(a.second) < rank(b.second);
                       })->second;
    QString chosen = best.shown;
    const qsizetype a = chosen.indexOf(QLatin1Char('@'));
    // A reading that spells the name in full once a doubtful letter is mended wins over one
    // that does not, and over one of the same letters whose stops do not part the name.
    for (const auto& reading : line->rereadings)
        if (const QString found = respelled(reading, name, chosen.mid(a + 1));
            !found.isEmpty() && (name.fit(chosen.left(a)) < 2 || (name.partedAsName(mailbox(found)) && !name.partedAsName(mailbox(chosen)))))
            chosen = found;
    if (chosen == read)
        return;
    const auto i = size_t(cardFieldIndex("BMail"));
    card.values[i] = chosen;
    card.confidence[i] = std::min(card.confidence[i], kLowScanConfidence - 1);
}

} // namespace ostrel::scan
