#pragma once
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace ostrel::test {

// Types text key by key as a user would, Chinese characters included (QTest's key clicks
// take Latin-1 only).
inline void typeText(QWidget* widget, const QString& text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace ostrel::test
