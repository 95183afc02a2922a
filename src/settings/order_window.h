#pragma once
#include <QDialog>

class QAction;
class QMenu;

namespace ostrel {

class TfrmDM;
class DBGrid;
class Query;

// The left-to-right order of the card list's columns: moves a D_XS row one place up or down.
class TfrmSX : public QDialog {
    Q_OBJECT
public:
    TfrmSX(TfrmDM& dm, QWidget* parent);

    void myRef();
    void N1Click();
    void N2Click();
    void myInt(int newPosition, int oldPosition);

    // Every closing (close box, Escape, a program's close) brings the main list up to date.
    void done(int result) override;

signals:
    // Sent on every closing: the card list's column order may have changed.
    void cardsChanged();

public:
    DBGrid* DBGrid1;
    QMenu* PopupMenu1;
    QAction* N1;
    QAction* N2;
    Query* ADOQuery1;
    Query* ADOQuery2;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void move(int from, int to);

    TfrmDM& m_dm;
};

} // namespace ostrel
