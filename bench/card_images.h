#pragma once
// Card images for the card reader's benchmark: drawn with Qt from a seed, in several fonts
// and layouts, then worn the way scans and phone photos wear them. The true fields travel
// beside each image.
#include <QImage>
#include <QMap>
#include <QString>

#include <random>

namespace ostrel::bench {

struct CardImage {
    QImage image;
    QMap<QString, QString> truth; // D_B column -> the value a reader should find
    QString layout;               // how the card was drawn and worn, for the report
};

class CardImageGenerator {
public:
    explicit CardImageGenerator(unsigned seed) : rng_(seed) {}
    CardImage next();

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng_); }
    bool chance(double p) { return uniform(0, 1) < p; }
    QString digits(int n);
    QMap<QString, QString> fields(QStringList& lines, QString& name, QString& english, bool bilingual);
    QImage draw(const QStringList& lines, const QString& name, const QString& english, int layout);
    QImage worn(const QImage& card, QString& how);

    std::mt19937 rng_;
};

} // namespace ostrel::bench
