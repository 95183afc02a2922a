#pragma once
#include "core/card_fields.h"

#include <QByteArray>
#include <QImage>
#include <QStringList>

#include <vector>

namespace ostrel {

// A card as a QR code a phone's camera reads and offers to add as a contact: the card as
// writeContactVCard writes it, in byte mode behind an ECI header for UTF-8, error
// correction level M, at most version kMaxCardQrVersion so that a phone reads it from a
// screen. No widget: the window shows the image.

inline constexpr int kMaxCardQrVersion = 15;

struct CardQrCode {
    QByteArray vcard;      // the text the code holds
    QStringList leftOut;   // the titles of the fields left out to fit, in the order left out
    int version = 0;       // 0: no code (see error)
    QString error;         // why there is no code, for the user
    int width = 0;         // modules a side, without the quiet zone
    std::vector<bool> dark; // width × width modules, row by row

    bool ok() const { return version > 0; }
    // Black on white, moduleSize pixels a module, with the standard quiet zone of four
    // modules on every side.
    QImage image(int moduleSize) const;
};

// The code of the card. When the whole card does not fit, fields are left out until it
// does, the longest first of each kind: the QQ note, then the addresses and the website,
// the fax and home number, the company, title and e-mail, the other phones, the mobile
// last; the name always stays. No code (an error) when the name alone does not fit.
CardQrCode cardQrCode(const CardValues& card);

} // namespace ostrel
