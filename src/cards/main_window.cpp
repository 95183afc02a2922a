#include "main_window.h"

#include "advanced_search.h"
#include "app/app_info.h"
#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "card_editor.h"
#include "card_qr_window.h"
#include "card_statements.h"
#include "app/date_box.h"
#include "core/quick_find_index.h"
#include "core/server_find_index.h"
#include "core/search_keys.h"
#include "core/open_database.h"
#include "engine/query.h"
#include "engine/transaction.h"
#include "export/report_export.h"
#include "history/history_commands.h"
#include "import_window.h"
#include "settings/category_window.h"
#include "settings/columns_window.h"
#include "settings/defaults_window.h"
#include "settings/order_window.h"
#include "ui/common/click_label.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/lookup_combo.h"
#include "ui/common/window_parts.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <utility>

namespace ostrel {

namespace {

// Every command opens a fresh window owned by its opener (the main window, or an overview
// for a card opened from it), wired to the main window, shows it modally and deletes it
// when it closes.
template <typename Window, typename Setup>
void openWindow(TfrmMain& main, QWidget* owner, Setup setup)
{
    std::unique_ptr<Window> window(new Window(main.dataModule(), owner));
    setup(main.follow(*window));
    showModal(window.get());
}

template <typename Window>
void openWindow(TfrmMain& main)
{
    openWindow<Window>(main, &main, [](Window&) {});
}

} // namespace

TfrmMain::TfrmMain(TfrmDM& dm, QWidget* parent)
    : QMainWindow(parent),
      ADOQuery1(dm.newQuery(this, "ADOQuery1")),
      ADOQuery2(dm.newQuery(this, "ADOQuery2")),
      ADOQuery3(dm.newQuery(this, "ADOQuery3")),
      ADOQuery4(dm.newQuery(this, "ADOQuery4")),
      ADOQuery5(dm.newQuery(this, "ADOQuery5")),
      m_dm(dm),
      m_finder(std::make_unique<QuickFinder>())
{
    // The card list may hold a million cards: it keeps their IDs and reads what is shown.
    ADOQuery1->setPaged(true);
    setupUi();
    setWindowTitle(QString::fromUtf8(kAppTitle));
    DBGrid1->setQuery(ADOQuery1);
    // A card opened from an overview shows in the editor, in its looking-at mode.
    History = new HistoryCommands(dm, this, [this](QWidget* owner, const QString& cardId) {
        openWindow<TfrmD_D>(*this, owner, [&](TfrmD_D& editor) {
            editor.setWindowTitle(QStringLiteral("查看 名片"));
            editor.CardID = cardId;
        });
    });
    follow(*History);
    // The statistics count the cards the list shows: its conditions and quick find applied.
    History->setListedCards([this] { return ADOQuery1->isActive() ? ADOQuery1->rows().ids() : std::vector<int64_t>{}; });
    connectCommands();
    connectQuickFind();
    connectDataMenu();
    connectSync();
    connect(&ReportNotices::instance(), &ReportNotices::written, ReportLabel, [this](const QString& path) {
        ReportLabel->setText(QStringLiteral("报表已保存：") + QDir::toNativeSeparators(path));
        ReportLabel->setToolTip(QDir::toNativeSeparators(path));
    });
    connect(&ReportNotices::instance(), &ReportNotices::cancelled, ReportLabel, [this] {
        ReportLabel->setText(QStringLiteral("报表已取消，没有保存文件"));
        ReportLabel->setToolTip({});
    });
}

TfrmMain::~TfrmMain()
{
    endQuickFindIndexLoad();
}

void TfrmMain::connectCommands()
{
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TfrmMain::BitBtn1Click);
    connectGuarded(BitBtn3, &QPushButton::clicked, this, &QWidget::close);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, [this] { exportCardList(this); });
    connectGuarded(SpeedButton4, &QToolButton::clicked, this, &TfrmMain::SpeedButton4Click);
    connectGuarded(SpeedButton5, &QToolButton::clicked, this, &TfrmMain::SpeedButton5Click);
    connectGuarded(SpeedButton3, &QToolButton::clicked, this, &TfrmMain::SpeedButton3Click);
    connectGuarded(SpeedButton6, &QToolButton::clicked, this, &TfrmMain::SpeedButton6Click);
    connectGuarded(SpeedButton1, &QToolButton::clicked, this, &TfrmMain::SpeedButton1Click);
    connectGuarded(SpeedButton2, &QToolButton::clicked, this, &TfrmMain::SpeedButton2Click);
    connectGuarded(DBGrid1, &DBGrid::rowDoubleClicked, this, &TfrmMain::SpeedButton2Click);
    connectGuarded(SpeedButton8, &QToolButton::clicked, this, &TfrmMain::SpeedButton8Click);
    connectGuarded(SpeedButton9, &QToolButton::clicked, this, &TfrmMain::SpeedButton9Click);
    connectGuarded(SpeedButton7, &QToolButton::clicked, this, [this] { openWindow<TfrmInData>(*this); });
    // The card list's right-click menu.
    connectGuarded(N1, &QAction::triggered, this, &TfrmMain::SpeedButton1Click);
    connectGuarded(B1, &QAction::triggered, this, &TfrmMain::SpeedButton8Click);
    connectGuarded(T1, &QAction::triggered, this, &TfrmMain::SpeedButton9Click);
    connectGuarded(I1, &QAction::triggered, this, [this] { openWindow<TfrmInData>(*this); });
    connectGuarded(N2, &QAction::triggered, this, &TfrmMain::SpeedButton2Click);
    connectGuarded(N3, &QAction::triggered, this, &TfrmMain::SpeedButton3Click);
    connectGuarded(QrAction, &QAction::triggered, this, &TfrmMain::showQrCode);
    connectGuarded(PopupMenu1, &QMenu::aboutToShow, this, [this] {
        QrAction->setEnabled(false); // stays so when the look-up fails
        QrAction->setEnabled(selectedLiveCard().has_value());
    });
    connectGuarded(Label5, &ClickLabel::clicked, History, &HistoryCommands::openVisitOverview);
    connectGuarded(Label2, &ClickLabel::clicked, History, &HistoryCommands::openAnniversaryOverview);
    connectGuarded(Button1, &QPushButton::clicked, this, [this] { openWindow<TfrmM_Q>(*this); });
    connectGuarded(Button2, &QPushButton::clicked, this, [this] { openWindow<TfrmDType>(*this); });
    connectGuarded(Button3, &QPushButton::clicked, this, [this] { openWindow<TfrmMRX>(*this); });
    connectGuarded(Button4, &QPushButton::clicked, this, [this] { openWindow<TfrmXS>(*this); });
    connectGuarded(Button5, &QPushButton::clicked, this, [this] { openWindow<TfrmSX>(*this); });
    connectGuarded(Label4, &ClickLabel::clicked, this, &TfrmMain::SpeedButton6Click);
    connectGuarded(WebBrowser1, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { openUrl(url); });

    // Enter in any search control runs the search.
    pressOnEnter(BitBtn1, {CheckBox1, Edit1, Edit2, CheckBox2, DBLookupComboBox1, CheckBox3, Edit3, CheckBox4,
                           DBLookupComboBox2, CheckBox5, DBLookupComboBox3});
    // Automatic ticking: changing a condition's input ticks its box.
    connect(Edit1, &QLineEdit::textChanged, CheckBox1, [this] { CheckBox1->setChecked(true); });
    connect(Edit2, &QLineEdit::textChanged, CheckBox1, [this] { CheckBox1->setChecked(true); });
    connect(Edit3, &QLineEdit::textChanged, CheckBox3, [this] { CheckBox3->setChecked(true); });
    // A value chosen by keyboard (arrow keys, typing, Enter in the open list) ticks the box as
    // a click does; tabbing through the box alone does not.
    for (auto [combo, box] : {std::pair{DBLookupComboBox1, CheckBox2}, std::pair{DBLookupComboBox2, CheckBox4},
                              std::pair{DBLookupComboBox3, CheckBox5}}) {
        connect(combo, &DBLookupComboBox::clicked, box, [box] { box->setChecked(true); });
        connect(combo, &QComboBox::activated, box, [box] { box->setChecked(true); });
    }
}

void TfrmMain::connectQuickFind()
{
    connect(QuickFindEdit, &QLineEdit::textEdited, QuickFindTimer, qOverload<>(&QTimer::start));
    connectGuarded(QuickFindTimer, &QTimer::timeout, this, &TfrmMain::quickFind);
    connectGuarded(QuickFindEdit, &QLineEdit::returnPressed, this, &TfrmMain::quickFind);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, QuickFindEdit, [this] {
        QuickFindEdit->setFocus(Qt::ShortcutFocusReason);
        QuickFindEdit->selectAll();
    });
    QuickFindEdit->installEventFilter(this); // Esc
}

void TfrmMain::FormCreate()
{
    // The date format needs no setting: every date is written by dateText().
    // Given again after a restore, the same text keeps the connection with its password. A
    // server's text came from its settings file when the engine was made.
    Database& db = m_dm.ADOConnection1;
    const QString connection = cardConnectionString(programDir());
    const bool file = db.has(Capability::LocalFile);
    if (file && db.connectionString() != connection)
        db.setConnectionString(connection);
    DatabaseLabel->setText((file ? QStringLiteral("数据库：") : QStringLiteral("团队数据库："))
                           + QDir::toNativeSeparators(db.displayName()) + QStringLiteral("    "));
    const QDate day = today();
    Edit2->setText(dateText(day));
    Edit1->setText(dateText(oneMonthEarlier(day)));
    cardFilter.clear();
    m_dm.openCardDatabase(this); // asks for the user's password when one is set
    // An upgrade that fails leaves the file as it was: the cards are still listed.
    runGuarded([this] { upgradeDatabase(); });
    // The index of the earlier file goes now; the new one is read once the window is up, so
    // that the reminder and the first paint have the machine to themselves.
    endQuickFindIndexLoad();
    m_finder->setIndex(nullptr);
    m_indexTaken = false;
    {
        const QScopedValueRollback<bool> firstRefresh(m_countsLater, true);
        myRef();
    }
    m_indexWanted = true;
    QTimer::singleShot(0, this, [this] {
        if (std::exchange(m_indexWanted, false))
            runGuarded([this] { loadQuickFindIndex(); });
        // No index is coming (a file without the log), or the server's, whose load takes
        // seconds at a million cards while the server counts in one: the engine counts now.
        if (m_countsPending && (!m_indexLoader || !m_dm.ADOConnection1.has(Capability::LocalFile)))
            runGuarded([this] { showCounts(); });
    });
    if (db.isReadOnly()) {
        ReadOnlyLabel->setText(QStringLiteral("只读：数据库文件或 Data 文件夹不能写入，可以查看，不能保存修改"));
        ReadOnlyLabel->show();
    }
    WebBrowser1->setSource(QUrl(QString::fromLatin1(kStartPageUrl)));
    CheckBox1->setChecked(false);
    m_dm.DBComType(DBLookupComboBox1);
    m_dm.DBComSex(DBLookupComboBox2);
    m_dm.DBComP(DBLookupComboBox3);
    followSyncTimes(true);
}

void TfrmMain::myRef()
{
    ADOQuery4->run(displayedColumnsSql());
    QString columns;
    for (ADOQuery4->first(); !ADOQuery4->eof(); ADOQuery4->next())
        columns += displayedColumnText(ADOQuery4->text(QStringLiteral("theName")), ADOQuery4->text(QStringLiteral("theV")));
    const QString list = cardListSql(columns, cardFilter);
    followServerCardList(m_dm.ADOConnection1, list);
    ADOQuery1->run(list);
    DBGrid1->setColumnHidden(0, true);
    int column = 1;
    for (ADOQuery4->first(); !ADOQuery4->eof(); ADOQuery4->next())
        DBGrid1->setColumnWidth(column++, static_cast<int>(ADOQuery4->integer(QStringLiteral("theWidth"))));
    m_finder->forget();
    narrowList();
    showCounts();
}

void TfrmMain::showCounts()
{
    Label1->setText(QStringLiteral("名片数量：%1").arg(ADOQuery1->recordCount()));
    // A long list at start: its counters fill in a moment after the window is up, from the
    // index (or the engine when none comes), rather than keeping the window from showing.
    constexpr int kCountersLaterFrom = 50000;
    m_countsPending = m_countsLater && ADOQuery1->recordCount() >= kCountersLaterFrom;
    if (m_countsPending) {
        Label5->setText(QStringLiteral("拜访次数：…"));
        Label2->setText(QStringLiteral("纪念日数：…"));
        return;
    }
    int64_t visits = 0, anniversaries = 0;
    // The index of the file holds each card's counts: a narrowed list's cards, scattered over
    // the IDs, were counted as they were found, and a whole list is added up without the engine.
    const bool counted = ADOQuery1->isNarrowed()
        ? m_finder->countsOfFound(visits, anniversaries)
        : m_finder->countAll(m_dm.ADOConnection1, ADOQuery1->rows().ids(), visits, anniversaries);
    if (!counted) {
        const std::vector<int64_t>& cards = ADOQuery1->rows().ids();
        const std::vector<qint64> counts = m_finder->countByEngine(m_dm.ADOConnection1, cards, [&] {
            return m_dm.ADOConnection1.sumsInIdRuns(visitAndAnniversaryCountSql(), cards);
        });
        visits = counts[0];
        anniversaries = counts[1];
    }
    Label5->setText(QStringLiteral("拜访次数：%1").arg(visits));
    Label2->setText(QStringLiteral("纪念日数：%1").arg(anniversaries));
    // An index the cards outran (a server's log that cannot tell what changed, another file
    // put in place) was dropped: the engine answers while a new one is read behind the window.
    if (m_indexTaken && !m_finder->hasIndex() && !m_indexLoader) {
        m_indexTaken = false;
        loadQuickFindIndex();
    }
}

void TfrmMain::narrowList()
{
    if (QuickFindEdit->text().isEmpty() || !QuickFindEdit->isEnabled())
        ADOQuery1->showAll();
    else
        ADOQuery1->showOnly(m_finder->find(m_dm.ADOConnection1, QuickFindEdit->text(), *ADOQuery1->statementIds()));
}

void TfrmMain::loadQuickFindIndex()
{
    endQuickFindIndexLoad();
    m_finder->setIndex(nullptr);
    QuickFindIndexLoader load = quickFindIndexLoader(m_dm.ADOConnection1);
    if (!load)
        load = serverQuickFindIndexLoader(m_dm.ADOConnection1);
    if (!load || !QuickFindEdit->isEnabled())
        return;
    // The start's reads are over (the list, the reminder): the pages they left in the cache
    // go before the index takes its memory, and a refresh reads back the few it needs.
    m_dm.ADOConnection1.releaseCache();
    m_stopIndexLoad = false;
    auto loaded = std::make_shared<std::shared_ptr<QuickFindIndex>>();
    m_loadedIndex = loaded;
    m_indexLoader = QThread::create([load = std::move(load), loaded, stop = &m_stopIndexLoad] {
        try {
            *loaded = load(stop);
        } catch (...) {
            // Quick find goes on through the engine, as before the index.
        }
    });
    const uint64_t thisLoad = ++m_indexLoads;
    connect(m_indexLoader, &QThread::finished, this, [this, thisLoad] {
        if (thisLoad == m_indexLoads && m_indexLoader)
            takeQuickFindIndex();
    });
    m_indexLoader->start(QThread::LowPriority);
}

void TfrmMain::takeQuickFindIndex()
{
    m_indexLoader->wait();
    delete m_indexLoader;
    m_indexLoader = nullptr;
    m_finder->setIndex(std::move(*m_loadedIndex));
    m_indexTaken = m_finder->hasIndex();
    m_loadedIndex.reset();
    if (m_countsPending)
        runGuarded([this] { showCounts(); });
    // What the load left behind on its thread goes back too.
    m_dm.ADOConnection1.releaseCache();
}

void TfrmMain::endQuickFindIndexLoad()
{
    if (!m_indexLoader)
        return;
    m_stopIndexLoad = true;
    m_indexLoader->wait();
    delete m_indexLoader;
    m_indexLoader = nullptr;
    m_loadedIndex.reset();
    ++m_indexLoads;
}

void TfrmMain::waitForQuickFindIndex()
{
    if (std::exchange(m_indexWanted, false))
        loadQuickFindIndex();
    if (m_indexLoader)
        takeQuickFindIndex();
}

bool TfrmMain::hasQuickFindIndex() const
{
    return m_finder->hasIndex();
}

void TfrmMain::quickFind()
{
    QuickFindTimer->stop();
    if (!ADOQuery1->isActive())
        return;
    narrowList();
    showCounts();
}

void TfrmMain::applySearch(const QString& filter)
{
    cardFilter = filter;
    myRef();
}

void TfrmMain::BitBtn1Click()
{
    // A bound that is no day at all would list nothing, or the wrong cards, without a word.
    if (CheckBox1->isChecked()) {
        for (GbkEdit* bound : {Edit1, Edit2})
            if (!takeDateBound(this, bound, QStringLiteral("录入日期"), DateForm::Date))
                return;
    }
    cardFilter.clear();
    if (CheckBox1->isChecked())
        cardFilter += entryDateClause(Edit1->text(), Edit2->text());
    if (CheckBox2->isChecked())
        cardFilter += categoryClause(DBLookupComboBox1->text());
    if (CheckBox3->isChecked())
        cardFilter += nameClause(Edit3->text());
    if (CheckBox4->isChecked())
        cardFilter += sexClause(DBLookupComboBox2->text());
    if (CheckBox5->isChecked())
        cardFilter += provinceClause(DBLookupComboBox3->text());
    myRef();
}

bool TfrmMain::hasCards() const
{
    return ADOQuery1->isActive() && ADOQuery1->recordCount() > 0;
}

void TfrmMain::SpeedButton4Click()
{
    if (ADOQuery1->isActive())
        ADOQuery1->prior();
}

void TfrmMain::SpeedButton5Click()
{
    if (ADOQuery1->isActive())
        ADOQuery1->next();
}

void TfrmMain::SpeedButton1Click()
{
    openWindow<TfrmD_D>(*this, this, [](TfrmD_D& editor) {
        editor.setWindowTitle(QStringLiteral("新增 名片"));
        editor.CardID = QStringLiteral("0");
    });
}

void TfrmMain::SpeedButton2Click()
{
    if (!hasCards())
        return;
    const QString id = ADOQuery1->text(QStringLiteral("ID"));
    openWindow<TfrmD_D>(*this, this, [&](TfrmD_D& editor) {
        editor.setWindowTitle(QStringLiteral("修改 名片"));
        editor.CardID = id;
    });
}

void TfrmMain::SpeedButton8Click()
{
    if (hasCards())
        History->openVisits(ADOQuery1->text(QStringLiteral("ID")), selectedCardName());
}

void TfrmMain::SpeedButton9Click()
{
    if (hasCards())
        History->openAnniversaries(ADOQuery1->text(QStringLiteral("ID")), selectedCardName());
}

void TfrmMain::SpeedButton3Click()
{
    if (!hasCards())
        return;
    if (!askYesNo(this, QStringLiteral("删除名片"), QStringLiteral("确认要删除名片信息吗？该删除将不可恢复！")))
        return;
    const QString id = ADOQuery1->text(QStringLiteral("ID"));
    {
        // The card leaves quick find with the list.
        Transaction transaction(m_dm.ADOConnection1);
        ADOQuery2->exec(softDeleteSql(id));
        updateSearchKeys(m_dm.ADOConnection1, {id.toLongLong()});
        transaction.commit();
    }
    myRef();
}

QString TfrmMain::selectedCardName()
{
    const QString nameColumn = QStringLiteral("姓名");
    if (ADOQuery1->rows().columnIndex(nameColumn) >= 0)
        return ADOQuery1->text(nameColumn);
    Query card(&m_dm.ADOConnection1);
    card.run(cardNameSql(ADOQuery1->text(QStringLiteral("ID"))));
    return card.text(QStringLiteral("BName"));
}

std::optional<CardValues> TfrmMain::selectedLiveCard()
{
    if (!hasCards())
        return std::nullopt;
    Query card(&m_dm.ADOConnection1);
    card.run(loadCardSql(ADOQuery1->text(QStringLiteral("ID"))));
    if (card.recordCount() != 1 || card.text(QStringLiteral("theDel")) != QStringLiteral("否"))
        return std::nullopt;
    CardValues values;
    for (int i = 0; i < kCardFieldCount; ++i)
        values[static_cast<size_t>(i)] = card.text(cardFields()[static_cast<size_t>(i)].columnName());
    return values;
}

void TfrmMain::showQrCode()
{
    if (!hasCards())
        return;
    const std::optional<CardValues> card = selectedLiveCard();
    if (!card) {
        showInfo(this, QStringLiteral("该名片已不存在（可能已被删除）。"));
        myRef();
        return;
    }
    showCardQrCode(*card, this);
}

void TfrmMain::SpeedButton6Click()
{
    openUrl(QUrl(QString::fromLatin1(kHomePageUrl)));
}

int TfrmMain::anniversaryReminder()
{
    const QDate day = today();
    const QString from = monthDayText(day);
    const QString to = monthDayText(day.addDays(7));
    ADOQuery5->run(anniversaryReminderSql(from, to));
    const int found = ADOQuery5->recordCount();
    if (found > 0)
        History->openAnniversaryReminder(from, to);
    return found;
}

namespace {

bool isEnter(const QKeyEvent* key)
{
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

} // namespace

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QuickFindEdit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            runGuarded([this] {
                QuickFindEdit->clear();
                quickFind();
            });
            return true;
        }
        // Enter finds at once, and goes no further: it is not the search's Enter.
        if (isEnter(key) && key->modifiers() == Qt::NoModifier) {
            runGuarded([this] { quickFind(); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::keyPressEvent(QKeyEvent* event)
{
    // 查询 is the window's default button: an Enter that no control used (the card list's,
    // a button's) runs it, as in a dialog.
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (isEnter(event) && modifiers == Qt::NoModifier && BitBtn1->isEnabled()) {
        BitBtn1->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous())
        runGuarded([this] { anniversaryReminder(); });
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (askYesNo(nullptr, QString::fromUtf8(kAppTitle), QStringLiteral("您确认要退出 Ostrel名片管理软件 吗？ ^_^ "), true)) {
        event->accept();
        // The backup at close holds what the sync brought.
        runGuarded([this] { syncAtClose(); });
        runGuarded([this] { writeCloseBackup(); });
        qApp->quit();
    } else {
        event->ignore();
    }
}

void exportCardList(TfrmMain* window)
{
    // The list must not change while its rows are written (the events run between them):
    // a quick find still waiting for its moment is done first.
    if (window->QuickFindTimer->isActive())
        window->quickFind();
    exportReport(window, cardListLayout(*window->ADOQuery4), *window->ADOQuery1);
}

} // namespace ostrel
