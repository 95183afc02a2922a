// The card reader on images: a drawn card read end to end, and each kind of bad input
// answered with a Chinese sentence instead of a card.
#include "core/scan/card_outline.h"
#include "core/scan/card_reader.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <array>
#include <tuple>

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
    for (const int turns : {1, 2}) {
        const ScannedCard card = reader().readCard(drawnCard().transformed(QTransform().rotate(90 * turns)));
        EXPECT_EQ(card.value("BMob").toStdString(), "13812345678") << turns;
        // The turns that set it upright again, for the image kept with the card.
        EXPECT_EQ(card.quarterTurns, 4 - turns) << turns;
    }
}

// Started afresh after every card, a reader reads exactly as one that never is: every
// setting of its recognisers is made again (the page layout, the single lines, the
// characters weighed beside each one read).
TEST(CardReader, ReadsTheSameWhenStartedAfreshAfterEveryCard)
{
    CardReader afresh({}, 0);
    const QImage card = drawnCard();
    for (const QImage& image : {card, card.transformed(QTransform().rotate(180)), card}) {
        const RecognisedLines want = reader().readLines(image);
        const RecognisedLines got = afresh.readLines(image);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(got[i].text, want[i].text) << i;
            EXPECT_EQ(got[i].box, want[i].box) << i;
            EXPECT_EQ(got[i].confidence, want[i].confidence) << i;
            EXPECT_EQ(got[i].choices, want[i].choices) << i;
        }
    }
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

// The drawn card lying on a dark surface, turned by degrees, as a phone photographs it;
// corners receives where its corners fall.
QImage onATable(const QImage& card, double degrees, QPolygonF* corners = nullptr)
{
    QImage photo(int(card.width() * 1.4), int(card.height() * 1.6), QImage::Format_RGB32);
    photo.fill(QColor(70, 60, 80));
    QTransform t;
    t.translate(photo.width() / 2.0, photo.height() / 2.0).rotate(degrees).translate(-card.width() / 2.0, -card.height() / 2.0);
    QPainter p(&photo);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setTransform(t);
    p.drawImage(0, 0, card);
    if (corners)
        *corners = t.map(QPolygonF({QPointF(0, 0), QPointF(card.width(), 0), QPointF(card.width(), card.height()),
                                    QPointF(0, card.height())}));
    return photo;
}

TEST(CardOutline, FindsTheCornersOfACardOnATable)
{
    for (const double degrees : {0.0, 4.0, -8.0, 8.0}) {
        QPolygonF want;
        const QPolygonF got = scan::cardOutline(onATable(drawnCard(), degrees, &want));
        ASSERT_EQ(got.size(), 4) << degrees;
        for (int i = 0; i < 4; ++i)
            EXPECT_LT(QLineF(got[i], want[i]).length(), 12.0) << degrees << "° corner " << i;
    }
}

TEST(CardOutline, NoOutlineWithoutSurroundings)
{
    QImage dark(600, 400, QImage::Format_RGB32);
    dark.fill(QColor(40, 40, 40));
    QImage speck = dark;
    QPainter(&speck).fillRect(QRect(290, 190, 20, 20), Qt::white);
    const std::vector<std::pair<const char*, QImage>> cases = {
        {"a scan filled by the card", drawnCard()}, {"all dark", dark}, {"a light speck", speck}, {"null", QImage()}};
    for (const auto& [what, image] : cases)
        EXPECT_TRUE(scan::cardOutline(image).isEmpty()) << what;
}

TEST(CardOutline, FlattenedCardHasTheCardsShape)
{
    QPolygonF corners;
    const QImage photo = onATable(drawnCard(), 6, &corners);
    const QImage flat = scan::flattened(photo, corners, 1100);
    EXPECT_EQ(flat.width(), 1100);
    EXPECT_NEAR(flat.height(), 1100 * 638 / 1063, 2);
    // The surface is gone: the corners are the card's white.
    EXPECT_GT(qGray(flat.pixel(3, 3)), 200);
    EXPECT_GT(qGray(flat.pixel(flat.width() - 4, flat.height() - 4)), 200);
}

TEST(CardOutline, ThresholdPartsTwoPeaks)
{
    const std::vector<std::tuple<int, int, int, int>> cases = {{40, 220, 41, 219}, {100, 140, 101, 139}, {10, 250, 11, 249}};
    for (const auto& [dark, light, low, high] : cases) {
        std::array<int, 256> histogram{};
        histogram[size_t(dark)] = 500;
        histogram[size_t(light)] = 1500;
        const int t = scan::darkLightThreshold(histogram);
        EXPECT_GE(t, dark) << dark << "/" << light;
        EXPECT_LT(t, light) << dark << "/" << light;
    }
}

TEST(CardReader, ReadsATiltedPhotoOfACard)
{
    const ScannedCard card = reader().readCard(onATable(drawnCard(), 8));
    EXPECT_EQ(card.value("BMob").toStdString(), "13812345678");
    EXPECT_EQ(card.value("BMail").toStdString(), "li.na@xingchen.com");
}

TEST(CardReader, TwoColumnsLevelWithEachOtherAreReadApart)
{
    QImage card(1063, 638, QImage::Format_RGB32);
    card.fill(Qt::white);
    QPainter p(&card);
    QFont large(QStringLiteral("WenQuanYi Micro Hei"));
    large.setPixelSize(64);
    p.setFont(large);
    p.drawText(40, 230, QStringLiteral("宋芳"));
    QFont small(QStringLiteral("WenQuanYi Micro Hei"));
    small.setPixelSize(28);
    p.setFont(small);
    p.drawText(40, 320, QStringLiteral("北京博远科技有限公司"));
    p.drawText(560, 120, QStringLiteral("手机：13912345678"));
    p.drawText(560, 215, QStringLiteral("网址：www.boyuan.com"));
    p.drawText(560, 300, QStringLiteral("E: fang.song@boyuan.com"));
    p.end();
    const ScannedCard read = reader().readCard(card);
    EXPECT_EQ(read.value("BName").toStdString(), "宋芳");
    EXPECT_EQ(read.value("DWWW").toStdString(), "www.boyuan.com");
    EXPECT_EQ(read.value("BMail").toStdString(), "fang.song@boyuan.com");
    EXPECT_EQ(read.value("BMob").toStdString(), "13912345678");
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
