#pragma once
#include <QString>
#include <stdexcept>

namespace ostrel {

// The one exception type of the engine layer. It carries the text the user is shown and,
// when the engine itself failed, the engine's primary result code (0 otherwise).
class EngineError : public std::runtime_error {
public:
    explicit EngineError(const QString& message, int code = 0)
        : std::runtime_error(message.toStdString()), m_message(message), m_code(code) {}
    const QString& message() const { return m_message; }
    int code() const { return m_code; }

private:
    QString m_message;
    int m_code;
};

// Failures of a team's database server that a user meets, beside the file engine's codes
// (which stay below 256).
inline constexpr int kServerUnreachable = 0x1001;
inline constexpr int kServerConnectionLost = 0x1002;

// The engine's own text for a failure, preceded by a Chinese sentence that says what to
// do when the failure is one a user meets (busy, full, read-only, missing, not a database,
// damaged, a disk error, a server that cannot be reached or was lost). Other codes keep the engine's text alone.
QString engineFailureText(int code, const QString& engineText);

} // namespace ostrel
