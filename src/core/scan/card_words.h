#pragma once
#include <QString>

// The word lists the field rules recognise a card's lines by.
namespace ostrel::scan {

// The length of the surname a text starts with (1 or 2), 0 when it starts with none.
int surnameLength(const QString& text);

// The most common surname (surname true) or given-name character read as the syllable
// ("gao" → 高, "lei" → 磊), a compound surname when its two readings make the syllable;
// empty when none is known.
QString commonNameCharacter(const QString& syllable, bool surname);

// Where a surname stands among the common ones, the most common first (0); a compound surname
// after every single one; -1 for none.
int surnameRank(const QString& surname);

// True when the character is among those most often found in given names.
bool isCommonGivenNameCharacter(QChar c);

// True when the text holds a title word (经理, 总监, Manager, …).
bool hasTitleWord(const QString& text);
// True when the text is a word that opens a title (高级, 项目, 销售 …): such a head is no name.
bool isTitlePrefix(const QString& text);
// The length of the title word the text ends with, 0 for none.
int titleSuffixLength(const QString& text);

// The length of the name a "name title" line starts with ("刘洋客户经理" → 2), 0 for none.
// A given name has one or two characters; a head ending in 总, 副, 高 … belongs to the title.
int nameBeforeTitle(const QString& text);

// Where the company name in the text ends (after its suffix: 有限公司, 集团, Co., Ltd., …),
// -1 when it has no company suffix.
int companyEnd(const QString& text);

// True when the text ends like a department (部, 处, 科, 中心, Department).
bool isDepartment(const QString& text);

} // namespace ostrel::scan
