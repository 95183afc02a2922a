#pragma once
#include <QDialog>
#include <QString>

#include <cstdint>

class QPushButton;

namespace ostrel {

class CardForm;
class Query;
class Database;
class TfrmDM;

// The card editor: enters a new card (CardID "0") or changes the card CardID. The opener
// sets the caption and CardID before showing it; the window reads CardID when shown.
class TfrmD_D : public QDialog {
    Q_OBJECT
public:
    TfrmD_D(TfrmDM& dm, QWidget* parent);

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

signals:
    // A card was saved, or found gone: the card list is out of date.
    void cardsChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void focusName();
    void saveExisting(const QStringList& values);

    Database& m_db;
    // The card's change counter when it was loaded (-1: the engine keeps none).
    int64_t m_loadedCounter = -1;
    // Whether the card was live when it was loaded.
    bool m_loadedLive = true;
};

} // namespace ostrel
