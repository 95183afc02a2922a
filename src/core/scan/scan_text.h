#pragma once
#include <QString>
#include <QStringList>

// Text repairs and number rules of the card reader, apart from the field rules so that each
// can be tested on its own.
namespace ostrel::scan {

// Full-width forms folded, blanks between Chinese characters dropped (the recogniser puts
// one between widely spaced characters), runs of blanks made one.
QString normalised(const QString& line);

// The usual misreadings mended: ",com" for ".com", "©" or "(a)" for "@", O and l inside
// runs of digits, blanks inside an e-mail address.
QString mended(const QString& text);

// The telephone numbers in a text, each in the form the card keeps: a mobile as its eleven
// digits, a fixed line as "area-number" (with "-extension"), a 400/800 line as
// "400-xxx-xxxx"; +86, 0086 and separators dropped. Empty when the text holds no number.
QStringList phoneNumbers(const QString& text);

bool isMobile(const QString& number);

// True when the text is a telephone number and nothing else (separators allowed).
bool isPhoneText(const QString& text);

// The e-mail address or web address in a text, or empty.
QString mailAddress(const QString& text);
QString webAddress(const QString& text);

// The e-mail address in a text whose @ was lost or misread (as e, o, a, c, b, q or a capital
// in a lower-case address), when the text ends in the domain the card's web address names;
// empty otherwise.
QString mailAtDomain(const QString& text, const QString& domain);

// The domain of an e-mail address read without its @ that the company's name spelled in
// pinyin holds (most domains are the company's name): "boyuan.com" in "li.naGboyuan.com" for
// 博远; empty when no part of four letters or more before the ending matches.
QString mailDomainFromCompany(const QString& text, const QStringList& spellings);

// The letters changed, added or dropped to make one text the other.
int editDistance(const QString& a, const QString& b);

// Marks the recogniser reads out of specks at the ends of a field (quotes, bars) dropped.
QString withoutStrays(const QString& text);

// A six-digit postcode standing alone in the text (not part of a longer number), or empty.
QString postcodeIn(const QString& text);

bool isHan(QChar c);
int hanCount(const QString& text);

} // namespace ostrel::scan
