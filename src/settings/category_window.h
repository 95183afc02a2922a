#pragma once
#include <QDialog>
#include <QString>

class QAction;
class QMenu;
class QPushButton;

namespace ostrel {

class TfrmDM;
class DBGrid;
class GbkEdit;
class Query;

// Maintains the card categories (D_Type): add a new name, delete a listed one.
class TfrmDType : public QDialog {
    Q_OBJECT
public:
    TfrmDType(TfrmDM& dm, QWidget* parent);

    void myRef();
    void myESql();
    void Button1Click();
    void D1Click();

    GbkEdit* Edit1;
    QPushButton* Button1;
    DBGrid* DBGrid1;
    QMenu* PopupMenu1;
    QAction* D1;
    Query* ADOQuery1;
    Query* ADOQuery2;
    // The window's current statement text, which checks and commands are built into.
    QString sqlText;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace ostrel
