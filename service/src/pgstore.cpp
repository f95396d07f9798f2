#include "pgstore.h"

#include <iterator>

namespace tunalo::service {

namespace {

// Each entry moves the schema one version up; the schema_version table holds how many are applied.
constexpr std::array migrations{
    R"(CREATE TABLE users (
           id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
           name text NOT NULL,
           name_key text NOT NULL UNIQUE,
           password_hash text NOT NULL,
           created_at bigint NOT NULL);
       CREATE TABLE sessions (
           token_hash bytea PRIMARY KEY,
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           expires_at bigint NOT NULL);
       CREATE INDEX sessions_by_expiry ON sessions(expires_at);
       -- A sequence never hands out an id twice, so an id once deleted never names a newer post.
       CREATE TABLE posts (
           id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           song text NOT NULL,
           posted_at bigint NOT NULL);
       CREATE INDEX posts_by_user ON posts(user_id, id);
       CREATE TABLE signups (
           address text NOT NULL,
           at bigint NOT NULL);
       CREATE INDEX signups_by_address ON signups(address, at);
       CREATE INDEX signups_by_time ON signups(at);
       CREATE TABLE login_failures (
           name_key text PRIMARY KEY,
           failures integer NOT NULL,
           last_at bigint NOT NULL);
       CREATE INDEX login_failures_by_time ON login_failures(last_at);)",
    // A post's key stays when the post goes: the key's repeat must find the post it made.
    R"(CREATE TABLE post_keys (
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           key text NOT NULL,
           post_id bigint,
           made_at bigint NOT NULL,
           PRIMARY KEY (user_id, key));)",
};
static_assert(std::size(migrations) == PostgresStore::schemaVersion);

// Any number from the service's own range: instances starting together take turns to migrate.
constexpr std::int64_t migrationLock = 8631;
// The first half of the two-part advisory locks on one address's sign-ups.
constexpr std::int64_t signUpLock = 8632;

pg::Bytes bytes(const TokenHash& token)
{
    return {token.data(), token.size()};
}

std::vector<Post> postsFrom(const pg::Result& rows)
{
    std::vector<Post> posts;
    posts.reserve(static_cast<std::size_t>(rows.rows()));
    for (int row = 0; row < rows.rows(); ++row)
        posts.push_back({rows.integer(row, 0), rows.text(row, 1), rows.text(row, 2), rows.integer(row, 3)});
    return posts;
}

} // namespace

// A post is confirmed only once its commit is on the server's disk, whatever the server's own
// default; the server gives up on a statement when the client does; a connection that connects
// again loses its settings, so each (re)connection gets them.
std::unique_ptr<pg::Connection> ConnectionPool::ready(std::unique_ptr<pg::Connection> conn) const
{
    conn->script("SET synchronous_commit TO on");
    conn->limitStatements(m_deadlines.statement);
    return conn;
}

ConnectionPool::ConnectionPool(std::string address, std::size_t size, pg::Deadlines deadlines)
    : m_address(std::move(address)), m_size(size), m_deadlines(deadlines)
{
    // The first connection at once, so a wrong address is reported at start.
    m_idle.push_back(ready(std::make_unique<pg::Connection>(m_address, m_deadlines)));
    m_opened = 1;
}

ConnectionPool::Lease ConnectionPool::acquire()
{
    std::unique_lock lock(m_mutex);
    m_returned.wait(lock, [this] { return !m_idle.empty() || m_opened < m_size; });
    std::unique_ptr<pg::Connection> conn;
    if (m_idle.empty()) {
        ++m_opened;
    } else {
        conn = std::move(m_idle.back());
        m_idle.pop_back();
    }
    lock.unlock();
    try {
        if (!conn)
            conn = ready(std::make_unique<pg::Connection>(m_address, m_deadlines));
        else if (!conn->healthy()) {
            conn->reconnect();
            conn = ready(std::move(conn));
        }
    } catch (...) {
        giveBack(nullptr); // its place is free for a connection made afresh
        throw;
    }
    return Lease(*this, std::move(conn));
}

void ConnectionPool::giveBack(std::unique_ptr<pg::Connection> conn)
{
    {
        std::lock_guard lock(m_mutex);
        if (conn)
            m_idle.push_back(std::move(conn));
        else
            --m_opened;
    }
    m_returned.notify_one();
}

PostgresStore::PostgresStore(const std::string& address, std::size_t connections)
    : m_pool(address, connections, {connectTime, statementTime, &m_abandon})
{
    migrate();
}

void PostgresStore::migrate()
{
    auto conn = m_pool.acquire();
    // Instances starting together wait for each other's migration, which may take its time.
    conn->limitStatements(std::chrono::minutes(1));
    Transaction transaction(*conn);
    conn->query("SELECT pg_advisory_xact_lock($1)", {migrationLock});
    conn->script("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)");
    const auto version = conn->query("SELECT coalesce(max(version), 0) FROM schema_version").integer(0, 0);
    if (version > schemaVersion)
        refuseNewerSchema(version, schemaVersion);
    for (auto step = version; step < schemaVersion; ++step)
        conn->script(migrations[static_cast<std::size_t>(step)]);
    conn->script("DELETE FROM schema_version");
    conn->query("INSERT INTO schema_version (version) VALUES ($1)", {std::int64_t{schemaVersion}});
    transaction.commit();
    conn->limitStatements(statementTime);
}

std::optional<User> PostgresStore::createUser(const std::string& name, const std::string& nameKey,
                                              const std::string& passwordHash, std::int64_t now)
{
    const auto rows = m_pool.acquire()->query(
        "INSERT INTO users (name, name_key, password_hash, created_at) VALUES ($1, $2, $3, $4) "
        "ON CONFLICT DO NOTHING RETURNING id",
        {name, nameKey, passwordHash, now});
    if (rows.rows() == 0)
        return std::nullopt;
    return User{rows.integer(0, 0), name};
}

std::optional<Account> PostgresStore::findAccount(const std::string& nameKey)
{
    const auto rows =
        m_pool.acquire()->query("SELECT id, name, password_hash FROM users WHERE name_key = $1", {nameKey});
    if (rows.rows() == 0)
        return std::nullopt;
    return Account{{rows.integer(0, 0), rows.text(0, 1)}, rows.text(0, 2)};
}

bool PostgresStore::takeSignUpSlot(const std::string& address, std::int64_t now, std::int64_t since,
                                   int limit)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    // Instances counting the same address take turns, so two cannot both take the last slot.
    conn->query("SELECT pg_advisory_xact_lock($1, hashtext($2))", {signUpLock, address});
    conn->query("DELETE FROM signups WHERE at < $1", {since});
    if (conn->query("SELECT count(*) FROM signups WHERE address = $1", {address}).integer(0, 0) >= limit)
        return false;
    conn->query("INSERT INTO signups (address, at) VALUES ($1, $2)", {address, now});
    transaction.commit();
    return true;
}

int PostgresStore::loginFailures(const std::string& nameKey, std::int64_t since)
{
    const auto rows = m_pool.acquire()->query(
        "SELECT failures FROM login_failures WHERE name_key = $1 AND last_at >= $2", {nameKey, since});
    return rows.rows() ? static_cast<int>(rows.integer(0, 0)) : 0;
}

int PostgresStore::recordLoginFailure(const std::string& nameKey, std::int64_t now, std::int64_t since)
{
    // A run that went quiet before `since` starts again from one, as if it had been swept away.
    return static_cast<int>(
        m_pool.acquire()
            ->query(
                "WITH stale AS (DELETE FROM login_failures WHERE last_at < $3 AND name_key <> $1) "
                "INSERT INTO login_failures AS f (name_key, failures, last_at) VALUES ($1, 1, $2) "
                "ON CONFLICT (name_key) DO UPDATE SET failures = "
                "CASE WHEN f.last_at < $3 THEN 1 ELSE f.failures + 1 END, last_at = $2 RETURNING failures",
                {nameKey, now, since})
            .integer(0, 0));
}

void PostgresStore::clearLoginFailures(const std::string& nameKey)
{
    m_pool.acquire()->query("DELETE FROM login_failures WHERE name_key = $1", {nameKey});
}

void PostgresStore::addSession(const TokenHash& token, std::int64_t userId, std::int64_t now,
                               std::int64_t expiresAt)
{
    // Expired sessions go whenever a new one comes, so the table stays small without a sweeper.
    m_pool.acquire()->query("WITH expired AS (DELETE FROM sessions WHERE expires_at <= $4) "
                            "INSERT INTO sessions (token_hash, user_id, expires_at) VALUES ($1, $2, $3)",
                            {bytes(token), userId, expiresAt, now});
}

std::optional<User> PostgresStore::sessionUser(const TokenHash& token, std::int64_t now)
{
    const auto rows = m_pool.acquire()->query(
        "SELECT users.id, users.name FROM sessions JOIN users ON users.id = sessions.user_id "
        "WHERE sessions.token_hash = $1 AND sessions.expires_at > $2",
        {bytes(token), now});
    if (rows.rows() == 0)
        return std::nullopt;
    return User{rows.integer(0, 0), rows.text(0, 1)};
}

void PostgresStore::removeSession(const TokenHash& token)
{
    m_pool.acquire()->query("DELETE FROM sessions WHERE token_hash = $1", {bytes(token)});
}

std::int64_t PostgresStore::addPost(std::int64_t userId, const std::string& song,
                                    std::optional<std::int64_t> deleteId, std::int64_t now,
                                    const std::optional<std::string>& key, bool /*federate*/)
{
    const pg::Param doomed = deleteId ? pg::Param{*deleteId} : pg::Param{nullptr};
    // One statement is one transaction: the deletion and the new post land together or not at all.
    const char* const post = "WITH doomed AS (DELETE FROM posts WHERE id = $4 AND user_id = $1) "
                             "INSERT INTO posts (user_id, song, posted_at) VALUES ($1, $2, $3) RETURNING id";
    auto conn = m_pool.acquire();
    if (!key)
        return conn->query(post, {userId, song, now, doomed}).integer(0, 0);
    Transaction transaction(*conn);
    // Claiming the key waits for another instance's claim of it to end, so of two requests with one
    // key one makes the post and the other finds it.
    const pg::Result claimed = conn->query("INSERT INTO post_keys (user_id, key, made_at) VALUES ($1, $2, $3) "
                                           "ON CONFLICT DO NOTHING RETURNING user_id",
                                           {userId, *key, now});
    if (claimed.rows() == 0) {
        const std::int64_t made = conn->query("SELECT post_id FROM post_keys WHERE user_id = $1 AND key = $2",
                                              {userId, *key})
                                      .integer(0, 0);
        transaction.commit();
        return made;
    }
    const std::int64_t id = conn->query(post, {userId, song, now, doomed}).integer(0, 0);
    conn->query("UPDATE post_keys SET post_id = $3 WHERE user_id = $1 AND key = $2", {userId, *key, id});
    transaction.commit();
    return id;
}

std::vector<Post> PostgresStore::recentPosts(int limit, std::optional<std::int64_t> userId)
{
    auto conn = m_pool.acquire();
    if (userId)
        return postsFrom(conn->query("SELECT posts.id, users.name, posts.song, posts.posted_at FROM posts "
                                     "JOIN users ON users.id = posts.user_id WHERE posts.user_id = $2 "
                                     "ORDER BY posts.id DESC LIMIT $1",
                                     {std::int64_t{limit}, *userId}));
    return postsFrom(conn->query("SELECT posts.id, users.name, posts.song, posts.posted_at FROM posts "
                                 "JOIN users ON users.id = posts.user_id ORDER BY posts.id DESC LIMIT $1",
                                 {std::int64_t{limit}}));
}

void PostgresStore::ping()
{
    m_pool.acquire()->script("SELECT 1");
}

} // namespace tunalo::service
