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

} // namespace ostrel::scan
