#pragma once
#include <QBoxLayout>
#include <QDialog>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QString>

#include <initializer_list>
#include <memory>

namespace ostrel {

// Every control and query carries its name as objectName, so tests find it by name.
template <typename T>
T* named(T* object, const char* name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

// A child window's caption bar: the system menu and the close box only, no minimise or
// maximise box. As a child dialog it opens centred on its owner.
inline void setCloseBoxOnly(QDialog* window)
{
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint);
}

// The progress of a long import or export, with 取消: shown at once, modal to its window
// only, and left standing at its end so the result's message follows it.
inline std::unique_ptr<QProgressDialog> cancellableProgress(QWidget* parent, const QString& title, const QString& label,
                                                            int total)
{
    auto progress = std::make_unique<QProgressDialog>(label, QStringLiteral("取消"), 0, total, parent);
    progress->setObjectName(QStringLiteral("ProgressDialog"));
    progress->setWindowTitle(title);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(0);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setValue(0);
    return progress;
}

namespace detail {
class EnterPresses : public QObject {
public:
    explicit EnterPresses(QPushButton* button) : QObject(button), m_button(button) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_button->isEnabled()) {
                m_button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPushButton* m_button;
};
} // namespace detail

// Enter in any of the controls presses the button, as a dialog's default button does; a
// main window has no default button of its own, and tick boxes and closed drop-down lists
// pass Enter on to it.
inline void pressOnEnter(QPushButton* button, std::initializer_list<QWidget*> controls)
{
    auto* filter = new detail::EnterPresses(button);
    for (QWidget* control : controls)
        control->installEventFilter(filter);
}

// The "保存" and "退出" buttons (BitBtn1, BitBtn2), centred in a row of their own at the
// end of layout. Neither acts on Enter: only a click saves.
inline std::pair<QPushButton*, QPushButton*> addSaveExitRow(QWidget* owner, QBoxLayout* layout)
{
    auto* row = new QHBoxLayout;
    auto* save = named(new QPushButton(QStringLiteral("保存"), owner), "BitBtn1");
    auto* exit = named(new QPushButton(QStringLiteral("退出"), owner), "BitBtn2");
    row->addStretch();
    for (QPushButton* button : {save, exit}) {
        button->setAutoDefault(false);
        row->addWidget(button);
    }
    row->addStretch();
    layout->addLayout(row);
    return {save, exit};
}

} // namespace ostrel
