#include "dialogs.h"

#include "app_info.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QQueue>

namespace ostrel {

namespace {

struct TestState {
    bool enabled = false;
    QQueue<bool> answers;
    QQueue<QString> files;
    QQueue<QString> passwords;
    QQueue<std::function<void(QDialog*)>> modals;
    QList<testhooks::Shown> shown;
    bool failOpenFile = false;
};

TestState& state()
{
    static TestState s;
    return s;
}

bool testMode()
{
    return state().enabled;
}

void log(testhooks::Shown::Kind kind, const QString& title, const QString& text)
{
    QStringList windows;
    for (const QWidget* window : QApplication::topLevelWidgets())
        windows << window->objectName();
    state().shown.append({kind, title, text, windows});
}

} // namespace

QString errorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QChar(u'.'))
        return message + u'.';
    return message;
}

void showInfo(QWidget* parent, const QString& text)
{
    if (testMode()) {
        log(testhooks::Shown::Info, QString::fromUtf8(kAppTitle), text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), text, QMessageBox::Ok, parent);
    box.exec();
}

void showErrorBox(const QString& text)
{
    const QString shown = errorBoxText(text);
    if (testMode()) {
        log(testhooks::Shown::Error, QString::fromUtf8(kAppTitle), shown);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(kAppTitle), shown, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

bool askYesNo(QWidget* parent, const QString& title, const QString& text, bool yesIsDefault)
{
    if (testMode()) {
        log(testhooks::Shown::Question, title, text);
        // An unexpected question is answered No, the safe answer; tests see it in the log.
        return state().answers.isEmpty() ? false : state().answers.dequeue();
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> askPassword(QWidget* parent, const QString& title, const QString& label)
{
    if (testMode()) {
        log(testhooks::Shown::Password, title, label);
        if (state().passwords.isEmpty())
            return std::nullopt;
        return state().passwords.dequeue();
    }
    QInputDialog box(parent);
    box.setWindowTitle(title);
    box.setLabelText(label);
    box.setTextEchoMode(QLineEdit::Password);
    box.setInputMethodHints(Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    box.resize(360, box.sizeHint().height());
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    return box.textValue();
}

std::optional<QString> askPasswordTries(QWidget* parent, const QString& title, const QString& label,
                                        const std::function<bool(const QString&)>& accepts)
{
    constexpr int kTries = 3;
    QString prompt = label;
    for (int left = kTries - 1; left >= 0; --left) {
        std::optional<QString> password = askPassword(parent, title, prompt);
        if (!password || accepts(*password))
            return password;
        prompt = QStringLiteral("密码不对，请重新输入（还可以输入 %1 次）：").arg(left);
    }
    return std::nullopt;
}

QString chooseOpenFile(QWidget* parent, const QString& caption, const QString& filter)
{
    if (testMode()) {
        log(testhooks::Shown::OpenFile, caption, filter);
        return state().files.isEmpty() ? QString() : state().files.dequeue();
    }
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QStringList chooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter)
{
    if (testMode()) {
        log(testhooks::Shown::OpenFile, caption, filter);
        return state().files.isEmpty() ? QStringList() : state().files.dequeue().split(u'\n', Qt::SkipEmptyParts);
    }
    return QFileDialog::getOpenFileNames(parent, caption, QString(), filter);
}

QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter)
{
    if (testMode()) {
        log(testhooks::Shown::SaveFile, caption, suggested);
        return state().files.isEmpty() ? QString() : state().files.dequeue();
    }
    return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
}

int showModal(QDialog* window)
{
    if (!testMode())
        return window->exec();
    QPointer<QDialog> guard(window);
    window->show();
    if (!state().modals.isEmpty())
        state().modals.dequeue()(window);
    if (guard && guard->isVisible())
        guard->close();
    return guard ? guard->result() : QDialog::Rejected;
}

bool openUrl(const QUrl& url)
{
    if (testMode()) {
        log(testhooks::Shown::Url, QString(), url.toString());
        return true;
    }
    return QDesktopServices::openUrl(url);
}

bool openFile(const QString& path)
{
    if (testMode()) {
        log(testhooks::Shown::File, QString(), path);
        return !state().failOpenFile;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

namespace testhooks {

void enable()
{
    state().enabled = true;
}

void queueAnswer(bool yes)
{
    state().answers.enqueue(yes);
}

void queuePassword(const QString& password)
{
    state().passwords.enqueue(password);
}

void queueFile(const QString& path)
{
    state().files.enqueue(path);
}

void queueFiles(const QStringList& paths)
{
    state().files.enqueue(paths.join(u'\n'));
}

void queueModal(std::function<void(QDialog*)> action)
{
    state().modals.enqueue(std::move(action));
}

const QList<Shown>& shown()
{
    return state().shown;
}

QStringList shownTexts()
{
    QStringList texts;
    for (const Shown& s : state().shown)
        texts << s.text;
    return texts;
}

void clear()
{
    state().answers.clear();
    state().files.clear();
    state().passwords.clear();
    state().modals.clear();
    state().shown.clear();
    state().failOpenFile = false;
}

void failOpenFile(bool fail)
{
    state().failOpenFile = fail;
}

int pendingAnswers()
{
    return static_cast<int>(state().answers.size() + state().passwords.size());
}

int pendingModals()
{
    return static_cast<int>(state().modals.size());
}

} // namespace testhooks

} // namespace ostrel
