#pragma once
#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

namespace ostrel::test {

// What a written .xlsx holds, read back from its package: the first sheet's cells with
// their formatting, merges, column widths, page orientation and centre footer.
struct WrittenBook {
    struct CellStyle {
        bool bold = false;
        double size = 0;
        QString font;
        bool bordered = false; // a thin line on all four edges
        QString horizontal;
        QString vertical;
    };

    bool ok = false; // the package and its sheet could be read
    QMap<QString, QString> values; // "A1" -> text, written cells only
    QMap<QString, int> styles;      // "A1" -> index into xfs
    std::vector<CellStyle> xfs;
    QStringList merges;
    QMap<int, double> widths; // column (1-based) -> width as stored
    QMap<int, int> columnStyles;
    QString orientation; // "landscape", "portrait" or empty when not set
    QString footer;      // the oddFooter text, codes included
    QString title;       // the document title property

    QString value(const QString& cell) const { return values.value(cell); }
    CellStyle style(const QString& cell) const;
    // The width in character units that was asked for.
    int width(int column) const;
    // Texts of one row from column A to `last`, "" for cells not written.
    QStringList row(int row, const QString& last) const;
    // Every written cell with a border, as addresses sorted by row and column.
    QStringList borderedCells() const;
};

WrittenBook readBook(const QString& path);

// Every address from A<top> to <last><bottom>, in the order borderedCells() gives.
QStringList cellsOf(int top, const QString& last, int bottom);
QString columnLetter(int column);

} // namespace ostrel::test
