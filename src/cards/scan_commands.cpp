// 扫描名片… of the 数据 menu and images dropped on the main window: the images are read on the
// scanner's thread, one card opens in the editor, several in the review list. Nothing is saved
// until the user saves.
#include "main_window.h"

#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "card_editor.h"
#include "card_scanner.h"
#include "card_statements.h"
#include "core/card_image_store.h"
#include "core/search_keys.h"
#include "engine/query.h"
#include "engine/transaction.h"
#include "scan_review.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>

namespace ostrel {

namespace {

QStringList droppedFiles(const QMimeData* data)
{
    QStringList files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files << url.toLocalFile();
    return files;
}

bool isCardImageName(const QString& file)
{
    return cardImageSuffixes().contains(QFileInfo(file).suffix().toLower());
}

} // namespace

void TfrmMain::scanCards()
{
    const QStringList files = chooseOpenFiles(this, QStringLiteral("扫描名片"), cardImageFilter());
    if (!files.isEmpty())
        scanFiles(files);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    const QStringList files = droppedFiles(event->mimeData());
    if (!files.isEmpty() && std::all_of(files.begin(), files.end(), isCardImageName))
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event)
{
    const QStringList files = droppedFiles(event->mimeData());
    event->acceptProposedAction();
    // After the drop has ended: the source program is not kept waiting while cards are read.
    QMetaObject::invokeMethod(this, [this, files] { runGuarded([&] { scanFiles(files); }); }, Qt::QueuedConnection);
}

CardScanner& TfrmMain::cardScanner()
{
    if (!m_scanner)
        m_scanner = new CardScanner(this);
    return *m_scanner;
}

void TfrmMain::scanFiles(const QStringList& files)
{
    ScanOutcome outcome = cardScanner().read(this, files);
    if (outcome.cancelled)
        return;
    // Images without text (a back with a logo alone) are kept only beside a card they may
    // belong to; alone, they are what they are: images nothing was read from.
    if (std::none_of(outcome.pages.begin(), outcome.pages.end(), [](const ScannedPage& p) { return p.isCard(); })) {
        for (const ScannedPage& page : outcome.pages)
            outcome.failures << page.source + QStringLiteral("：") + page.unread;
        outcome.pages.clear();
    }
    if (!outcome.failures.isEmpty())
        showInfo(this, (outcome.pages.empty() ? QStringLiteral("没有识别出名片：\n") : QStringLiteral("以下文件没有识别出名片：\n"))
                           + outcome.failures.join(u'\n'));
    if (outcome.pages.size() == 1) {
        openScannedCard(outcome.pages.front());
        return;
    }
    if (outcome.pages.empty())
        return;
    std::unique_ptr<TfrmScanList> list(new TfrmScanList(
        std::move(outcome.pages), [this](const ScannedPage& page) { return openScannedCard(page); },
        [this](const ScannedPage& page, QString& why) { return saveScannedCard(page, why); }, this));
    follow(*list);
    showModal(list.get());
}

int64_t TfrmMain::openScannedCard(const ScannedPage& page)
{
    std::unique_ptr<TfrmD_D> editor(new TfrmD_D(m_dm, this));
    follow(*editor);
    editor->setWindowTitle(QStringLiteral("新增 名片"));
    editor->CardID = QStringLiteral("0");
    editor->setScan(page.card, page.jpeg, page.backJpeg);
    showModal(editor.get());
    return editor->savedCardId();
}

int64_t TfrmMain::saveScannedCard(const ScannedPage& page, QString& why)
{
    QStringList values(page.card.values.begin(), page.card.values.end());
    // The defaults a new card gets in the editor, where nothing was read.
    ADOQuery2->run(QStringLiteral("select theType, theSex, theP from D_Mr"));
    if (ADOQuery2->recordCount() == 1)
        for (int i = 0; i < kCardFieldCount; ++i)
            if (const char* column = cardFields()[static_cast<size_t>(i)].defaultColumn; column && values[i].isEmpty())
                values[i] = ADOQuery2->text(QString::fromLatin1(column));
    why = scannedCardProblem(values);
    if (!why.isEmpty())
        return 0;
    ADOQuery2->run(duplicateCheckSql(values[kCategoryField], values[kNameField], values[kSexField]));
    if (ADOQuery2->recordCount() >= 1) {
        why = values[kCategoryField] + u' ' + values[kNameField] + u' ' + values[kSexField] + QStringLiteral(" 已经存在");
        return 0;
    }
    Database& db = m_dm.ADOConnection1;
    Transaction transaction(db);
    ADOQuery2->exec(insertCardSql(dateText(today()), values));
    const int64_t card = db.lastInsertId();
    updateSearchKeys(db, {card});
    if (keepsCardImages(db)) {
        saveCardImage(db, card, CardSide::Front, page.jpeg);
        if (!page.backJpeg.isEmpty())
            saveCardImage(db, card, CardSide::Back, page.backJpeg);
    }
    transaction.commit();
    return card;
}

} // namespace ostrel
