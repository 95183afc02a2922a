#pragma once
// The page of a card as the recogniser reads it, made from a photo or a scan.
#include <QImage>

#include <leptonica/allheaders.h>

#include <memory>

namespace ostrel::scan {

struct PixDeleter {
    void operator()(PIX* p) const { pixDestroy(&p); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

// The page as the recogniser sees it: grey with the light evened out (its network reads
// strokes better from grey than from a threshold's jagged edges) and black on white.
struct Page {
    PixPtr gray;
    PixPtr binary;
    // Turned clockwise by quarter turns.
    void turn(int quarters);
};

// The card cut out of a photo's surroundings and squared, scaled so that its type has the size
// the recogniser was trained on, straightened, its light evened out; logos wiped out.
Page prepared(const QImage& photo);

} // namespace ostrel::scan
