#pragma once

#include "store/database.h"

#include <libpq-fe.h>

#include <atomic>
#include <chrono>
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

// How long a connection may take to connect and to answer one statement; `abandon`, when given and
// set, ends every wait at once (a service that stops waits for no database).
struct Deadlines {
    std::chrono::milliseconds connect{30000};
    std::chrono::milliseconds statement{30000};
    const std::atomic<bool>* abandon = nullptr;
};

// One connection to a PostgreSQL server. Values only ever travel as parameters, never inside
// the query text. Every wait on the server has a deadline: a server that does not answer in time
// (stopped, or overloaded) throws DatabaseUnavailable and leaves the connection broken, to be
// connected afresh. Not shared between threads.
class Connection {
public:
    // A libpq connection address, postgresql://USER@HOST:PORT/DB.
    explicit Connection(std::string address, Deadlines deadlines = {});

    Result query(const char* sql, const std::vector<Param>& params = {});
    // Runs statements fixed in the program (several, separated by ';'); takes no values.
    void script(const char* sql);
    // For Transaction.
    void begin() { script("BEGIN"); }
    void commit() { script("COMMIT"); }
    void rollback() noexcept;
    bool healthy() const { return m_conn && PQstatus(m_conn.get()) == CONNECTION_OK; }
    // Connects again after the server went away or did not answer in time.
    void reconnect();
    // The client's deadline for a statement, and the server's statement_timeout beside it.
    void limitStatements(std::chrono::milliseconds limit);

private:
    void connect();
    [[noreturn]] void fail(std::string_view what, const PGresult* result) const;
    [[noreturn]] void unavailable(std::string_view what, std::string_view why);
    Result check(Result result, std::string_view what);
    // Waits until the socket is ready for `events`, the deadline passes (unavailable) or the waits
    // are abandoned.
    void await(short events, std::chrono::steady_clock::time_point deadline, std::string_view what);
    // The answer to what was sent: the first error among its results, or the last result.
    Result collect(std::string_view what);

    struct Finisher {
        void operator()(PGconn* conn) const { PQfinish(conn); }
    };
    std::string m_address;
    Deadlines m_deadlines;
    std::unique_ptr<PGconn, Finisher> m_conn;
};

} // namespace tunalo::service::pg
