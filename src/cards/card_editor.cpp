#include "card_editor.h"

#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "core/card_fields.h"
#include "card_form.h"
#include "card_qr_window.h"
#include "card_image_view.h"
#include "card_scanner.h"
#include "core/card_image_store.h"
#include "core/scan/card_sides.h"
#include "formats/gbk.h"
#include "card_statements.h"
#include "core/search_keys.h"
#include "engine/query.h"
#include "engine/transaction.h"
#include "ui/common/window_parts.h"

#include <QBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace ostrel {

TfrmD_D::TfrmD_D(TfrmDM& dm, QWidget* parent) : QDialog(parent), m_db(dm.ADOConnection1)
{
    setCloseBoxOnly(this);
    Form = named(new CardForm(dm, this), "Form");
    ADOQuery1 = dm.newQuery(this, "ADOQuery1");
    ADOQuery2 = dm.newQuery(this, "ADOQuery2");
    BitBtn1 = named(new QPushButton(QStringLiteral("保存"), this), "BitBtn1");
    BitBtn2 = named(new QPushButton(QStringLiteral("退出"), this), "BitBtn2");
    // Enter in an edit box must not save a half-typed card.
    QrButton = named(new QPushButton(QStringLiteral("二维码名片"), this), "QrButton");
    for (QPushButton* button : {BitBtn1, BitBtn2, QrButton}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    layoutCardWindow(this, Form, BitBtn1, BitBtn2, QrButton);
    ImageView = named(new CardImageView(this), "ImageView");
    ImageView->hide();
    AddBackButton = named(new QPushButton(QStringLiteral("添加背面…"), this), "AddBackButton");
    AddBackButton->setAutoDefault(false);
    ImageView->addButton(AddBackButton);
    connectGuarded(AddBackButton, &QPushButton::clicked, this, &TfrmD_D::addBackSide);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TfrmD_D::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QDialog::close);
    connectGuarded(QrButton, &QPushButton::clicked, this, &TfrmD_D::showQrCode);
    FormCreate();
}

void TfrmD_D::FormCreate()
{
    Form->fillLookups();
}

void TfrmD_D::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { FormShow(); });
}

void TfrmD_D::FormShow()
{
    if (CardID == QLatin1String("0"))
        myNew();
    else
        myLoad();
    if (m_scan)
        showScan();
}

namespace {

constexpr int kImagePanelWidth = 380;
const char kLowConfidenceTip[] = "识别可信度较低，请核对";

} // namespace

void TfrmD_D::setScan(const ScannedCard& card, const QByteArray& jpeg, const QByteArray& backJpeg)
{
    m_scan = card;
    m_scanJpeg = jpeg;
    m_backJpeg = backJpeg;
    showCardImage(QImage::fromData(jpeg, "JPEG"), QImage::fromData(backJpeg, "JPEG"));
}

void TfrmD_D::addBackSide()
{
    const QString file = chooseOpenFile(this, QStringLiteral("添加背面"), cardImageFilter());
    if (file.isEmpty())
        return;
    if (!m_scanner) {
        auto* own = new CardScanner(this);
        m_scanner = [own]() -> CardScanner& { return *own; };
    }
    QString failure;
    // Read as a scanned card is: upright by the camera's tag and then by its text, a huge
    // photo scaled down.
    const std::optional<ScannedPage> back = m_scanner().readBackSide(this, file, failure);
    if (!back) {
        if (!failure.isEmpty()) // else cancelled: nothing changes
            showInfo(this, QStringLiteral("无法添加背面：") + failure);
        return;
    }
    m_backJpeg = back->jpeg;
    // Shown as it will be kept.
    ImageView->setBack(QImage::fromData(back->jpeg, "JPEG"));
    // The fields as they stand, typed or read, are the front: they are sure.
    ScannedCard shown;
    for (int i = 0; i < kCardFieldCount; ++i) {
        shown.values[static_cast<size_t>(i)] = Form->value(i);
        shown.confidence[static_cast<size_t>(i)] = 100;
    }
    showRead(withBackSide(shown, back->card));
    m_backRead = true;
}

void TfrmD_D::saveImages(int64_t card)
{
    if (!keepsCardImages(m_db))
        return;
    if (!m_scanJpeg.isEmpty())
        saveCardImage(m_db, card, CardSide::Front, m_scanJpeg);
    if (!m_backJpeg.isEmpty())
        saveCardImage(m_db, card, CardSide::Back, m_backJpeg);
}

void TfrmD_D::showCardImage(const QImage& front, const QImage& back)
{
    // The described window keeps its size and layout; the panel is added on its right.
    setFixedSize(860 + kImagePanelWidth, 420);
    layout()->setContentsMargins(24, 8, 24 + kImagePanelWidth, 10);
    ImageView->setGeometry(860 - 8, 8, kImagePanelWidth - 8, 420 - 16);
    ImageView->show();
    ImageView->setImages(front, back);
}

void TfrmD_D::showScan()
{
    showRead(*m_scan);
    focusName();
}

void TfrmD_D::showRead(const ScannedCard& card)
{
    QStringList unlisted;
    for (int i = 0; i < kCardFieldCount; ++i) {
        const CardField& f = cardFields()[static_cast<size_t>(i)];
        const QString& read = card.values[static_cast<size_t>(i)];
        if (read == Form->value(i))
            continue;
        if (f.isLookup()) {
            // A read province that is not in the list is kept in 补充信息 rather than dropped.
            if (!read.isEmpty() && (Form->setValue(i, read), Form->value(i) != read))
                unlisted << f.captionText().remove(u' ') + read;
            continue;
        }
        Form->setValue(i, read);
        auto* edit = static_cast<QLineEdit*>(Form->control(i));
        if (read.isEmpty() || card.confidence[static_cast<size_t>(i)] >= kLowScanConfidence)
            continue;
        edit->setStyleSheet(QStringLiteral("background-color: #FFF8C4;"));
        edit->setToolTip(QString::fromUtf8(kLowConfidenceTip));
        // Checked by the user once they change it.
        connect(edit, &QLineEdit::textEdited, edit, [edit] {
            edit->setStyleSheet({});
            edit->setToolTip({});
        }, Qt::SingleShotConnection);
    }
    const int notes = kCardFieldCount - 1;
    if (!unlisted.isEmpty())
        Form->setValue(notes, (QStringList{Form->value(notes)} + unlisted).join(u' ').trimmed());
}

bool TfrmD_D::scannedValuesFit(const QStringList& values)
{
    for (int i = 0; i < kCardFieldCount; ++i) {
        const CardField& f = cardFields()[static_cast<size_t>(i)];
        const int bytes = gbkLength(values[i]);
        if (f.isLookup() || bytes <= f.inputLimit)
            continue;
        showInfo(this, QStringLiteral("%1 识别出的内容有 %2 个字节，超过了 %3 个字节的限制，请删减后再保存。")
                           .arg(f.captionText().remove(u' ').remove(u'：'))
                           .arg(bytes)
                           .arg(f.inputLimit));
        Form->control(i)->setFocus();
        return false;
    }
    return true;
}

void TfrmD_D::focusName()
{
    Form->control(kNameField)->setFocus();
}

void TfrmD_D::myNew()
{
    ADOQuery1->run(QStringLiteral("select theType, theSex, theP from D_Mr"));
    if (ADOQuery1->recordCount() == 1) {
        for (int i = 0; i < kCardFieldCount; ++i) {
            const CardField& f = cardFields()[static_cast<size_t>(i)];
            if (f.defaultColumn)
                Form->setValue(i, ADOQuery1->text(QString::fromLatin1(f.defaultColumn)));
        }
    }
    Form->clearEdits();
    QrButton->setEnabled(true);
    focusName();
}

void TfrmD_D::myLoad()
{
    ADOQuery1->run(loadCardSql(CardID));
    if (ADOQuery1->recordCount() != 1) {
        myNew();
        return;
    }
    for (int i = 0; i < kCardFieldCount; ++i)
        Form->setValue(i, ADOQuery1->text(cardFields()[static_cast<size_t>(i)].columnName()));
    m_loadedLive = ADOQuery1->text(QStringLiteral("theDel")) == QStringLiteral("否");
    // A deleted card is no one's to hand on.
    QrButton->setEnabled(m_loadedLive);
    m_loadedCounter = m_db.changeCounter(CardID.toLongLong());
    m_backJpeg.clear();
    m_backRead = false;
    if (keepsCardImages(m_db)) {
        const int64_t card = CardID.toLongLong();
        const QImage front = QImage::fromData(cardImage(m_db, card), "JPEG");
        if (!front.isNull())
            showCardImage(front, QImage::fromData(cardImage(m_db, card, CardSide::Back), "JPEG"));
    }
}

void TfrmD_D::BitBtn1Click()
{
    const QString date = dateText(today());
    if (Form->value(kNameField).isEmpty()) {
        showInfo(this, QStringLiteral("姓名 不能为空！"));
        focusName();
        return;
    }
    const QStringList values = Form->values();
    if ((m_scan || m_backRead) && !scannedValuesFit(values))
        return;
    if (CardID != QLatin1String("0")) {
        saveExisting(values);
        return;
    }
    const QString& type = values[kCategoryField];
    const QString& name = values[kNameField];
    const QString& sex = values[kSexField];
    ADOQuery1->run(duplicateCheckSql(type, name, sex));
    if (ADOQuery1->recordCount() >= 1) {
        showInfo(this, type + u' ' + name + u' ' + sex + QStringLiteral(" 已经存在！"));
        focusName();
        return;
    }
    {
        // The card and its search key are saved together or not at all.
        Transaction transaction(m_db);
        ADOQuery2->exec(insertCardSql(date, values));
        m_savedCardId = m_db.lastInsertId();
        updateSearchKeys(m_db, {m_savedCardId});
        // A scanned card keeps its image: with the card or not at all.
        saveImages(m_savedCardId);
        transaction.commit();
    }
    showInfo(this, QStringLiteral("恭喜！恭喜！名片 新增 保存成功！"));
    emit cardsChanged();
    // A scanned card is one card: its window closes; the next comes from the next scan.
    if (m_scan) {
        accept();
        return;
    }
    myNew();
}

void TfrmD_D::showQrCode()
{
    if (Form->value(kNameField).isEmpty()) {
        showInfo(this, QStringLiteral("姓名 不能为空！"));
        focusName();
        return;
    }
    CardValues card;
    for (int i = 0; i < kCardFieldCount; ++i)
        card[static_cast<size_t>(i)] = Form->value(i);
    showCardQrCode(card, this);
}

void TfrmD_D::saveExisting(const QStringList& values)
{
    // A card deleted while the editor was open must not be reported as saved. One that was
    // deleted already when it was loaded (the overviews open those) is saved as it is.
    ADOQuery1->run(m_loadedLive ? liveCardSql(CardID) : loadCardSql(CardID));
    bool saved = false;
    bool changedElsewhere = false;
    if (ADOQuery1->recordCount() >= 1) {
        Transaction transaction(m_db);
        // Read inside the transaction, where a server holds the card until the commit.
        const int64_t counter = m_db.changeCounter(CardID.toLongLong());
        changedElsewhere = m_loadedCounter != -1 && counter != -1 && counter != m_loadedCounter;
        if (!changedElsewhere) {
            saved = ADOQuery2->exec(updateCardSql(values, CardID)) > 0;
            if (saved) {
                updateSearchKeys(m_db, {CardID.toLongLong()});
                saveImages(CardID.toLongLong());
            }
            transaction.commit();
        }
    }
    // Someone else saved the card since it was loaded: their change stays, and what was
    // typed here stays in the window (the card is no longer held while the box is shown).
    if (changedElsewhere) {
        showInfo(this, QStringLiteral("该名片已被其他用户修改，请重新打开后再修改。"));
        return;
    }
    if (!saved) {
        showInfo(this, QStringLiteral("该名片已不存在（可能已被删除），本次修改未保存！"));
        emit cardsChanged();
        close();
        return;
    }
    showInfo(this, QStringLiteral("恭喜！恭喜！名片 修改 保存成功！"));
    emit cardsChanged();
    accept();
}

} // namespace ostrel
