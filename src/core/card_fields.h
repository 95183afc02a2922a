#pragma once
#include <QString>

#include <array>
#include <span>

namespace ostrel {

// The list a lookup combo box chooses from: the data module's DBComType, DBComSex and
// DBComP fill them.
enum class CardLookup { None, Category, Sex, Province };

// What a field gives the search key of its card (search_keys.h).
enum class SearchKeyPart { None, Name, Phone, Company, Mail };

// One of the 24 user-visible columns of D_B, with everything the card editor, the advanced
// search and the import need to know about it. The table is the one place the 24 fields
// are written down; every list of fields, columns, captions or controls is derived from it.
struct CardField {
    int number;                // 1..24: place in every statement, the tab order and the import
    int group;                 // index into kCardGroups
    const char* caption;       // the label left of the control, inner blanks included
    const char* control;       // objectName of the control
    const char* column;        // D_B column as the insert and update statements write it
    int inputLimit;            // GBK bytes the edit box accepts; 0 = chosen from the lookup list
    CardLookup lookup;         // the combo's list; None for an edit box
    const char* defaultColumn; // D_Mr column that presets a lookup for a new card; null for edits
    int row;                   // layout inside the group box: row from 0,
    int gridColumn;            //   column 0..3 of the four-column grid,
    int span;                  //   and the number of columns the control spans (1, 2 or 4)
    const char* importTitle;   // the workbook column title of the import (also the list title)
    int importCut;             // GBK bytes an imported value is cut to
    const char* searchOpening; // the advanced search's clause opening
    SearchKeyPart searchKeyPart; // what it gives the card's search key

    bool isLookup() const { return lookup != CardLookup::None; }
    QString captionText() const { return QString::fromUtf8(caption); }
    QString controlName() const { return QString::fromLatin1(control); }
    QString columnName() const { return QString::fromLatin1(column); }
    QString importTitleText() const { return QString::fromUtf8(importTitle); }
    QString searchOpeningText() const { return QString::fromUtf8(searchOpening); }
    // The advanced search's clause closing: an equality for a lookup, a substring match else.
    QString searchClosingText() const { return isLookup() ? QStringLiteral("')") : QStringLiteral("%')"); }
};

// The group boxes, top to bottom.
inline constexpr std::array<const char*, 3> kCardGroups = {"基本信息", "工作信息", "家庭信息"};

inline constexpr int kCardFieldCount = 24;

// A card's 24 values in field-table order.
using CardValues = std::array<QString, kCardFieldCount>;

// The fields in field-table order.
std::span<const CardField, kCardFieldCount> cardFields();

// Indexes (from 0) of the fields the editor's checks name.
inline constexpr int kCategoryField = 0;
inline constexpr int kNameField = 1;
inline constexpr int kSexField = 2;

// Layout of a group box's grid: a label and its control per column; a control is 121
// pixels wide, 321 across two columns and 721 across four.
inline constexpr int kCardGroupWidth = 809;
inline constexpr int kCardControlWidth = 121;
inline constexpr int kCardLabelWidth = 79; // label and the gap before its control
inline constexpr int kCardColumnPitch = kCardLabelWidth + kCardControlWidth;
inline constexpr int controlWidth(int span) { return kCardControlWidth + (span - 1) * kCardColumnPitch; }
static_assert(controlWidth(2) == 321 && controlWidth(4) == 721);

} // namespace ostrel
