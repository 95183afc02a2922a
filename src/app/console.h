#pragma once
#include <QString>

#include <cstdio>

namespace ostrel {

// A line for the terminal of a command-line command, in UTF-8, written at once so that it
// reaches a pipe in order with the other stream.
inline void printLine(const QString& text, FILE* to = stdout)
{
    std::fputs(text.toUtf8().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

// Prints prompt and reads one line from the terminal without showing what is typed.
QString readHiddenLine(const QString& prompt);

} // namespace ostrel
