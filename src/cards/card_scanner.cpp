#include "card_scanner.h"

#include "core/card_image_store.h"
#include "core/scan/card_reader.h"
#include "core/scan/card_sides.h"
#include "ui/common/window_parts.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTransform>

namespace ostrel {

const QStringList& cardImageSuffixes()
{
    static const QStringList suffixes = {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                         QStringLiteral("bmp"), QStringLiteral("tif"),  QStringLiteral("tiff"),
                                         QStringLiteral("webp"), QStringLiteral("pdf")};
    return suffixes;
}

QString cardImageFilter()
{
    QStringList patterns;
    for (const QString& suffix : cardImageSuffixes())
        patterns << QStringLiteral("*.") + suffix;
    return QStringLiteral("名片图像和 PDF(%1);;所有文件(*)").arg(patterns.join(u' '));
}

ScanWorker::ScanWorker() = default;
ScanWorker::~ScanWorker() = default;

namespace {

// A page as it is kept: turned the way the card reads, shrunk, with its thumbnail. The full
// page is let go here, on the reading thread.
ScannedPage keptPage(const QString& file, const QString& source, QImage image, ScannedCard card)
{
    if (card.quarterTurns != 0)
        image = image.transformed(QTransform().rotate(90 * card.quarterTurns));
    QImage thumbnail = image.scaledToHeight(kScanThumbHeight, Qt::SmoothTransformation);
    return {file, source, keptCardJpeg(image), std::move(thumbnail), std::move(card), {}};
}

} // namespace

CardReader& ScanWorker::reader()
{
    if (!m_reader)
        m_reader = std::make_unique<CardReader>();
    return *m_reader;
}

ScannedPage ScanWorker::backSide(const QString& file)
{
    QImage image = CardPages(file).page(0);
    ScannedCard card;
    try {
        // Read as a front is: the turns that set it upright, and its fields for the front.
        card = reader().readCard(image);
    } catch (const ScanError&) {
        // A back with a logo alone, or no recogniser data: kept the way the camera held it.
        card = {};
    }
    return keptPage(file, QFileInfo(file).fileName(), std::move(image), std::move(card));
}

void ScanWorker::readCards(const QString& file, std::vector<ScannedPage>& pages, QString& failure)
{
    CardReader& recogniser = reader(); // first: missing language data is named before the file
    // Page by page: a scanner's PDF may hold hundreds of cards.
    const CardPages images(file);
    const QString name = QFileInfo(file).fileName();
    for (int i = 0; i < images.count(); ++i) {
        const QString source = images.count() > 1 ? QStringLiteral("%1 第 %2 页").arg(name).arg(i + 1) : name;
        const auto failed = [&](const ScanError& error) {
            failure += (failure.isEmpty() ? QString() : QStringLiteral("；")) + source + QStringLiteral("：") + error.message();
        };
        QImage image;
        try {
            image = images.page(i);
        } catch (const ScanError& error) {
            failed(error);
            continue;
        }
        try {
            ScannedCard card = recogniser.readCard(image);
            pages.push_back(keptPage(file, source, std::move(image), std::move(card)));
        } catch (const ScanError& error) {
            // A back with a logo alone is kept for the user to join to its front; a blank
            // page is bad input.
            if (!error.foundNoText() || !showsMarks(image)) {
                failed(error);
                continue;
            }
            pages.push_back(keptPage(file, source, std::move(image), {}));
            pages.back().unread = error.message();
        }
    }
}

void ScanWorker::read(int request, const QString& file, ScanPurpose purpose)
{
    std::vector<ScannedPage> pages;
    QString failure;
    try {
        if (purpose == ScanPurpose::BackSide)
            pages.push_back(backSide(file));
        else
            readCards(file, pages, failure);
    } catch (const ScanError& error) {
        failure = QFileInfo(file).fileName() + QStringLiteral("：") + error.message();
    } catch (const std::exception& error) {
        failure = QFileInfo(file).fileName() + QStringLiteral("：无法识别（%1）").arg(QString::fromLocal8Bit(error.what()));
    }
    emit fileRead(request, pages, failure);
}

CardScanner::CardScanner(QObject* parent) : QObject(parent), m_thread(new QThread(this)), m_worker(new ScanWorker)
{
    qRegisterMetaType<std::vector<ScannedPage>>("std::vector<ScannedPage>");
    qRegisterMetaType<ScanPurpose>("ScanPurpose");
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(this, &CardScanner::readFile, m_worker, &ScanWorker::read);
    m_thread->start();
}

CardScanner::~CardScanner()
{
    // A card being read is finished first: the recogniser cannot be stopped midway.
    m_thread->quit();
    m_thread->wait();
}

ScanOutcome CardScanner::read(QWidget* parent, const QStringList& files, ScanPurpose purpose)
{
    ScanOutcome outcome;
    const int request = ++m_request;
    auto progress = cancellableProgress(parent, QStringLiteral("扫描名片"), QStringLiteral("正在识别名片，请稍候……"),
                                        static_cast<int>(files.size()));
    QEventLoop loop;
    int done = 0;
    const auto next = [&] {
        if (done == files.size()) {
            loop.quit();
            return;
        }
        const QString name = QFileInfo(files[done]).fileName();
        progress->setLabelText(purpose == ScanPurpose::BackSide
                                   ? QStringLiteral("正在识别背面：%1").arg(name)
                                   : QStringLiteral("正在识别第 %1 张，共 %2 张：%3").arg(done + 1).arg(files.size()).arg(name));
        emit readFile(request, files[done], purpose);
    };
    // Answers of a cancelled scan may still come; they belong to no one.
    const QMetaObject::Connection answers = connect(
        m_worker, &ScanWorker::fileRead, &loop,
        [&](int answered, const std::vector<ScannedPage>& pages, const QString& failure) {
            if (answered != request)
                return;
            outcome.pages.insert(outcome.pages.end(), pages.begin(), pages.end());
            if (!failure.isEmpty())
                outcome.failures << failure;
            progress->setValue(++done);
            next();
        },
        Qt::QueuedConnection);
    const QMetaObject::Connection cancel = connect(progress.get(), &QProgressDialog::canceled, &loop, [&] {
        outcome.cancelled = true;
        ++m_request;
        loop.quit();
    });
    next();
    if (done < files.size())
        loop.exec();
    disconnect(answers);
    disconnect(cancel); // closing the dialog says canceled too
    progress->close();
    return outcome;
}

std::optional<ScannedPage> CardScanner::readBackSide(QWidget* parent, const QString& file, QString& failure)
{
    ScanOutcome outcome = read(parent, {file}, ScanPurpose::BackSide);
    failure = outcome.failures.join(u'；');
    if (outcome.pages.empty())
        return std::nullopt;
    return std::move(outcome.pages.front());
}

} // namespace ostrel
