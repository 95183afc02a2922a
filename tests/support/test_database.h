#pragma once
#include <QString>
#include <QTemporaryDir>

#include "qt_print.h"

namespace ostrel::test {

// A program folder of its own with a fresh copy of the delivered database in Data/.
class TestDatabase {
public:
    TestDatabase();
    // Ends in its separator, like the program's folder.
    QString programDir() const { return m_dir.path() + u'/'; }
    QString path() const { return programDir() + QStringLiteral("Data/db.edb"); }
    QString connectionString() const;

private:
    QTemporaryDir m_dir;
};

// The delivered database, written once per test program from data/schema.sql.
QString deliveredDatabase();

} // namespace ostrel::test
