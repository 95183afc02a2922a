#pragma once
#include <QByteArray>
#include <QDialog>
#include <QImage>
#include <QString>

#include "core/scan/field_extractor.h"

#include <functional>
#include <optional>

#include <cstdint>

class QPushButton;

namespace ostrel {

class CardForm;
class CardImageView;
class CardScanner;
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
    // Beyond the described window: 二维码名片, the card as typed as a QR code for a phone;
    // disabled for a deleted card.
    QPushButton* QrButton;
    // Beyond the described window: the card's paper image, beside the fields when the card
    // has one (a scanned card, or a saved card that kept its image).
    CardImageView* ImageView;
    // Beyond the described window: 添加背面… under the image, the card's back side from an
    // image file, kept with the card when it is saved.
    QPushButton* AddBackButton;

    void FormCreate();
    void FormShow();
    // Empties the form for a new card, with the defaults when there is exactly one set.
    void myNew();
    // Loads the card CardID; a card not found leaves the form as for a new card.
    void myLoad();
    void BitBtn1Click();
    void showQrCode();
    // Makes this new-card window one for a card read from image: shown, the form holds the
    // read values, the image stands beside the fields and the fields read with low confidence
    // are marked. Saving keeps the image (its kept JPEG, and the back side's when there is
    // one) with the card and closes the window.
    void setScan(const ScannedCard& card, const QByteArray& jpeg, const QByteArray& backJpeg = {});
    // Reads the back side from a chosen file through the scanner, so that a back photographed
    // sideways or upside down is kept upright, while the window stays usable. What the back
    // reads is added to the fields as shown (those left empty are filled, what differs from a
    // filled field goes to 补充信息); nothing shown is changed.
    void addBackSide();
    // The main window's scanner, whose one recogniser reads back sides too. Without one the
    // editor makes its own on the first back side.
    void useScanner(std::function<CardScanner&()> scanner) { m_scanner = std::move(scanner); }
    // The card the last save inserted, 0 before one.
    int64_t savedCardId() const { return m_savedCardId; }

signals:
    // A card was saved, or found gone: the card list is out of date.
    void cardsChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void focusName();
    void saveExisting(const QStringList& values);
    void showScan();
    // Shows the read values that differ from those in the form, marking the ones read with
    // low confidence; a read province not in the list goes to 补充信息.
    void showRead(const ScannedCard& card);
    void showCardImage(const QImage& front, const QImage& back);
    // Inside the save's transaction.
    void saveImages(int64_t card);
    // A scanned value past its field's byte limit is refused, as typing it would be.
    bool scannedValuesFit(const QStringList& values);

    Database& m_db;
    // The card's change counter when it was loaded (-1: the engine keeps none).
    int64_t m_loadedCounter = -1;
    // Whether the card was live when it was loaded.
    bool m_loadedLive = true;
    std::optional<ScannedCard> m_scan;
    QByteArray m_scanJpeg;
    QByteArray m_backJpeg; // a back side not saved yet
    bool m_backRead = false; // the fields hold what a back side read
    std::function<CardScanner&()> m_scanner;
    int64_t m_savedCardId = 0;
};

} // namespace ostrel
