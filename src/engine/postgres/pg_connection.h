#pragma once
#include "engine/database.h"

#include <QByteArray>

#include <memory>
#include <string_view>

struct pg_conn;
struct pg_result;

namespace ostrel {

class PgStatement;

// The card database of a team: a PostgreSQL database on a server, reached through libpq.
// The connection string is a PostgreSQL URI or key=value text (the password in it or in
// the user's ~/.pgpass). The statement texts are the file's, adapted by adaptServerSql;
// every value goes to the server as a bound parameter.
//
// A lost connection (the server restarted, the network dropped) fails the statement that
// met it with an EngineError saying so; the next statement connects anew.
class PgConnection : public Database {
public:
    explicit PgConnection(DatabaseRules rules = {}) : m_rules(std::move(rules)) {}
    explicit PgConnection(const QString& connectionString, DatabaseRules rules = {}) : m_rules(std::move(rules))
    {
        setConnectionString(connectionString);
    }
    ~PgConnection() override;
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    bool isOpen() const override;
    void open() override;
    void close() override;
    ResultSet select(const QString& sql) override;
    int execute(const QString& sql) override;
    int countRows(const QString& sql) override;
    // A followed list (followList) is brought up to date rather than read whole.
    ResultSet selectPaged(const QString& sql) override;

    // What changed on the server since a moment: the rows of a followed list to look at again.
    struct ChangedRows {
        QString moment;            // where the next look starts
        bool known = false;        // false: the list is read whole
        std::vector<int64_t> ids;  // the rows changed since, in any order
    };
    // Given the empty text, the moment now.
    using ChangesSince = std::function<ChangedRows(const QString& moment)>;
    // Keeps the IDs of the paged list of sql between its runs and, at the next run, reads only
    // which of the rows changes names are in it now: a million IDs cost the server more than
    // the rest of a refresh. sql's rows must each be in it by their own row alone, ordered by
    // ID descending (a list read otherwise is read whole every time). makeChanges is asked
    // once per connection; when it gives nothing, lists are read whole.
    void followList(const QString& sql, const std::function<ChangesSince()>& makeChanges);
    // A statement prepared on the server once per connection (kept a while), its rows read
    // whole at its first step.
    std::unique_ptr<PreparedStatement> prepare(const QString& sql) override;
    // One statement for all the runs: the runs go to the server as two arrays.
    std::vector<qint64> sumsInIdRuns(const QString& sql, std::vector<int64_t> ids) override;
    int64_t lastInsertId() override;

    void beginTransaction() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;
    // Inside a transaction the card's row stays locked until the commit, so no one else can
    // save it between the check and the save.
    int64_t changeCounter(int64_t card) override;
    bool has(Capability) const override { return false; }
    // "<host>/<dbname>", never the password.
    QString displayName() const override;

    // Runs text written for the server itself, as it is (not adapted): the setup's own
    // statements, several at once.
    void runServerSql(const QString& serverSql);

    // Writes rows into table's columns with the server's COPY: write hands each row's
    // values (UTF-8 text, as the file holds them) to the sink.
    class CopySink {
    public:
        virtual ~CopySink() = default;
        virtual void add(std::string_view utf8) = 0;
        virtual void endRow() = 0;
    };
    void copyIn(const QString& table, const QStringList& columns, const std::function<void(CopySink&)>& write);

private:
    DatabaseRules m_rules;
    class ListPager;
    friend class PgStatement;
    struct ResultDeleter {
        void operator()(pg_result* result) const;
    };
    using Result = std::unique_ptr<pg_result, ResultDeleter>;

    // The open connection, connecting (again) when there is none or it was lost.
    pg_conn* handle();
    // Runs adapted text without values, its rows in text or in the server's binary form;
    // throws EngineError unless it succeeds.
    Result run(const QString& sql, bool binary = false);
    // Checks a statement's result: throws EngineError for a failure.
    Result checked(pg_result* result);
    // A statement prepared on the server: its name there, and the numbers of its values and
    // of its columns.
    struct Kept {
        QString sql;
        QByteArray name;
        int parameters = 0;
        int columns = 0;
    };
    // The statement cache: the server's statement of the text, prepared once per connection
    // and kept a while.
    Kept keptStatement(const QString& sql);
    bool isKept(const QByteArray& name) const;

    pg_conn* m_conn = nullptr;
    // Counts the connections made: a statement prepared on an earlier one is prepared anew.
    int m_session = 0;
    // Counts close(): a statement of a closed connection is ended.
    int m_closes = 0;
    std::vector<Kept> m_kept; // most recently used last

    // The followed list: its statement, its columns, its IDs at moment.
    struct Followed {
        bool asked = false;
        ChangesSince changes;
        QString sql;
        QStringList columns;
        QString moment;
        std::shared_ptr<const std::vector<int64_t>> ids; // shared with the list shown, not copied
    };
    Followed m_followed;
    ResultSet followedList(const std::shared_ptr<ListPager>& pager);
    QStringList listColumns(const QString& sql);
    int m_nextName = 0;
};

} // namespace ostrel
