#include "history_commands.h"
#include "visit_stats_window.h"

#include "app/application.h"
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
void HistoryCommands::openCardRecords(QWidget* owner, const QString& cardId, const QString& caption)
{
    std::unique_ptr<Window> window(new Window(m_dm, owner));
    connect(window.get(), &CardRecordsWindow::cardsChanged, this, &HistoryCommands::cardsChanged);
    window->setWindowTitle(caption);
    window->GroupBox1->setTitle(caption);
    window->GroupBox2->setTitle(caption);
    window->Lab_ID->setText(cardId);
    showModal(window.get());
}

void HistoryCommands::openVisits(const QString& cardId, const QString& name)
{
    openCardRecords<TfrmList>(m_owner, cardId, name + QStringLiteral(" 拜访记录"));
}

void HistoryCommands::openAnniversaries(const QString& cardId, const QString& name)
{
    openCardRecords<TfrmJNR>(m_owner, cardId, name + QStringLiteral(" 纪念日"));
}

void HistoryCommands::openVisitOverview()
{
    std::unique_ptr<TfrmListV> window(new TfrmListV(m_dm, m_owner, m_openCard));
    TfrmListV* overview = window.get();
    connectGuarded(overview, &TfrmListV::statsRequested, this, [this, overview] { openVisitStats(overview); });
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

void HistoryCommands::openVisitStats(QWidget* owner)
{
    VisitStatsLinks links;
    links.listedCards = m_listedCards;
    links.openVisits = [this](QWidget* over, const QString& cardId, const QString& name) {
        openCardRecords<TfrmList>(over, cardId, name + QStringLiteral(" 拜访记录"));
    };
    links.openCard = m_openCard;
    std::unique_ptr<VisitStatsWindow> window(new VisitStatsWindow(m_dm, owner ? owner : m_owner, std::move(links)));
    showModal(window.get());
}

} // namespace ostrel
