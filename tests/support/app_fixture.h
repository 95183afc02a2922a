#pragma once
#include "app/application.h"
#include "app/clock.h"
#include "app/data_module.h"
#include "app/dialogs.h"
#include "cards/main_window.h"
#include "engine/sql_text.h"
#include "test_database.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

namespace ostrel::test {

// A started program on its own copy of the delivered database (on a server run, a fresh
// server database): the data module and the main window after its start-up steps, with
// every box answered from the test queues.
class AppFixture : public ::testing::Test {
protected:
    AppFixture()
    {
        testhooks::clear();
        setProgramDir(database.programDir());
    }
    ~AppFixture() override
    {
        main.reset();
        setToday({});
        setProgramDir({});
        testhooks::clear();
    }

    // Creates the main window and runs its start-up steps (call after seeding rows).
    void startMain()
    {
        main = std::make_unique<TfrmMain>(dm);
        runGuarded([&] { main->FormCreate(); });
    }

    // Runs a statement on the card database directly.
    int exec(const QString& sql) { return dm.ADOConnection1.execute(sql); }
    // The first column of every row a query returns.
    QStringList column(const QString& sql)
    {
        const ResultSet rows = dm.ADOConnection1.select(sql);
        QStringList values;
        for (int r = 0; r < rows.rowCount(); ++r)
            values << rows.text(r, 0);
        return values;
    }
    // Adds a live card and returns its ID.
    int addCard(const QString& name, const QString& sex = QStringLiteral("男"),
                const QString& type = QStringLiteral("客户"), const QString& date = QStringLiteral("2026-01-01"))
    {
        exec(QStringLiteral("insert into D_B(theDate,theType,BName,BSex,theDel) values('%1','%2','%3','%4','否')")
                 .arg(sqlQuote(date), sqlQuote(type), sqlQuote(name), sqlQuote(sex)));
        return column(QStringLiteral("select max(ID) from D_B")).first().toInt();
    }

    TestDatabase database;
    TfrmDM dm{cardDatabaseFor(database)};
    std::unique_ptr<TfrmMain> main;
};

} // namespace ostrel::test
