#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

namespace ostrel {

class CardForm;
class TfrmDM;

// The advanced search: a filter from any of the 24 card fields replaces the main window's.
class TfrmM_Q : public QDialog {
    Q_OBJECT
public:
    TfrmM_Q(TfrmDM& dm, QWidget* parent);

    CardForm* Form;
    QLabel* Label1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    void FormCreate();
    void BitBtn1Click();

signals:
    // The filter of the values entered, each clause beginning " AND (".
    void searchChosen(const QString& filter);
};

} // namespace ostrel
