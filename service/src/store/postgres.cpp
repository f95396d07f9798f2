#include "store/postgres.h"

#include <poll.h>

#include <cerrno>
#include <charconv>
#include <optional>

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

using Clock = std::chrono::steady_clock;

// How often a wait looks whether it is abandoned.
constexpr std::chrono::milliseconds waitSlice{50};

} // namespace

Connection::Connection(std::string address, Deadlines deadlines)
    : m_address(std::move(address)), m_deadlines(deadlines)
{
    connect();
}

// Asynchronously, so that a server that accepts but never answers costs the connect deadline and no more.
void Connection::connect()
{
    const char* keywords[] = {"dbname", nullptr};
    const char* values[] = {m_address.c_str(), nullptr};
    m_conn.reset(PQconnectStartParams(keywords, values, 1));
    if (!m_conn)
        throw DatabaseUnavailable("cannot connect to the database: out of memory");
    const auto deadline = Clock::now() + m_deadlines.connect;
    for (auto status = PGRES_POLLING_WRITING; status != PGRES_POLLING_OK; status = PQconnectPoll(m_conn.get())) {
        if (status == PGRES_POLLING_FAILED || PQstatus(m_conn.get()) == CONNECTION_BAD)
            unavailable("cannot connect to the database", PQerrorMessage(m_conn.get()));
        await(status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, "cannot connect to the database");
    }
    PQsetnonblocking(m_conn.get(), 1);
    // Notices (such as "relation already exists, skipping") are not for the service's log.
    PQsetNoticeProcessor(
        m_conn.get(), [](void*, const char*) {}, nullptr);
}

void Connection::reconnect()
{
    m_conn.reset();
    connect();
}

void Connection::limitStatements(std::chrono::milliseconds limit)
{
    m_deadlines.statement = limit;
    script(("SET statement_timeout = " + std::to_string(limit.count())).c_str());
}

void Connection::fail(std::string_view what, const PGresult* result) const
{
    std::string message = result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn.get());
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    // A statement the server cancelled at its statement_timeout: the database is late.
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (!healthy() || (state && std::string_view(state) == "57014"))
        throw DatabaseUnavailable(std::string(what) + ": " + message);
    throw DatabaseError(std::string(what) + ": " + message);
}

void Connection::unavailable(std::string_view what, std::string_view why)
{
    std::string message(why);
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    m_conn.reset(); // whatever the server sends later is for no one
    throw DatabaseUnavailable(std::string(what) + ": " + message);
}

void Connection::await(short events, Clock::time_point deadline, std::string_view what)
{
    for (;;) {
        if (m_deadlines.abandon && *m_deadlines.abandon)
            unavailable(what, "the service is stopping");
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            unavailable(what, "no answer within " + std::to_string(m_deadlines.statement.count()) + " ms");
        pollfd entry{PQsocket(m_conn.get()), events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min(left, waitSlice).count()));
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return;
    }
}

Result Connection::collect(std::string_view what)
{
    const auto deadline = Clock::now() + m_deadlines.statement;
    for (int flushed = PQflush(m_conn.get()); flushed != 0; flushed = PQflush(m_conn.get())) {
        if (flushed < 0)
            unavailable(what, PQerrorMessage(m_conn.get()));
        await(POLLOUT, deadline, what);
    }
    std::optional<Result> answer;
    for (;;) {
        while (PQisBusy(m_conn.get())) {
            await(POLLIN, deadline, what);
            if (!PQconsumeInput(m_conn.get()))
                unavailable(what, PQerrorMessage(m_conn.get()));
        }
        PGresult* next = PQgetResult(m_conn.get());
        if (!next)
            break;
        const auto status = PQresultStatus(next);
        const bool failed = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        if (!answer || failed || PQresultStatus(answer->raw()) == PGRES_COMMAND_OK ||
            PQresultStatus(answer->raw()) == PGRES_TUPLES_OK)
            answer.emplace(next);
        else
            PQclear(next); // an error came first; it is the answer
    }
    if (!answer)
        unavailable(what, "no answer");
    return std::move(*answer);
}

Result Connection::check(Result result, std::string_view what)
{
    const auto status = PQresultStatus(result.raw());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        fail(what, result.raw());
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
    if (!healthy())
        unavailable(sql, "the connection is broken");
    if (!PQsendQueryParams(m_conn.get(), sql, static_cast<int>(params.size()), nullptr, values.data(),
                           lengths.data(), formats.data(), 0))
        unavailable(sql, PQerrorMessage(m_conn.get()));
    return check(collect(sql), sql);
}

void Connection::script(const char* sql)
{
    if (!healthy())
        unavailable(sql, "the connection is broken");
    if (!PQsendQuery(m_conn.get(), sql))
        unavailable(sql, PQerrorMessage(m_conn.get()));
    check(collect(sql), sql);
}

void Connection::rollback() noexcept
{
    if (!healthy())
        return; // a connection that broke took its transaction with it
    try {
        script("ROLLBACK");
    } catch (const DatabaseError&) {
        m_conn.reset(); // a connection in an unknown state is not handed out again
    }
}

} // namespace tunalo::service::pg
