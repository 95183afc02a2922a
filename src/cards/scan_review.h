#pragma once
#include "card_scanner.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;

namespace ostrel {

class Database;

// Why a read card cannot be saved as it stands, or the empty text: an empty name, a value
// past its field's byte limit. The duplicate check is the saver's.
QString scannedCardProblem(const QStringList& values);

// The cards of a scan of several images: a thumbnail, the name, company and mobile read, and a
// tick per card. 打开 (or a double click) opens a card in the editor; 全部保存 saves the ticked
// ones as they were read. Nothing is saved unless the user asks. An image with no text on it
// (a back with a logo alone) has a row marked 未识别到文字 and no tick: it is no card, only
// the back of the card above it or nothing.
class TfrmScanList : public QDialog {
    Q_OBJECT
public:
    // Opens one card in the editor; returns the ID of the card saved there, 0 when none was.
    using OpenCard = std::function<int64_t(const ScannedPage&)>;
    // Saves one card as read; returns its ID, or the empty ID and why it was not saved.
    using SaveCard = std::function<int64_t(const ScannedPage&, QString& why)>;

    TfrmScanList(std::vector<ScannedPage> pages, OpenCard open, SaveCard save, QWidget* parent);

    QTableWidget* ScanTable;
    QPushButton* OpenButton;
    // Beyond the described list: 设为上一张的背面, for a card whose two sides were read as two
    // cards. The selected card's image becomes the back of the card above it, what was read on
    // it is added to that card's fields, and its row goes.
    QPushButton* BackOfPreviousButton;
    // Beyond the described list: 移除, which takes the selected image out of the list.
    QPushButton* RemoveButton;
    QPushButton* SaveAllButton;
    QPushButton* CloseButton;

    void openRow(int row);
    void saveTicked();
    void makeBackOfPrevious(int row);
    void removeRow(int row);
    const std::vector<ScannedPage>& pages() const { return m_pages; }

signals:
    void cardsChanged();

private:
    void markSaved(int row, int64_t card);
    // Shows what was read of the card in the row, and ticks it when it can be saved as read.
    void showRow(int row);
    void showSummary();

    QLabel* m_summary;
    std::vector<ScannedPage> m_pages;
    std::vector<int64_t> m_saved; // per row, 0 while unsaved
    OpenCard m_open;
    SaveCard m_save;
};

} // namespace ostrel
