#pragma once

#include "database.h"

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tunalo::service::pg {

// A query's answer; the rows' values in text form.
class Result {
public:
    explicit Result(PGresult* result) : m_result(result) {}

    int rows() const { return PQntuples(m_result.get()); }
    std::string text(int row, int column) const;
    std::int64_t integer(int row, int column) const;
    const PGresult* raw() const { return m_result.get(); }

private:
    struct Clearer {
        void operator()(PGresult* result) const { PQclear(result); }
    };
    std::unique_ptr<PGresult, Clearer> m_result;
};

// One value sent beside a query: NULL, a number, text, or bytes (sent in binary form).
struct Bytes {
    const void* data;
    std::size_t size;
};
using Param = std::variant<std::nullptr_t, std::int64_t, std::string_view, Bytes>;

// One connection to a PostgreSQL server. Values only ever travel as parameters, never inside
// the query text. Not shared between threads.
class Connection {
public:
    // A libpq connection address, postgresql://USER@HOST:PORT/DB.
    explicit Connection(const std::string& address);

    Result query(const char* sql, const std::vector<Param>& params = {});
    // Runs statements fixed in the program (several, separated by ';'); takes no values.
    void script(const char* sql);
    // For Transaction.
    void begin() { script("BEGIN"); }
    void commit() { script("COMMIT"); }
    void rollback() noexcept;
    bool healthy() const { return PQstatus(m_conn.get()) == CONNECTION_OK; }
    // Connects again after the server went away.
    void reconnect() { PQreset(m_conn.get()); }

private:
    [[noreturn]] void fail(std::string_view what, const PGresult* result) const;
    Result check(PGresult* raw, std::string_view what);

    struct Finisher {
        void operator()(PGconn* conn) const { PQfinish(conn); }
    };
    std::unique_ptr<PGconn, Finisher> m_conn;
};

} // namespace tunalo::service::pg
