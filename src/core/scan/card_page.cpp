#include "core/scan/card_page.h"

#include "core/scan/card_outline.h"

#include <algorithm>

namespace ostrel::scan {

namespace {

// A card is 90 × 54 mm: at about 300 DPI its long side is close to this many pixels.
constexpr int kCardLongSide = 1100;
// Half the side of the window the threshold follows: wider than the strokes of the name,
// whose large type would otherwise come out hollow.
constexpr int kSauvolaWindow = 60;

PixPtr grayPix(const QImage& image)
{
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    PixPtr pix(pixCreate(gray.width(), gray.height(), 8));
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* in = gray.constScanLine(y);
        l_uint32* line = pixGetData(pix.get()) + y * pixGetWpl(pix.get());
        for (int x = 0; x < gray.width(); ++x)
            SET_DATA_BYTE(line, x, in[x]);
    }
    return pix;
}

// Solid shapes (a logo, a coloured band) wiped out of the black-and-white page and the grey
// one: beside a line of type the recogniser reads them as letters and spoils the line, often
// the name beside the logo.
void wipeSolidShapes(PIX* binary, PIX* gray)
{
    BOXA* boxes = pixConnCompBB(binary, 8);
    if (!boxes)
        return;
    // What survives an opening by a square wider than any stroke is the core of a solid
    // shape: a large bold character whose counters the threshold filled has little of it.
    constexpr int kCore = 17;
    PixPtr cores(pixOpenBrick(nullptr, binary, kCore, kCore));
    const l_int32 minSide = std::max<l_int32>(24, pixGetHeight(binary) / 25);
    for (l_int32 i = 0; i < boxaGetCount(boxes); ++i) {
        BOX* box = boxaGetBox(boxes, i, L_CLONE);
        l_int32 x, y, w, h, count = 0, core = 0;
        boxGetGeometry(box, &x, &y, &w, &h);
        // Even the boldest character covers well under two thirds of its box.
        if (w >= minSide && h >= minSide && pixCountPixelsInRect(binary, box, &count, nullptr) == 0
            && count > w * h * 0.65 && cores && pixCountPixelsInRect(cores.get(), box, &core, nullptr) == 0
            && core > w * h / 2) {
            pixClearInRect(binary, box);
            pixSetInRectArbitrary(gray, box, 255);
        }
        boxDestroy(&box);
    }
    boxaDestroy(&boxes);
}

} // namespace

void Page::turn(int quarters)
{
    if (quarters % 4 == 0)
        return;
    gray.reset(pixRotateOrth(gray.get(), quarters));
    binary.reset(pixRotateOrth(binary.get(), quarters));
}

// Scaled so that the card's type has the size the recogniser was trained on; then straightened,
// its light evened out and made black on white with a threshold that follows uneven light.
Page prepared(const QImage& photo)
{
    // A photo's card cut out of its surroundings and squared: the surface around it spoils
    // the threshold, the orientation and the straightening.
    const QPolygonF outline = cardOutline(photo);
    const QImage image = outline.isEmpty() ? photo : flattened(photo, outline, kCardLongSide);
    PixPtr gray = grayPix(image);
    const int longSide = std::max(image.width(), image.height());
    const float factor = float(kCardLongSide) / float(longSide);
    if (factor < 0.8f || factor > 1.25f)
        gray.reset(pixScale(gray.get(), factor, factor));
    float conf = 0, skew = 0;
    if (PIX* straight = pixFindSkewAndDeskew(gray.get(), 2, &skew, &conf))
        gray.reset(straight);
    Page page;
    PIX* binary = nullptr;
    const int tiles = std::max(1, int(pixGetWidth(gray.get())) / 400);
    if (pixSauvolaBinarizeTiled(gray.get(), kSauvolaWindow, 0.34f, tiles, tiles, nullptr, &binary) != 0 || !binary)
        binary = pixConvertTo1(gray.get(), 160);
    page.binary.reset(binary);
    // Divided by the paper's own brightness (a closing wider than any stroke), then stretched.
    if (PIX* even = pixBackgroundNormMorph(gray.get(), nullptr, 4, 11, 235)) {
        gray.reset(even);
        if (PIX* stretched = pixGammaTRC(nullptr, gray.get(), 1.0f, 40, 230))
            gray.reset(stretched);
    }
    page.gray = std::move(gray);
    wipeSolidShapes(page.binary.get(), page.gray.get());
    return page;
}

} // namespace ostrel::scan
