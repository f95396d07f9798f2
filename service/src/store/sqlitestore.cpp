#include "store/sqlitestore.h"

#include "base/listenrule.h"
#include "base/text.h"
#include "store/storerows.h"

#include <iterator>

namespace tunalo::service {

namespace {

// Each entry moves the schema one version up; user_version counts the entries applied.
using Migration = void (*)(Database&);

void createFirstSchema(Database& db)
{
    db.exec(R"(CREATE TABLE users (
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
       CREATE INDEX posts_by_user ON posts(user_id, id);)");
}

// The statement reading the old table must be finished before that table can be dropped.
void copyUsersWithKeys(Database& db)
{
    auto users = db.prepare("SELECT id, name, password_hash, created_at FROM users ORDER BY id");
    while (users.step()) {
        const auto id = users.integer(0);
        const auto name = users.text(1);
        const auto key = nameKey(name);
        auto insert = db.prepare("INSERT INTO users_keyed (id, name, name_key, password_hash, created_at) "
                                 "VALUES (?1, ?2, ?3 || CASE WHEN EXISTS (SELECT 1 FROM users_keyed WHERE "
                                 "name_key = ?3) THEN '#' || ?1 ELSE '' END, ?4, ?5)");
        insert.bind(1, id).bind(2, name).bind(3, key.empty() ? name : key).bind(4, users.text(2));
        insert.bind(5, users.integer(3)).run();
    }
}

// Names are compared by a key (NFKC with case folding) instead of ASCII-only NOCASE, and the
// limits on sign-ups and wrong passwords live here so that every instance sees the same counts.
// Two old names that now fold alike ("Élodie", "élodie") both stay: the newer one's key gets
// its id appended, a form no valid name folds to, so no one can sign up over it.
void addNameKeysAndCounters(Database& db)
{
    db.exec(R"(CREATE TABLE users_keyed (
           id INTEGER PRIMARY KEY,
           name TEXT NOT NULL,
           name_key TEXT NOT NULL UNIQUE,
           password_hash TEXT NOT NULL,
           created_at INTEGER NOT NULL);
       CREATE TABLE signups (
           address TEXT NOT NULL,
           at INTEGER NOT NULL);
       CREATE INDEX signups_by_address ON signups(address, at);
       CREATE INDEX signups_by_time ON signups(at);
       CREATE TABLE login_failures (
           name_key TEXT PRIMARY KEY,
           failures INTEGER NOT NULL,
           last_at INTEGER NOT NULL) WITHOUT ROWID;
       CREATE INDEX login_failures_by_time ON login_failures(last_at);)");
    copyUsersWithKeys(db);
    db.exec("DROP TABLE users; ALTER TABLE users_keyed RENAME TO users;");
}

// A post's key stays when the post goes: the key's repeat must find the post it made, not make it anew.
void addPostKeys(Database& db)
{
    db.exec(R"(CREATE TABLE post_keys (
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           key TEXT NOT NULL,
           post_id INTEGER NOT NULL,
           made_at INTEGER NOT NULL,
           PRIMARY KEY (user_id, key)) WITHOUT ROWID;)");
}

// What federation keeps: each person's key pair and where their songs go, who follows them, the
// posts deleted (their ids answer that they are gone) and the deliveries still to make.
void addFederation(Database& db)
{
    db.exec(R"(ALTER TABLE users ADD COLUMN public_key TEXT;
       ALTER TABLE users ADD COLUMN private_key TEXT;
       ALTER TABLE users ADD COLUMN audience TEXT NOT NULL DEFAULT 'followers';
       ALTER TABLE users ADD COLUMN listen_url TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN listen_token TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN listen_error TEXT NOT NULL DEFAULT '';
       CREATE TABLE deleted_posts (
           post_id INTEGER PRIMARY KEY,
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           deleted_at INTEGER NOT NULL);
       CREATE TABLE followers (
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           actor TEXT NOT NULL,
           inbox TEXT NOT NULL,
           shared_inbox TEXT NOT NULL,
           followed_at INTEGER NOT NULL,
           PRIMARY KEY (user_id, actor)) WITHOUT ROWID;
       CREATE INDEX followers_by_actor ON followers(actor);
       CREATE TABLE jobs (
           id INTEGER PRIMARY KEY,
           kind TEXT NOT NULL,
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           post_id INTEGER NOT NULL,
           song TEXT NOT NULL,
           posted_at INTEGER NOT NULL,
           audience TEXT NOT NULL,
           target TEXT NOT NULL,
           attempts INTEGER NOT NULL DEFAULT 0,
           due_at INTEGER NOT NULL,
           leased_until INTEGER);
       CREATE INDEX jobs_by_due ON jobs(due_at);)");
}

// A post's song and length stay with its key, so that a word of how long it was heard, coming with
// the next post, can make a listen of it once, even when that post deletes it.
void addListens(Database& db)
{
    db.exec(R"(ALTER TABLE post_keys ADD COLUMN song TEXT NOT NULL DEFAULT '';
       ALTER TABLE post_keys ADD COLUMN length_ms INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE post_keys ADD COLUMN player TEXT NOT NULL DEFAULT '';
       ALTER TABLE post_keys ADD COLUMN listened INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE jobs ADD COLUMN length_ms INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE jobs ADD COLUMN media_player TEXT NOT NULL DEFAULT '';)");
}

// Each post keeps the audience it was made for, follows wait for the person's approval, and the
// person's profile shows on the fediverse. Accounts from before had their page and feed open to
// everyone whatever they chose, so they keep that: their choice, and their posts, become public,
// but for those who chose nobody. Their followers were all accepted.
void addAudiencesAndRequests(Database& db)
{
    db.exec(R"(ALTER TABLE posts ADD COLUMN audience TEXT NOT NULL DEFAULT 'followers';
       UPDATE users SET audience = 'public' WHERE audience = 'followers';
       UPDATE posts SET audience = (SELECT audience FROM users WHERE users.id = posts.user_id);
       CREATE INDEX posts_public ON posts(id) WHERE audience = 'public';
       CREATE INDEX posts_public_by_user ON posts(user_id, id) WHERE audience = 'public';
       ALTER TABLE followers ADD COLUMN approved INTEGER NOT NULL DEFAULT 1;
       ALTER TABLE followers ADD COLUMN follow TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN display_name TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN summary TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN discoverable INTEGER NOT NULL DEFAULT 0;
       ALTER TABLE users ADD COLUMN indexable INTEGER NOT NULL DEFAULT 0;)");
}

// Songs as statuses on the person's own Mastodon account: the service's registration on each
// server, the sign-ins under way, the person's account and its token, and the status each post
// became, which the post's deletion deletes.
void addMastodon(Database& db)
{
    db.exec(R"(ALTER TABLE users ADD COLUMN mastodon_server TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN mastodon_handle TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN mastodon_token TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN mastodon_error TEXT NOT NULL DEFAULT '';
       ALTER TABLE users ADD COLUMN mastodon_words TEXT NOT NULL DEFAULT 'listening to SONG';
       ALTER TABLE users ADD COLUMN mastodon_visibility TEXT NOT NULL DEFAULT 'unlisted';
       ALTER TABLE jobs ADD COLUMN visibility TEXT NOT NULL DEFAULT '';
       CREATE TABLE mastodon_apps (
           server TEXT NOT NULL,
           redirect_uri TEXT NOT NULL,
           client_id TEXT NOT NULL,
           client_secret TEXT NOT NULL,
           scopes TEXT NOT NULL,
           PRIMARY KEY (server, redirect_uri)) WITHOUT ROWID;
       CREATE TABLE mastodon_signins (
           state TEXT PRIMARY KEY,
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           server TEXT NOT NULL,
           verifier TEXT NOT NULL,
           started_at INTEGER NOT NULL) WITHOUT ROWID;
       CREATE TABLE mastodon_statuses (
           post_id INTEGER PRIMARY KEY,
           user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           status_id TEXT NOT NULL);
       CREATE INDEX jobs_by_user ON jobs(user_id, kind);)");
}

constexpr std::array<Migration, 7> migrations{createFirstSchema, addNameKeysAndCounters, addPostKeys,
                                              addFederation,     addListens,             addAudiencesAndRequests,
                                              addMastodon};
static_assert(std::size(migrations) == SqliteStore::schemaVersion);

} // namespace

SqliteStore::SqliteStore(const std::string& path) : m_db(path)
{
    m_db.exec("PRAGMA journal_mode=WAL");
    // FULL: a post the service has confirmed survives a power cut as well as a killed process.
    m_db.exec("PRAGMA synchronous=FULL");
    // Off while the schema moves: rebuilding the users table must not cascade into sessions and posts.
    m_db.exec("PRAGMA foreign_keys=OFF");
    migrate();
    m_db.exec("PRAGMA foreign_keys=ON");
}

void SqliteStore::migrate()
{
    Transaction transaction(m_db);
    const auto version = [this] {
        auto query = m_db.prepare("PRAGMA user_version");
        query.step();
        return query.integer(0);
    }();
    if (version > schemaVersion)
        refuseNewerSchema(version, schemaVersion);
    for (auto step = version; step < schemaVersion; ++step)
        migrations[static_cast<std::size_t>(step)](m_db);
    m_db.exec(("PRAGMA user_version=" + std::to_string(schemaVersion)).c_str());
    transaction.commit();
}

std::optional<User> SqliteStore::createUser(const std::string& name, const std::string& nameKey,
                                            const std::string& passwordHash, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    auto insert =
        m_db.prepare("INSERT INTO users (name, name_key, password_hash, created_at) VALUES (?, ?, ?, ?) "
                     "ON CONFLICT DO NOTHING");
    insert.bind(1, name).bind(2, nameKey).bind(3, passwordHash).bind(4, now).run();
    if (m_db.changes() == 0)
        return std::nullopt;
    User user{m_db.lastInsertId(), name};
    transaction.commit();
    return user;
}

std::optional<Account> SqliteStore::findAccount(const std::string& nameKey)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT id, name, password_hash FROM users WHERE name_key = ?");
    query.bind(1, nameKey);
    if (!query.step())
        return std::nullopt;
    return Account{{query.integer(0), query.text(1)}, query.text(2)};
}

bool SqliteStore::takeSignUpSlot(const std::string& address, std::int64_t now, std::int64_t since, int limit)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    m_db.prepare("DELETE FROM signups WHERE at < ?").bind(1, since).run();
    auto count = m_db.prepare("SELECT count(*) FROM signups WHERE address = ?");
    count.bind(1, address).step();
    if (count.integer(0) >= limit)
        return false;
    m_db.prepare("INSERT INTO signups (address, at) VALUES (?, ?)").bind(1, address).bind(2, now).run();
    transaction.commit();
    return true;
}

int SqliteStore::loginFailures(const std::string& nameKey, std::int64_t since)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT failures FROM login_failures WHERE name_key = ? AND last_at >= ?");
    query.bind(1, nameKey).bind(2, since);
    return query.step() ? static_cast<int>(query.integer(0)) : 0;
}

int SqliteStore::recordLoginFailure(const std::string& nameKey, std::int64_t now, std::int64_t since)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    m_db.prepare("DELETE FROM login_failures WHERE last_at < ?").bind(1, since).run();
    auto upsert = m_db.prepare("INSERT INTO login_failures (name_key, failures, last_at) VALUES (?1, 1, ?2) "
                               "ON CONFLICT (name_key) DO UPDATE SET failures = failures + 1, last_at = ?2 "
                               "RETURNING failures");
    upsert.bind(1, nameKey).bind(2, now);
    const auto failures = upsert.step() ? static_cast<int>(upsert.integer(0)) : 1;
    while (upsert.step()) {
    }
    transaction.commit();
    return failures;
}

void SqliteStore::clearLoginFailures(const std::string& nameKey)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    m_db.prepare("DELETE FROM login_failures WHERE name_key = ?").bind(1, nameKey).run();
    transaction.commit();
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
                                  std::optional<std::int64_t> deleteId, std::int64_t now,
                                  const std::optional<std::string>& key, bool federate)
{
    std::lock_guard lock(m_mutex);
    // BEGIN IMMEDIATE holds the write lock from here, so no other instance can make the key's post
    // between the look and the insert.
    Transaction transaction(m_db);
    if (key) {
        auto made = m_db.prepare("SELECT post_id FROM post_keys WHERE user_id = ? AND key = ?");
        made.bind(1, userId).bind(2, *key);
        if (made.step()) {
            const std::int64_t id = made.integer(0);
            transaction.commit();
            return id;
        }
    }
    const bool removed = deleteId && removePost(userId, *deleteId, now);
    m_db.prepare("INSERT INTO posts (user_id, song, posted_at, audience) SELECT ?1, ?2, ?3, audience FROM users "
                 "WHERE id = ?1")
        .bind(1, userId)
        .bind(2, song)
        .bind(3, now)
        .run();
    if (m_db.changes() == 0)
        throw DatabaseError("no account " + std::to_string(userId) + " to post for");
    const auto id = m_db.lastInsertId();
    if (key)
        m_db.prepare("INSERT INTO post_keys (user_id, key, post_id, made_at) VALUES (?, ?, ?, ?)")
            .bind(1, userId)
            .bind(2, *key)
            .bind(3, id)
            .bind(4, now)
            .run();
    if (federate && removed) {
        // A note still waiting goes out all the same (followers see every song); its deletion waits
        // for it at each inbox (see claimJobs).
        queueInboxJobs("remove", userId, *deleteId, "", now);
    }
    if (federate)
        queueInboxJobs("create", userId, id, song, now);
    if (removed)
        queueUnstatus(userId, *deleteId, now);
    m_db.prepare("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at, visibility) "
                 "SELECT 'status', id, ?2, replace(mastodon_words, 'SONG', ?3), ?4, audience, mastodon_server, ?4, "
                 "CASE audience WHEN 'public' THEN mastodon_visibility ELSE 'private' END FROM users "
                 "WHERE id = ?1 AND mastodon_token <> '' AND mastodon_error = '' AND audience <> 'nobody'")
        .bind(1, userId)
        .bind(2, id)
        .bind(3, song)
        .bind(4, now)
        .run();
    m_db.prepare("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
                 "SELECT 'listen', id, ?2, ?3, ?4, audience, listen_url, ?4 FROM users "
                 "WHERE id = ?1 AND listen_url <> '' AND listen_token <> ''")
        .bind(1, userId)
        .bind(2, id)
        .bind(3, song)
        .bind(4, now)
        .run();
    transaction.commit();
    return id;
}

void SqliteStore::keepForListen(std::int64_t userId, const std::string& key, const std::string& song,
                                std::int64_t lengthMs, const std::string& player)
{
    write("UPDATE post_keys SET song = ?3, length_ms = ?4, player = ?5 WHERE user_id = ?1 AND key = ?2", userId,
          key, song, lengthMs, player);
}

bool SqliteStore::queueListen(std::int64_t userId, const std::string& key, std::int64_t heardMs, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    auto kept = m_db.prepare("SELECT length_ms FROM post_keys WHERE user_id = ? AND key = ? AND listened = 0");
    kept.bind(1, userId).bind(2, key);
    if (!kept.step() || !countsAsListen(kept.integer(0), heardMs))
        return false;
    m_db.prepare("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at, length_ms, "
                 "media_player) SELECT 'single', users.id, post_keys.post_id, post_keys.song, post_keys.made_at, "
                 "users.audience, users.listen_url, ?3, post_keys.length_ms, post_keys.player FROM post_keys "
                 "JOIN users ON users.id = post_keys.user_id "
                 "WHERE post_keys.user_id = ?1 AND post_keys.key = ?2 AND users.listen_url <> '' "
                 "AND users.listen_token <> ''")
        .bind(1, userId)
        .bind(2, key)
        .bind(3, now)
        .run();
    const bool queued = m_db.changes() > 0;
    m_db.prepare("UPDATE post_keys SET listened = 1 WHERE user_id = ? AND key = ?").bind(1, userId).bind(2, key).run();
    transaction.commit();
    return queued;
}

// The post goes if it is the user's; its id and owner stay, so its address answers that it is gone.
bool SqliteStore::removePost(std::int64_t userId, std::int64_t postId, std::int64_t now)
{
    m_db.prepare("DELETE FROM posts WHERE id = ? AND user_id = ?").bind(1, postId).bind(2, userId).run();
    if (m_db.changes() == 0)
        return false;
    m_db.prepare("INSERT INTO deleted_posts (post_id, user_id, deleted_at) VALUES (?, ?, ?)")
        .bind(1, postId)
        .bind(2, userId)
        .bind(3, now)
        .run();
    return true;
}

// A status never tried goes with its post, so a run of skipped songs spends none of the server's
// deletions; one made, or that may have been (tried, or under way), is deleted after it.
void SqliteStore::queueUnstatus(std::int64_t userId, std::int64_t postId, std::int64_t now)
{
    m_db.prepare("DELETE FROM jobs WHERE kind = 'status' AND post_id = ?1 AND attempts = 0 AND leased_until IS NULL")
        .bind(1, postId)
        .run();
    m_db.prepare("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
                 "SELECT 'unstatus', id, ?2, '', ?3, audience, mastodon_server, ?3 FROM users WHERE id = ?1 "
                 "AND (EXISTS (SELECT 1 FROM jobs WHERE kind = 'status' AND post_id = ?2) OR "
                 "EXISTS (SELECT 1 FROM mastodon_statuses WHERE post_id = ?2))")
        .bind(1, userId)
        .bind(2, postId)
        .bind(3, now)
        .run();
}

// One job per inbox the user's followers are reached at: followers on a server with a shared inbox
// share one. Creates go nowhere while the user's audience is nobody.
void SqliteStore::queueInboxJobs(const char* kind, std::int64_t userId, std::int64_t postId,
                                 const std::string& song, std::int64_t now)
{
    m_db.prepare("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
                 "SELECT ?5, users.id, ?2, ?3, ?4, users.audience, inboxes.target, ?4 FROM users, "
                 "(SELECT DISTINCT CASE WHEN shared_inbox <> '' THEN shared_inbox ELSE inbox END AS target "
                 "FROM followers WHERE user_id = ?1 AND approved = 1) AS inboxes "
                 "WHERE users.id = ?1 AND (?5 = 'remove' OR users.audience <> 'nobody')")
        .bind(1, userId)
        .bind(2, postId)
        .bind(3, song)
        .bind(4, now)
        .bind(5, kind)
        .run();
}

std::vector<Post> SqliteStore::recentPosts(int limit, std::optional<std::int64_t> userId, bool publicOnly)
{
    // The public posts have indexes of their own: most posts may be for followers, and a feed must
    // not read past all of them to find its fifty.
    static constexpr const char* queries[2][2] = {
        {"SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id ORDER BY posts.id DESC LIMIT ?1",
         "SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id WHERE posts.audience = 'public' ORDER BY posts.id DESC LIMIT ?1"},
        {"SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id WHERE posts.user_id = ?2 ORDER BY posts.id DESC LIMIT ?1",
         "SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id WHERE posts.user_id = ?2 AND posts.audience = 'public' "
         "ORDER BY posts.id DESC LIMIT ?1"}};
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare(queries[userId ? 1 : 0][publicOnly ? 1 : 0]);
    query.bind(1, static_cast<std::int64_t>(limit));
    if (userId)
        query.bind(2, *userId);
    std::vector<Post> posts;
    while (query.step())
        posts.push_back(postFromRow(query));
    return posts;
}

template <class... Values>
int SqliteStore::write(const char* sql, const Values&... values)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    auto statement = m_db.prepare(sql);
    int index = 0;
    (statement.bind(++index, values), ...);
    statement.run();
    const int changed = m_db.changes();
    transaction.commit();
    return changed;
}

std::optional<PostRecord> SqliteStore::findPost(std::int64_t postId)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT posts.id, users.name, posts.song, posts.posted_at, 0, posts.audience FROM posts "
                              "JOIN users ON users.id = posts.user_id WHERE posts.id = ?1 "
                              "UNION ALL SELECT deleted_posts.post_id, users.name, '', 0, 1, 'nobody' FROM deleted_posts "
                              "JOIN users ON users.id = deleted_posts.user_id WHERE deleted_posts.post_id = ?1");
    query.bind(1, postId);
    if (!query.step())
        return std::nullopt;
    return postRecordFromRow(query);
}

Counts SqliteStore::counts()
{
    std::lock_guard lock(m_mutex);
    auto query =
        m_db.prepare("SELECT (SELECT count(*) FROM users WHERE name_key <> ?), (SELECT count(*) FROM posts)");
    query.bind(1, std::string(instanceNameKey));
    query.step();
    return {query.integer(0), query.integer(1)};
}

std::optional<KeyPair> SqliteStore::keys(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    return keysOf(userId);
}

std::optional<KeyPair> SqliteStore::keysOf(std::int64_t userId)
{
    auto query = m_db.prepare("SELECT public_key, private_key FROM users WHERE id = ? AND public_key IS NOT NULL");
    query.bind(1, userId);
    if (!query.step())
        return std::nullopt;
    return KeyPair{query.text(0), query.text(1)};
}

KeyPair SqliteStore::keepKeys(std::int64_t userId, const KeyPair& fresh)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    m_db.prepare("UPDATE users SET public_key = ?2, private_key = ?3 WHERE id = ?1 AND public_key IS NULL")
        .bind(1, userId)
        .bind(2, fresh.publicPem)
        .bind(3, fresh.privatePem)
        .run();
    auto kept = keysOf(userId);
    if (!kept)
        throw DatabaseError("no account " + std::to_string(userId) + " to keep keys for");
    transaction.commit();
    return *kept;
}

Destinations SqliteStore::destinations(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    auto query =
        m_db.prepare("SELECT audience, listen_url, listen_token, listen_error FROM users WHERE id = ?");
    query.bind(1, userId);
    if (!query.step())
        return {};
    return {audienceFromCode(query.text(0)), query.text(1), query.text(2), query.text(3)};
}

void SqliteStore::setAudience(std::int64_t userId, Audience audience)
{
    write("UPDATE users SET audience = ?2 WHERE id = ?1", userId, audienceWord(audience));
}

void SqliteStore::setListenService(std::int64_t userId, const std::string& url, const std::string& token)
{
    write("UPDATE users SET listen_url = ?2, listen_token = CASE WHEN ?3 = '' THEN listen_token ELSE ?3 END, "
          "listen_error = '' WHERE id = ?1",
          userId, url, token);
}

void SqliteStore::setListenError(std::int64_t userId, const std::string& error)
{
    write("UPDATE users SET listen_error = ?2 WHERE id = ?1", userId, error);
}

bool SqliteStore::addFollower(std::int64_t userId, const Follower& follower, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    auto upsert = m_db.prepare("INSERT INTO followers (user_id, actor, inbox, shared_inbox, followed_at, approved, "
                               "follow) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT (user_id, actor) "
                               "DO UPDATE SET inbox = excluded.inbox, shared_inbox = excluded.shared_inbox, "
                               "follow = excluded.follow, approved = max(approved, excluded.approved) "
                               "RETURNING approved");
    upsert.bind(1, userId).bind(2, follower.actor).bind(3, follower.inbox).bind(4, follower.sharedInbox);
    upsert.bind(5, now).bind(6, std::int64_t{follower.approved ? 1 : 0}).bind(7, follower.follow);
    const bool approved = upsert.step() && upsert.integer(0) != 0;
    while (upsert.step()) {
    }
    if (approved)
        queueAnswer("accept", userId, follower.actor, now);
    transaction.commit();
    return approved;
}

bool SqliteStore::approveFollower(std::int64_t userId, const std::string& actor, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    m_db.prepare("UPDATE followers SET approved = 1 WHERE user_id = ?1 AND actor = ?2 AND approved = 0")
        .bind(1, userId)
        .bind(2, actor)
        .run();
    if (m_db.changes() == 0)
        return false;
    queueAnswer("accept", userId, actor, now);
    transaction.commit();
    return true;
}

bool SqliteStore::refuseFollower(std::int64_t userId, const std::string& actor, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    queueAnswer("reject", userId, actor, now);
    m_db.prepare("DELETE FROM followers WHERE user_id = ?1 AND actor = ?2").bind(1, userId).bind(2, actor).run();
    if (m_db.changes() == 0)
        return false;
    transaction.commit();
    return true;
}

// The answer to a follower's follow, to its own inbox. A follower from before follows were kept
// gets a follow made of its actor; the delivery names the person in it.
void SqliteStore::queueAnswer(const char* kind, std::int64_t userId, const std::string& actor, std::int64_t now)
{
    m_db.prepare("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
                 "SELECT ?3, user_id, 0, CASE WHEN follow <> '' THEN follow ELSE "
                 "json_object('type', 'Follow', 'actor', actor) END, ?4, '', inbox, ?4 FROM followers "
                 "WHERE user_id = ?1 AND actor = ?2")
        .bind(1, userId)
        .bind(2, actor)
        .bind(3, kind)
        .bind(4, now)
        .run();
}

std::vector<Follower> SqliteStore::followers(std::int64_t userId, bool approved, int limit)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT actor, inbox, shared_inbox, follow, approved FROM followers "
                              "WHERE user_id = ?1 AND approved = ?2 ORDER BY followed_at DESC, actor LIMIT ?3");
    query.bind(1, userId).bind(2, std::int64_t{approved ? 1 : 0}).bind(3, static_cast<std::int64_t>(limit));
    std::vector<Follower> found;
    while (query.step())
        found.push_back(followerFromRow(query));
    return found;
}

bool SqliteStore::hasFollowerOn(std::int64_t userId, const std::string& site)
{
    std::lock_guard lock(m_mutex);
    const auto prefix = site + "/";
    auto query = m_db.prepare("SELECT EXISTS (SELECT 1 FROM followers WHERE user_id = ?1 AND approved = 1 "
                              "AND substr(actor, 1, length(?2)) = ?2)");
    query.bind(1, userId).bind(2, prefix).step();
    return query.integer(0) != 0;
}

bool SqliteStore::removeFollower(std::int64_t userId, const std::string& actor)
{
    return write("DELETE FROM followers WHERE user_id = ?1 AND actor = ?2", userId, actor) > 0;
}

int SqliteStore::removeActor(const std::string& actor)
{
    return write("DELETE FROM followers WHERE actor = ?1", actor);
}

int SqliteStore::removeFollowersAt(const std::string& inbox)
{
    return write("DELETE FROM followers WHERE inbox = ?1 OR shared_inbox = ?1", inbox);
}

std::int64_t SqliteStore::followerCount(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT count(*) FROM followers WHERE user_id = ? AND approved = 1");
    query.bind(1, userId).step();
    return query.integer(0);
}

Profile SqliteStore::profile(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare(
        "SELECT display_name, summary, discoverable, indexable, created_at FROM users WHERE id = ?");
    query.bind(1, userId);
    return query.step() ? profileFromRow(query) : Profile{};
}

void SqliteStore::setProfile(std::int64_t userId, const Profile& profile)
{
    write("UPDATE users SET display_name = ?2, summary = ?3, discoverable = ?4, indexable = ?5 WHERE id = ?1",
          userId, profile.displayName, profile.summary, std::int64_t{profile.discoverable ? 1 : 0},
          std::int64_t{profile.indexable ? 1 : 0});
}

// One instance uses the file: the lock and the transaction are all the claim needs.
std::vector<Job> SqliteStore::claimJobs(std::int64_t now, std::int64_t leaseUntil, int limit)
{
    std::lock_guard lock(m_mutex);
    // The delivery asks every few seconds, mostly to hear that nothing is due: a read answers
    // that without taking the database's write lock from posts.
    {
        auto any = m_db.prepare("SELECT EXISTS (SELECT 1 FROM jobs WHERE due_at <= ?1 AND "
                                "(leased_until IS NULL OR leased_until < ?1))");
        any.bind(1, now);
        if (!any.step() || any.integer(0) == 0)
            return {};
    }
    Transaction transaction(m_db);
    std::vector<Job> jobs;
    {
        static const auto sql = std::string("SELECT ") + jobColumns +
                                " FROM jobs JOIN users ON users.id = jobs.user_id "
                                "WHERE jobs.due_at <= ?1 AND (jobs.leased_until IS NULL OR jobs.leased_until < ?1) "
                                "AND NOT (" + jobsThatWait("?1") + ") ORDER BY jobs.due_at, jobs.id LIMIT ?2";
        auto due = m_db.prepare(sql.c_str());
        due.bind(1, now).bind(2, static_cast<std::int64_t>(limit));
        while (due.step())
            jobs.push_back(jobFromRow(due));
    }
    auto lease = m_db.prepare("UPDATE jobs SET leased_until = ?2 WHERE id = ?1");
    for (const auto& job : jobs) {
        lease.bind(1, job.id).bind(2, leaseUntil).run();
        lease.reset();
    }
    transaction.commit();
    return jobs;
}

bool SqliteStore::renewLease(const JobLease& held, std::int64_t until)
{
    return write("UPDATE jobs SET leased_until = ?3 WHERE id = ?1 AND leased_until = ?2", held.jobId, held.until,
                 until) > 0;
}

bool SqliteStore::finishJob(const JobLease& held)
{
    return write("DELETE FROM jobs WHERE id = ?1 AND leased_until = ?2", held.jobId, held.until) > 0;
}

bool SqliteStore::retryJob(const JobLease& held, std::int64_t dueAt)
{
    return write("UPDATE jobs SET attempts = attempts + 1, due_at = ?3, leased_until = NULL "
                 "WHERE id = ?1 AND leased_until = ?2",
                 held.jobId, held.until, dueAt) > 0;
}

bool SqliteStore::deferJob(const JobLease& held, std::int64_t dueAt)
{
    return write("UPDATE jobs SET due_at = ?3, leased_until = NULL WHERE id = ?1 AND leased_until = ?2", held.jobId,
                 held.until, dueAt) > 0;
}

std::int64_t SqliteStore::pendingJobs()
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT count(*) FROM jobs");
    query.step();
    return query.integer(0);
}

std::optional<MastodonApp> SqliteStore::mastodonApp(const std::string& server, const std::string& redirect)
{
    std::lock_guard lock(m_mutex);
    auto query = m_db.prepare("SELECT server, client_id, client_secret, scopes, redirect_uri FROM mastodon_apps "
                              "WHERE server = ? AND redirect_uri = ?");
    query.bind(1, server).bind(2, redirect);
    if (!query.step())
        return std::nullopt;
    return MastodonApp{query.text(0), query.text(1), query.text(2), query.text(3), query.text(4)};
}

MastodonApp SqliteStore::keepMastodonApp(const MastodonApp& app)
{
    write("INSERT INTO mastodon_apps (server, client_id, client_secret, scopes, redirect_uri) "
          "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT DO NOTHING",
          app.server, app.clientId, app.clientSecret, app.scopes, app.redirect);
    return mastodonApp(app.server, app.redirect).value_or(app);
}

void SqliteStore::startMastodonSignIn(std::int64_t userId, const MastodonSignIn& signIn, std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    m_db.prepare("DELETE FROM mastodon_signins WHERE started_at < ?").bind(1, now - signInSeconds).run();
    m_db.prepare("INSERT INTO mastodon_signins (state, user_id, server, verifier, started_at) VALUES (?, ?, ?, ?, ?)")
        .bind(1, signIn.state)
        .bind(2, userId)
        .bind(3, signIn.server)
        .bind(4, signIn.verifier)
        .bind(5, now)
        .run();
    transaction.commit();
}

std::optional<MastodonSignIn> SqliteStore::takeMastodonSignIn(std::int64_t userId, const std::string& state,
                                                              std::int64_t now)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    std::optional<MastodonSignIn> found;
    {
        auto query = m_db.prepare("DELETE FROM mastodon_signins WHERE state = ?1 AND user_id = ?2 AND "
                                  "started_at >= ?3 RETURNING server, state, verifier");
        query.bind(1, state).bind(2, userId).bind(3, now - signInSeconds);
        if (query.step())
            found = MastodonSignIn{query.text(0), query.text(1), query.text(2)};
        while (query.step()) {
        }
    }
    transaction.commit();
    return found;
}

MastodonAccount SqliteStore::mastodonAccount(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    return mastodonAccountOf(userId);
}

MastodonAccount SqliteStore::mastodonAccountOf(std::int64_t userId)
{
    auto query = m_db.prepare("SELECT mastodon_server, mastodon_handle, mastodon_token, mastodon_error, "
                              "mastodon_words, mastodon_visibility FROM users WHERE id = ?");
    query.bind(1, userId);
    return query.step() ? mastodonAccountFromRow(query) : MastodonAccount{};
}

void SqliteStore::connectMastodon(std::int64_t userId, const std::string& server, const std::string& handle,
                                  const std::string& token)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    // Statuses made on another account, or waiting for one, are that account's; this one starts afresh.
    for (const auto* forget : {"DELETE FROM jobs WHERE user_id = ?1 AND kind IN ('status', 'unstatus') AND "
                               "EXISTS (SELECT 1 FROM users WHERE id = ?1 AND (mastodon_server <> ?2 OR "
                               "mastodon_handle <> ?3))",
                               "DELETE FROM mastodon_statuses WHERE user_id = ?1 AND EXISTS (SELECT 1 FROM users "
                               "WHERE id = ?1 AND (mastodon_server <> ?2 OR mastodon_handle <> ?3))"})
        m_db.prepare(forget).bind(1, userId).bind(2, server).bind(3, handle).run();
    m_db.prepare("UPDATE users SET mastodon_server = ?2, mastodon_handle = ?3, mastodon_token = ?4, "
                 "mastodon_error = '' WHERE id = ?1")
        .bind(1, userId)
        .bind(2, server)
        .bind(3, handle)
        .bind(4, token)
        .run();
    transaction.commit();
}

MastodonAccount SqliteStore::disconnectMastodon(std::int64_t userId)
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
    auto account = mastodonAccountOf(userId);
    m_db.prepare("DELETE FROM jobs WHERE user_id = ? AND kind IN ('status', 'unstatus')").bind(1, userId).run();
    m_db.prepare("DELETE FROM mastodon_statuses WHERE user_id = ?").bind(1, userId).run();
    m_db.prepare("UPDATE users SET mastodon_server = '', mastodon_handle = '', mastodon_token = '', "
                 "mastodon_error = '' WHERE id = ?")
        .bind(1, userId)
        .run();
    transaction.commit();
    return account;
}

void SqliteStore::setMastodonError(std::int64_t userId, const std::string& error)
{
    write("UPDATE users SET mastodon_error = ?2 WHERE id = ?1", userId, error);
}

void SqliteStore::setMastodonStyle(std::int64_t userId, const std::string& words, const std::string& visibility)
{
    write("UPDATE users SET mastodon_words = CASE WHEN ?2 = '' THEN mastodon_words ELSE ?2 END, "
          "mastodon_visibility = CASE WHEN ?3 = '' THEN mastodon_visibility ELSE ?3 END WHERE id = ?1",
          userId, words, visibility);
}

void SqliteStore::keepStatusId(std::int64_t userId, std::int64_t postId, const std::string& statusId)
{
    write("INSERT INTO mastodon_statuses (post_id, user_id, status_id) VALUES (?1, ?2, ?3) "
          "ON CONFLICT (post_id) DO UPDATE SET status_id = excluded.status_id",
          postId, userId, statusId);
}

void SqliteStore::forgetStatusId(std::int64_t postId)
{
    write("DELETE FROM mastodon_statuses WHERE post_id = ?1", postId);
}

// Takes the write lock and lets it go: late while another program holds it.
void SqliteStore::ping()
{
    std::lock_guard lock(m_mutex);
    Transaction transaction(m_db);
}

} // namespace tunalo::service
