#pragma once
#include <QDialog>
#include <QUrl>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace ostrel {

class TfrmDM;
namespace sync {
class CardDavClient;
}

// 同步设置: the address-book server, the account, which address book, and when the program
// syncs by itself. Kept in the card database, the password only there.
class SyncSettingsWindow : public QDialog {
    Q_OBJECT
public:
    SyncSettingsWindow(TfrmDM& dm, QWidget* parent);

    // 测试连接: finds the account's address books and lists them, or says what is wrong.
    void testConnection();
    // 新建通讯录…: makes an address book named 名片 (or 名片2, …) in the account.
    void createBook();
    // 保存.
    void save();

    QLineEdit* UrlEdit;
    QLineEdit* UserEdit;
    QLineEdit* PasswordEdit;
    QComboBox* BookCombo;
    QPushButton* TestButton;
    QPushButton* CreateButton;
    QLabel* ResultLabel;
    QCheckBox* OnStartCheck;
    QCheckBox* OnCloseCheck;
    QCheckBox* EveryCheck;
    QSpinBox* EverySpin;
    QPushButton* BitBtn1; // 保存
    QPushButton* BitBtn2; // 退出

signals:
    // The settings were saved: the main window follows the new times.
    void settingsSaved();

private:
    void load();
    // Runs work with a client for the typed account; a certificate that is not trusted is
    // offered for trust and the work tried again. False, with the reason shown, on failure.
    bool withServer(const std::function<void(sync::CardDavClient&, const QUrl&)>& work);
    void tell(const QString& text, bool failed);
    void listBooks(sync::CardDavClient& client, const QUrl& url);

    TfrmDM& m_dm;
    QString m_trusted; // the certificate fingerprint the user confirmed
};

} // namespace ostrel
