#pragma once

namespace tunalo::service {

// Commits when commit() is called, rolls back when left without it (an exception on the way).
// Db is a connection of either store: begin(), commit(), and a rollback() that never throws.
template <class Db>
class Transaction {
public:
    explicit Transaction(Db& db) : m_db(db) { m_db.begin(); }
    ~Transaction()
    {
        if (!m_done)
            m_db.rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit()
    {
        m_db.commit();
        m_done = true;
    }

private:
    Db& m_db;
    bool m_done = false;
};

} // namespace tunalo::service
