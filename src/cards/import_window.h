#pragma once
#include "core/card_fields.h"
#include "core/card_import.h"

#include <QDialog>

#include <functional>

class QGroupBox;
class QLabel;
class QPushButton;

namespace ostrel {

class DBGrid;
class Query;
class TfrmDM;

// "导入名片": shows the sheet "Sheet1" of a workbook (.xls, .xlsx or .csv) and adds its
// rows as cards, skipping rows without a name and rows that match a live card by
// category, name and sex.
class TfrmInData : public QDialog {
    Q_OBJECT
public:
    TfrmInData(TfrmDM& dm, QWidget* parent);

    // What one import did, row by row.
    using Counts = CardImportCounts;
    // "导入 12 条，重复跳过 3 条，无姓名跳过 1 条。"
    static QString countsLine(const Counts& counts);

    // Larger imports show a progress dialog that can cancel them.
    static constexpr int kProgressRows = 1000;

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QPushButton* Button1; // 打开
    QGroupBox* GroupBox2;
    DBGrid* DBGrid1;
    QLabel* Label2;
    QPushButton* BitBtn1; // 导入
    QPushButton* BitBtn2; // 退出
    Query* ADOQuery1;     // the sheet, on the data module's ExcelADOCon
    Query* ADOQuery2;     // duplicate checks and inserts, on the card database

    // 打开: chooses a workbook and shows its sheet "Sheet1" with the row count.
    void Button1Click();
    // 导入: adds the rows shown as cards, then reports the counts, refreshes the main list
    // and closes.
    void BitBtn1Click();

signals:
    // Cards were added: the card list is out of date.
    void cardsChanged();

private:
    TfrmDM& m_dm;
};

// Adds rows from any source as cards, as 导入 does (importCards of core/card_import.h). More
// than TfrmInData::kProgressRows rows show a progress dialog over parent that can cancel.
// read(row, values) gives row's 24 values. Reports the counts; returns false when the user
// cancelled. An engine error midway keeps the rows before it and is thrown, saying how many
// cards the database really holds from this import.
bool importCardRows(TfrmDM& dm, QWidget* parent, Query& query, int rowCount,
                    const std::function<void(int row, CardValues& values)>& read);

} // namespace ostrel
