#pragma once
#include "core/scan/field_extractor.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

class QThread;
class QWidget;

namespace ostrel {

class CardReader;

// One card read from a file: the file (with its page when it has several), its image and what
// the reader found on it. The image is held only as it will be kept (a JPEG of at most
// kKeptImageSide) and as a thumbnail: a batch of hundreds of pages stays small.
struct ScannedPage {
    QString file;
    QString source; // the file's name, " 第 n 页" added for a page of several
    QByteArray jpeg;
    QImage thumbnail; // kScanThumbHeight high
    ScannedCard card;
    // Another page's image taken as this card's back side; empty when none was.
    QByteArray backJpeg;
    // Why nothing was read from an image that shows something (a back with a logo alone):
    // "未识别到文字：…". Such a page is no card of its own; empty for a card read.
    QString unread = {};

    bool isCard() const { return unread.isEmpty(); }
};

inline constexpr int kScanThumbHeight = 128;

// The file names a card can be read from (jpg, png, … pdf), lower case, without the dot.
const QStringList& cardImageSuffixes();
// The file chooser's filter for card images.
QString cardImageFilter();

// What the files are read for: cards, or the back side of a card whose front is being edited
// (only its first page, kept whether or not it holds text; read to set it upright and for the
// fields it adds to the front).
enum class ScanPurpose { Cards, BackSide };

// What a scan of some files gave: the cards read, and for each file that gave none the
// sentence saying why.
struct ScanOutcome {
    std::vector<ScannedPage> pages;
    QStringList failures; // "名片.pdf：不是图像文件……"
    bool cancelled = false;
};

// Lives on the scanner's thread: the recogniser is made there, used there and freed there.
class ScanWorker : public QObject {
    Q_OBJECT
public:
    ScanWorker();
    ~ScanWorker() override;
    // Reads the cards of one file, or its back side, and answers with fileRead.
    void read(int request, const QString& file, ScanPurpose purpose);

signals:
    void fileRead(int request, const std::vector<ScannedPage>& pages, const QString& failure);

private:
    CardReader& reader();
    // Adds the cards of a file to pages (those read before an error stay); the pages that
    // gave none are named in failure.
    void readCards(const QString& file, std::vector<ScannedPage>& pages, QString& failure);
    ScannedPage backSide(const QString& file);

    std::unique_ptr<CardReader> m_reader;
};

// Reads card images on a thread of its own, so the window stays usable; the recogniser is
// loaded there on the first scan and kept for the next. One per main window.
class CardScanner : public QObject {
    Q_OBJECT
public:
    explicit CardScanner(QObject* parent = nullptr);
    ~CardScanner() override;

    // Reads the files one after another while a progress dialog with 取消 stands over parent;
    // returns when they are read or the user cancelled (the card being read is then let go).
    ScanOutcome read(QWidget* parent, const QStringList& files, ScanPurpose purpose = ScanPurpose::Cards);
    // The back side in file as it will be kept, set upright as a card's front is, with what
    // was read on it (nothing for a back without text): none when the user cancelled, or when
    // the file cannot be read (failure then says why).
    std::optional<ScannedPage> readBackSide(QWidget* parent, const QString& file, QString& failure);

signals:
    void readFile(int request, const QString& file, ScanPurpose purpose);

private:
    QThread* m_thread;
    ScanWorker* m_worker;
    int m_request = 0;
};

} // namespace ostrel
