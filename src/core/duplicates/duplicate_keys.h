#pragma once
#include <QString>
#include <QStringList>

#include <span>
#include <vector>

namespace ostrel {

// What a card gives the duplicate search, as read from D_B.
struct DuplicateSource {
    qint64 id = 0;
    QString name;
    QString company;
    QString mail;
    // Numbers of the fields outside the work group: a number there belongs to the person.
    std::vector<QString> personalPhones;
    // The unit's numbers: a switchboard or fax that colleagues share.
    std::vector<QString> workPhones;
};

// A card's values in the forms that are compared; empty where a value gives nothing.
struct DuplicateKeys {
    QString name;              // as quick find keeps text (full-width folded, no blanks), simplified
    QStringList readings;      // every pinyin reading of the name
    QString company;           // folded and simplified
    QString companyCore;       // without brackets, punctuation and legal-form endings
    QString mail;              // lower case
    QStringList mobiles;       // 11 digits, from any phone field
    QStringList landlines;     // with area code, personal fields only
    QStringList phones;        // mobiles and full landlines of every field
};

// The numbers in one phone field: several may be written with / , ; or 、 between them. A
// mobile becomes its 11 digits, a landline its digits with the leading 0 of the area code;
// a number without an area code (7 or 8 digits) is not a full number and gives none.
struct PhoneNumbers {
    QStringList mobiles;
    QStringList landlines;
};
PhoneNumbers phoneNumbers(const QString& field);

// The company name without bracketed parts, punctuation and legal-form endings.
QString companyCore(const QString& foldedCompany);

// Traditional forms turned simplified, through OpenCC, in one batch; texts are handed back
// unchanged when OpenCC or its table cannot be had.
void toSimplified(std::vector<QString*>& texts);
bool simplifiedFoldingAvailable();

// The keys of these cards, in order; names and companies are simplified in one batch.
std::vector<DuplicateKeys> duplicateKeys(std::span<const DuplicateSource> cards);

} // namespace ostrel
