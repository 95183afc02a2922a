#pragma once
#include <QString>
#include <stdexcept>

namespace ostrel {

// The one exception type of the engine layer. It carries the engine's own text; the
// application object shows it in the standard error box.
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

} // namespace ostrel
