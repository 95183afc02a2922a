#include "history_commands.h"

#include "app/dialogs.h"
#include "ui/common/gbk_edit.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <memory>

namespace ostrel {

HistoryCommands::HistoryCommands(TfrmDM& dm, QWidget* owner, CardOpener openCard)
    : QObject(owner), m_dm(dm), m_owner(owner), m_openCard(std::move(openCard))
{
}

template <typename Window>
void HistoryCommands::openCardRecords(const QString& cardId, const QString& caption)
{
    std::unique_ptr<Window> window(new Window(m_dm, m_owner));
    connect(window.get(), &CardRecordsWindow::cardsChanged, this, &HistoryCommands::cardsChanged);
    window->setWindowTitle(caption);
    window->GroupBox1->setTitle(caption);
    window->GroupBox2->setTitle(caption);
    window->Lab_ID->setText(cardId);
    showModal(window.get());
}

void HistoryCommands::openVisits(const QString& cardId, const QString& name)
{
    openCardRecords<TfrmList>(cardId, name + QStringLiteral(" 拜访记录"));
}

void HistoryCommands::openAnniversaries(const QString& cardId, const QString& name)
{
    openCardRecords<TfrmJNR>(cardId, name + QStringLiteral(" 纪念日"));
}

void HistoryCommands::openVisitOverview()
{
    std::unique_ptr<TfrmListV> window(new TfrmListV(m_dm, m_owner, m_openCard));
    showModal(window.get());
}

void HistoryCommands::openAnniversaryOverview()
{
    std::unique_ptr<TfrmJNRV> window(new TfrmJNRV(m_dm, m_owner, m_openCard));
    showModal(window.get());
}

void HistoryCommands::openAnniversaryReminder(const QString& from, const QString& to)
{
    std::unique_ptr<TfrmJNRV> window(new TfrmJNRV(m_dm, m_owner, m_openCard));
    window->Edit1->setText(from);
    window->Edit2->setText(to);
    window->CheckBox1->setChecked(true);
    window->myRef();
    showModal(window.get());
}

} // namespace ostrel
