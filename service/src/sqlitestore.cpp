#include "sqlitestore.h"

#include <iterator>

namespace tunalo::service {

namespace {

// Each entry moves the schema one version up; user_version counts the entries applied.
constexpr std::array migrations{
    R"(CREATE TABLE users (
           id INTEGER PRIMARY KEY,
           name TEXT NOT NULL UNIQUE COLLATE NOCASE,
           password_hash TEXT NOT NULL,
           created_at INTEGER NOT NULL);
       CREATE TABLE sessions (
           token_hash BLOB PRIMARY KEY,
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           expires_at INTEGER NOT NULL) WITHOUT ROWID;
       CREATE INDEX sessions_by_expiry ON sessions(expires_at);
       -- AUTOINCREMENT so that an id, once deleted, never names a newer post.
       CREATE TABLE posts (
           id INTEGER PRIMARY KEY AUTOINCREMENT,
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           song TEXT NOT NULL,
           posted_at INTEGER NOT NULL);
       CREATE INDEX posts_by_user ON posts(user_id, id);)",
};
static_assert(std::size(migrations) == SqliteStore::schemaVersion);

} // namespace

SqliteStore::SqliteStore(const std::string& path) : m_db(path)
{
    m_db.exec("PRAGMA journal_mode=WAL");
    // FULL: a post the service has confirmed survives a power cut as well as a killed process.
    m_db.exec("PRAGMA synchronous=FULL");
    m_db.exec("PRAGMA foreign_keys=ON");
    migrate();
}

void SqliteStore::migrate()
{
    Transaction transaction(m_db);
    auto query = m_db.prepare("PRAGMA user_version");
    query.step();
    const auto version = query.integer(0);
    if (version > schemaVersion)
        refuseNewerSchema(version, schemaVersion);
    for (auto step = version; step < schemaVersion; ++step)
        m_db.exec(migrations[static_cast<std::size_t>(step)]);
    m_db.exec(("PRAGMA user_version=" + std::to_string(schemaVersion)).c_str());
    transaction.commit();
}

std::optional<User> SqliteStore::createUser(const std::string& name, const std::string& passwordHash,
                                            std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    auto insert = m_db.prepare(
        "INSERT INTO users (name, password_hash, created_at) VALUES (?, ?, ?) ON CONFLICT DO NOTHING");
    insert.bind(1, name).bind(2, passwordHash).bind(3, now).run();
    if (m_db.changes() == 0)
        return std::nullopt;
    User user{m_db.lastInsertId(), name};
    transaction.commit();
    return user;
}

std::optional<Account> SqliteStore::findAccount(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT id, name, password_hash FROM users WHERE name = ?");
    query.bind(1, name);
    if (!query.step())
        return std::nullopt;
    return Account{{query.integer(0), query.text(1)}, query.text(2)};
}

void SqliteStore::addSession(const TokenHash& token, std::int64_t userId, std::int64_t now,
                             std::int64_t expiresAt)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    // Expired sessions go whenever a new one comes, so the table stays small without a sweeper.
    m_db.prepare("DELETE FROM sessions WHERE expires_at <= ?").bind(1, now).run();
    m_db.prepare("INSERT INTO sessions (token_hash, user_id, expires_at) VALUES (?, ?, ?)")
        .bind(1, token.data(), token.size())
        .bind(2, userId)
        .bind(3, expiresAt)
        .run();
    transaction.commit();
}

std::optional<User> SqliteStore::sessionUser(const TokenHash& token, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    auto query =
        m_db.prepare("SELECT users.id, users.name FROM sessions JOIN users ON users.id = sessions.user_id "
                     "WHERE sessions.token_hash = ? AND sessions.expires_at > ?");
    query.bind(1, token.data(), token.size()).bind(2, now);
    if (!query.step())
        return std::nullopt;
    return User{query.integer(0), query.text(1)};
}

void SqliteStore::removeSession(const TokenHash& token)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    m_db.prepare("DELETE FROM sessions WHERE token_hash = ?").bind(1, token.data(), token.size()).run();
    transaction.commit();
}

std::int64_t SqliteStore::addPost(std::int64_t userId, const std::string& song,
                                  std::optional<std::int64_t> deleteId, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    if (deleteId)
        m_db.prepare("DELETE FROM posts WHERE id = ? AND user_id = ?")
            .bind(1, *deleteId)
            .bind(2, userId)
            .run();
    m_db.prepare("INSERT INTO posts (user_id, song, posted_at) VALUES (?, ?, ?)")
        .bind(1, userId)
        .bind(2, song)
        .bind(3, now)
        .run();
    const auto id = m_db.lastInsertId();
    transaction.commit();
    return id;
}

std::vector<Post> SqliteStore::recentPosts(int limit, std::optional<std::int64_t> userId)
{
    std::lock_guard lock(m_mutex);
    auto query = userId
                     ? m_db.prepare("SELECT posts.id, users.name, posts.song, posts.posted_at FROM posts "
                                    "JOIN users ON users.id = posts.user_id "
                                    "WHERE posts.user_id = ?2 ORDER BY posts.id DESC LIMIT ?1")
                     : m_db.prepare("SELECT posts.id, users.name, posts.song, posts.posted_at FROM posts "
                                    "JOIN users ON users.id = posts.user_id ORDER BY posts.id DESC LIMIT ?1");
    query.bind(1, static_cast<std::int64_t>(limit));
    if (userId)
        query.bind(2, *userId);
    std::vector<Post> posts;
    while (query.step())
        posts.push_back({query.integer(0), query.text(1), query.text(2), query.integer(3)});
    return posts;
}

} // namespace tunalo::service
