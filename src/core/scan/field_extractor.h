#pragma once
#include "core/card_fields.h"
#include "core/scan/recognised_text.h"

#include <array>

namespace ostrel {

// A card as read from its image: the 24 values in field-table order, how sure the reading is
// of each (0..100, 0 for an empty field), and everything the recogniser read.
struct ScannedCard {
    CardValues values;
    std::array<int, kCardFieldCount> confidence{};
    QString rawText;
    // Quarter turns clockwise the reader gave the image to set the card upright: the image
    // kept with the card is turned the same way.
    int quarterTurns = 0;

    QString value(const char* column) const;
    int confidenceOf(const char* column) const;
};

// Below this a field is marked for the user to check.
inline constexpr int kLowScanConfidence = 75;

// The field of a column of D_B (its index in the field table), -1 for none.
int cardFieldIndex(const char* column);

// The card's fields from the recognised lines: labelled values by their labels, the rest by
// their shape (a mobile number, an address, a company suffix, a title word, a surname in the
// largest type). What matches no field is kept in 补充信息, one item per line.
ScannedCard extractCardFields(const RecognisedLines& lines);

} // namespace ostrel
