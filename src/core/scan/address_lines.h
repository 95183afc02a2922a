#pragma once
#include <QString>

// The card's address and postcode: how a line of an address is told from the others, and
// the postcode printed after it taken off.
namespace ostrel::scan {

struct AddressParts {
    QString address;
    QString postcode; // empty when none ends the line
};

// True when the text reads like an address (省, 市, 区, 路, 号, Road, Floor, …).
bool isAddress(const QString& text);

// An address line cut before the postcode printed at its end, in brackets or not
// ("…大街27号 100080", "…号(100080)").
AddressParts splitPostcode(const QString& text);

// An address with the usual misreadings mended: a mark read for the 1 of a house or floor
// number ("6] 号"), a province read with one character wrong, and a district of a known
// city read with one character wrong ("北京市海这区" → 海淀区), when only one province or one
// of the city's districts is that close.
QString mendedAddress(const QString& text);

} // namespace ostrel::scan
