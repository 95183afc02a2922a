#pragma once
#include <QApplication>
#include <functional>
#include <type_traits>

namespace ostrel {

// The application object. Handlers are connected through connectGuarded, so no engine
// error crosses Qt code; notify only catches what would slip past that, as a last line.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // How many errors reached notify: each one is a handler that was not guarded.
    int lastLineCatches() const { return m_lastLineCatches; }

private:
    int m_lastLineCatches = 0;
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

// Connects a handler that may reach the engine: it runs inside runGuarded, so an engine
// error ends in the standard error box at the slot instead of travelling through Qt's
// signal machinery. The handler is a member function of context or any callable; it gets
// the signal's arguments when it takes them.
template <typename Sender, typename Signal, typename Context, typename Handler>
QMetaObject::Connection connectGuarded(Sender* sender, Signal signal, Context* context, Handler handler)
{
    return QObject::connect(sender, signal, context, [context, handler](const auto&... args) {
        runGuarded([&] {
            if constexpr (std::is_member_function_pointer_v<Handler>) {
                if constexpr (std::is_invocable_v<Handler, Context*, decltype(args)...>)
                    std::invoke(handler, context, args...);
                else
                    std::invoke(handler, context);
            } else if constexpr (std::is_invocable_v<const Handler&, decltype(args)...>) {
                std::invoke(handler, args...);
            } else {
                std::invoke(handler);
            }
        });
    });
}

} // namespace ostrel
