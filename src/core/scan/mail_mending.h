#pragma once
#include "core/scan/field_extractor.h"

// The e-mail address chosen among the readings of its line.
namespace ostrel::scan {

// The card's e-mail address replaced by another reading of its line (lines' rereadings) when
// the card bears that one out better: its mailbox name spells the card's name, its domain is
// the web site's; with no more support on either side, the reading most readings agree on.
// A replaced address is marked for the user to check.
void chooseMailReading(ScannedCard& card, const RecognisedLines& lines);

} // namespace ostrel::scan
