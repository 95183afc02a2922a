#pragma once
#include <QDialog>
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

} // namespace ostrel
