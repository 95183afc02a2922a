// The card reader on generated cards: per-field accuracy (exact match after dropping
// blanks) and the time per card after the engine is loaded.
//   ostrel_bench_scan [--seed N] [--count N] [--only I,J,…] [--write DIR] [--show-misses] [--show-text]
// --only reads just the cards of those numbers among the first N (to look at a few again).
// --show-text prints what was read of each card with a miss.
// --write keeps each image and its true fields (DIR/card-NNN.png, DIR/truth.jsonl);
// --draw-only with --write draws them and reads none.
#include "card_images.h"
#include "measure.h"

#include "core/card_image_store.h"
#include "core/scan/card_reader.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>
#include <map>

using namespace ostrel;

namespace {

const char* kColumns[] = {"BName", "DJob", "DName", "DPart", "BMob", "DPho", "DFax", "BMail", "DWWW", "DPos", "DAdd", "BQQ"};

QString bare(QString s)
{
    return s.remove(QLatin1Char(' '));
}

struct Score {
    int right = 0;
    int total = 0;
};

QString cardFile(const QString& dir, int i)
{
    return QDir(dir).filePath(QStringLiteral("card-%1.png").arg(i, 3, 10, QLatin1Char('0')));
}

// The cards of a seed drawn into dir, each image beside its true fields in truth.jsonl.
void drawCards(unsigned seed, int count, const QString& dir)
{
    QDir().mkpath(dir);
    QFile truthFile(QDir(dir).filePath(QStringLiteral("truth.jsonl")));
    truthFile.open(QIODevice::WriteOnly);
    bench::CardImageGenerator generator(seed);
    for (int i = 0; i < count; ++i) {
        const bench::CardImage card = generator.next();
        card.image.save(cardFile(dir, i));
        QJsonObject t;
        for (auto it = card.truth.begin(); it != card.truth.end(); ++it)
            t.insert(it.key(), it.value());
        t.insert(QStringLiteral("layout"), card.layout);
        truthFile.write(QJsonDocument(t).toJson(QJsonDocument::Compact) + '\n');
    }
}

} // namespace

int main(int argc, char** argv)
{
    restartWithOneOcrThread(argv);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char* name, const QString& fallback) {
        const auto i = args.indexOf(QString::fromLatin1(name));
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const unsigned seed = option("--seed", QStringLiteral("7")).toUInt();
    const int count = option("--count", QStringLiteral("100")).toInt();
    const QString writeDir = option("--write", QString());
    QSet<int> only;
    for (const auto& n : option("--only", QString()).split(QLatin1Char(','), Qt::SkipEmptyParts))
        only.insert(n.toInt());
    const bool showMisses = args.contains(QStringLiteral("--show-misses"));
    const bool showText = args.contains(QStringLiteral("--show-text"));
    if (args.contains(QStringLiteral("--draw-only"))) {
        drawCards(seed, count, writeDir);
        return 0;
    }
    // The cards are drawn by a child process: the fonts and caches of drawing them would
    // otherwise count in this process's memory, which is the reader's.
    QTemporaryDir scratch;
    const QString dir = writeDir.isEmpty() ? scratch.path() : writeDir;
    bench::runChild({QCoreApplication::applicationFilePath(), QStringLiteral("--draw-only"), QStringLiteral("--seed"),
                     QString::number(seed), QStringLiteral("--count"), QString::number(count), QStringLiteral("--write"), dir});
    QFile truthFile(QDir(dir).filePath(QStringLiteral("truth.jsonl")));
    truthFile.open(QIODevice::ReadOnly);
    const QList<QByteArray> truths = truthFile.readAll().split('\n');

    std::unique_ptr<CardReader> reader;
    const double loadMs = bench::elapsedMs([&] { reader = std::make_unique<CardReader>(); });
    std::map<QString, Score> scores;
    std::vector<double> times;
    int unread = 0;
    // What a batch in the review list holds per card (the kept JPEG and a thumbnail as tall as
    // the list's, 128 px) against the page as read.
    double heldBytes = 0, pageBytes = 0;
    for (int i = 0; i < count; ++i) {
        if (!only.isEmpty() && !only.contains(i))
            continue;
        const QImage image(cardFile(dir, i));
        const QJsonObject truth = QJsonDocument::fromJson(truths.value(i)).object();
        heldBytes += keptCardJpeg(image).size() + image.scaledToHeight(128).sizeInBytes();
        pageBytes += image.sizeInBytes();
        ScannedCard read;
        try {
            times.push_back(bench::elapsedMs([&] { read = reader->readCard(image); }));
        } catch (const ScanError& e) {
            ++unread;
        }
        bool missed = false;
        for (const char* column : kColumns) {
            const QString want = truth.value(QString::fromLatin1(column)).toString();
            const QString got = read.value(column);
            if (want.isEmpty() && got.isEmpty())
                continue;
            Score& s = scores[QString::fromLatin1(column)];
            ++s.total;
            if (bare(want) == bare(got))
                ++s.right;
            else if ((missed = true) && showMisses)
                std::printf("card %d (%s) %s: want \"%s\" got \"%s\"\n", i,
                            qPrintable(truth.value(QStringLiteral("layout")).toString()), column, qPrintable(want),
                            qPrintable(got));
        }
        if (missed && showText)
            std::printf("card %d read:\n%s\n", i, qPrintable(read.rawText));
    }
    std::printf("scan: seed %u, %d cards, %d unread\n", seed, count, unread);
    std::printf("scan: engine load %.0f ms\n", loadMs);
    std::printf("scan: time per card median %.0f ms, mean %.0f ms (one thread)\n", bench::median(times),
                std::accumulate(times.begin(), times.end(), 0.0) / std::max<size_t>(1, times.size()));
    std::printf("scan: a batch holds %.0f KB a card (kept JPEG and thumbnail) against %.0f KB of the page as read;"
                " 200 cards %.0f MB against %.0f MB (target: not the full pages)\n",
                heldBytes / count / 1024, pageBytes / count / 1024, 200 * heldBytes / count / 1048576,
                200 * pageBytes / count / 1048576);
    std::printf("scan: peak memory %.0f MB, target <= 200 MB (at the end: %.0f MB heap and other private pages,"
                " %.0f MB of mapped files)\n",
                bench::statusMb("VmHWM:"), bench::statusMb("RssAnon:"), bench::statusMb("RssFile:"));
    for (const char* column : kColumns) {
        const Score& s = scores[QString::fromLatin1(column)];
        std::printf("scan: %-6s %5.1f%% (%d/%d)\n", column, s.total ? 100.0 * s.right / s.total : 0.0, s.right, s.total);
    }
    return 0;
}
