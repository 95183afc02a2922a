#pragma once
// Reads a QR code back with ZXing-C++, as a phone's camera would read it.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QByteArray>
#include <QImage>
#include <QString>

namespace ostrel::test {

struct DecodedQr {
    bool found = false;
    QByteArray bytes; // the content as encoded, no character set applied
    bool eci = false; // an ECI header was read
    QString utf8;     // the content as the reader's ECI makes it text
    QString level;    // error correction level
};

inline DecodedQr decodeQr(const QImage& picture)
{
    const QImage gray = picture.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(), ZXing::ImageFormat::Lum,
                                static_cast<int>(gray.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    DecodedQr out;
    out.found = result.isValid();
    if (!out.found)
        return out;
    const auto& bytes = result.bytes();
    out.bytes = QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    out.eci = result.hasECI();
    out.utf8 = QString::fromStdString(result.text());
    out.level = QString::fromStdString(result.ecLevel());
    return out;
}

} // namespace ostrel::test
