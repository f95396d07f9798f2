#include "store/database.h"

namespace tunalo::service {

Database::Database(const std::string& path)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    m_db.reset(raw);
    if (rc != SQLITE_OK)
        fail(("cannot open the database " + path).c_str());
    // Another instance holding the file's write lock longer than this makes the database late.
    sqlite3_busy_timeout(m_db.get(), 2000);
}

void Database::fail(const char* what) const
{
    const std::string message = std::string(what) + ": " + (m_db ? sqlite3_errmsg(m_db.get()) : "out of memory");
    const int code = m_db ? sqlite3_errcode(m_db.get()) : SQLITE_NOMEM;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
        throw DatabaseUnavailable(message);
    throw DatabaseError(message);
}

void Database::exec(const char* sql)
{
    if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(sql);
}

void Database::rollback() noexcept
{
    sqlite3_exec(m_db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

Statement Database::prepare(const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db.get(), sql, -1, &stmt, nullptr) != SQLITE_OK)
        fail(sql);
    return Statement(*this, stmt);
}

Statement& Statement::bind(int index, std::int64_t value)
{
    if (sqlite3_bind_int64(m_stmt.get(), index, value) != SQLITE_OK)
        m_db->fail("bind");
    return *this;
}

Statement& Statement::bind(int index, std::string_view value)
{
    if (sqlite3_bind_text64(m_stmt.get(), index, value.data(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
        SQLITE_OK)
        m_db->fail("bind");
    return *this;
}

Statement& Statement::bind(int index, const void* blob, std::size_t size)
{
    if (sqlite3_bind_blob64(m_stmt.get(), index, blob, size, SQLITE_TRANSIENT) != SQLITE_OK)
        m_db->fail("bind");
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(m_stmt.get());
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    m_db->fail("step");
}

std::string Statement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt.get(), column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt.get(), column)))
                : std::string{};
}

} // namespace tunalo::service
