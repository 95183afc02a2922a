// A scanner's PDF or multi-page TIFF read as one card per page, drawn page by page; damaged and locked PDFs
// answered with a Chinese sentence.
#include "core/scan/card_reader.h"
#include "drawn_card.h"

#include <QFile>
#include <QPdfWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <leptonica/allheaders.h>

namespace ostrel {
namespace {

CardReader& reader()
{
    static CardReader shared; // loading the model once keeps the tests quick
    return shared;
}

struct PdfCard {
    const char* name;
    const char* mobile;
};

// A card-sized PDF, one drawn card per page, as a scanner's card feeder writes it.
QString writePdf(const QString& path, const std::vector<PdfCard>& cards)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QSizeF(90, 54), QPageSize::Millimeter));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(300);
    QPainter painter(&writer);
    for (size_t i = 0; i < cards.size(); ++i) {
        if (i > 0)
            writer.newPage();
        const QImage card = test::drawnCard(QString::fromUtf8(cards[i].name),
                                            {QStringLiteral("手机：%1").arg(QLatin1String(cards[i].mobile))});
        painter.drawImage(QRect(QPoint(0, 0), card.size()), card);
    }
    painter.end();
    return path;
}

QString writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
}

// A PDF whose pages are encrypted with a password the reader does not have: its objects
// written out with their offsets, and an encryption dictionary the empty password fails.
QByteArray lockedPdf()
{
    const QByteArray objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 255 153] >>",
        "<< /Filter /Standard /V 1 /R 2 /P -4 /O <" + QByteArray(64, 'A') + "> /U <" + QByteArray(64, 'B') + "> >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QByteArray xref = "xref\n0 5\n0000000000 65535 f \n";
    for (int i = 0; i < 4; ++i) {
        xref += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const QByteArray start = QByteArray::number(pdf.size());
    return pdf + xref + "trailer\n<< /Size 5 /Root 1 0 R /Encrypt 4 0 R /ID [<" + QByteArray(32, '1') + "> <"
           + QByteArray(32, '1') + ">] >>\nstartxref\n" + start + "\n%%EOF\n";
}

// A multi-page TIFF, one grey card a page, as a sheet-fed scanner writes it.
QString writeTiff(const QString& path, const std::vector<PdfCard>& cards)
{
    const QByteArray name = QFile::encodeName(path);
    for (size_t i = 0; i < cards.size(); ++i) {
        const QImage card = test::drawnCard(QString::fromUtf8(cards[i].name),
                                            {QStringLiteral("手机：%1").arg(QLatin1String(cards[i].mobile))})
                                .convertToFormat(QImage::Format_Grayscale8);
        PIX* pix = pixCreate(card.width(), card.height(), 8);
        for (int y = 0; y < card.height(); ++y)
            for (int x = 0; x < card.width(); ++x)
                SET_DATA_BYTE(pixGetData(pix) + y * pixGetWpl(pix), x, card.constScanLine(y)[x]);
        pixWriteTiff(name.constData(), pix, IFF_TIFF_LZW, i == 0 ? "w" : "a");
        pixDestroy(&pix);
    }
    return path;
}

TEST(ScannerPdf, EachPageIsACard)
{
    QTemporaryDir dir;
    const struct {
        const char* file;
        std::vector<PdfCard> cards;
    } cases[] = {
        {"one.pdf", {{"王建国", "13812345678"}}},
        {"two.pdf", {{"王建国", "13812345678"}, {"李秀英", "13998765432"}}},
        {"three.tif", {{"王建国", "13812345678"}, {"李秀英", "13998765432"}, {"张伟", "15811112222"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString file = dir.filePath(QString::fromLatin1(c.file));
        const QString path = file.endsWith(QLatin1String(".tif")) ? writeTiff(file, c.cards) : writePdf(file, c.cards);
        const std::vector<ScannedCard> read = reader().readFile(path);
        ASSERT_EQ(read.size(), c.cards.size());
        for (size_t i = 0; i < read.size(); ++i) {
            EXPECT_EQ(read[i].value("BName").toStdString(), c.cards[i].name) << "page " << i + 1;
            EXPECT_EQ(read[i].value("BMob").toStdString(), c.cards[i].mobile) << "page " << i + 1;
        }
    }
}

TEST(ScannerPdf, PagesAreDrawnAtTheReadersResolutionOneAtATime)
{
    QTemporaryDir dir;
    std::vector<PdfCard> many(200, {"王建国", "13812345678"});
    const CardPages pages(writePdf(dir.filePath(QStringLiteral("many.pdf")), many));
    ASSERT_EQ(pages.count(), 200);
    // 90 mm at 300 DPI is 1063 pixels; a page is drawn only when it is asked for.
    const QImage last = pages.page(199);
    EXPECT_NEAR(last.width(), 1063, 2);
    EXPECT_NEAR(last.height(), 638, 2);
    EXPECT_THROW(pages.page(200), ScanError);
}

TEST(ScannerPdf, DamagedOrLockedGetsAChineseSentence)
{
    QTemporaryDir dir;
    const QString good = writePdf(dir.filePath(QStringLiteral("good.pdf")), {{"王建国", "13812345678"}});
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const struct {
        const char* file;
        QByteArray bytes;
        const char* words;
    } cases[] = {
        {"header.pdf", "%PDF-1.4\n" + QByteArray(2000, '\x13'), "已损坏"},
        {"cut.pdf", bytes.left(200), "已损坏"},
        {"locked.pdf", lockedPdf(), "设有打开密码"},
    };
    for (const auto& c : cases) {
        try {
            reader().readFile(writeBytes(dir.filePath(QString::fromLatin1(c.file)), c.bytes));
            ADD_FAILURE() << c.file << " gave a card";
        } catch (const ScanError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.words))) << c.file << ": " << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.file))) << e.message().toStdString();
        }
    }
}

} // namespace
} // namespace ostrel
