#pragma once
#include "app/application.h"
#include "core/card_fields.h"

#include <QMainWindow>

#include <optional>
#include <atomic>
#include <memory>

class QAction;
class QDragEnterEvent;
class QDropEvent;
class QCheckBox;
class QLabel;
class QLayout;
class QLineEdit;
class QMenu;
class QPushButton;
class QTextBrowser;
class QThread;
class QTimer;
class QToolButton;

namespace ostrel {

class CardScanner;
class PhoneSync;
struct PhoneSyncOutcome;
struct ScannedPage;
class ClickLabel;
class DBGrid;
class DBLookupComboBox;
class DatabaseFileCommands;
class GbkEdit;
class HistoryCommands;
class Query;
class QuickFindIndex;
class QuickFinder;
class TfrmDM;

// The program's home: the live cards in the configured columns, three counters, the
// simple search and the commands that open every other window.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TfrmMain(TfrmDM& dm, QWidget* parent = nullptr);
    ~TfrmMain() override;

    TfrmDM& dataModule() const { return m_dm; }
    // Wires a window this one opens: what it reports it changed refreshes the list, a
    // search it chooses replaces the card filter.
    template <typename Window>
    Window& follow(Window& window)
    {
        if constexpr (requires { &Window::cardsChanged; })
            connectGuarded(&window, &Window::cardsChanged, this, &TfrmMain::myRef);
        if constexpr (requires { &Window::searchChosen; })
            connectGuarded(&window, &Window::searchChosen, this, &TfrmMain::applySearch);
        // One recogniser serves every window that reads card images.
        if constexpr (requires { &Window::useScanner; })
            window.useScanner([this]() -> CardScanner& { return cardScanner(); });
        return window;
    }

    // The start-up steps, run once after creation.
    void FormCreate();
    // Rebuilds the card list and the counters with the current card filter (and the quick
    // find's text).
    void myRef();
    // Replaces the card filter by the advanced search's and rebuilds the list.
    void applySearch(const QString& filter);

    // Clauses each beginning " AND (", appended to the card query and the counters.
    QString cardFilter;

    Query* ADOQuery1; // card list
    Query* ADOQuery2; // soft delete
    Query* ADOQuery3; // counters; they are counted on the card index through the connection now
    Query* ADOQuery4; // displayed columns of the last refresh
    Query* ADOQuery5; // anniversary reminder

    DBGrid* DBGrid1;                      // the card list
    QCheckBox* CheckBox1;                 // 录入日期
    QCheckBox* CheckBox2;                 // 分类
    QCheckBox* CheckBox3;                 // 姓名
    QCheckBox* CheckBox4;                 // 性别
    QCheckBox* CheckBox5;                 // 省份
    GbkEdit* Edit1;                       // 录入日期, from
    GbkEdit* Edit2;                       // 至: 录入日期, to
    GbkEdit* Edit3;                       // 姓名
    DBLookupComboBox* DBLookupComboBox1;  // 分类
    DBLookupComboBox* DBLookupComboBox2;  // 性别
    DBLookupComboBox* DBLookupComboBox3;  // 省份
    QPushButton* BitBtn1;                 // 查询
    QPushButton* BitBtn2;                 // Excel
    QPushButton* BitBtn3;                 // 退出
    QPushButton* Button1;                 // 更多条件
    QPushButton* Button2;                 // 设置分类
    QPushButton* Button3;                 // 设置默认项
    QPushButton* Button4;                 // 设置显示项
    QPushButton* Button5;                 // 设置顺序
    QToolButton* SpeedButton1;            // 新增名片
    QToolButton* SpeedButton2;            // 修改名片
    QToolButton* SpeedButton3;            // 删除名片
    QToolButton* SpeedButton4;            // 上一条
    QToolButton* SpeedButton5;            // 下一条
    QToolButton* SpeedButton6;            // 关于我们
    QToolButton* SpeedButton7;            // 导入名片
    QToolButton* SpeedButton8;            // 拜访记录
    QToolButton* SpeedButton9;            // 纪念日记录
    QTextBrowser* WebBrowser1;            // the start page in the tool bar
    QLabel* Label1;                       // 名片数量：n
    ClickLabel* Label5;                   // 拜访次数：n
    ClickLabel* Label2;                   // 纪念日数：n
    ClickLabel* Label4;                   // 软件开发：Ostrel软件
    QMenu* PopupMenu1;                    // the card list's right-click menu
    QAction* N1;                          // 新增名片 &N
    QAction* B1;                          // 拜访记录 &B
    QAction* T1;                          // 纪念日记录 &T
    QAction* I1;                          // 导入名片 &I
    QAction* N2;                          // 修改名片 &M
    QAction* N3;                          // 删除名片 &D
    QAction* QrAction;                    // 二维码名片, beyond the described menu
    // Beyond the described window: the 数据 menu (backup, restore, password, vCard) and two status
    // notes.
    QMenu* DataMenu;
    QAction* BackupAction;
    QAction* RestoreAction;
    QAction* PasswordAction;
    QAction* ImportVCardAction; // 导入vCard…
    QAction* ExportVCardAction; // 导出vCard…
    QAction* ScanAction;        // 扫描名片…: card images read into new cards (dropped images too)
    QAction* VisitStatsAction;  // 拜访统计: charts of the listed cards' visits
    QAction* FindDuplicatesAction;        // 查找重复名片…
    QAction* ForgetNotDuplicatesAction;   // 忘记所有“不是重复”的决定
    QAction* SyncSettingsAction; // 同步设置…: the phone's address-book server
    QAction* SyncNowAction;      // 立即同步
    QLabel* ReadOnlyLabel; // says when the database cannot be written
    QLabel* ReportLabel;   // where the last report was written
    QLabel* DatabaseLabel; // which database is in use: the file's path or the team server
    QLabel* SyncLabel;     // how the running or the last sync went
    PhoneSync* Sync;       // syncs with the phone's address book on a thread of its own
    QTimer* SyncTimer;     // the sync every N minutes
    // Beyond the described window: quick find narrows the list as the user types (pinyin,
    // initials, phone digits, company, e-mail), a moment after the last key.
    QLineEdit* QuickFindEdit;
    QTimer* QuickFindTimer;
    HistoryCommands* History; // opens the visit and anniversary windows

    void BitBtn1Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton8Click();
    void SpeedButton9Click();
    void SpeedButton6Click();
    // 二维码名片: the selected card as a QR code for a phone. The menu offers it only for a
    // live card; one deleted meanwhile (by another user of a team server) is said so.
    void showQrCode();
    // The selected card's fields when it is live; none for an empty list or a deleted card.
    std::optional<CardValues> selectedLiveCard();
    // The selected card's name: its "姓名" column, or from the card itself when the list
    // does not show that column.
    QString selectedCardName();
    // Looks up the anniversaries of the coming seven days and, when there are any, shows
    // them in the anniversary overview. Returns how many there are.
    int anniversaryReminder();
    // 备份数据…: a consistent copy of the database into a file the user chooses.
    void backupData();
    // 恢复数据…: replaces the database by a checked backup, keeping the current file.
    void restoreData();
    // 设置密码…: sets, changes or removes the user's own password of the database.
    void setPassword();
    // Narrows the list to the cards the quick-find text finds and recounts (the whole list
    // when the box is empty). Esc in the box empties it and runs this at once.
    void quickFind();
    // Waits until the quick-find index of the file, read on a worker thread after the start,
    // is in use (at once when none is being read).
    void waitForQuickFindIndex();
    bool hasQuickFindIndex() const;
    // 扫描名片…: asks for card images and reads them (see scanFiles).
    void scanCards();
    // Reads card images on the scanner's thread: one card opens in the editor, several in the
    // review list; files that gave no card are named with the reason.
    void scanFiles(const QStringList& files);
    // The scanner, made on first use and kept with its recogniser.
    CardScanner& cardScanner();
    // 查找重复名片…: groups the live cards with a progress dialog and lists the groups.
    void findDuplicateCards();
    // 忘记所有“不是重复”的决定: after asking, the groups said not to be duplicates are offered again.
    void forgetNotDuplicates();
    // 同步设置…: opens the sync settings, then follows their times.
    void syncSettings();
    // 立即同步: a sync on its thread; its summary (or what stopped it) is shown at its end.
    void syncNow();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Builds the controls with their names, as a form description would (main_window_ui.cpp).
    void setupUi();
    void buildToolBar();
    QWidget* buildSearchBar();
    QLayout* buildSearchButtons(QWidget* row);
    void buildStatusBar();
    void buildPopupMenu();
    void buildDataMenu();
    QWidget* buildQuickFind(QWidget* parent);
    // What the controls do.
    void connectCommands();
    void connectQuickFind();
    void connectDataMenu();
    void connectSync();
    // Sets the timer by the saved times; at the program's start, syncs when that is asked for.
    void followSyncTimes(bool starting);
    void syncProgressed(const QString& step, int done, int total);
    void syncFinished(const PhoneSyncOutcome& outcome);
    // At close: waits for a running sync, or runs the one asked for at close.
    void syncAtClose();
    // Brings an older database up to date (the search keys), with a progress dialog.
    void upgradeDatabase();
    void narrowList();
    void showCounts();
    // Reads the quick-find index of the file anew on a worker thread; until it is in, quick
    // find asks the engine.
    void loadQuickFindIndex();
    void endQuickFindIndexLoad();
    void takeQuickFindIndex();
    void writeCloseBackup();
    // The commands of the database file on this desktop, for what belongs to a file alone
    // (backups, the password); on a server an engine error saying so.
    DatabaseFileCommands& fileCommands() const;
    bool hasCards() const;
    int64_t openScannedCard(const ScannedPage& page);
    int64_t saveScannedCard(const ScannedPage& page, QString& why);

    TfrmDM& m_dm;
    CardScanner* m_scanner = nullptr; // made on the first scan, kept with its recogniser
    bool m_syncedAtStart = false;     // a restore starts the window again, not the program
    std::unique_ptr<QuickFinder> m_finder;
    QThread* m_indexLoader = nullptr;
    std::atomic<bool> m_stopIndexLoad{false};
    std::shared_ptr<std::shared_ptr<QuickFindIndex>> m_loadedIndex;
    uint64_t m_indexLoads = 0; // tells a finished load of an earlier file from the current one
    bool m_indexWanted = false; // a load waits for the event loop
    bool m_indexTaken = false;  // the finder was given an index, which it may have dropped since
    bool m_countsLater = false;   // the first refresh of a start
    bool m_countsPending = false; // the counters show "…" until the index is in
};

// The card-list report of the main window: the displayed columns of its last refresh,
// the cards as the list shows them.
void exportCardList(TfrmMain* window);

} // namespace ostrel
