#pragma once
#include <QImage>
#include <QPolygonF>

#include <array>

// Finding a card lying on a darker surface in a photo and flattening it, so that the
// recogniser sees the card alone, square-on, at a known size.
namespace ostrel::scan {

// The card's four corners (top left, top right, bottom right, bottom left) in the image, or
// an empty polygon when the image shows no card apart from its surroundings (a scan, or a
// photo filled by the card).
QPolygonF cardOutline(const QImage& image);

// The part of the image inside the corners, straightened into a rectangle whose long side
// is longSide pixels.
QImage flattened(const QImage& image, const QPolygonF& corners, int longSide);

// The threshold that best parts the dark from the light values of a histogram (Otsu).
int darkLightThreshold(const std::array<int, 256>& histogram);

} // namespace ostrel::scan
