// 二维码名片 from the card list and the card editor: the window's code read back as a phone
// reads it, the copied and saved images, and the command refused for a deleted card.
#include "cards/card_editor.h"
#include "cards/card_form.h"
#include "cards/card_qr_window.h"
#include "main_window_fixture.h"
#include "qr_decode.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>

using namespace ostrel;
using ostrel::test::decodeQr;

namespace {

class CardQrWindowTest : public test::MainWindow {
protected:
    int addFilledCard(const QString& name, const QString& mobile, const QString& qq = {})
    {
        const int id = addCard(name);
        exec(QStringLiteral("update D_B set BMob='%1', BQQ='%2', DName='杭州恒信科技有限公司', DJob='经理', BDes='老客户' where ID=%3")
                 .arg(mobile, qq)
                 .arg(id));
        return id;
    }
    // What the window's shown code holds, as a phone reads it.
    static QByteArray shownBytes(CardQrWindow* window) { return decodeQr(window->CodeLabel->pixmap().toImage()).bytes; }
    bool qrOffered()
    {
        emit main->PopupMenu1->aboutToShow();
        return main->QrAction->isEnabled();
    }
};

} // namespace

TEST_F(CardQrWindowTest, TheSelectedCardsCodeIsShownCopiedAndSaved)
{
    addFilledCard(QStringLiteral("张三"), QStringLiteral("13800138000"), QStringLiteral("12345"));
    startMain();
    ASSERT_TRUE(qrOffered());
    QTemporaryDir dir;
    const QString chosen = dir.filePath(QStringLiteral("张三名片")); // no suffix typed
    bool shown = false;
    testhooks::queueModal([&](QDialog* dialog) {
        auto* window = qobject_cast<CardQrWindow*>(dialog);
        ASSERT_TRUE(window);
        shown = true;
        EXPECT_EQ(window->windowTitle(), QStringLiteral("二维码名片"));
        EXPECT_EQ(window->NameLabel->text(), QStringLiteral("张三"));
        EXPECT_TRUE(window->LeftOutLabel->isHidden());
        const QByteArray vcard = window->code().vcard;
        EXPECT_TRUE(vcard.contains("TEL;TYPE=CELL:13800138000\r\n") && vcard.contains("NOTE:QQ：12345\r\n")) << vcard.toStdString();
        EXPECT_FALSE(vcard.contains("老客户"));
        EXPECT_EQ(shownBytes(window), vcard);

        QTest::mouseClick(window->CopyButton, Qt::LeftButton);
        EXPECT_EQ(decodeQr(QApplication::clipboard()->image()).bytes, vcard);
        testhooks::queueFile(chosen);
        QTest::mouseClick(window->SaveButton, Qt::LeftButton);
        EXPECT_EQ(decodeQr(QImage(chosen + QStringLiteral(".png"), "PNG")).bytes, vcard);
    });
    main->QrAction->trigger();
    EXPECT_TRUE(shown);
    // The save dialog suggests the card's name; the file saved is said where it is.
    const QStringList texts = testhooks::shownTexts();
    ASSERT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts[0].endsWith(QStringLiteral("/张三-二维码.png"))) << texts[0].toStdString();
    EXPECT_EQ(texts[1], QStringLiteral("图片已保存：") + QDir::toNativeSeparators(chosen + QStringLiteral(".png")));
}

TEST_F(CardQrWindowTest, ACardDeletedBehindTheListIsNotOffered)
{
    const int older = addFilledCard(QStringLiteral("李四"), QStringLiteral("13900139000"));
    const int newer = addFilledCard(QStringLiteral("王五"), QStringLiteral("13700137000"));
    startMain();
    ASSERT_TRUE(qrOffered());
    // Another user deletes the card while the menu is open: said so, the list brought up to date.
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(newer));
    main->QrAction->trigger();
    EXPECT_EQ(testhooks::shownTexts(), QStringList{QStringLiteral("该名片已不存在（可能已被删除）。")});
    EXPECT_EQ(testhooks::pendingModals(), 0);
    EXPECT_EQ(listedNames(), QStringList{QStringLiteral("李四")});
    // Deleted before the menu opens: not offered.
    ASSERT_TRUE(qrOffered());
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(older));
    EXPECT_FALSE(qrOffered());
}

TEST_F(CardQrWindowTest, EditorShowsTheCardAsTypedAndNotADeletedOne)
{
    const int live = addFilledCard(QStringLiteral("王五"), QStringLiteral("13700137000"));
    const int deleted = addFilledCard(QStringLiteral("赵六"), QStringLiteral("13600136000"));
    exec(QStringLiteral("update D_B set theDel='是' where ID=%1").arg(deleted));
    startMain();
    for (const int id : {live, deleted}) {
        TfrmD_D editor(dm, main.get());
        editor.CardID = QString::number(id);
        editor.show();
        EXPECT_EQ(editor.QrButton->isEnabled(), id == live);
        if (id != live)
            continue;
        static_cast<QLineEdit*>(editor.Form->control(kNameField))->setText(QStringLiteral("王五改"));
        QByteArray shownCode;
        testhooks::queueModal([&](QDialog* window) { shownCode = shownBytes(static_cast<CardQrWindow*>(window)); });
        QTest::mouseClick(editor.QrButton, Qt::LeftButton);
        EXPECT_TRUE(shownCode.contains("FN:王五改\r\n") && shownCode.contains("13700137000")) << shownCode.toStdString();
    }
}

TEST_F(CardQrWindowTest, WhatWasLeftOutIsSaidUnderTheCode)
{
    CardValues card;
    for (const CardField& f : cardFields())
        if (!f.isLookup())
            card[static_cast<size_t>(f.number - 1)] = QString(f.inputLimit / 2, u'满');
    card[kNameField] = QStringLiteral("欧阳明月");
    CardQrWindow window(card, nullptr);
    ASSERT_FALSE(window.code().leftOut.isEmpty());
    EXPECT_FALSE(window.LeftOutLabel->isHidden());
    EXPECT_EQ(window.LeftOutLabel->text(), QStringLiteral("二维码容量有限，未放入：") + window.code().leftOut.join(QStringLiteral("、")));
    EXPECT_EQ(shownBytes(&window), window.code().vcard);
    if (const QString dir = qEnvironmentVariable("OSTREL_SCREENSHOTS"); !dir.isEmpty()) {
        window.show();
        EXPECT_TRUE(window.grab().save(QDir(dir).filePath(QStringLiteral("card_qr_left_out.png"))));
        CardQrWindow plain(CardValues{{QStringLiteral("客户"), QStringLiteral("李娜")}}, nullptr);
        plain.show();
        EXPECT_TRUE(plain.grab().save(QDir(dir).filePath(QStringLiteral("card_qr.png"))));
    }
}
