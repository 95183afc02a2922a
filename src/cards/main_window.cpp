#include "main_window.h"

#include "advanced_search.h"
#include "core/backup.h"
#include "app/app_info.h"
#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "card_editor.h"
#include "card_statements.h"
#include "core/card_keys.h"
#include "engine/connection_string.h"
#include "engine/engine_error.h"
#include "engine/sqlcipher/sqlcipher_connection.h"
#include "export/report_export.h"
#include "import_window.h"
#include "vcard_commands.h"
#include "engine/query.h"
#include "core/schema_upgrade.h"
#include "engine/transaction.h"
#include "ui/common/click_label.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "history/history_commands.h"
#include "settings/category_window.h"
#include "settings/defaults_window.h"
#include "settings/columns_window.h"
#include "settings/order_window.h"
#include "ui/common/lookup_combo.h"
#include "ui/common/window_parts.h"
#include "core/open_database.h"

#include <QCheckBox>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QDateTime>
#include <QDir>
#include <QMenuBar>
#include <QStandardPaths>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace ostrel {

namespace {

constexpr char kServerManaged[] = "团队数据库在服务器上，由服务器管理员备份。";

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
      m_dm(dm)
{
    setObjectName(QStringLiteral("frmMain"));
    // The card list may hold a million cards: it keeps their IDs and reads what is shown.
    ADOQuery1->setPaged(true);
    setWindowTitle(QString::fromUtf8(kAppTitle));
    setFont(QFont(QStringLiteral("Arial"), 8));

    buildToolBar();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->addWidget(buildSearchBar());
    DBGrid1 = named(new DBGrid(central), "DBGrid1");
    DBGrid1->setQuery(ADOQuery1);
    DBGrid1->setToolTip(QStringLiteral("亲，鼠标右击 有惊喜哟！"));
    layout->addWidget(DBGrid1, 1);
    setCentralWidget(central);
    buildStatusBar();
    buildPopupMenu();
    buildDataMenu();

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
    // A card opened from an overview shows in the editor, in its looking-at mode.
    History = new HistoryCommands(dm, this, [this](QWidget* owner, const QString& cardId) {
        openWindow<TfrmD_D>(*this, owner, [&](TfrmD_D& editor) {
            editor.setWindowTitle(QStringLiteral("查看 名片"));
            editor.CardID = cardId;
        });
    });
    follow(*History);
    connectGuarded(Label5, &ClickLabel::clicked, History, &HistoryCommands::openVisitOverview);
    connectGuarded(Label2, &ClickLabel::clicked, History, &HistoryCommands::openAnniversaryOverview);
    connectGuarded(Button1, &QPushButton::clicked, this, [this] { openWindow<TfrmM_Q>(*this); });
    connectGuarded(Button2, &QPushButton::clicked, this, [this] { openWindow<TfrmDType>(*this); });
    connectGuarded(Button3, &QPushButton::clicked, this, [this] { openWindow<TfrmMRX>(*this); });
    connectGuarded(Button4, &QPushButton::clicked, this, [this] { openWindow<TfrmXS>(*this); });
    connectGuarded(Button5, &QPushButton::clicked, this, [this] { openWindow<TfrmSX>(*this); });
    connectGuarded(Label4, &ClickLabel::clicked, this, &TfrmMain::SpeedButton6Click);

    // Automatic ticking: changing a condition's input ticks its box.
    connect(Edit1, &QLineEdit::textChanged, CheckBox1, [this] { CheckBox1->setChecked(true); });
    connect(Edit2, &QLineEdit::textChanged, CheckBox1, [this] { CheckBox1->setChecked(true); });
    connect(Edit3, &QLineEdit::textChanged, CheckBox3, [this] { CheckBox3->setChecked(true); });
    connect(DBLookupComboBox1, &DBLookupComboBox::clicked, CheckBox2, [this] { CheckBox2->setChecked(true); });
    connect(DBLookupComboBox2, &DBLookupComboBox::clicked, CheckBox4, [this] { CheckBox4->setChecked(true); });
    connect(DBLookupComboBox3, &DBLookupComboBox::clicked, CheckBox5, [this] { CheckBox5->setChecked(true); });
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::buildToolBar()
{
    auto* bar = named(new QToolBar(this), "ToolBar1");
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(32, 32));
    auto button = [&](const char* name, const char* caption, QStyle::StandardPixmap icon) {
        auto* b = named(new QToolButton(bar), name);
        b->setText(QString::fromUtf8(caption));
        b->setIcon(style()->standardIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setFixedSize(72, 60);
        bar->addWidget(b);
        return b;
    };
    SpeedButton4 = button("SpeedButton4", "上一条", QStyle::SP_ArrowUp);
    SpeedButton5 = button("SpeedButton5", "下一条", QStyle::SP_ArrowDown);
    SpeedButton1 = button("SpeedButton1", "新增名片", QStyle::SP_FileDialogNewFolder);
    SpeedButton8 = button("SpeedButton8", "拜访记录", QStyle::SP_FileDialogDetailedView);
    SpeedButton9 = button("SpeedButton9", "纪念日记录", QStyle::SP_FileDialogInfoView);
    SpeedButton7 = button("SpeedButton7", "导入名片", QStyle::SP_DialogOpenButton);
    SpeedButton2 = button("SpeedButton2", "修改名片", QStyle::SP_FileDialogContentsView);
    SpeedButton3 = button("SpeedButton3", "删除名片", QStyle::SP_TrashIcon);
    SpeedButton6 = button("SpeedButton6", "关于我们", QStyle::SP_MessageBoxInformation);
    WebBrowser1 = named(new QTextBrowser(bar), "WebBrowser1");
    WebBrowser1->setOpenLinks(false);
    WebBrowser1->setFrameShape(QFrame::NoFrame);
    WebBrowser1->setFixedHeight(60);
    WebBrowser1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    WebBrowser1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connectGuarded(WebBrowser1, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { openUrl(url); });
    bar->addWidget(WebBrowser1);
    addToolBar(Qt::TopToolBarArea, bar);
}

QWidget* TfrmMain::buildSearchBar()
{
    auto* row = new QWidget(this);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);

    auto* group = named(new QGroupBox(QStringLiteral("查询条件"), row), "GroupBox1");
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(6, 2, 6, 4);
    auto check = [&](const char* name, const char* caption) {
        auto* box = named(new QCheckBox(QString::fromUtf8(caption), group), name);
        box->setFocusPolicy(Qt::ClickFocus); // the Tab key skips the tick boxes
        return box;
    };
    auto combo = [&](const char* name) {
        auto* box = named(new DBLookupComboBox(group), name);
        box->setMinimumWidth(110);
        return box;
    };
    CheckBox1 = check("CheckBox1", "录入日期");
    Edit1 = named(new GbkEdit(10, group), "Edit1");
    Edit2 = named(new GbkEdit(10, group), "Edit2");
    CheckBox2 = check("CheckBox2", "分        类");
    DBLookupComboBox1 = combo("DBLookupComboBox1");
    CheckBox3 = check("CheckBox3", "姓        名");
    Edit3 = named(new GbkEdit(20, group), "Edit3");
    CheckBox4 = check("CheckBox4", "性        别");
    DBLookupComboBox2 = combo("DBLookupComboBox2");
    CheckBox5 = check("CheckBox5", "省        份");
    DBLookupComboBox3 = combo("DBLookupComboBox3");
    Edit1->setMinimumWidth(90);
    Edit2->setMinimumWidth(90);
    Edit3->setMinimumWidth(130);

    // Two rows: the entry dates and the category; then name, sex and province.
    auto* dates = new QHBoxLayout;
    dates->addWidget(Edit1);
    dates->addWidget(new QLabel(QStringLiteral("至"), group));
    dates->addWidget(Edit2);
    grid->addWidget(CheckBox1, 0, 0);
    grid->addLayout(dates, 0, 1, 1, 3);
    grid->addWidget(CheckBox2, 0, 4);
    grid->addWidget(DBLookupComboBox1, 0, 5);
    grid->addWidget(CheckBox3, 1, 0);
    grid->addWidget(Edit3, 1, 1);
    grid->addWidget(CheckBox4, 1, 2);
    grid->addWidget(DBLookupComboBox2, 1, 3);
    grid->addWidget(CheckBox5, 1, 4);
    grid->addWidget(DBLookupComboBox3, 1, 5);
    grid->setColumnStretch(6, 1);
    rowLayout->addWidget(group, 1);

    auto* buttons = new QGridLayout;
    auto push = [&](const char* name, const char* caption, int r, int c) {
        auto* b = named(new QPushButton(QString::fromUtf8(caption), row), name);
        buttons->addWidget(b, r, c);
        return b;
    };
    Button2 = push("Button2", "设置分类", 0, 0);
    Button3 = push("Button3", "设置默认项", 0, 1);
    Button4 = push("Button4", "设置显示项", 0, 2);
    Button5 = push("Button5", "设置顺序", 0, 3);
    BitBtn1 = push("BitBtn1", "查询", 1, 0);
    Button1 = push("Button1", "更多条件", 1, 1);
    BitBtn2 = push("BitBtn2", "Excel", 1, 2);
    BitBtn3 = push("BitBtn3", "退出", 1, 3);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    BitBtn3->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    // Enter in any search control runs the search.
    BitBtn1->setDefault(true);
    pressOnEnter(BitBtn1, {CheckBox1, Edit1, Edit2, CheckBox2, DBLookupComboBox1, CheckBox3, Edit3, CheckBox4,
                           DBLookupComboBox2, CheckBox5, DBLookupComboBox3});
    rowLayout->addLayout(buttons);
    rowLayout->addWidget(buildQuickFind(row));
    return row;
}

QWidget* TfrmMain::buildQuickFind(QWidget* parent)
{
    // The list narrows this long after the last key, so typing a word reads the keys once.
    constexpr int kQuickFindDelayMs = 200;
    auto* group = named(new QGroupBox(QStringLiteral("快速查找"), parent), "QuickFindGroup");
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(6, 2, 6, 4);
    QuickFindEdit = named(new QLineEdit(group), "QuickFindEdit");
    QuickFindEdit->setPlaceholderText(QStringLiteral("拼音/首字母/电话/单位/邮箱"));
    QuickFindEdit->setClearButtonEnabled(true);
    QuickFindEdit->setMinimumWidth(200);
    layout->addWidget(QuickFindEdit);
    layout->addStretch();
    QuickFindTimer = new QTimer(this);
    QuickFindTimer->setSingleShot(true);
    QuickFindTimer->setInterval(kQuickFindDelayMs);
    connect(QuickFindEdit, &QLineEdit::textEdited, QuickFindTimer, qOverload<>(&QTimer::start));
    connectGuarded(QuickFindTimer, &QTimer::timeout, this, &TfrmMain::quickFind);
    connectGuarded(QuickFindEdit, &QLineEdit::returnPressed, this, &TfrmMain::quickFind);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, QuickFindEdit, [this] {
        QuickFindEdit->setFocus(Qt::ShortcutFocusReason);
        QuickFindEdit->selectAll();
    });
    QuickFindEdit->installEventFilter(this); // Esc
    return group;
}

void TfrmMain::buildStatusBar()
{
    auto* bar = statusBar();
    Label1 = named(new QLabel(bar), "Label1");
    Label5 = named(new ClickLabel(QString(), bar), "Label5");
    Label2 = named(new ClickLabel(QString(), bar), "Label2");
    Label4 = named(new ClickLabel(QStringLiteral("软件开发：Ostrel软件    "), bar), "Label4");
    Label4->setStyleSheet(QStringLiteral("color: black;"));
    for (QLabel* label : {Label1, static_cast<QLabel*>(Label5), static_cast<QLabel*>(Label2)}) {
        label->setMinimumWidth(140);
        bar->addWidget(label);
    }
    DatabaseLabel = named(new QLabel(bar), "DatabaseLabel");
    DatabaseLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addPermanentWidget(DatabaseLabel);
    bar->addPermanentWidget(Label4);
    ReadOnlyLabel = named(new QLabel(bar), "ReadOnlyLabel");
    ReadOnlyLabel->setStyleSheet(QStringLiteral("color: #c00000;"));
    ReadOnlyLabel->hide();
    bar->addWidget(ReadOnlyLabel);
    ReportLabel = named(new QLabel(bar), "ReportLabel");
    ReportLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(ReportLabel, 1);
    connect(&ReportNotices::instance(), &ReportNotices::written, ReportLabel, [this](const QString& path) {
        ReportLabel->setText(QStringLiteral("报表已保存：") + QDir::toNativeSeparators(path));
        ReportLabel->setToolTip(QDir::toNativeSeparators(path));
    });
}

void TfrmMain::buildDataMenu()
{
    QMenu* menu = named(menuBar()->addMenu(QStringLiteral("数据(&S)")), "DataMenu");
    BackupAction = menu->addAction(QStringLiteral("备份数据…"));
    BackupAction->setObjectName(QStringLiteral("BackupAction"));
    RestoreAction = menu->addAction(QStringLiteral("恢复数据…"));
    RestoreAction->setObjectName(QStringLiteral("RestoreAction"));
    PasswordAction = menu->addAction(QStringLiteral("设置密码…"));
    PasswordAction->setObjectName(QStringLiteral("PasswordAction"));
    connectGuarded(BackupAction, &QAction::triggered, this, &TfrmMain::backupData);
    connectGuarded(RestoreAction, &QAction::triggered, this, &TfrmMain::restoreData);
    connectGuarded(PasswordAction, &QAction::triggered, this, &TfrmMain::setPassword);
    menu->addSeparator();
    ImportVCardAction = menu->addAction(QStringLiteral("导入vCard…"));
    ImportVCardAction->setObjectName(QStringLiteral("ImportVCardAction"));
    ExportVCardAction = menu->addAction(QStringLiteral("导出vCard…"));
    ExportVCardAction->setObjectName(QStringLiteral("ExportVCardAction"));
    connectGuarded(ImportVCardAction, &QAction::triggered, this, [this] {
        if (importVCardFile(m_dm, this, *ADOQuery2))
            myRef();
    });
    // The list as shown: the filter, quick find and a title-click sort apply.
    connectGuarded(ExportVCardAction, &QAction::triggered, this, [this] {
        exportVCardFile(m_dm, this, ADOQuery1->isActive() ? ADOQuery1->rows().shownIds() : std::vector<int64_t>{});
    });
    if (m_dm.ADOConnection1.file())
        return;
    // These belong to the database file on this desktop.
    menu->setToolTipsVisible(true);
    for (QAction* action : {BackupAction, RestoreAction})
        action->setToolTip(QString::fromUtf8(kServerManaged));
    PasswordAction->setToolTip(QStringLiteral("团队数据库的密码写在 Data/server.conf 或 ~/.pgpass 中，由服务器管理员设置。"));
    for (QAction* action : {BackupAction, RestoreAction, PasswordAction})
        action->setEnabled(false);
}

SqlCipherConnection& TfrmMain::databaseFile() const
{
    if (SqlCipherConnection* file = m_dm.ADOConnection1.file())
        return *file;
    throw EngineError(QString::fromUtf8(kServerManaged));
}

void TfrmMain::buildPopupMenu()
{
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    auto item = [&](const char* name, const char* caption) {
        QAction* action = PopupMenu1->addAction(QString::fromUtf8(caption));
        action->setObjectName(QString::fromLatin1(name));
        return action;
    };
    connectGuarded(item("N1", "新增名片 &N"), &QAction::triggered, this, &TfrmMain::SpeedButton1Click);
    connectGuarded(item("B1", "拜访记录 &B"), &QAction::triggered, this, &TfrmMain::SpeedButton8Click);
    connectGuarded(item("T1", "纪念日记录 &T"), &QAction::triggered, this, &TfrmMain::SpeedButton9Click);
    PopupMenu1->addSeparator();
    connectGuarded(item("I1", "导入名片 &I"), &QAction::triggered, this, [this] { openWindow<TfrmInData>(*this); });
    connectGuarded(SpeedButton7, &QToolButton::clicked, this, [this] { openWindow<TfrmInData>(*this); });
    connectGuarded(item("N2", "修改名片 &M"), &QAction::triggered, this, &TfrmMain::SpeedButton2Click);
    PopupMenu1->addSeparator();
    connectGuarded(item("N3", "删除名片 &D"), &QAction::triggered, this, &TfrmMain::SpeedButton3Click);
    DBGrid1->setPopupMenu(PopupMenu1);
}

void TfrmMain::FormCreate()
{
    // The date format needs no setting: every date is written by dateText().
    // Given again after a restore, the same text keeps the connection with its password. A
    // server's text came from its settings file when the engine was made.
    Database& db = m_dm.ADOConnection1;
    const QString connection = cardConnectionString(programDir());
    if (db.file() && db.connectionString() != connection)
        db.setConnectionString(connection);
    DatabaseLabel->setText((db.file() ? QStringLiteral("数据库：") : QStringLiteral("团队数据库："))
                           + QDir::toNativeSeparators(db.displayName()) + QStringLiteral("    "));
    const QDate day = today();
    Edit2->setText(dateText(day));
    Edit1->setText(dateText(oneMonthEarlier(day)));
    cardFilter.clear();
    m_dm.openCardDatabase(this); // asks for the user's password when one is set
    // An upgrade that fails leaves the file as it was: the cards are still listed.
    runGuarded([this] { upgradeDatabase(); });
    myRef();
    if (db.isReadOnly()) {
        ReadOnlyLabel->setText(QStringLiteral("只读：数据库文件或 Data 文件夹不能写入，可以查看，不能保存修改"));
        ReadOnlyLabel->show();
    }
    WebBrowser1->setSource(QUrl(QString::fromLatin1(kStartPageUrl)));
    CheckBox1->setChecked(false);
    m_dm.DBComType(DBLookupComboBox1);
    m_dm.DBComSex(DBLookupComboBox2);
    m_dm.DBComP(DBLookupComboBox3);
}

void TfrmMain::myRef()
{
    ADOQuery4->run(displayedColumnsSql());
    QString columns;
    for (ADOQuery4->first(); !ADOQuery4->eof(); ADOQuery4->next())
        columns += displayedColumnText(ADOQuery4->text(QStringLiteral("theName")), ADOQuery4->text(QStringLiteral("theV")));
    ADOQuery1->run(cardListSql(columns, cardFilter));
    DBGrid1->setColumnHidden(0, true);
    int column = 1;
    for (ADOQuery4->first(); !ADOQuery4->eof(); ADOQuery4->next())
        DBGrid1->setColumnWidth(column++, static_cast<int>(ADOQuery4->integer(QStringLiteral("theWidth"))));
    narrowList();
    showCounts();
}

void TfrmMain::showCounts()
{
    Label1->setText(QStringLiteral("名片数量：%1").arg(ADOQuery1->recordCount()));
    const std::vector<int64_t>& cards = ADOQuery1->rows().ids();
    const std::vector<qint64> counts = m_dm.ADOConnection1.sumsInIdRuns(visitAndAnniversaryCountSql(), cards);
    Label5->setText(QStringLiteral("拜访次数：%1").arg(counts[0]));
    Label2->setText(QStringLiteral("纪念日数：%1").arg(counts[1]));
}

void TfrmMain::narrowList()
{
    if (QuickFindEdit->text().isEmpty() || !QuickFindEdit->isEnabled())
        ADOQuery1->showAll();
    else
        ADOQuery1->showOnly(ostrel::quickFind(m_dm.ADOConnection1, QuickFindEdit->text(), ADOQuery1->statementIds()));
}

void TfrmMain::quickFind()
{
    QuickFindTimer->stop();
    if (!ADOQuery1->isActive())
        return;
    narrowList();
    showCounts();
}

namespace {

// Brings an older file up to date, with a progress dialog; returns whether quick find can
// be used (a read-only older file has no key table).
bool upgradeFile(SqlCipherConnection& db, QWidget* parent)
{
    std::unique_ptr<QProgressDialog> progress;
    constexpr int kSteps = 1000;
    const UpgradeResult result = upgradeSchema(db, [&](int64_t done, int64_t total) {
        if (!progress) {
            progress = std::make_unique<QProgressDialog>(QStringLiteral("正在为快速查找建立检索键，只需这一次，请稍候……"),
                                                         QString(), 0, kSteps, parent);
            progress->setObjectName(QStringLiteral("UpgradeProgress"));
            progress->setWindowTitle(QString::fromUtf8(kAppTitle));
            progress->setWindowModality(Qt::ApplicationModal);
            progress->setMinimumDuration(300);
            progress->setAutoClose(false);
        }
        progress->setValue(total > 0 ? static_cast<int>(done * kSteps / total) : kSteps);
    });
    return result != UpgradeResult::ReadOnly || hasCardKeys(db);
}

} // namespace

void TfrmMain::upgradeDatabase()
{
    // Only a file is upgraded: a server's tables are made whole when the team database is
    // created.
    SqlCipherConnection* file = m_dm.ADOConnection1.file();
    const bool usable = !file || upgradeFile(*file, this);
    QuickFindEdit->setEnabled(usable);
    QuickFindEdit->setToolTip(usable ? QStringLiteral("输入姓名、拼音、首字母、电话号码、单位或邮箱的一部分，列表随输入缩小；"
                                                      "Esc 清除（Ctrl+F）")
                                     : QStringLiteral("数据库只读，无法建立快速查找所需的检索键，快速查找不可用；"
                                                      "以可写方式打开一次后即可使用。"));
}

void TfrmMain::applySearch(const QString& filter)
{
    cardFilter = filter;
    myRef();
}

void TfrmMain::BitBtn1Click()
{
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
        updateCardKeys(m_dm.ADOConnection1, {id.toLongLong()});
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

QString backupFolder()
{
    return programDir() + QStringLiteral("Data/Backup");
}

QString fileFilter()
{
    return QStringLiteral("名片数据库(*.edb);;所有文件(*)");
}

// The wait cursor, and what is being done in the status line, while long work runs
// without events.
struct WaitCursor {
    explicit WaitCursor(QStatusBar* bar = nullptr, const QString& doing = {}) : bar(bar)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (bar) {
            bar->showMessage(doing);
            bar->repaint();
        }
    }
    ~WaitCursor()
    {
        if (bar)
            bar->clearMessage();
        QApplication::restoreOverrideCursor();
    }
    QStatusBar* bar;
};

} // namespace

void TfrmMain::backupData()
{
    const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                  .filePath(QStringLiteral("名片备份-%1.edb").arg(dateText(today())));
    const QString path = chooseSaveFile(this, QStringLiteral("备份数据"), suggested, fileFilter());
    if (path.isEmpty())
        return;
    {
        const WaitCursor wait(statusBar(), QStringLiteral("正在备份数据，请稍候…"));
        databaseFile().backupTo(path);
    }
    showInfo(this, QStringLiteral("数据已备份到 %1").arg(QDir::toNativeSeparators(path)));
}

void TfrmMain::restoreData()
{
    const QString title = QStringLiteral("恢复数据");
    const QString source = chooseOpenFile(this, title, fileFilter());
    if (source.isEmpty())
        return;
    // A backup opens with the password in use, or with the program's own one (made before
    // a password was set); else it has a password of its own, which the user is asked for.
    SqlCipherConnection& db = databaseFile();
    const QString liveKey = db.key();
    std::optional<QString> key;
    for (const QString& known : {liveKey, QString::fromLatin1(kDatabasePassword)})
        if (!key && fileOpensWith(source, known))
            key = known;
    if (!key)
        key = askPasswordTries(this, title, QStringLiteral("所选文件不能用现在的密码打开：它设置了别的密码，或者不是名片数据库。请输入它的密码："),
                               [&](const QString& typed) { return fileOpensWith(source, typed); });
    if (!key)
        throw EngineError(QStringLiteral("没有输入所选文件的正确密码，没有恢复。"));
    if (!askYesNo(this, title,
                  QStringLiteral("恢复后，现在的名片、拜访记录、纪念日和设置都将换成所选备份中的内容"
                                 "（现在的数据库文件会先保存到 Data/Backup 文件夹）。确认要恢复吗？")))
        return;
    QString kept;
    {
        const WaitCursor wait(statusBar(), QStringLiteral("正在恢复数据，请稍候…"));
        kept = restoreDatabase(db, source, backupFolder(), QDateTime::currentDateTime(), key);
    }
    ReadOnlyLabel->hide();
    FormCreate(); // everything shown comes from the restored file
    QString done = kept.isEmpty() ? QStringLiteral("数据已恢复。")
                                  : QStringLiteral("数据已恢复。恢复前的数据库文件已保存为 %1").arg(QDir::toNativeSeparators(kept));
    // The restored file keeps its own password, as a copy put back by hand would.
    if (*key != liveKey)
        done += db.hasUserKey() ? QStringLiteral("\n恢复后的数据库使用所选备份的密码，以后启动程序时要输入它。")
                                : QStringLiteral("\n所选备份没有设置密码，恢复后的数据库也没有密码；需要时请用“设置密码…”重新设置。");
    showInfo(this, done);
}

void TfrmMain::setPassword()
{
    SqlCipherConnection& db = databaseFile();
    const QString title = QStringLiteral("设置密码");
    db.open(); // a database that did not open is reported before anything is asked
    const bool had = db.hasUserKey();
    if (had) {
        const auto current = askPassword(this, title, QStringLiteral("请输入现在的密码："));
        if (!current)
            return;
        if (!db.isKeyedWith(*current)) {
            showInfo(this, QStringLiteral("现在的密码不对，密码没有改变。"));
            return;
        }
    }
    const auto first = askPassword(this, title,
                                   had ? QStringLiteral("请输入新密码（不填表示取消密码）：")
                                       : QStringLiteral("请输入新密码。请牢记它：忘记密码就再也打不开名片数据。"));
    if (!first)
        return;
    if (first->isEmpty() && !had) {
        showInfo(this, QStringLiteral("密码不能为空，没有设置密码。"));
        return;
    }
    if (*first == QString::fromLatin1(kDatabasePassword)) {
        showInfo(this, QStringLiteral("这是程序自带的密码，不能用作您的密码，请换一个。"));
        return;
    }
    const auto second = askPassword(this, title, QStringLiteral("请再输入一次新密码："));
    if (!second)
        return;
    if (*second != *first) {
        showInfo(this, QStringLiteral("两次输入的新密码不一样，密码没有改变。"));
        return;
    }
    {
        const WaitCursor wait(statusBar(), QStringLiteral("正在用新密码重新加密数据库，请稍候…"));
        db.rekey(*first);
    }
    const QString older = QStringLiteral("\n以前的备份（Data/Backup 文件夹中的和您另存的）仍然用原来的密码，不再需要的请删除。");
    if (first->isEmpty())
        showInfo(this, QStringLiteral("密码已取消。以后启动程序时不再需要输入密码。"));
    else
        showInfo(this, (had ? QStringLiteral("密码已修改。") : QStringLiteral("密码已设置。"))
                           + QStringLiteral("以后启动程序时要输入这个密码，之后的备份也使用这个密码。") + older);
}

void TfrmMain::writeCloseBackup()
{
    // Nothing to keep from a database that did not open or could not be changed, nor from a
    // server, which its administrator backs up.
    SqlCipherConnection* db = m_dm.ADOConnection1.file();
    if (!db || !db->isOpen() || db->isReadOnly())
        return;
    const WaitCursor wait;
    writeDailyBackup(*db, backupFolder(), today());
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QuickFindEdit && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        runGuarded([this] {
            QuickFindEdit->clear();
            quickFind();
        });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
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
        runGuarded([this] { writeCloseBackup(); });
        qApp->quit();
    } else {
        event->ignore();
    }
}

void exportCardList(TfrmMain* window)
{
    exportReport(window, cardListLayout(*window->ADOQuery4), *window->ADOQuery1);
}

} // namespace ostrel
