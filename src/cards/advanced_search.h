#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

namespace ostrel {

class CardForm;

// The advanced search: a filter from any of the 24 card fields replaces the main window's.
class TfrmM_Q : public QDialog {
    Q_OBJECT
public:
    explicit TfrmM_Q(QWidget* parent = nullptr);

    CardForm* Form;
    QLabel* Label1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    void FormCreate();
    void BitBtn1Click();
};

} // namespace ostrel
