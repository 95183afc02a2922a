// Scanning paper cards through the windows: 扫描名片… of the 数据 menu with the file chooser
// answered from the test queue, the editor filled from the image with the image beside the
// fields, the review list of a batch (holding kept JPEGs, one card made the back of another),
// a back side added in the editor, images dropped on the main window, a batch cancelled, and
// bad input that writes nothing.
#include "app_fixture.h"
#include "cards/card_editor.h"
#include "cards/card_form.h"
#include "cards/card_image_view.h"
#include "cards/scan_review.h"
#include "core/card_image_store.h"
#include "drawn_card.h"
#include "ui_helpers.h"
#include "ui/common/gbk_edit.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

struct Card {
    const char* name;
    const char* company;
    const char* mobile;
    const char* mail;
};

const Card kCards[] = {
    {"王建国", "北京星辰科技有限公司", "13812345678", "wang@xingchen.com"},
    {"李秀英", "上海海川贸易有限公司", "13987654321", "li@haichuan.cn"},
    {"张伟", "深圳南山电子有限公司", "15811112222", "zhang@nanshan.com"},
};

// Saved where a test run leaves its pictures, for a person to look at.
void keepScreenshot(QWidget* window, const QString& name)
{
    const QString folder = qEnvironmentVariable("OSTREL_SCREENSHOTS");
    if (!folder.isEmpty())
        window->grab().save(QDir(folder).filePath(name));
}

class ScanWindow : public test::AppFixture {
protected:
    ScanWindow()
    {
        startMain();
        // Armed by start(0): presses 取消 of the scan's progress as soon as it shows, as the user does.
        QObject::connect(&canceller, &QTimer::timeout, [this] {
            if (auto* progress = main->findChild<QProgressDialog*>(QStringLiteral("ProgressDialog"))) {
                progress->findChild<QPushButton*>()->click();
                canceller.stop();
            }
        });
    }

    // quarterTurns: the card photographed on its side or upside down.
    // scale: a photo larger than the kept image.
    QString writeCard(const Card& card, const QString& file, int quarterTurns = 0, double scale = 1)
    {
        const QString path = dir.filePath(file);
        test::drawnCard(QString::fromUtf8(card.name),
                        {QString::fromUtf8(card.company), QStringLiteral("手机：") + QString::fromUtf8(card.mobile),
                         QStringLiteral("邮箱：") + QString::fromUtf8(card.mail)})
            .transformed(QTransform().rotate(90 * quarterTurns).scale(scale, scale), Qt::SmoothTransformation)
            .save(path);
        return path;
    }
    // A back side (an English side with a telephone and a website the fronts lack, or none
    // but a mark) with a dark mark in its top-left corner, photographed turned by quarterTurns.
    QString writeBack(const QString& file, int quarterTurns, bool text)
    {
        QImage back = text ? test::drawnCard(QStringLiteral("Wang Jianguo"),
                                             {QStringLiteral("Xingchen Technology Co., Ltd."),
                                              QStringLiteral("Mobile: +86 138 1234 5678"), QStringLiteral("Tel: 010-6543 2100"),
                                              QStringLiteral("wang@xingchen.com"), QStringLiteral("www.xingchen.com")})
                           : test::drawnCard({}, {});
        QPainter(&back).fillRect(20, 20, 50, 50, Qt::black);
        const QString path = dir.filePath(file);
        back.transformed(QTransform().rotate(90 * quarterTurns)).save(path);
        return path;
    }
    // The mark is in the top-left corner of an upright, landscape back and nowhere else.
    static bool markedUpright(const QImage& back)
    {
        if (back.width() <= back.height())
            return false;
        const int w = back.width() - 1, h = back.height() - 1;
        return qGray(back.pixel(45, 45)) < 80 && qGray(back.pixel(w - 45, 45)) > 200
               && qGray(back.pixel(45, h - 45)) > 200 && qGray(back.pixel(w - 45, h - 45)) > 200;
    }
    void scanFromMenu(const QStringList& files)
    {
        testhooks::queueFiles(files);
        main->findChild<QAction*>(QStringLiteral("ScanAction"))->trigger();
    }
    static QString text(QWidget* window, const char* control)
    {
        return window->findChild<GbkEdit*>(QString::fromLatin1(control))->text();
    }
    int cards() { return column(QStringLiteral("select count(*) from D_B")).first().toInt(); }
    int64_t cardNamed(const char* name)
    {
        const QStringList ids = column(QStringLiteral("select ID from D_B where BName='%1'").arg(QString::fromUtf8(name)));
        return ids.isEmpty() ? 0 : ids.first().toLongLong();
    }

    QTemporaryDir dir;
    QTimer canceller;
};

TEST_F(ScanWindow, OneImageOpensTheEditorFilledAndSavingKeepsTheImage)
{
    const int before = cards();
    bool shown = false;
    testhooks::queueModal([&](QDialog* window) {
        shown = true;
        EXPECT_EQ(window->windowTitle(), QStringLiteral("新增 名片"));
        EXPECT_EQ(text(window, "EditB1"), QStringLiteral("王建国"));
        EXPECT_EQ(text(window, "EditB3"), QStringLiteral("13812345678"));
        EXPECT_EQ(text(window, "EditB4"), QStringLiteral("wang@xingchen.com"));
        EXPECT_EQ(text(window, "EditD2"), QStringLiteral("北京星辰科技有限公司"));
        auto* view = window->findChild<CardImageView*>(QStringLiteral("ImageView"));
        EXPECT_TRUE(view->isVisible());
        EXPECT_EQ(view->image().size(), QSize(1063, 638));
        const double fitted = view->zoom();
        view->findChild<QPushButton*>(QStringLiteral("ZoomInButton"))->click();
        EXPECT_GT(view->zoom(), fitted);
        keepScreenshot(window, QStringLiteral("scanned-card-editor.png"));
        EXPECT_EQ(cards(), before) << "nothing is saved before 保存";
        window->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    });
    // Photographed on its side: the card and its kept image are set upright.
    scanFromMenu({writeCard(kCards[0], QStringLiteral("名片.png"), 1)});
    ASSERT_TRUE(shown);
    EXPECT_TRUE(testhooks::shownTexts().contains(QStringLiteral("恭喜！恭喜！名片 新增 保存成功！")));
    const int64_t card = cardNamed("王建国");
    ASSERT_NE(card, 0);
    const QImage kept = QImage::fromData(cardImage(dm.ADOConnection1, card), "JPEG");
    EXPECT_EQ(kept.size(), QSize(1063, 638));
    EXPECT_EQ(cards(), before + 1);
}

TEST_F(ScanWindow, ABatchOfThreeThroughTheReviewList)
{
    QStringList files;
    for (const Card& card : kCards)
        // The second is a photo larger than the kept image.
        files << writeCard(card, QString::fromUtf8(card.name) + QStringLiteral(".jpg"), 0, &card == &kCards[1] ? 2 : 1);
    testhooks::queueModal([&](QDialog* window) {
        auto* list = qobject_cast<TfrmScanList*>(window);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->ScanTable->rowCount(), 3);
        for (int r = 0; r < 3; ++r) {
            EXPECT_EQ(list->ScanTable->item(r, 2)->text(), QString::fromUtf8(kCards[r].name));
            EXPECT_EQ(list->ScanTable->item(r, 3)->text(), QString::fromUtf8(kCards[r].company));
            EXPECT_EQ(list->ScanTable->item(r, 4)->text(), QString::fromUtf8(kCards[r].mobile));
            EXPECT_EQ(list->ScanTable->item(r, 0)->checkState(), Qt::Checked);
            EXPECT_FALSE(list->ScanTable->item(r, 1)->icon().isNull());
            // A batch holds what will be kept and a thumbnail, never the page as read.
            const ScannedPage& page = list->pages()[static_cast<size_t>(r)];
            EXPECT_EQ(page.thumbnail.height(), kScanThumbHeight);
            const QSize kept = QImage::fromData(page.jpeg, "JPEG").size();
            EXPECT_EQ(kept, r == 1 ? QSize(1600, 960) : QSize(1063, 638)) << r;
        }
        keepScreenshot(window, QStringLiteral("scan-review-list.png"));
        // The third image is the back of the second card.
        list->makeBackOfPrevious(0);
        EXPECT_EQ(list->ScanTable->rowCount(), 3) << "the first card has none above it";
        list->makeBackOfPrevious(2);
        ASSERT_EQ(list->ScanTable->rowCount(), 2);
        keepScreenshot(window, QStringLiteral("scan-review-list-back.png"));
        list->openRow(1); // checked in the editor and saved there
        list->SaveAllButton->click();
        EXPECT_TRUE(list->ScanTable->item(1, 5)->text().startsWith(QStringLiteral("已保存")));
    });
    testhooks::queueModal([&](QDialog* editor) {
        EXPECT_EQ(text(editor, "EditB1"), QStringLiteral("李秀英"));
        auto* view = editor->findChild<CardImageView*>(QStringLiteral("ImageView"));
        EXPECT_EQ(view->image().size(), QSize(1600, 960));
        EXPECT_TRUE(view->BackButton->isVisible());
        editor->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    });
    scanFromMenu(files);
    EXPECT_EQ(testhooks::pendingModals(), 0);
    EXPECT_TRUE(testhooks::shownTexts().contains(QStringLiteral("已保存 1 张名片。")));
    const struct {
        const char* name;
        bool back;
    } saved[] = {{"王建国", false}, {"李秀英", true}};
    for (const auto& c : saved) {
        const int64_t card = cardNamed(c.name);
        ASSERT_NE(card, 0) << c.name;
        EXPECT_FALSE(cardImage(dm.ADOConnection1, card).isEmpty()) << c.name;
        EXPECT_EQ(!cardImage(dm.ADOConnection1, card, CardSide::Back).isEmpty(), c.back) << c.name;
    }
    EXPECT_EQ(cardNamed("张伟"), 0) << "a card made a back side is not saved as a card";
}

// A back photographed on its side or upside down is read through the main window's scanner and
// kept upright: added in the editor of a scanned card, or made the back of the card above it
// in the review list. A back with no text is kept as it was (in a batch it has a row of its
// own, which is no card); a cancelled reading adds none. What an English back reads fills the
// fields the front left empty, and what differs goes to 补充信息.
TEST_F(ScanWindow, ABackPhotographedTurnedIsKeptUpright)
{
    const struct {
        int turns;
        bool text;
        bool inReviewList;
        bool cancel;
    } cases[] = {{1, true, false, false}, {2, true, false, false}, {3, true, false, false}, {0, false, false, false},
                 {1, true, false, true},  {3, true, true, false},  {0, false, true, false}};
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(row);
        testhooks::clear();
        // The duplicate check would refuse a card saved by an earlier row.
        exec(QStringLiteral("delete from D_BImage"));
        exec(QStringLiteral("delete from D_B"));
        const Card& front = kCards[row % 3];
        const QString tag = QString::number(row++);
        const QString back = writeBack(tag + QStringLiteral("背面.png"), c.turns, c.text);
        if (c.inReviewList) {
            testhooks::queueModal([&](QDialog* window) {
                auto* list = qobject_cast<TfrmScanList*>(window);
                ASSERT_NE(list, nullptr);
                ASSERT_EQ(list->ScanTable->rowCount(), 2) << "a back without text has its row too";
                const QTableWidgetItem* tick = list->ScanTable->item(1, 0);
                EXPECT_EQ(tick->flags().testFlag(Qt::ItemIsUserCheckable), c.text);
                EXPECT_EQ(list->ScanTable->item(1, 2)->text() == QStringLiteral("（未识别到文字）"), !c.text);
                if (!c.text) {
                    keepScreenshot(window, QStringLiteral("scan-review-list-textless.png"));
                    list->openRow(1);
                    EXPECT_TRUE(testhooks::shownTexts().last().startsWith(QStringLiteral("这张图像上未识别到文字")));
                }
                list->makeBackOfPrevious(1);
                list->SaveAllButton->click();
            });
        } else {
            testhooks::queueModal([&](QDialog* editor) {
                auto* view = editor->findChild<CardImageView*>(QStringLiteral("ImageView"));
                testhooks::queueFile(back);
                if (c.cancel)
                    canceller.start(0);
                editor->findChild<QPushButton*>(QStringLiteral("AddBackButton"))->click();
                EXPECT_EQ(view->BackButton->isVisible(), !c.cancel);
                EXPECT_EQ(main->findChildren<CardScanner*>().size(), 1) << "the main window's one recogniser";
                if (!c.cancel && c.turns == 1) {
                    QCoreApplication::processEvents();
                    keepScreenshot(editor, QStringLiteral("scanned-card-upright-back.png"));
                }
                editor->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
            });
        }
        QStringList files = {writeCard(front, tag + QStringLiteral("正面.png"))};
        if (c.inReviewList)
            files << back;
        scanFromMenu(files);
        EXPECT_EQ(testhooks::pendingModals(), 0);
        const int64_t card = cardNamed(front.name);
        ASSERT_NE(card, 0) << testhooks::shownTexts().join(u'|').toStdString();
        const QByteArray kept = cardImage(dm.ADOConnection1, card, CardSide::Back);
        EXPECT_EQ(kept.isEmpty(), c.cancel);
        if (!c.cancel) {
            EXPECT_TRUE(markedUpright(QImage::fromData(kept, "JPEG")));
        }
        QStringList fields;
        for (const char* name : {"BName", "DName", "DPho", "DWWW", "FDes"})
            fields << column(QStringLiteral("select %1 from D_B where ID=%2").arg(QLatin1String(name)).arg(card)).value(0);
        const bool merged = c.text && !c.cancel;
        EXPECT_EQ(fields.mid(0, 2), QStringList({QString::fromUtf8(front.name), QString::fromUtf8(front.company)}))
            << "the front keeps its own";
        EXPECT_EQ(fields[2], merged ? QStringLiteral("010-65432100") : QString());
        EXPECT_EQ(fields[3], merged ? QStringLiteral("www.xingchen.com") : QString());
        EXPECT_EQ(fields[4].contains(QStringLiteral("单位名称：Xingchen Technology Co., Ltd.")), merged) << fields[4].toStdString();
        EXPECT_EQ(fields[4].contains(QStringLiteral("移动电话：13812345678")), merged && &front != &kCards[0])
            << fields[4].toStdString();
    }
}

TEST_F(ScanWindow, ImagesDroppedOnTheMainWindowAreRead)
{
    QMimeData notes;
    notes.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("notes.txt")))});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &notes, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(main.get(), &refused);
    EXPECT_FALSE(refused.isAccepted()) << "only card images are taken";
    QMimeData images;
    images.setUrls({QUrl::fromLocalFile(writeCard(kCards[1], QStringLiteral("李秀英.jpg")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &images, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(main.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QString name;
    testhooks::queueModal([&](QDialog* editor) { name = text(editor, "EditB1"); });
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &images, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(main.get(), &drop);
    // The cards are read after the drop has ended.
    for (int i = 0; i < 1000 && testhooks::pendingModals() > 0; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    EXPECT_EQ(name, QStringLiteral("李秀英"));
}

TEST_F(ScanWindow, ACancelledBatchOpensNothingAndSavesNothing)
{
    const int before = cards();
    QStringList files;
    for (const Card& card : kCards)
        files << writeCard(card, QString::fromUtf8(card.name) + QStringLiteral(".png"));
    bool opened = false;
    testhooks::queueModal([&](QDialog*) { opened = true; });
    // 取消 while the first card is being read.
    canceller.start(0);
    scanFromMenu(files);
    EXPECT_FALSE(opened) << "neither the review list nor the editor";
    EXPECT_EQ(cards(), before);
    testhooks::clear();
}

TEST_F(ScanWindow, BadInputGetsAChineseMessageAndWritesNothing)
{
    const int before = cards();
    QFile notImage(dir.filePath(QStringLiteral("名片.jpg")));
    ASSERT_TRUE(notImage.open(QIODevice::WriteOnly));
    notImage.write("this is a letter, not a photo\n");
    notImage.close();
    QImage blank(1063, 638, QImage::Format_RGB32);
    blank.fill(Qt::white);
    blank.save(dir.filePath(QStringLiteral("空白.png")));
    // With no card beside it, a back with a mark alone is no card either.
    const QString mark = writeBack(QStringLiteral("标志.png"), 0, false);
    scanFromMenu({notImage.fileName(), dir.filePath(QStringLiteral("空白.png")), mark});
    const QStringList texts = testhooks::shownTexts();
    ASSERT_EQ(texts.size(), 2) << texts.join(u'|').toStdString(); // the file chooser, then the message
    EXPECT_TRUE(texts[1].startsWith(QStringLiteral("没有识别出名片：\n名片.jpg："))) << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains(QStringLiteral("空白.png：未识别到文字"))) << texts[1].toStdString();
    EXPECT_TRUE(texts[1].contains(QStringLiteral("标志.png：未识别到文字"))) << texts[1].toStdString();
    EXPECT_EQ(testhooks::pendingModals(), 0);
    EXPECT_EQ(cards(), before);
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BImage")).first(), QStringLiteral("0"));
}

} // namespace

namespace {

// The editor of a read card, without the recogniser: what it shows of given readings.
class ScannedEditor : public test::AppFixture {
protected:
    ScannedEditor() { startMain(); }
    TfrmD_D& open(const ScannedCard& card, const QString& cardId = QStringLiteral("0"))
    {
        editor = std::make_unique<TfrmD_D>(dm, main.get());
        main->follow(*editor);
        editor->CardID = cardId;
        if (cardId == QLatin1String("0"))
            editor->setScan(card, keptCardJpeg(test::drawnCard(card.values[kNameField], {})));
        editor->show();
        return *editor;
    }
    GbkEdit* edit(const char* name) { return editor->findChild<GbkEdit*>(QString::fromLatin1(name)); }
    std::unique_ptr<TfrmD_D> editor;
};

ScannedCard reading(std::initializer_list<std::tuple<const char*, const char*, int>> fields)
{
    ScannedCard card;
    for (const auto& [column, value, confidence] : fields) {
        const int i = cardFieldIndex(column);
        card.values[static_cast<size_t>(i)] = QString::fromUtf8(value);
        card.confidence[static_cast<size_t>(i)] = confidence;
    }
    return card;
}

TEST_F(ScannedEditor, FieldsReadWithLowConfidenceAreMarkedUntilChanged)
{
    open(reading({{"BName", "赵敏", 96}, {"BMob", "13912345678", 40}, {"DAdd", "北京市海淀区中关村大街1号", 74},
                  {"BMail", "zm@example.com", 75}}));
    const struct {
        const char* control;
        bool marked;
    } cases[] = {{"EditB1", false}, {"EditB3", true}, {"EditD5", true}, {"EditB4", false}, {"EditB2", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(edit(c.control)->toolTip() == QStringLiteral("识别可信度较低，请核对"), c.marked) << c.control;
        EXPECT_EQ(edit(c.control)->styleSheet().contains(QStringLiteral("background")), c.marked) << c.control;
    }
    test::typeText(edit("EditB3"), QStringLiteral("9"));
    EXPECT_TRUE(edit("EditB3")->toolTip().isEmpty());
    EXPECT_TRUE(edit("EditB3")->styleSheet().isEmpty());
    EXPECT_FALSE(edit("EditD5")->toolTip().isEmpty());
}

TEST_F(ScannedEditor, TheDescribedChecksAndLimitsApplyAndNothingIsWrittenWhenRefused)
{
    addCard(QStringLiteral("赵敏"), QStringLiteral("男"), QStringLiteral("客户"));
    const int before = column(QStringLiteral("select count(*) from D_B")).first().toInt();
    const struct {
        ScannedCard card;
        const char* message;
    } cases[] = {
        {reading({{"BMob", "13912345678", 90}}), "姓名 不能为空！"},
        {reading({{"BName", "赵敏", 90}}), "客户 赵敏 男 已经存在！"},
        {reading({{"BName", "钱多多", 90}, {"DPos", "10008010008", 60}}),
         "邮政编码 识别出的内容有 11 个字节，超过了 10 个字节的限制，请删减后再保存。"},
    };
    for (const auto& c : cases) {
        testhooks::clear();
        open(c.card).BitBtn1->click();
        EXPECT_EQ(testhooks::shownTexts(), QStringList{QString::fromUtf8(c.message)});
        EXPECT_TRUE(editor->isVisible());
    }
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_B")).first().toInt(), before);
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BImage")).first(), QStringLiteral("0"));
}

TEST_F(ScannedEditor, ASavedCardShowsItsKeptImageAndACardWithoutOneKeepsTheDescribedSize)
{
    open(reading({{"BName", "孙丽", 90}})).BitBtn1->click();
    const int64_t card = editor->savedCardId();
    ASSERT_NE(card, 0);
    EXPECT_FALSE(editor->isVisible()) << "a scanned card's window closes once saved";
    open({}, QString::number(card));
    EXPECT_TRUE(editor->ImageView->isVisible());
    EXPECT_EQ(editor->ImageView->image().size(), QSize(1063, 638));
    EXPECT_FALSE(editor->ImageView->BackButton->isVisible()) << "no back side, no 正面/背面";
    open({}, QString::number(addCard(QStringLiteral("周强"))));
    EXPECT_FALSE(editor->ImageView->isVisible());
    EXPECT_EQ(editor->size(), QSize(860, 420));
}

// A back side added before the card's first save (the new card's insert) or to a saved card
// (the update): kept as side 2 beside the front, shown by 背面 when the card is opened again.
TEST_F(ScannedEditor, ABackSideAddedInTheEditorIsKeptWithTheFront)
{
    QTemporaryDir dir;
    const QString back = dir.filePath(QStringLiteral("背面.png"));
    test::drawnCard(QStringLiteral("Back Side"), {QStringLiteral("www.example.com")})
        .scaled(2126, 1276)
        .save(back);
    const QString notImage = dir.filePath(QStringLiteral("背面.jpg"));
    QFile letter(notImage);
    ASSERT_TRUE(letter.open(QIODevice::WriteOnly) && letter.write("not a photo") > 0);
    letter.close();
    const auto addBack = [&](const QString& file) {
        testhooks::queueFile(file);
        editor->AddBackButton->click();
    };
    for (const bool later : {false, true}) {
        testhooks::clear();
        open(reading({{"BName", later ? "钱七" : "孙丽", 90}}));
        addBack(notImage);
        EXPECT_TRUE(testhooks::shownTexts().last().startsWith(QStringLiteral("无法添加背面：背面.jpg："))) << later;
        EXPECT_FALSE(editor->ImageView->BackButton->isVisible());
        if (!later)
            addBack(back);
        editor->BitBtn1->click();
        const QString card = QString::number(editor->savedCardId());
        if (later) {
            open({}, card);
            addBack(back);
            EXPECT_EQ(editor->ImageView->side(), CardSide::Back);
            // The saved card's fields as shown are its front: the back fills, never replaces.
            EXPECT_EQ(edit("EditB1")->text(), QStringLiteral("钱七"));
            EXPECT_EQ(edit("EditD9")->text(), QStringLiteral("www.example.com"));
            EXPECT_EQ(edit("EditF4")->text(), QStringLiteral("姓名：Back Side"));
            editor->BitBtn1->click();
            EXPECT_TRUE(testhooks::shownTexts().contains(QStringLiteral("恭喜！恭喜！名片 修改 保存成功！")));
        }
        open({}, card);
        CardImageView& view = *editor->ImageView;
        EXPECT_TRUE(view.BackButton->isVisible()) << later;
        EXPECT_EQ(view.image().size(), QSize(1063, 638)) << "the front first";
        view.BackButton->click();
        EXPECT_EQ(view.side(), CardSide::Back);
        EXPECT_EQ(view.image().size(), QSize(1600, 960)) << "downscaled as the front is";
        if (!later) {
            QCoreApplication::processEvents(); // the layout of a window shown without an event loop
            keepScreenshot(editor.get(), QStringLiteral("scanned-card-back-side.png"));
        }
        EXPECT_FALSE(cardImage(dm.ADOConnection1, card.toLongLong(), CardSide::Front).isEmpty());
    }
    EXPECT_EQ(column(QStringLiteral("select count(*) from D_BImage where theSide=2")).first(), QStringLiteral("2"));
}

} // namespace
