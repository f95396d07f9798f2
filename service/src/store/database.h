#pragma once

#include "store/store.h"
#include "store/transaction.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tunalo::service {

class Statement;

// One SQLite connection. Not shared between threads without a lock of the caller's.
class Database {
public:
    explicit Database(const std::string& path);

    void exec(const char* sql);
    // For Transaction: a write transaction that takes the file's write lock at once.
    void begin() { exec("BEGIN IMMEDIATE"); }
    void commit() { exec("COMMIT"); }
    void rollback() noexcept;
    Statement prepare(const char* sql);
    std::int64_t lastInsertId() const { return sqlite3_last_insert_rowid(m_db.get()); }
    int changes() const { return sqlite3_changes(m_db.get()); }
    [[noreturn]] void fail(const char* what) const;

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    std::unique_ptr<sqlite3, Closer> m_db;
};

// A prepared statement; values are bound by position, counting from 1.
class Statement {
public:
    Statement(const Database& db, sqlite3_stmt* stmt) : m_db(&db), m_stmt(stmt) {}

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view value);
    Statement& bind(int index, const void* blob, std::size_t size);

    // Advances to the next row; false once the statement is done.
    bool step();
    void run() { step(); }
    // Makes the statement ready to run again; its values stay bound.
    void reset() { sqlite3_reset(m_stmt.get()); }

    std::int64_t integer(int column) const { return sqlite3_column_int64(m_stmt.get(), column); }
    std::string text(int column) const;

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
    };
    const Database* m_db;
    std::unique_ptr<sqlite3_stmt, Finalizer> m_stmt;
};

} // namespace tunalo::service
