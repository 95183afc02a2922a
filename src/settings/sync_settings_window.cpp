#include "sync_settings_window.h"

#include "app/application.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "core/sync/card_sync.h"
#include "core/sync/carddav_client.h"
#include "core/sync/sync_state.h"
#include "engine/transaction.h"
#include "ui/common/wait_cursor.h"
#include "ui/common/window_parts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace ostrel {

namespace {

// Discovery and the test answer within this: the user is waiting at the window.
constexpr int kWindowTimeoutSeconds = 15;
constexpr int kMaxMinutes = 24 * 60;

const QString kTitle = QStringLiteral("同步设置");

} // namespace

SyncSettingsWindow::SyncSettingsWindow(TfrmDM& dm, QWidget* parent) : QDialog(parent), m_dm(dm)
{
    setObjectName(QStringLiteral("frmSync"));
    setWindowTitle(kTitle);
    setCloseBoxOnly(this);
    setMinimumWidth(480);

    auto* layout = new QVBoxLayout(this);
    auto* server = new QGroupBox(QStringLiteral("通讯录服务器（CardDAV）"), this);
    auto* form = new QFormLayout(server);
    UrlEdit = named(new QLineEdit(server), "UrlEdit");
    UrlEdit->setPlaceholderText(QStringLiteral("https://dav.example.com/ 或通讯录自己的网址"));
    UserEdit = named(new QLineEdit(server), "UserEdit");
    PasswordEdit = named(new QLineEdit(server), "PasswordEdit");
    PasswordEdit->setEchoMode(QLineEdit::Password);
    PasswordEdit->setToolTip(QStringLiteral("密码只保存在加密的名片数据库中"));
    form->addRow(QStringLiteral("服务器地址："), UrlEdit);
    form->addRow(QStringLiteral("用户名："), UserEdit);
    form->addRow(QStringLiteral("密码："), PasswordEdit);
    auto* bookRow = new QHBoxLayout;
    BookCombo = named(new QComboBox(server), "BookCombo");
    BookCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    BookCombo->setMinimumContentsLength(20);
    CreateButton = named(new QPushButton(QStringLiteral("新建通讯录…"), server), "CreateButton");
    bookRow->addWidget(BookCombo, 1);
    bookRow->addWidget(CreateButton);
    form->addRow(QStringLiteral("通讯录："), bookRow);
    TestButton = named(new QPushButton(QStringLiteral("测试连接"), server), "TestButton");
    TestButton->setToolTip(QStringLiteral("连接服务器，列出账户中的通讯录"));
    auto* testRow = new QHBoxLayout;
    testRow->addWidget(TestButton);
    testRow->addStretch();
    form->addRow(testRow);
    // Room for the longest answer (a certificate's fingerprint), so nothing is cut.
    ResultLabel = named(new QLabel(server), "ResultLabel");
    ResultLabel->setWordWrap(true);
    ResultLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ResultLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    ResultLabel->setMinimumHeight(ResultLabel->fontMetrics().lineSpacing() * 4);
    form->addRow(ResultLabel);
    layout->addWidget(server);

    auto* times = new QGroupBox(QStringLiteral("自动同步"), this);
    auto* timesLayout = new QVBoxLayout(times);
    OnStartCheck = named(new QCheckBox(QStringLiteral("启动程序时同步"), times), "OnStartCheck");
    OnCloseCheck = named(new QCheckBox(QStringLiteral("退出程序时同步"), times), "OnCloseCheck");
    auto* everyRow = new QHBoxLayout;
    EveryCheck = named(new QCheckBox(QStringLiteral("程序运行时每"), times), "EveryCheck");
    EverySpin = named(new QSpinBox(times), "EverySpin");
    EverySpin->setRange(1, kMaxMinutes);
    EverySpin->setValue(30);
    everyRow->addWidget(EveryCheck);
    everyRow->addWidget(EverySpin);
    everyRow->addWidget(new QLabel(QStringLiteral("分钟同步一次"), times));
    everyRow->addStretch();
    timesLayout->addWidget(OnStartCheck);
    timesLayout->addWidget(OnCloseCheck);
    timesLayout->addLayout(everyRow);
    layout->addWidget(times);

    std::tie(BitBtn1, BitBtn2) = addSaveExitRow(this, layout);
    connect(EveryCheck, &QCheckBox::toggled, EverySpin, &QWidget::setEnabled);
    connectGuarded(TestButton, &QPushButton::clicked, this, &SyncSettingsWindow::testConnection);
    connectGuarded(CreateButton, &QPushButton::clicked, this, &SyncSettingsWindow::createBook);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &SyncSettingsWindow::save);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    load();
}

void SyncSettingsWindow::load()
{
    Database& db = m_dm.ADOConnection1;
    const sync::SyncAccount account = sync::loadSyncAccount(db);
    UrlEdit->setText(sync::syncSetting(db, sync::setting::kUrl));
    UserEdit->setText(account.user);
    PasswordEdit->setText(account.password);
    m_trusted = account.trustedCertificate;
    if (!account.book.isEmpty()) {
        const QString name = sync::syncSetting(db, sync::setting::kBookName);
        BookCombo->addItem(name.isEmpty() ? account.book.toDisplayString() : name, account.book);
    }
    const sync::SyncTimes times = sync::loadSyncTimes(db);
    OnStartCheck->setChecked(times.onStart);
    OnCloseCheck->setChecked(times.onClose);
    EveryCheck->setChecked(times.everyMinutes > 0);
    if (times.everyMinutes > 0)
        EverySpin->setValue(std::min(times.everyMinutes, kMaxMinutes));
    EverySpin->setEnabled(EveryCheck->isChecked());
}

void SyncSettingsWindow::tell(const QString& text, bool failed)
{
    ResultLabel->setStyleSheet(failed ? QStringLiteral("color: #b00000;") : QStringLiteral("color: #006000;"));
    ResultLabel->setText(text);
}

bool SyncSettingsWindow::withServer(const std::function<void(sync::CardDavClient&, const QUrl&)>& work)
{
    for (;;) {
        try {
            const QUrl url = sync::serverUrl(UrlEdit->text());
            const WaitCursor wait;
            tell(QStringLiteral("正在连接 %1 …").arg(url.toDisplayString()), false);
            ResultLabel->repaint();
            sync::CardDavClient client(UserEdit->text(), PasswordEdit->text(), kWindowTimeoutSeconds);
            if (!m_trusted.isEmpty())
                client.trustCertificate(m_trusted);
            work(client, url);
            return true;
        } catch (const sync::SyncError& error) {
            tell(error.message(), true);
            if (error.kind() != sync::SyncError::Untrusted || error.fingerprint.isEmpty() || error.fingerprint == m_trusted)
                return false;
            if (!askYesNo(this, kTitle,
                          QStringLiteral("服务器的证书不是公认的证书机构签发的。\n\n证书指纹（SHA-256）：\n%1\n\n"
                                         "请向服务器管理员核对这个指纹。确认这是您的服务器，并信任这个证书吗？")
                              .arg(sync::shownFingerprint(error.fingerprint))))
                return false;
            m_trusted = error.fingerprint;
        }
    }
}

void SyncSettingsWindow::listBooks(sync::CardDavClient& client, const QUrl& url)
{
    const QVariant chosen = BookCombo->currentData();
    std::vector<sync::AddressBook> books = client.discover(url);
    if (books.empty()) {
        tell(QStringLiteral("连接成功，但账户中还没有通讯录。"), false);
        if (!askYesNo(this, kTitle, QStringLiteral("账户中还没有通讯录。要在服务器上新建通讯录“名片”吗？"), true))
            return;
        books.push_back({client.createAddressBook(url, QStringLiteral("名片")), QStringLiteral("名片")});
    }
    BookCombo->clear();
    for (const sync::AddressBook& book : books)
        BookCombo->addItem(book.name.isEmpty() ? book.url.toDisplayString() : book.name, book.url);
    const int again = BookCombo->findData(chosen);
    BookCombo->setCurrentIndex(again >= 0 ? again : 0);
    tell(QStringLiteral("连接成功：账户中有 %1 个通讯录，请选择要同步的一个。").arg(books.size()), false);
}

void SyncSettingsWindow::testConnection()
{
    withServer([this](sync::CardDavClient& client, const QUrl& url) { listBooks(client, url); });
}

void SyncSettingsWindow::createBook()
{
    QString name = QStringLiteral("名片");
    for (int n = 2; BookCombo->findText(name) >= 0; ++n)
        name = QStringLiteral("名片%1").arg(n);
    if (!askYesNo(this, kTitle, QStringLiteral("要在服务器上新建通讯录“%1”吗？").arg(name), true))
        return;
    withServer([&](sync::CardDavClient& client, const QUrl& url) {
        const QUrl book = client.createAddressBook(url, name);
        BookCombo->addItem(name, book);
        BookCombo->setCurrentIndex(BookCombo->count() - 1);
        tell(QStringLiteral("已新建通讯录“%1”。").arg(name), false);
    });
}

void SyncSettingsWindow::save()
{
    if (BookCombo->count() == 0 && !withServer([this](sync::CardDavClient& client, const QUrl& url) { listBooks(client, url); }))
        return;
    if (BookCombo->currentIndex() < 0) {
        showInfo(this, QStringLiteral("请先点“测试连接”，再选择要同步的通讯录。"));
        return;
    }
    sync::SyncAccount account;
    account.book = BookCombo->currentData().toUrl();
    account.user = UserEdit->text();
    account.password = PasswordEdit->text();
    account.trustedCertificate = m_trusted;
    sync::SyncTimes times;
    times.onStart = OnStartCheck->isChecked();
    times.onClose = OnCloseCheck->isChecked();
    times.everyMinutes = EveryCheck->isChecked() ? EverySpin->value() : 0;
    Database& db = m_dm.ADOConnection1;
    sync::saveSyncAccount(db, sync::serverUrl(UrlEdit->text()).toString(), account);
    {
        Transaction transaction(db);
        sync::setSyncSetting(db, sync::setting::kBookName, BookCombo->currentText());
        sync::saveSyncTimes(db, times);
        transaction.commit();
    }
    emit settingsSaved();
    showInfo(this, QStringLiteral("同步设置 保存成功！"));
    accept();
}

} // namespace ostrel
