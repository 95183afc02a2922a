#pragma once
#include <QDialog>

class QPushButton;

namespace ostrel {

class TfrmDM;
class DBLookupComboBox;
class Query;

// The category, sex and province a new card starts with (D_Mr).
class TfrmMRX : public QDialog {
    Q_OBJECT
public:
    TfrmMRX(TfrmDM& dm, QWidget* parent);

    void FormCreate();
    void BitBtn1Click();

    DBLookupComboBox* DBLookupComboBox1;
    DBLookupComboBox* DBLookupComboBox2;
    DBLookupComboBox* DBLookupComboBox3;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    Query* ADOQuery1;

private:
    TfrmDM& m_dm;
};

} // namespace ostrel
