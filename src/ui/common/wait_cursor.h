#pragma once
#include <QApplication>
#include <QStatusBar>

namespace ostrel {

// The wait cursor, and what is being done in the status line when one is given, while long
// work runs without events.
class WaitCursor {
public:
    explicit WaitCursor(QStatusBar* bar = nullptr, const QString& doing = {}) : m_bar(bar)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (m_bar) {
            m_bar->showMessage(doing);
            m_bar->repaint();
        }
    }
    ~WaitCursor()
    {
        if (m_bar)
            m_bar->clearMessage();
        QApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    QStatusBar* m_bar;
};

} // namespace ostrel
