#pragma once
#include <QString>
#include <QStringList>

#include <vector>

// A person's name as read, checked and mended by how the card spells it in Latin letters
// (the e-mail's mailbox name, an English name).
namespace ostrel::scan {

// The words of the name as the card shows it in Latin letters: its e-mail's mailbox name
// ("xia.gao") and English names ("Gao Xia"), lower case; only those of two words or more.
std::vector<QStringList> latinNameWords(const QString& mail, const QStringList& latinNames);

// The name's spellings from those words, each in both orders, without blanks.
QStringList spelledNames(const std::vector<QStringList>& nameWords);

// True when one of the name's pinyin spellings is among the spelled ones.
bool spelledAs(const QString& name, const QStringList& spelled);

// The name read, or the one the recogniser's choices at each place make (choices: the
// characters weighed at each place, the one read first) that spells as the card does,
// preferring common name characters.
QString spelledChoice(const QString& read, const std::vector<QStringList>& choices, const QStringList& spelled);

// The name read mended character by character to spell as the card's Latin words do, when
// at least one character read already agrees; empty when no mending holds.
QString spelledRepair(const QString& read, const std::vector<QStringList>& choices,
                      const std::vector<QStringList>& nameWords);

// The name the card's Latin words spell, each syllable written with its most common name
// character ("lei.liang" → 梁磊): for a name the recogniser read as nothing like one. Of the
// two orders the one with the more common surname wins. Empty when no order makes a name.
QString spelledGuess(const std::vector<QStringList>& nameWords);

} // namespace ostrel::scan
