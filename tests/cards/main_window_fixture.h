#pragma once
#include "app_fixture.h"
#include "engine/query.h"
#include "ui/common/click_label.h"

#include <QTest>
#include <QLabel>
#include <QPushButton>

namespace ostrel::test {

// The main window on a fresh copy of the delivered database, with what its tests read back.
class MainWindow : public AppFixture {
protected:
    // The names of the listed cards, in the order shown.
    QStringList listedNames()
    {
        QStringList names;
        Query* list = main->ADOQuery1;
        const int column = list->rows().columnIndex(QStringLiteral("姓名"));
        for (int r = 0; r < list->rows().rowCount(); ++r)
            names << list->rows().text(r, column);
        return names;
    }
    QString counters() const
    {
        return main->Label1->text() + u' ' + main->Label5->text() + u' ' + main->Label2->text();
    }
    void search() { QTest::mouseClick(main->BitBtn1, Qt::LeftButton); }
    QString backupFolder() const { return database.programDir() + QStringLiteral("Data/Backup"); }
};

} // namespace ostrel::test
