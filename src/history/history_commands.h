#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace ostrel {

// Opens a card from an overview row; the program sets it to its card editor.
using CardOpener = std::function<void(QWidget* owner, const QString& cardId)>;
void setCardOpener(CardOpener opener);
// Opens the card through the opener, when one is set.
void openCard(QWidget* owner, const QString& cardId);

// The visits or anniversaries of one card, captioned with the holder's name.
void openVisits(QWidget* owner, const QString& cardId, const QString& name);
void openAnniversaries(QWidget* owner, const QString& cardId, const QString& name);
// All visits / all anniversaries, unfiltered at first.
void openVisitOverview(QWidget* owner);
void openAnniversaryOverview(QWidget* owner);
// The anniversaries between two month-days ("mm-dd"), range switched on.
void openAnniversaryReminder(QWidget* owner, const QString& from, const QString& to);

} // namespace ostrel
