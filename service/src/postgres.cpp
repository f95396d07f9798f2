#include "postgres.h"

#include <charconv>

namespace tunalo::service::pg {

std::string Result::text(int row, int column) const
{
    return {PQgetvalue(m_result.get(), row, column),
            static_cast<std::size_t>(PQgetlength(m_result.get(), row, column))};
}

std::int64_t Result::integer(int row, int column) const
{
    const char* value = PQgetvalue(m_result.get(), row, column);
    const char* end = value + PQgetlength(m_result.get(), row, column);
    std::int64_t number = 0;
    if (std::from_chars(value, end, number).ptr != end)
        throw DatabaseError("not a number in a query's answer: " + std::string(value, end));
    return number;
}

namespace {

// A server that does not answer costs a request at most this long to find out, unless the address
// sets its own connect_timeout (values in the address come after, and win).
PGconn* connect(const std::string& address)
{
    const char* keywords[] = {"connect_timeout", "dbname", nullptr};
    const char* values[] = {"5", address.c_str(), nullptr};
    return PQconnectdbParams(keywords, values, 1);
}

} // namespace

Connection::Connection(const std::string& address) : m_conn(connect(address))
{
    if (!m_conn)
        throw DatabaseError("cannot connect to the database: out of memory");
    if (!healthy())
        fail("cannot connect to the database", nullptr);
    // Notices (such as "relation already exists, skipping") are not for the service's log.
    PQsetNoticeProcessor(
        m_conn.get(), [](void*, const char*) {}, nullptr);
}

void Connection::fail(std::string_view what, const PGresult* result) const
{
    std::string message = result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn.get());
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    throw DatabaseError(std::string(what) + ": " + message);
}

Result Connection::check(PGresult* raw, std::string_view what)
{
    Result result(raw);
    const auto status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(what, raw);
    return result;
}

Result Connection::query(const char* sql, const std::vector<Param>& params)
{
    std::vector<std::string> numbers(params.size());
    std::vector<const char*> values(params.size());
    std::vector<int> lengths(params.size());
    std::vector<int> formats(params.size());
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (const auto* number = std::get_if<std::int64_t>(&params[i])) {
            numbers[i] = std::to_string(*number);
            values[i] = numbers[i].c_str();
        } else if (const auto* text = std::get_if<std::string_view>(&params[i])) {
            // Binary form: the text need not end in a NUL, and its length is exact.
            values[i] = text->data();
            lengths[i] = static_cast<int>(text->size());
            formats[i] = 1;
        } else if (const auto* bytes = std::get_if<Bytes>(&params[i])) {
            values[i] = static_cast<const char*>(bytes->data);
            lengths[i] = static_cast<int>(bytes->size);
            formats[i] = 1;
        }
    }
    return check(PQexecParams(m_conn.get(), sql, static_cast<int>(params.size()), nullptr, values.data(),
                              lengths.data(), formats.data(), 0),
                 sql);
}

void Connection::script(const char* sql)
{
    check(PQexec(m_conn.get(), sql), sql);
}

void Connection::rollback() noexcept
{
    const Result result(PQexec(m_conn.get(), "ROLLBACK"));
}

} // namespace tunalo::service::pg
