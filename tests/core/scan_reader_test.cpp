// The card reader on images: a drawn card read end to end, and each kind of bad input
// answered with a Chinese sentence instead of a card.
#include "core/scan/card_reader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

CardReader& reader()
{
    static CardReader shared; // loading the model once keeps the tests quick
    return shared;
}

QImage drawnCard()
{
    QImage card(1063, 638, QImage::Format_RGB32);
    card.fill(Qt::white);
    QPainter p(&card);
    QFont font(QStringLiteral("WenQuanYi Micro Hei"));
    font.setPixelSize(34);
    p.setFont(font);
    const QStringList lines = {QStringLiteral("北京星辰科技有限公司"), QStringLiteral("手机：13812345678"),
                               QStringLiteral("电话：010-62751234"), QStringLiteral("邮箱：li.na@xingchen.com")};
    int y = 120;
    for (const auto& l : lines) {
        p.drawText(80, y, l);
        y += 90;
    }
    return card;
}

TEST(CardReader, ReadsADrawnCardFromAFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("card.jpg"));
    ASSERT_TRUE(drawnCard().save(path, "JPEG", 85));
    const auto cards = reader().readFile(path);
    ASSERT_EQ(cards.size(), 1u);
    EXPECT_EQ(cards[0].value("BMob").toStdString(), "13812345678");
    EXPECT_EQ(cards[0].value("DPho").toStdString(), "010-62751234");
    EXPECT_EQ(cards[0].value("BMail").toStdString(), "li.na@xingchen.com");
    EXPECT_EQ(cards[0].value("DName").toStdString(), "北京星辰科技有限公司");
    EXPECT_FALSE(cards[0].rawText.isEmpty());
}

TEST(CardReader, AQuarterTurnedCardIsSetUpright)
{
    const ScannedCard card = reader().readCard(drawnCard().transformed(QTransform().rotate(90)));
    EXPECT_EQ(card.value("BMob").toStdString(), "13812345678");
}

TEST(CardReader, BadInputGetsAChineseSentence)
{
    QTemporaryDir dir;
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    };
    QByteArray jpeg;
    {
        QImage img = drawnCard();
        QBuffer buffer(&jpeg);
        img.save(&buffer, "JPEG");
    }
    QImage blank(800, 500, QImage::Format_RGB32);
    blank.fill(Qt::white);
    blank.save(dir.filePath(QStringLiteral("blank.png")));
    const std::vector<std::pair<QString, const char*>> cases = {
        {write("text.jpg", "这不是图像"), "不是图像文件"},
        {write("empty.png", ""), "是空的"},
        {write("damaged.jpg", jpeg.left(4) + QByteArray(400, '\x13')), "已损坏"},
        {dir.filePath(QStringLiteral("missing.png")), "无法打开文件"},
        {dir.filePath(QStringLiteral("blank.png")), "未识别到文字"},
    };
    for (const auto& [path, words] : cases) {
        try {
            reader().readFile(path);
            ADD_FAILURE() << path.toStdString() << " gave a card";
        } catch (const ScanError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(words))) << e.message().toStdString();
        }
    }
}

TEST(CardReader, MissingChineseDataNamesThePackage)
{
    QTemporaryDir empty;
    try {
        CardReader missing(empty.path());
        ADD_FAILURE() << "started without its data";
    } catch (const ScanError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("tesseract-ocr-chi-sim"))) << e.message().toStdString();
    }
}

} // namespace
} // namespace ostrel
