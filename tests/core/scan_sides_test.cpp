// A card read from two images: what the back side adds to the front, an image with marks but
// no text told from a blank page, and `ostrel --scan FRONT --back BACK` run as users run it.
#include "core/scan/card_sides.h"
#include "drawn_card.h"

#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ostrel {
namespace {

using Fields = std::map<std::string, std::pair<const char*, int>>; // column -> value, confidence

ScannedCard card(const Fields& fields)
{
    ScannedCard c;
    for (const auto& [column, read] : fields) {
        const auto i = static_cast<size_t>(cardFieldIndex(column.c_str()));
        c.values[i] = QString::fromUtf8(read.first);
        c.confidence[i] = read.second;
    }
    return c;
}

TEST(ScanSides, TheBackFillsWhatTheFrontLeftEmptyAndKeepsTheRestInNotes)
{
    const struct {
        const char* what;
        Fields front, back, merged;
    } cases[] = {
        {"empty fields are filled, a low confidence stays low",
         {{"BName", {"王建国", 96}}},
         {{"DPho", {"010-65432100", 88}}, {"DWWW", {"www.xingchen.com", 60}}},
         {{"BName", {"王建国", 96}}, {"DPho", {"010-65432100", 88}}, {"DWWW", {"www.xingchen.com", 60}}}},
        {"a different value of a filled field goes to notes under its caption",
         {{"BName", {"王建国", 96}}, {"DName", {"北京星辰科技有限公司", 92}}},
         {{"BName", {"Wang Jianguo", 90}}, {"DName", {"Xingchen Technology Co., Ltd.", 70}}},
         {{"BName", {"王建国", 96}},
          {"DName", {"北京星辰科技有限公司", 92}},
          {"FDes", {"姓名：Wang Jianguo；单位名称：Xingchen Technology Co., Ltd.", 70}}}},
        {"one value written two ways is one: the agreeing side makes it surer",
         {{"BMob", {"13812345678", 50}}, {"BMail", {"Wang@Xingchen.com", 90}}},
         {{"BMob", {"138 1234 5678", 95}}, {"BMail", {"wang@xingchen.com", 80}}},
         {{"BMob", {"13812345678", 95}}, {"BMail", {"Wang@Xingchen.com", 90}}}},
        {"nothing on the back changes nothing", {{"BName", {"张伟", 90}}}, {}, {{"BName", {"张伟", 90}}}},
        {"both sides empty stay empty", {}, {}, {}},
        {"a value the front holds in another field is not repeated",
         {{"BName", {"张伟", 90}}, {"BMob", {"15811112222", 90}}},
         {{"BPho", {"158-1111-2222", 90}}},
         {{"BName", {"张伟", 90}}, {"BMob", {"15811112222", 90}}}},
        {"the back's notes join the front's, items the front has left out",
         {{"BName", {"张伟", 90}}, {"FDes", {"微信：zw123", 80}}},
         {{"FDes", {"微信：zw123；Since 1998", 65}}, {"DJob", {"Sales Manager", 90}}},
         {{"BName", {"张伟", 90}}, {"DJob", {"Sales Manager", 90}}, {"FDes", {"微信：zw123；Since 1998", 65}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ScannedCard got = withBackSide(card(c.front), card(c.back));
        const ScannedCard want = card(c.merged);
        for (int i = 0; i < kCardFieldCount; ++i) {
            const auto at = static_cast<size_t>(i);
            EXPECT_EQ(got.values[at].toStdString(), want.values[at].toStdString()) << i;
            EXPECT_EQ(got.confidence[at], want.confidence[at]) << i;
        }
    }
}

TEST(ScanSides, MarksWithoutTextAreToldFromABlankPage)
{
    const auto page = [](const QColor& ground) {
        QImage image(1063, 638, QImage::Format_RGB32);
        image.fill(ground);
        return image;
    };
    // A phone photo of a blank card: light falling off across it, and sensor noise.
    QImage photo = page(Qt::white);
    QRandomGenerator noise(7);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int v = std::clamp(250 - x / 8 - y / 10 + int(noise.bounded(25)) - 12, 0, 255);
            photo.setPixel(x, y, qRgb(v, v, v - 6));
        }
    QImage logo = page(Qt::white);
    QPainter(&logo).fillRect(480, 280, 60, 60, QColor(200, 30, 40));
    QImage paleLogo = page(QColor(250, 248, 240));
    QPainter(&paleLogo).fillRect(40, 40, 45, 45, QColor(240, 200, 40)); // yellow: light in grey
    const struct {
        const char* what;
        QImage image;
        bool marked;
    } cases[] = {
        {"white page", page(Qt::white), false},
        {"grey scan of an empty lid", page(QColor(180, 180, 175)), false},
        {"blank card photographed", photo, false},
        {"a logo in the middle", logo, true},
        {"a small yellow logo in a corner", paleLogo, true},
        {"no image", QImage(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(showsMarks(c.image), c.marked) << c.what;
}

// The program as users run it: a front and its English back are one card; a blank image and
// a --back without a file are refused, with a Chinese sentence and a failing exit code.
TEST(ScanCommand, AFrontAndItsBackAreOneCard)
{
    QTemporaryDir dir;
    const auto drawn = [&](const char* name, const QStringList& lines) {
        const QString path = dir.filePath(QString::fromUtf8(name));
        test::drawnCard({}, lines).save(path);
        return path;
    };
    const QString front = drawn("正面.png", {QStringLiteral("北京星辰科技有限公司"), QStringLiteral("手机：13812345678")});
    const QString back = drawn("背面.png", {QStringLiteral("Xingchen Technology Co., Ltd."), QStringLiteral("Tel: 010-62751234"),
                                             QStringLiteral("www.xingchen.com")});
    const QString blank = drawn("空白.png", {});
    const struct {
        QStringList arguments;
        int exitCode;
        std::vector<const char*> printed; // on the standard output, else the error output
    } cases[] = {
        {{front, QStringLiteral("--back"), back},
         0,
         {R"("back":")", R"("DName":"北京星辰科技有限公司")", R"("DPho":"010-62751234")", R"("DWWW":"www.xingchen.com")",
          R"("FDes":"单位名称：Xingchen Technology Co., Ltd.")"}},
        {{front}, 0, {R"("DPho":"")"}},
        {{front, QStringLiteral("--back"), blank}, 0, {R"("back":")", R"("FDes":"")"}},
        {{blank}, 1, {"空白.png：未识别到文字"}},
        {{front, QStringLiteral("--back")}, 2, {"用法"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        QProcess program;
        program.start(QStringLiteral(OSTREL_PROGRAM), QStringList{QStringLiteral("--scan")} + c.arguments);
        ASSERT_TRUE(program.waitForFinished(60000));
        EXPECT_EQ(program.exitCode(), c.exitCode);
        const QString out = QString::fromUtf8(c.exitCode == 0 ? program.readAllStandardOutput() : program.readAllStandardError());
        for (const char* printed : c.printed)
            EXPECT_TRUE(out.contains(QString::fromUtf8(printed))) << printed << " in " << out.toStdString();
        if (c.exitCode == 0) {
            EXPECT_EQ(out.count(u'\n'), 1) << "one card";
        }
    }
}

} // namespace
} // namespace ostrel
