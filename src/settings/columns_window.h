#pragma once
#include <QDialog>
#include <QList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ostrel {

class TfrmDM;
class Query;

// Which card fields the main list shows (tick box) and how wide (width box), in D_XS.
class TfrmXS : public QDialog {
    Q_OBJECT
public:
    TfrmXS(TfrmDM& dm, QWidget* parent);

    static constexpr int kFieldCount = 25;

    // The D_XS row of control pair N (from 1): the 24 card fields, then row 26.
    static int rowId(int n);
    // The width a field offers while it is not shown.
    static int offeredWidth(int n);

    void FormShow();
    void myXS(const QString& id, QCheckBox* check, QLineEdit* edit);
    void BitBtn1Click();
    void mySave(const QString& width, const QString& shown, const QString& id);

    QList<QCheckBox*> checkBoxes; // CheckBox1..CheckBox25
    QList<QLineEdit*> edits;      // Edit1..Edit25
    QLabel* Label1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    Query* ADOQuery1;

signals:
    // The shown columns or their widths changed: the card list must be rebuilt.
    void cardsChanged();

protected:
    void showEvent(QShowEvent* event) override;
    // The width boxes' key filter: digits, Backspace and Enter only.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TfrmDM& m_dm;
    bool m_loaded = false;
};

} // namespace ostrel
