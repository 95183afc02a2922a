#include "core/scan/card_image.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <poppler-qt6.h>

#include <leptonica/allheaders.h>

namespace ostrel {

namespace {

QImage fromPix(PIX* pix)
{
    PIX* rgb = pixConvertTo32(pix);
    if (!rgb)
        return {};
    const int w = int(pixGetWidth(rgb));
    const int h = int(pixGetHeight(rgb));
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const l_uint32* line = pixGetData(rgb) + y * pixGetWpl(rgb);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            l_int32 r, g, b;
            extractRGBValues(line[x], &r, &g, &b);
            out[x] = qRgb(r, g, b);
        }
    }
    pixDestroy(&rgb);
    return image;
}

QImage bounded(QImage image)
{
    if (std::max(image.width(), image.height()) > kMaxReadSide)
        image = image.scaled(kMaxReadSide, kMaxReadSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

// Formats Qt has no reader for here (TIFF, WebP): Leptonica's, which knows multi-page TIFF.
std::vector<QImage> readWithLeptonica(const QString& path)
{
    setMsgSeverity(L_SEVERITY_NONE); // its messages on stderr would say in English what we say in Chinese
    const QByteArray name = QFile::encodeName(path);
    l_int32 format = IFF_UNKNOWN;
    if (findFileFormat(name.constData(), &format) != 0 || format == IFF_UNKNOWN)
        throw ScanError(QStringLiteral("“%1”不是图像文件（可读取 JPEG、PNG、BMP、TIFF、WebP）。")
                            .arg(QFileInfo(path).fileName()));
    std::vector<QImage> pages;
    if (format == IFF_TIFF || format == IFF_TIFF_G4 || format == IFF_TIFF_LZW || format == IFF_TIFF_ZIP
        || format == IFF_TIFF_PACKBITS || format == IFF_TIFF_RLE || format == IFF_TIFF_G3 || format == IFF_TIFF_JPEG) {
        if (PIXA* pixa = pixaReadMultipageTiff(name.constData())) {
            for (l_int32 i = 0; i < pixaGetCount(pixa); ++i) {
                PIX* page = pixaGetPix(pixa, i, L_CLONE);
                pages.push_back(bounded(fromPix(page)));
                pixDestroy(&page);
            }
            pixaDestroy(&pixa);
        }
    } else if (PIX* pix = pixRead(name.constData())) {
        pages.push_back(bounded(fromPix(pix)));
        pixDestroy(&pix);
    }
    if (pages.empty() || pages.front().isNull())
        throw ScanError(QStringLiteral("图像文件“%1”已损坏，无法读取。").arg(QFileInfo(path).fileName()));
    return pages;
}

bool isPdf(const QString& path)
{
    QFile file(path);
    // Readers accept the marker anywhere in the first kilobyte; scanners put it first.
    return file.open(QIODevice::ReadOnly) && file.read(1024).contains("%PDF-");
}

// The one image Qt reads (JPEG, PNG, BMP), or what Leptonica reads.
std::vector<QImage> readImages(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true); // the phone's orientation tag
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return readWithLeptonica(path);
    const QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > kMaxReadSide)
        reader.setScaledSize(size.scaled(kMaxReadSide, kMaxReadSide, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        throw ScanError(QStringLiteral("图像文件“%1”已损坏，无法读取（%2）。").arg(QFileInfo(path).fileName(), reader.errorString()));
    return {image};
}

} // namespace

struct CardPages::Pdf {
    std::unique_ptr<Poppler::Document> document;
};

CardPages::CardPages(const QString& path) : m_name(QFileInfo(path).fileName())
{
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        throw ScanError(QStringLiteral("无法打开文件“%1”：文件不存在或没有读取权限。").arg(path));
    if (info.size() == 0)
        throw ScanError(QStringLiteral("文件“%1”是空的，不是图像。").arg(m_name));
    if (!isPdf(path)) {
        m_images = readImages(path);
        return;
    }
    // Poppler's notes on a damaged file are English lines on the console; the user gets ours.
    Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
    m_pdf = std::make_unique<Pdf>();
    m_pdf->document = Poppler::Document::load(path);
    if (m_pdf->document && m_pdf->document->isLocked())
        throw ScanError(QStringLiteral("PDF 文件“%1”设有打开密码，无法读取。请在扫描仪软件或 PDF 阅读器中"
                                       "去掉密码后另存一份再扫描。").arg(m_name));
    if (!m_pdf->document || m_pdf->document->numPages() <= 0)
        throw ScanError(QStringLiteral("PDF 文件“%1”已损坏，无法读取。").arg(m_name));
    m_pdf->document->setRenderHint(Poppler::Document::Antialiasing);
    m_pdf->document->setRenderHint(Poppler::Document::TextAntialiasing);
}

CardPages::~CardPages() = default;

int CardPages::count() const
{
    return m_pdf ? m_pdf->document->numPages() : static_cast<int>(m_images.size());
}

QImage CardPages::page(int index) const
{
    if (!m_pdf)
        return m_images.at(static_cast<size_t>(index));
    const std::unique_ptr<Poppler::Page> page = m_pdf->document->page(index);
    const QString broken = QStringLiteral("PDF 文件“%1”的第 %2 页已损坏，无法显示。").arg(m_name).arg(index + 1);
    if (!page)
        throw ScanError(broken);
    // A page larger than a card (a flatbed's A4) is drawn only as large as the reader reads.
    const QSizeF points = page->pageSizeF();
    const double longSide = std::max(points.width(), points.height());
    const double dpi = longSide > 0 ? std::min(kPdfDpi, kMaxReadSide * 72.0 / longSide) : kPdfDpi;
    QImage image = page->renderToImage(dpi, dpi);
    if (image.isNull())
        throw ScanError(broken);
    return image;
}

} // namespace ostrel
