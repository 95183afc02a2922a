#pragma once
#include <QImage>
#include <QString>

#include <memory>
#include <stdexcept>
#include <vector>

namespace ostrel {

// A card image that cannot be read, with the sentence the user is shown.
class ScanError : public std::runtime_error {
public:
    enum class Kind { Unreadable, NoText };
    explicit ScanError(const QString& message, Kind kind = Kind::Unreadable)
        : std::runtime_error(message.toStdString()), message_(message), kind_(kind)
    {
    }
    const QString& message() const { return message_; }
    // The image was read and nothing on it reads as text.
    bool foundNoText() const { return kind_ == Kind::NoText; }

private:
    QString message_;
    Kind kind_;
};

// Photos larger than this (long side, pixels) are scaled down while they are read: a
// 50-megapixel photo would otherwise take hundreds of megabytes before anything is done.
inline constexpr int kMaxReadSide = 3000;

// Scanner PDFs are drawn at this resolution, the one the reader works at.
inline constexpr double kPdfDpi = 300;

// The pages of a card file, one card each: one for most images, one per page of a
// multi-page TIFF or of a scanner's PDF. Images come upright as the camera's orientation tag
// says. A PDF's pages are drawn one at a time as they are asked for, so a file of hundreds of
// cards is never held whole.
class CardPages {
public:
    // Throws ScanError for a file that is not an image or a PDF, a damaged one, a PDF locked
    // by a password, or one that cannot be opened.
    explicit CardPages(const QString& path);
    ~CardPages();
    CardPages(const CardPages&) = delete;
    CardPages& operator=(const CardPages&) = delete;

    int count() const;
    // Throws ScanError when the page cannot be drawn.
    QImage page(int index) const;

private:
    struct Pdf;
    std::vector<QImage> m_images;
    std::unique_ptr<Pdf> m_pdf;
    QString m_name;
};

} // namespace ostrel
