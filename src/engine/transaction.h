#pragma once
#include "engine/database.h"

namespace ostrel {

// Writes that belong together: begun on creation, rolled back on leaving the scope unless
// committed, so an engine error midway leaves the tables as they were before. The error
// itself goes on to the application's error box.
class Transaction {
public:
    explicit Transaction(Database& connection) : m_connection(connection)
    {
        m_connection.beginTransaction();
    }
    ~Transaction()
    {
        if (m_committed)
            return;
        try {
            m_connection.rollback();
        } catch (...) {
            // The error that ended the writes is the one the user sees; a failed rollback
            // leaves nothing committed either.
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit()
    {
        m_connection.commit();
        m_committed = true;
    }

private:
    Database& m_connection;
    bool m_committed = false;
};

} // namespace ostrel
