#pragma once
#include <QDialog>
#include <QString>

class QPushButton;

namespace ostrel {

class CardForm;
class Query;

// The card editor: enters a new card (CardID "0") or changes the card CardID. The opener
// sets the caption and CardID before showing it; the window reads CardID when shown.
class TfrmD_D : public QDialog {
    Q_OBJECT
public:
    explicit TfrmD_D(QWidget* parent = nullptr);

    QString CardID = QStringLiteral("0");

    CardForm* Form;
    Query* ADOQuery1; // reading
    Query* ADOQuery2; // insert or update
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    void FormCreate();
    void FormShow();
    // Empties the form for a new card, with the defaults when there is exactly one set.
    void myNew();
    // Loads the card CardID; a card not found leaves the form as for a new card.
    void myLoad();
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void focusName();
    void saveExisting(const QStringList& values);
};

} // namespace ostrel
