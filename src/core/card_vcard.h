#pragma once
#include "core/card_fields.h"
#include "formats/vcard_syntax.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <vector>

namespace ostrel {

// vCard files (.vcf), the address-book exchange format of phones and mail programs, read
// into cards and written from them: the mapping of vCard properties to the card fields, over
// the syntax of formats/vcard_syntax.h. Pure functions over bytes: no database, no window.

// What the mapping of a read card depends on in the database it goes into.
struct VCardLists {
    QStringList categories;  // D_Type: a CATEGORIES value becomes 分类 only when listed here
    QStringList provinces;   // D_P: an address's region becomes 省份 only when listed here
    QString defaultCategory; // 分类 of a card whose categories are not listed
};

struct VCardFile {
    enum Status { Cards, Empty, NotVCard };
    Status status = Empty;
    // The values as read, not yet cut to the import's limits. Whatever a card holds that
    // has no field of its own is in 补充信息, labelled.
    std::vector<CardValues> cards;
    // More cards than one file may hold: only the first million were read.
    bool truncated = false;
};

// Reads every card of the file: versions 2.1, 3.0 and 4.0, folded lines, quoted-printable
// and base64 values in any charset, escapes, grouped properties, a byte-order mark, CRLF or
// LF. Survives any byte sequence; a line, a card's properties and a value have caps.
VCardFile readVCards(QByteArrayView bytes, const VCardLists& lists);

// The same reading a card at a time, so a large file's cards are never all held at once.
// The file's status and number of cards are known from the start (a quick pass over its
// BEGIN and END lines); next() then gives the cards that readVCards would, in order.
class VCardReader {
public:
    // The bytes (and the lists) must outlive the reader.
    VCardReader(QByteArrayView bytes, const VCardLists& lists);
    ~VCardReader();
    VCardReader(const VCardReader&) = delete;
    VCardReader& operator=(const VCardReader&) = delete;

    VCardFile::Status status() const;
    size_t count() const { return m_cards.count(); }
    bool truncated() const { return m_cards.truncated(); }
    // The next card; false after the last.
    bool next(CardValues& card);

private:
    vcard::CardReader m_cards;
    const VCardLists& m_lists;
    std::vector<vcard::Property> m_properties; // the card now read, kept for its room
};

// Appends the card as vCard 3.0 in UTF-8. The fields without a property of their own, and
// those whose property would not read back the same, are written as X-OSTREL-<column> as
// well, so reading the text back gives every value exactly.
void writeVCard(const CardValues& card, QByteArray& out);

// Appends the card as a phone's address book takes it (vCard 3.0, UTF-8, written as
// above): only the fields a phone has a place for (name, phones, e-mail, company and
// department, title, addresses with city, province and postcode, website), the QQ number as
// a labelled note (contactQqNote), and nothing only this program reads.
void writeContactVCard(const CardValues& card, QByteArray& out);
// The note a QQ number becomes there.
QString contactQqNote(const QString& qq);

} // namespace ostrel
