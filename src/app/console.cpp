#include "app/console.h"

#include <iostream>
#include <string>

#include <termios.h>
#include <unistd.h>

namespace ostrel {

QString readHiddenLine(const QString& prompt)
{
    std::fputs(prompt.toUtf8().constData(), stdout);
    std::fflush(stdout);
    // A password typed at a terminal is not shown; one piped in has nothing to hide from.
    termios saved{};
    const bool terminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        termios hidden = saved;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stdout); // the Enter the terminal did not echo
        std::fflush(stdout);
    }
    return QString::fromStdString(line);
}

} // namespace ostrel
