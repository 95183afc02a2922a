#pragma once
#include "core/open_database.h"
#include "core/workbook_connection.h"
#include "engine/database.h"

#include <QObject>

#include <memory>

class QWidget;

namespace ostrel {

class DBLookupComboBox;
class Query;

// The data module: lives for the whole run, owns the card database (the encrypted file or
// the team's server), the import's workbook connection and the three shared lookup queries
// that every category, sex and province box lists.
class TfrmDM : public QObject {
    Q_OBJECT
public:
    // On the encrypted file; the main window's start-up gives it the file's connection text.
    explicit TfrmDM(QObject* parent = nullptr);
    // On the card database the factory opened, with the file's commands when it is the file.
    explicit TfrmDM(OpenedCardDatabase database, QObject* parent = nullptr);
    // On an engine alone, without the file's commands: what only the file has is left out.
    explicit TfrmDM(std::unique_ptr<Database> database, QObject* parent = nullptr);
    ~TfrmDM() override;

    // Backups, restoring, the password and the upgrade of the encrypted file; null on a team
    // server.
    DatabaseFileCommands* fileCommands() const { return m_fileCommands.get(); }

    // Each loader reruns its shared query, so every open box of that kind follows.
    void DBComType(DBLookupComboBox* box);
    void DBComSex(DBLookupComboBox* box);
    void DBComP(DBLookupComboBox* box);
    // Opens the card database. When the program's own password does not open the file, asks
    // for the user's (three tries); throws EngineError when it stays closed.
    void openCardDatabase(QWidget* parent);
    // A window's own query on the card database, named for tests.
    Query* newQuery(QObject* owner, const char* name);

private:
    std::unique_ptr<Database> m_database; // made before everything that uses it
    std::unique_ptr<DatabaseFileCommands> m_fileCommands;

public:
    Database& ADOConnection1;
    WorkbookConnection ExcelADOCon; // the workbook being imported; the import sets its text
    Query* ADOQuery1; // categories, D_Type
    Query* ADOQuery2; // sexes, D_Sex
    Query* ADOQuery3; // provinces, D_P

private:
    void load(Query* query, const QString& sql, DBLookupComboBox* box);
};

} // namespace ostrel
