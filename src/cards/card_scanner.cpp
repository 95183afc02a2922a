#include "card_scanner.h"

#include "core/card_image_store.h"
#include "core/scan/card_reader.h"
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

void ScanWorker::read(int request, const QString& file)
{
    std::vector<ScannedPage> pages;
    QString failure;
    try {
        if (!m_reader)
            m_reader = std::make_unique<CardReader>();
        // Page by page: a scanner's PDF may hold hundreds of cards.
        const CardPages images(file);
        const QString name = QFileInfo(file).fileName();
        for (int i = 0; i < images.count(); ++i) {
            const QString source = images.count() > 1 ? QStringLiteral("%1 第 %2 页").arg(name).arg(i + 1) : name;
            try {
                QImage image = images.page(i);
                ScannedCard card = m_reader->readCard(image);
                if (card.quarterTurns != 0) // kept the way the card reads
                    image = image.transformed(QTransform().rotate(90 * card.quarterTurns));
                // The full page is let go here, on the reading thread.
                pages.push_back({file, source, keptCardJpeg(image),
                                 image.scaledToHeight(kScanThumbHeight, Qt::SmoothTransformation), std::move(card), {}});
            } catch (const ScanError& error) {
                failure += (failure.isEmpty() ? QString() : QStringLiteral("；")) + source + QStringLiteral("：") + error.message();
            }
        }
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

ScanOutcome CardScanner::read(QWidget* parent, const QStringList& files)
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
        progress->setLabelText(QStringLiteral("正在识别第 %1 张，共 %2 张：%3")
                                   .arg(done + 1).arg(files.size()).arg(QFileInfo(files[done]).fileName()));
        emit readFile(request, files[done]);
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

} // namespace ostrel
