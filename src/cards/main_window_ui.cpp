// The main window's controls, built as a form description would build them: each control
// named for its described name, so tests and the window's code find it. What the controls
// do is wired in main_window.cpp and data_menu.cpp.
#include "main_window.h"

#include "ui/common/click_label.h"
#include "ui/common/db_grid.h"
#include "ui/common/gbk_edit.h"
#include "ui/common/lookup_combo.h"
#include "ui/common/window_parts.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace ostrel {

void TfrmMain::setupUi()
{
    setObjectName(QStringLiteral("frmMain"));
    setFont(QFont(QStringLiteral("Arial"), 8));
    buildToolBar();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->addWidget(buildSearchBar());
    DBGrid1 = named(new DBGrid(central), "DBGrid1");
    DBGrid1->setToolTip(QStringLiteral("亲，鼠标右击 有惊喜哟！"));
    layout->addWidget(DBGrid1, 1);
    setCentralWidget(central);
    buildStatusBar();
    buildPopupMenu();
    buildDataMenu();
}

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
    rowLayout->addLayout(buildSearchButtons(row));
    rowLayout->addWidget(buildQuickFind(row));
    return row;
}

QLayout* TfrmMain::buildSearchButtons(QWidget* row)
{
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
    BitBtn1->setDefault(true);
    return buttons;
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
    SyncLabel = named(new QLabel(bar), "SyncLabel");
    bar->addPermanentWidget(SyncLabel);
}

namespace {

QAction* namedAction(QMenu* menu, const char* name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

} // namespace

void TfrmMain::buildPopupMenu()
{
    PopupMenu1 = named(new QMenu(this), "PopupMenu1");
    auto item = [&](const char* name, const char* caption) { return namedAction(PopupMenu1, name, QString::fromUtf8(caption)); };
    N1 = item("N1", "新增名片 &N");
    B1 = item("B1", "拜访记录 &B");
    T1 = item("T1", "纪念日记录 &T");
    PopupMenu1->addSeparator();
    I1 = item("I1", "导入名片 &I");
    N2 = item("N2", "修改名片 &M");
    QrAction = item("QrAction", "二维码名片");
    PopupMenu1->addSeparator();
    N3 = item("N3", "删除名片 &D");
    DBGrid1->setPopupMenu(PopupMenu1);
}

void TfrmMain::buildDataMenu()
{
    DataMenu = named(menuBar()->addMenu(QStringLiteral("数据(&S)")), "DataMenu");
    BackupAction = namedAction(DataMenu, "BackupAction", QStringLiteral("备份数据…"));
    RestoreAction = namedAction(DataMenu, "RestoreAction", QStringLiteral("恢复数据…"));
    PasswordAction = namedAction(DataMenu, "PasswordAction", QStringLiteral("设置密码…"));
    DataMenu->addSeparator();
    ImportVCardAction = namedAction(DataMenu, "ImportVCardAction", QStringLiteral("导入vCard…"));
    ExportVCardAction = namedAction(DataMenu, "ExportVCardAction", QStringLiteral("导出vCard…"));
    DataMenu->addSeparator();
    ScanAction = namedAction(DataMenu, "ScanAction", QStringLiteral("扫描名片…"));
    DataMenu->addSeparator();
    VisitStatsAction = namedAction(DataMenu, "VisitStatsAction", QStringLiteral("拜访统计"));
    DataMenu->addSeparator();
    FindDuplicatesAction = namedAction(DataMenu, "FindDuplicatesAction", QStringLiteral("查找重复名片…"));
    ForgetNotDuplicatesAction = namedAction(DataMenu, "ForgetNotDuplicatesAction", QStringLiteral("忘记所有“不是重复”的决定"));
    DataMenu->addSeparator();
    SyncSettingsAction = namedAction(DataMenu, "SyncSettingsAction", QStringLiteral("同步设置…"));
    SyncNowAction = namedAction(DataMenu, "SyncNowAction", QStringLiteral("立即同步"));
    setAcceptDrops(true);
}

} // namespace ostrel
