#pragma once
#include <QApplication>
#include <functional>

namespace ostrel {

// The application object. Windows do not catch engine errors: they end here, in the
// standard error box, and the rest of that user action is skipped.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace ostrel

namespace ostrel {

// The folder of the program, ending in its separator; the database lies in Data/ below it.
QString programDir();
// Tests place the program elsewhere; the empty text goes back to the real folder.
void setProgramDir(const QString& dir);

// Runs a step of the program the way the application runs an event: an engine error is
// shown in the standard error box and ends the step. Used where no event carries the
// step, as for the main window's creation.
void runGuarded(const std::function<void()>& step);

} // namespace ostrel
