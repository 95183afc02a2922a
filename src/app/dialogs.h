#pragma once
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace ostrel {

// Every message box, question, file dialog, modal window and opened address goes through
// here, so tests can answer them without a box ever blocking.

// A plain message box with an OK button.
void showInfo(QWidget* parent, const QString& text);
// The standard error box: error icon, OK, titled with the application title; "." is
// appended when the text's last character sorts after ".".
void showErrorBox(const QString& text);
// A Yes/No question with a question icon. Deletions keep No as the default button.
bool askYesNo(QWidget* parent, const QString& title, const QString& text, bool yesIsDefault = false);
// A password box: the typed text masked, OK and Cancel; nullopt when the user cancels.
std::optional<QString> askPassword(QWidget* parent, const QString& title, const QString& label);
// Asks for a password until accepts takes one, at most three times, saying when one was
// wrong; nullopt when the user cancels or the third is wrong too.
std::optional<QString> askPasswordTries(QWidget* parent, const QString& title, const QString& label,
                                        const std::function<bool(const QString&)>& accepts);
// A file-open dialog; the empty text when the user cancels.
QString chooseOpenFile(QWidget* parent, const QString& caption, const QString& filter);
// A file-open dialog that takes several files; none when the user cancels.
QStringList chooseOpenFiles(QWidget* parent, const QString& caption, const QString& filter);
// A file-save dialog starting at the suggested path; it asks before replacing a file. The
// empty text when the user cancels.
QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& suggested, const QString& filter);
// Shows a window modally and returns its result.
int showModal(QDialog* window);
// Opens an address with the desktop's default program, without waiting.
bool openUrl(const QUrl& url);
// Opens a file with the desktop's default program for its kind, without waiting; false
// when there is none.
bool openFile(const QString& path);

// The error box's text for an engine message.
QString errorBoxText(const QString& message);

namespace testhooks {

struct Shown {
    enum Kind { Info, Error, Question, OpenFile, SaveFile, Url, File, Password };
    Kind kind;
    QString title;
    QString text; // a password box's label, never what was typed
    // The windows that existed, shown or hidden, when it came up (by object name): one
    // that outlives the work it reports on could still pop up over the box.
    QStringList windows;
};

// Turns the real boxes off: answers come from the queues, texts go to the log.
void enable();
void queueAnswer(bool yes);
// What the next password box gives; an unqueued one is cancelled.
void queuePassword(const QString& password);
// The next file an open or save dialog gives.
void queueFile(const QString& path);
// The files the next multiple-file open dialog gives.
void queueFiles(const QStringList& paths);
// Runs with the next modal window while it is shown; the window is closed after it
// unless it closed itself.
void queueModal(std::function<void(QDialog*)> action);
const QList<Shown>& shown();
QStringList shownTexts();
void clear();
// Makes every later openFile fail (until clear()), as on a desktop without a program for
// the file's kind.
void failOpenFile(bool fail);
// Answers and actions queued but never used.
int pendingAnswers();
int pendingModals();

} // namespace testhooks

} // namespace ostrel
