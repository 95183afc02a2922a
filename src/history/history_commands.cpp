#include "history_commands.h"

#include "app/dialogs.h"
#include "history_windows.h"

#include "ui/common/gbk_edit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <memory>

namespace ostrel {

namespace {

CardOpener& cardOpener()
{
    static CardOpener opener;
    return opener;
}

template <typename Window>
void openCardRecords(QWidget* owner, const QString& cardId, const QString& caption)
{
    std::unique_ptr<Window> window(new Window(owner));
    window->setWindowTitle(caption);
    window->GroupBox1->setTitle(caption);
    window->GroupBox2->setTitle(caption);
    window->Lab_ID->setText(cardId);
    showModal(window.get());
}

} // namespace

void setCardOpener(CardOpener opener)
{
    cardOpener() = std::move(opener);
}

void openCard(QWidget* owner, const QString& cardId)
{
    if (cardOpener())
        cardOpener()(owner, cardId);
}

void openVisits(QWidget* owner, const QString& cardId, const QString& name)
{
    openCardRecords<TfrmList>(owner, cardId, name + QStringLiteral(" 拜访记录"));
}

void openAnniversaries(QWidget* owner, const QString& cardId, const QString& name)
{
    openCardRecords<TfrmJNR>(owner, cardId, name + QStringLiteral(" 纪念日"));
}

void openVisitOverview(QWidget* owner)
{
    std::unique_ptr<TfrmListV> window(new TfrmListV(owner));
    showModal(window.get());
}

void openAnniversaryOverview(QWidget* owner)
{
    std::unique_ptr<TfrmJNRV> window(new TfrmJNRV(owner));
    showModal(window.get());
}

void openAnniversaryReminder(QWidget* owner, const QString& from, const QString& to)
{
    std::unique_ptr<TfrmJNRV> window(new TfrmJNRV(owner));
    window->Edit1->setText(from);
    window->Edit2->setText(to);
    window->CheckBox1->setChecked(true);
    window->myRef();
    showModal(window.get());
}

} // namespace ostrel
