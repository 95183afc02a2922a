#pragma once
#include <QImage>
#include <QString>

#include <stdexcept>
#include <vector>

namespace ostrel {

// A card image that cannot be read, with the sentence the user is shown.
class ScanError : public std::runtime_error {
public:
    explicit ScanError(const QString& message) : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& message() const { return message_; }

private:
    QString message_;
};

// Photos larger than this (long side, pixels) are scaled down while they are read: a
// 50-megapixel photo would otherwise take hundreds of megabytes before anything is done.
inline constexpr int kMaxReadSide = 3000;

// The pages of an image file, upright as the camera's orientation tag says: one for most
// files, one per page of a multi-page TIFF. Throws ScanError for a file that is not an
// image, a damaged one, or one that cannot be opened.
std::vector<QImage> readCardImages(const QString& path);

} // namespace ostrel
