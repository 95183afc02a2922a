#include "core/scan/card_outline.h"

#include <QLineF>
#include <cstdio>
#include <QPainter>

#include <array>
#include <cmath>
#include <vector>

namespace ostrel::scan {

namespace {

// The outline is looked for on a small copy: the card's edge needs no more detail.
constexpr int kSearchSide = 320;

struct Mask {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> light;
    bool at(int x, int y) const { return light[size_t(y) * width + x] != 0; }
};

Mask lightMask(const QImage& small)
{
    std::array<int, 256> histogram{};
    for (int y = 0; y < small.height(); ++y) {
        const uchar* line = small.constScanLine(y);
        for (int x = 0; x < small.width(); ++x)
            ++histogram[line[x]];
    }
    const int threshold = darkLightThreshold(histogram);
    Mask mask{small.width(), small.height(), std::vector<uint8_t>(size_t(small.width()) * small.height())};
    for (int y = 0; y < small.height(); ++y) {
        const uchar* line = small.constScanLine(y);
        for (int x = 0; x < small.width(); ++x)
            mask.light[size_t(y) * mask.width + x] = line[x] > threshold ? 1 : 0;
    }
    return mask;
}

// The pixels of the largest light region, by a flood fill from each unvisited light pixel.
std::vector<QPoint> largestLightRegion(const Mask& mask)
{
    std::vector<uint8_t> seen(mask.light.size());
    std::vector<QPoint> best, region, stack;
    for (int y0 = 0; y0 < mask.height; ++y0)
        for (int x0 = 0; x0 < mask.width; ++x0) {
            if (!mask.at(x0, y0) || seen[size_t(y0) * mask.width + x0])
                continue;
            region.clear();
            stack.assign(1, QPoint(x0, y0));
            seen[size_t(y0) * mask.width + x0] = 1;
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                region.push_back(p);
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    if (q.x() < 0 || q.y() < 0 || q.x() >= mask.width || q.y() >= mask.height)
                        continue;
                    const size_t i = size_t(q.y()) * mask.width + q.x();
                    if (mask.light[i] && !seen[i]) {
                        seen[i] = 1;
                        stack.push_back(q);
                    }
                }
            }
            if (region.size() > best.size())
                best.swap(region);
        }
    return best;
}

double polygonArea(const QPolygonF& p)
{
    double a = 0;
    for (int i = 0; i < p.size(); ++i)
        a += p[i].x() * p[(i + 1) % p.size()].y() - p[(i + 1) % p.size()].x() * p[i].y();
    return std::abs(a) / 2;
}

} // namespace

int darkLightThreshold(const std::array<int, 256>& histogram)
{
    double total = 0, sum = 0;
    for (int i = 0; i < 256; ++i) {
        total += histogram[i];
        sum += double(i) * histogram[i];
    }
    double darkCount = 0, darkSum = 0, bestSpread = -1;
    int best = 127;
    for (int t = 0; t < 255; ++t) {
        darkCount += histogram[t];
        darkSum += double(t) * histogram[t];
        const double lightCount = total - darkCount;
        if (darkCount == 0 || lightCount == 0)
            continue;
        const double meanDark = darkSum / darkCount;
        const double meanLight = (sum - darkSum) / lightCount;
        const double spread = darkCount * lightCount * (meanDark - meanLight) * (meanDark - meanLight);
        if (spread > bestSpread) {
            bestSpread = spread;
            best = t;
        }
    }
    return best;
}

QPolygonF cardOutline(const QImage& image)
{
    if (image.isNull())
        return {};
    const QImage small = image.convertToFormat(QImage::Format_Grayscale8)
                             .scaled(kSearchSide, kSearchSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const std::vector<QPoint> region = largestLightRegion(lightMask(small));
    const double share = double(region.size()) / (double(small.width()) * small.height());
    // A card that fills the picture (a scan) or a light patch too small to be one.
    if (region.empty() || share < 0.2 || share > 0.9)
        return {};
    // The corners are the region's extremes along the diagonals: a card lies within a few
    // degrees of level (quarter turns are set right later).
    QPoint tl = region[0], tr = tl, br = tl, bl = tl;
    for (const QPoint& p : region) {
        if (p.x() + p.y() < tl.x() + tl.y()) tl = p;
        if (p.x() + p.y() > br.x() + br.y()) br = p;
        if (p.x() - p.y() > tr.x() - tr.y()) tr = p;
        if (p.x() - p.y() < bl.x() - bl.y()) bl = p;
    }
    QPolygonF corners({QPointF(tl), QPointF(tr) + QPointF(1, 0), QPointF(br) + QPointF(1, 1), QPointF(bl) + QPointF(0, 1)});
    // A region that is not roughly four-cornered (a hand, a shadow) is not a card.
    if (double(region.size()) < polygonArea(corners) * 0.8)
        return {};
    const double scale = double(image.width()) / small.width();
    for (QPointF& p : corners)
        p *= scale;
    return corners;
}

QImage flattened(const QImage& image, const QPolygonF& corners, int longSide)
{
    const double width = (QLineF(corners[0], corners[1]).length() + QLineF(corners[3], corners[2]).length()) / 2;
    const double height = (QLineF(corners[0], corners[3]).length() + QLineF(corners[1], corners[2]).length()) / 2;
    const double factor = longSide / std::max(width, height);
    const QSize size(qRound(width * factor), qRound(height * factor));
    QTransform toRectangle;
    const QPolygonF rectangle({QPointF(0, 0), QPointF(size.width(), 0), QPointF(size.width(), size.height()),
                               QPointF(0, size.height())});
    if (size.isEmpty() || !QTransform::quadToQuad(corners, rectangle, toRectangle))
        return image;
    QImage out(size, QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setTransform(toRectangle);
    p.drawImage(0, 0, image);
    return out;
}

} // namespace ostrel::scan
