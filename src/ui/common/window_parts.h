#pragma once
#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>
#include <QString>

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
