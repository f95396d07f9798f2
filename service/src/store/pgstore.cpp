#include "store/pgstore.h"

#include "store/storerows.h"
#include "base/listenrule.h"

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
    // What federation keeps: each person's key pair and where their songs go, who follows them,
    // the posts deleted (their ids answer that they are gone) and the deliveries still to make.
    R"(ALTER TABLE users
           ADD COLUMN public_key text,
           ADD COLUMN private_key text,
           ADD COLUMN audience text NOT NULL DEFAULT 'followers',
           ADD COLUMN listen_url text NOT NULL DEFAULT '',
           ADD COLUMN listen_token text NOT NULL DEFAULT '',
           ADD COLUMN listen_error text NOT NULL DEFAULT '';
       CREATE TABLE deleted_posts (
           post_id bigint PRIMARY KEY,
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           deleted_at bigint NOT NULL);
       CREATE TABLE followers (
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           actor text NOT NULL,
           inbox text NOT NULL,
           shared_inbox text NOT NULL,
           followed_at bigint NOT NULL,
           PRIMARY KEY (user_id, actor));
       CREATE INDEX followers_by_actor ON followers(actor);
       CREATE TABLE jobs (
           id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
           kind text NOT NULL,
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           post_id bigint NOT NULL,
           song text NOT NULL,
           posted_at bigint NOT NULL,
           audience text NOT NULL,
           target text NOT NULL,
           attempts integer NOT NULL DEFAULT 0,
           due_at bigint NOT NULL,
           leased_until bigint);
       CREATE INDEX jobs_by_due ON jobs(due_at);)",
    // A post's song and length stay with its key, so that a word of how long it was heard, coming
    // with the next post, can make a listen of it once, even when that post deletes it.
    R"(ALTER TABLE post_keys
           ADD COLUMN song text NOT NULL DEFAULT '',
           ADD COLUMN length_ms bigint NOT NULL DEFAULT 0,
           ADD COLUMN player text NOT NULL DEFAULT '',
           ADD COLUMN listened bigint NOT NULL DEFAULT 0;
       ALTER TABLE jobs
           ADD COLUMN length_ms bigint NOT NULL DEFAULT 0,
           ADD COLUMN media_player text NOT NULL DEFAULT '';)",
    // Each post keeps the audience it was made for, follows wait for the person's approval, and
    // the person's profile shows on the fediverse. Accounts from before had their page and feed
    // open to everyone whatever they chose, so they keep that: their choice, and their posts,
    // become public, but for those who chose nobody. Their followers were all accepted.
    R"(ALTER TABLE posts ADD COLUMN audience text NOT NULL DEFAULT 'followers';
       UPDATE users SET audience = 'public' WHERE audience = 'followers';
       UPDATE posts SET audience = users.audience FROM users WHERE users.id = posts.user_id;
       CREATE INDEX posts_public ON posts(id) WHERE audience = 'public';
       CREATE INDEX posts_public_by_user ON posts(user_id, id) WHERE audience = 'public';
       ALTER TABLE followers
           ADD COLUMN approved integer NOT NULL DEFAULT 1,
           ADD COLUMN follow text NOT NULL DEFAULT '';
       ALTER TABLE users
           ADD COLUMN display_name text NOT NULL DEFAULT '',
           ADD COLUMN summary text NOT NULL DEFAULT '',
           ADD COLUMN discoverable integer NOT NULL DEFAULT 0,
           ADD COLUMN indexable integer NOT NULL DEFAULT 0;)",
    // Songs as statuses on the person's own Mastodon account: the service's registration on each
    // server, the sign-ins under way, the person's account and its token, and the status each post
    // became, which the post's deletion deletes.
    R"(ALTER TABLE users
           ADD COLUMN mastodon_server text NOT NULL DEFAULT '',
           ADD COLUMN mastodon_handle text NOT NULL DEFAULT '',
           ADD COLUMN mastodon_token text NOT NULL DEFAULT '',
           ADD COLUMN mastodon_error text NOT NULL DEFAULT '',
           ADD COLUMN mastodon_words text NOT NULL DEFAULT 'listening to SONG',
           ADD COLUMN mastodon_visibility text NOT NULL DEFAULT 'unlisted';
       ALTER TABLE jobs ADD COLUMN visibility text NOT NULL DEFAULT '';
       CREATE TABLE mastodon_apps (
           server text NOT NULL,
           redirect_uri text NOT NULL,
           client_id text NOT NULL,
           client_secret text NOT NULL,
           scopes text NOT NULL,
           PRIMARY KEY (server, redirect_uri));
       CREATE TABLE mastodon_signins (
           state text PRIMARY KEY,
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           server text NOT NULL,
           verifier text NOT NULL,
           started_at bigint NOT NULL);
       CREATE TABLE mastodon_statuses (
           post_id bigint PRIMARY KEY,
           user_id bigint NOT NULL REFERENCES users(id) ON DELETE CASCADE,
           status_id text NOT NULL);
       CREATE INDEX jobs_by_user ON jobs(user_id, kind);)",
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

// One row of an answer, read as the rows of both stores are.
struct RowOf {
    const pg::Result& rows;
    int row;
    std::int64_t integer(int column) const { return rows.integer(row, column); }
    std::string text(int column) const { return rows.text(row, column); }
};

// Every row of an answer, read as the rows of both stores are.
template <class Item, Item (*read)(const RowOf&)>
std::vector<Item> allOf(const pg::Result& rows)
{
    std::vector<Item> items;
    items.reserve(static_cast<std::size_t>(rows.rows()));
    for (int row = 0; row < rows.rows(); ++row)
        items.push_back(read(RowOf{rows, row}));
    return items;
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
                                    const std::optional<std::string>& key, bool federate)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    if (key) {
        // Claiming the key waits for another instance's claim of it to end, so of two requests with
        // one key one makes the post and the other finds it.
        const pg::Result claimed =
            conn->query("INSERT INTO post_keys (user_id, key, made_at) VALUES ($1, $2, $3) "
                        "ON CONFLICT DO NOTHING RETURNING user_id",
                        {userId, *key, now});
        if (claimed.rows() == 0) {
            const std::int64_t made =
                conn->query("SELECT post_id FROM post_keys WHERE user_id = $1 AND key = $2", {userId, *key})
                    .integer(0, 0);
            transaction.commit();
            return made;
        }
    }
    const pg::Param doomed = deleteId ? pg::Param{*deleteId} : pg::Param{nullptr};
    // The deleted post (if it is the user's) leaves its id and owner behind, so its address answers
    // that it is gone.
    const pg::Result made = conn->query(
        "WITH doomed AS (DELETE FROM posts WHERE id = $4 AND user_id = $1 RETURNING id), "
        "remembered AS (INSERT INTO deleted_posts (post_id, user_id, deleted_at) SELECT id, $1, $3 FROM doomed) "
        "INSERT INTO posts (user_id, song, posted_at, audience) SELECT $1, $2, $3, audience FROM users WHERE id = $1 "
        "RETURNING id, (SELECT count(*) FROM doomed)",
        {userId, song, now, doomed});
    if (made.rows() == 0)
        throw DatabaseError("no account " + std::to_string(userId) + " to post for");
    const std::int64_t id = made.integer(0, 0);
    const bool removed = made.integer(0, 1) > 0;
    if (key)
        conn->query("UPDATE post_keys SET post_id = $3 WHERE user_id = $1 AND key = $2", {userId, *key, id});
    if (federate && removed) {
        // A note still waiting goes out all the same (followers see every song); its deletion waits
        // for it at each inbox (see claimJobs).
        queueInboxJobs(*conn, "remove", userId, *deleteId, "", now);
    }
    if (federate)
        queueInboxJobs(*conn, "create", userId, id, song, now);
    if (removed)
        queueUnstatus(*conn, userId, *deleteId, now);
    conn->query("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at, visibility) "
                "SELECT 'status', id, $2, replace(mastodon_words, 'SONG', $3), $4, audience, mastodon_server, $4, "
                "CASE audience WHEN 'public' THEN mastodon_visibility ELSE 'private' END FROM users "
                "WHERE id = $1 AND mastodon_token <> '' AND mastodon_error = '' AND audience <> 'nobody'",
                {userId, id, song, now});
    conn->query("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
                "SELECT 'listen', id, $2, $3, $4, audience, listen_url, $4 FROM users "
                "WHERE id = $1 AND listen_url <> '' AND listen_token <> ''",
                {userId, id, song, now});
    transaction.commit();
    return id;
}

// A status never tried goes with its post, so a run of skipped songs spends none of the server's
// deletions; one made, or that may have been (tried, or under way), is deleted after it.
void PostgresStore::queueUnstatus(pg::Connection& conn, std::int64_t userId, std::int64_t postId, std::int64_t now)
{
    conn.query("DELETE FROM jobs WHERE kind = 'status' AND post_id = $1 AND attempts = 0 AND leased_until IS NULL",
               {postId});
    conn.query("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
               "SELECT 'unstatus', id, $2, '', $3, audience, mastodon_server, $3 FROM users WHERE id = $1 "
               "AND (EXISTS (SELECT 1 FROM jobs WHERE kind = 'status' AND post_id = $2) OR "
               "EXISTS (SELECT 1 FROM mastodon_statuses WHERE post_id = $2))",
               {userId, postId, now});
}

// One job per inbox the user's followers are reached at: followers on a server with a shared inbox
// share one. Creates go nowhere while the user's audience is nobody.
void PostgresStore::queueInboxJobs(pg::Connection& conn, std::string_view kind, std::int64_t userId,
                                   std::int64_t postId, const std::string& song, std::int64_t now)
{
    conn.query("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
               "SELECT $5::text, users.id, $2::bigint, $3::text, $4::bigint, users.audience, inboxes.target, "
               "$4::bigint FROM users, "
               "(SELECT DISTINCT CASE WHEN shared_inbox <> '' THEN shared_inbox ELSE inbox END AS target "
               "FROM followers WHERE user_id = $1 AND approved = 1) AS inboxes "
               "WHERE users.id = $1 AND ($5::text = 'remove' OR users.audience <> 'nobody')",
               {userId, postId, song, now, kind});
}

std::vector<Post> PostgresStore::recentPosts(int limit, std::optional<std::int64_t> userId, bool publicOnly)
{
    // The public posts have indexes of their own: most posts may be for followers, and a feed must
    // not read past all of them to find its fifty.
    static constexpr const char* queries[2][2] = {
        {"SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id ORDER BY posts.id DESC LIMIT $1",
         "SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id WHERE posts.audience = 'public' ORDER BY posts.id DESC LIMIT $1"},
        {"SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id WHERE posts.user_id = $2 ORDER BY posts.id DESC LIMIT $1",
         "SELECT posts.id, users.name, posts.song, posts.posted_at, posts.audience FROM posts "
         "JOIN users ON users.id = posts.user_id WHERE posts.user_id = $2 AND posts.audience = 'public' "
         "ORDER BY posts.id DESC LIMIT $1"}};
    const auto sql = queries[userId ? 1 : 0][publicOnly ? 1 : 0];
    auto conn = m_pool.acquire();
    return allOf<Post, postFromRow>(userId ? conn->query(sql, {std::int64_t{limit}, *userId})
                                           : conn->query(sql, {std::int64_t{limit}}));
}

std::optional<PostRecord> PostgresStore::findPost(std::int64_t postId)
{
    const auto rows = m_pool.acquire()->query(
        "SELECT posts.id, users.name, posts.song, posts.posted_at, 0, posts.audience FROM posts "
        "JOIN users ON users.id = posts.user_id WHERE posts.id = $1 "
        "UNION ALL SELECT deleted_posts.post_id, users.name, '', 0, 1, 'nobody' FROM deleted_posts "
        "JOIN users ON users.id = deleted_posts.user_id WHERE deleted_posts.post_id = $1",
        {postId});
    if (rows.rows() == 0)
        return std::nullopt;
    return postRecordFromRow(RowOf{rows, 0});
}

Counts PostgresStore::counts()
{
    const auto rows = m_pool.acquire()->query(
        "SELECT (SELECT count(*) FROM users WHERE name_key <> $1), (SELECT count(*) FROM posts)",
        {std::string(instanceNameKey)});
    return {rows.integer(0, 0), rows.integer(0, 1)};
}

std::optional<KeyPair> PostgresStore::keys(std::int64_t userId)
{
    const auto rows = m_pool.acquire()->query(
        "SELECT public_key, private_key FROM users WHERE id = $1 AND public_key IS NOT NULL", {userId});
    if (rows.rows() == 0)
        return std::nullopt;
    return KeyPair{rows.text(0, 0), rows.text(0, 1)};
}

// The update waits for another instance's update of the row and then finds a key there; the
// reading statement after it sees whichever pair came first.
KeyPair PostgresStore::keepKeys(std::int64_t userId, const KeyPair& fresh)
{
    m_pool.acquire()->query(
        "UPDATE users SET public_key = $2, private_key = $3 WHERE id = $1 AND public_key IS NULL",
        {userId, fresh.publicPem, fresh.privatePem});
    auto kept = keys(userId);
    if (!kept)
        throw DatabaseError("no account " + std::to_string(userId) + " to keep keys for");
    return *kept;
}

Destinations PostgresStore::destinations(std::int64_t userId)
{
    const auto rows = m_pool.acquire()->query(
        "SELECT audience, listen_url, listen_token, listen_error FROM users WHERE id = $1", {userId});
    if (rows.rows() == 0)
        return {};
    return {audienceFromCode(rows.text(0, 0)), rows.text(0, 1), rows.text(0, 2), rows.text(0, 3)};
}

void PostgresStore::setAudience(std::int64_t userId, Audience audience)
{
    m_pool.acquire()->query("UPDATE users SET audience = $2 WHERE id = $1", {userId, audienceWord(audience)});
}

void PostgresStore::setListenService(std::int64_t userId, const std::string& url, const std::string& token)
{
    m_pool.acquire()->query("UPDATE users SET listen_url = $2, listen_token = CASE WHEN $3::text = '' "
                            "THEN listen_token ELSE $3::text END, listen_error = '' WHERE id = $1",
                            {userId, url, token});
}

void PostgresStore::setListenError(std::int64_t userId, const std::string& error)
{
    m_pool.acquire()->query("UPDATE users SET listen_error = $2 WHERE id = $1", {userId, error});
}

bool PostgresStore::addFollower(std::int64_t userId, const Follower& follower, std::int64_t now)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    const bool approved =
        conn->query("INSERT INTO followers AS f (user_id, actor, inbox, shared_inbox, followed_at, approved, follow) "
                    "VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (user_id, actor) "
                    "DO UPDATE SET inbox = excluded.inbox, shared_inbox = excluded.shared_inbox, "
                    "follow = excluded.follow, approved = greatest(f.approved, excluded.approved) "
                    "RETURNING approved",
                    {userId, follower.actor, follower.inbox, follower.sharedInbox, now,
                     std::int64_t{follower.approved ? 1 : 0}, follower.follow})
            .integer(0, 0) != 0;
    if (approved)
        queueAnswer(*conn, "accept", userId, follower.actor, now);
    transaction.commit();
    return approved;
}

bool PostgresStore::approveFollower(std::int64_t userId, const std::string& actor, std::int64_t now)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    if (conn->query("UPDATE followers SET approved = 1 WHERE user_id = $1 AND actor = $2 AND approved = 0 "
                    "RETURNING 1",
                    {userId, actor})
            .rows() == 0)
        return false;
    queueAnswer(*conn, "accept", userId, actor, now);
    transaction.commit();
    return true;
}

bool PostgresStore::refuseFollower(std::int64_t userId, const std::string& actor, std::int64_t now)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    queueAnswer(*conn, "reject", userId, actor, now);
    if (conn->query("DELETE FROM followers WHERE user_id = $1 AND actor = $2 RETURNING 1", {userId, actor}).rows() == 0)
        return false;
    transaction.commit();
    return true;
}

// The answer to a follower's follow, to its own inbox. A follower from before follows were kept
// gets a follow made of its actor; the delivery names the person in it.
void PostgresStore::queueAnswer(pg::Connection& conn, std::string_view kind, std::int64_t userId,
                                const std::string& actor, std::int64_t now)
{
    conn.query("INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at) "
               "SELECT $3::text, user_id, 0, CASE WHEN follow <> '' THEN follow ELSE "
               "json_build_object('type', 'Follow', 'actor', actor)::text END, $4::bigint, '', inbox, $4::bigint "
               "FROM followers WHERE user_id = $1 AND actor = $2",
               {userId, actor, kind, now});
}

std::vector<Follower> PostgresStore::followers(std::int64_t userId, bool approved, int limit)
{
    return allOf<Follower, followerFromRow>(m_pool.acquire()->query(
        "SELECT actor, inbox, shared_inbox, follow, approved FROM followers WHERE user_id = $1 AND approved = $2 "
        "ORDER BY followed_at DESC, actor LIMIT $3",
        {userId, std::int64_t{approved ? 1 : 0}, std::int64_t{limit}}));
}

bool PostgresStore::hasFollowerOn(std::int64_t userId, const std::string& site)
{
    return m_pool.acquire()
               ->query("SELECT 1 FROM followers WHERE user_id = $1 AND approved = 1 AND "
                       "left(actor, length($2::text)) = $2::text LIMIT 1",
                       {userId, site + "/"})
               .rows() > 0;
}

bool PostgresStore::removeFollower(std::int64_t userId, const std::string& actor)
{
    return m_pool.acquire()
               ->query("DELETE FROM followers WHERE user_id = $1 AND actor = $2 RETURNING 1", {userId, actor})
               .rows() > 0;
}

int PostgresStore::removeActor(const std::string& actor)
{
    return m_pool.acquire()->query("DELETE FROM followers WHERE actor = $1 RETURNING 1", {actor}).rows();
}

int PostgresStore::removeFollowersAt(const std::string& inbox)
{
    return m_pool.acquire()
        ->query("DELETE FROM followers WHERE inbox = $1 OR shared_inbox = $1 RETURNING 1", {inbox})
        .rows();
}

std::int64_t PostgresStore::followerCount(std::int64_t userId)
{
    return m_pool.acquire()
        ->query("SELECT count(*) FROM followers WHERE user_id = $1 AND approved = 1", {userId})
        .integer(0, 0);
}

Profile PostgresStore::profile(std::int64_t userId)
{
    const auto rows = m_pool.acquire()->query(
        "SELECT display_name, summary, discoverable, indexable, created_at FROM users WHERE id = $1", {userId});
    return rows.rows() ? profileFromRow(RowOf{rows, 0}) : Profile{};
}

void PostgresStore::setProfile(std::int64_t userId, const Profile& profile)
{
    m_pool.acquire()->query(
        "UPDATE users SET display_name = $2, summary = $3, discoverable = $4, indexable = $5 WHERE id = $1",
        {userId, profile.displayName, profile.summary, std::int64_t{profile.discoverable ? 1 : 0},
         std::int64_t{profile.indexable ? 1 : 0}});
}

// Rows another instance is claiming are skipped, not waited for; a row whose lease that instance
// has just committed is checked again and no longer qualifies.
std::vector<Job> PostgresStore::claimJobs(std::int64_t now, std::int64_t leaseUntil, int limit)
{
    static const auto sql = "WITH claimed AS (UPDATE jobs SET leased_until = $2 WHERE id IN (SELECT id FROM jobs "
                            "WHERE due_at <= $1 AND (leased_until IS NULL OR leased_until < $1) AND NOT (" +
                            jobsThatWait("$1") + ") ORDER BY due_at, id LIMIT $3 FOR UPDATE SKIP LOCKED) "
                            "RETURNING *) SELECT " + jobColumns +
                            " FROM claimed AS jobs JOIN users ON users.id = jobs.user_id ORDER BY jobs.due_at, jobs.id";
    const auto rows = m_pool.acquire()->query(sql.c_str(),
        {now, leaseUntil, std::int64_t{limit}});
    std::vector<Job> jobs;
    jobs.reserve(static_cast<std::size_t>(rows.rows()));
    for (int row = 0; row < rows.rows(); ++row)
        jobs.push_back(jobFromRow(RowOf{rows, row}));
    return jobs;
}

// Runs a statement on the job ($1) that holds only while its lease ends at the time held ($2),
// with any further value as $3; whether it changed the job.
bool PostgresStore::whileHeld(const std::string& statement, const JobLease& held, std::optional<std::int64_t> value)
{
    std::vector<pg::Param> params = {held.jobId, held.until};
    if (value)
        params.emplace_back(*value);
    const auto sql = statement + " WHERE id = $1 AND leased_until = $2 RETURNING 1";
    return m_pool.acquire()->query(sql.c_str(), params).rows() > 0;
}

bool PostgresStore::renewLease(const JobLease& held, std::int64_t until)
{
    return whileHeld("UPDATE jobs SET leased_until = $3", held, until);
}

bool PostgresStore::finishJob(const JobLease& held)
{
    return whileHeld("DELETE FROM jobs", held);
}

void PostgresStore::keepForListen(std::int64_t userId, const std::string& key, const std::string& song,
                                  std::int64_t lengthMs, const std::string& player)
{
    m_pool.acquire()->query(
        "UPDATE post_keys SET song = $3, length_ms = $4, player = $5 WHERE user_id = $1 AND key = $2",
        {userId, key, song, lengthMs, player});
}

bool PostgresStore::queueListen(std::int64_t userId, const std::string& key, std::int64_t heardMs, std::int64_t now)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    // The row stays locked to the end: of two words about one post, one alone finds it unmarked.
    const pg::Result kept = conn->query("SELECT length_ms FROM post_keys WHERE user_id = $1 AND key = $2 "
                                        "AND listened = 0 FOR UPDATE",
                                        {userId, key});
    if (kept.rows() == 0 || !countsAsListen(kept.integer(0, 0), heardMs))
        return false;
    conn->query("UPDATE post_keys SET listened = 1 WHERE user_id = $1 AND key = $2", {userId, key});
    const pg::Result queued = conn->query(
        "INSERT INTO jobs (kind, user_id, post_id, song, posted_at, audience, target, due_at, length_ms, "
        "media_player) SELECT 'single', users.id, post_keys.post_id, post_keys.song, post_keys.made_at, "
        "users.audience, users.listen_url, $3, post_keys.length_ms, post_keys.player FROM post_keys "
        "JOIN users ON users.id = post_keys.user_id "
        "WHERE post_keys.user_id = $1 AND post_keys.key = $2 AND users.listen_url <> '' "
        "AND users.listen_token <> '' RETURNING id",
        {userId, key, now});
    transaction.commit();
    return queued.rows() > 0;
}

bool PostgresStore::deferJob(const JobLease& held, std::int64_t dueAt)
{
    return whileHeld("UPDATE jobs SET due_at = $3, leased_until = NULL", held, dueAt);
}

bool PostgresStore::retryJob(const JobLease& held, std::int64_t dueAt)
{
    return whileHeld("UPDATE jobs SET attempts = attempts + 1, due_at = $3, leased_until = NULL", held, dueAt);
}

std::int64_t PostgresStore::pendingJobs()
{
    return m_pool.acquire()->query("SELECT count(*) FROM jobs").integer(0, 0);
}

std::optional<MastodonApp> PostgresStore::mastodonApp(const std::string& server, const std::string& redirect)
{
    const auto rows = m_pool.acquire()->query("SELECT server, client_id, client_secret, scopes, redirect_uri "
                                              "FROM mastodon_apps WHERE server = $1 AND redirect_uri = $2",
                                              {server, redirect});
    if (rows.rows() == 0)
        return std::nullopt;
    return MastodonApp{rows.text(0, 0), rows.text(0, 1), rows.text(0, 2), rows.text(0, 3), rows.text(0, 4)};
}

MastodonApp PostgresStore::keepMastodonApp(const MastodonApp& app)
{
    m_pool.acquire()->query("INSERT INTO mastodon_apps (server, client_id, client_secret, scopes, redirect_uri) "
                            "VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING",
                            {app.server, app.clientId, app.clientSecret, app.scopes, app.redirect});
    return mastodonApp(app.server, app.redirect).value_or(app);
}

void PostgresStore::startMastodonSignIn(std::int64_t userId, const MastodonSignIn& signIn, std::int64_t now)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    conn->query("DELETE FROM mastodon_signins WHERE started_at < $1", {now - signInSeconds});
    conn->query("INSERT INTO mastodon_signins (state, user_id, server, verifier, started_at) "
                "VALUES ($1, $2, $3, $4, $5)",
                {signIn.state, userId, signIn.server, signIn.verifier, now});
    transaction.commit();
}

std::optional<MastodonSignIn> PostgresStore::takeMastodonSignIn(std::int64_t userId, const std::string& state,
                                                                std::int64_t now)
{
    const auto rows = m_pool.acquire()->query("DELETE FROM mastodon_signins WHERE state = $1 AND user_id = $2 AND "
                                              "started_at >= $3 RETURNING server, state, verifier",
                                              {state, userId, now - signInSeconds});
    if (rows.rows() == 0)
        return std::nullopt;
    return MastodonSignIn{rows.text(0, 0), rows.text(0, 1), rows.text(0, 2)};
}

namespace {
constexpr const char* mastodonAccountQuery = "SELECT mastodon_server, mastodon_handle, mastodon_token, "
                                             "mastodon_error, mastodon_words, mastodon_visibility FROM users "
                                             "WHERE id = $1";
}

MastodonAccount PostgresStore::mastodonAccount(std::int64_t userId)
{
    const auto rows = m_pool.acquire()->query(mastodonAccountQuery, {userId});
    return rows.rows() == 0 ? MastodonAccount{} : mastodonAccountFromRow(RowOf{rows, 0});
}

void PostgresStore::connectMastodon(std::int64_t userId, const std::string& server, const std::string& handle,
                                    const std::string& token)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    // Statuses made on another account, or waiting for one, are that account's; this one starts afresh.
    for (const auto* forget : {"DELETE FROM jobs WHERE user_id = $1 AND kind IN ('status', 'unstatus') AND "
                               "EXISTS (SELECT 1 FROM users WHERE id = $1 AND (mastodon_server <> $2 OR "
                               "mastodon_handle <> $3))",
                               "DELETE FROM mastodon_statuses WHERE user_id = $1 AND EXISTS (SELECT 1 FROM users "
                               "WHERE id = $1 AND (mastodon_server <> $2 OR mastodon_handle <> $3))"})
        conn->query(forget, {userId, server, handle});
    conn->query("UPDATE users SET mastodon_server = $2, mastodon_handle = $3, mastodon_token = $4, "
                "mastodon_error = '' WHERE id = $1",
                {userId, server, handle, token});
    transaction.commit();
}

MastodonAccount PostgresStore::disconnectMastodon(std::int64_t userId)
{
    auto conn = m_pool.acquire();
    Transaction transaction(*conn);
    const auto rows = conn->query(std::string(mastodonAccountQuery).append(" FOR UPDATE").c_str(), {userId});
    const auto account = rows.rows() == 0 ? MastodonAccount{} : mastodonAccountFromRow(RowOf{rows, 0});
    conn->query("DELETE FROM jobs WHERE user_id = $1 AND kind IN ('status', 'unstatus')", {userId});
    conn->query("DELETE FROM mastodon_statuses WHERE user_id = $1", {userId});
    conn->query("UPDATE users SET mastodon_server = '', mastodon_handle = '', mastodon_token = '', "
                "mastodon_error = '' WHERE id = $1",
                {userId});
    transaction.commit();
    return account;
}

void PostgresStore::setMastodonError(std::int64_t userId, const std::string& error)
{
    m_pool.acquire()->query("UPDATE users SET mastodon_error = $2 WHERE id = $1", {userId, error});
}

void PostgresStore::setMastodonStyle(std::int64_t userId, const std::string& words, const std::string& visibility)
{
    m_pool.acquire()->query("UPDATE users SET mastodon_words = CASE WHEN $2::text = '' THEN mastodon_words ELSE "
                            "$2::text END, mastodon_visibility = CASE WHEN $3::text = '' THEN mastodon_visibility "
                            "ELSE $3::text END WHERE id = $1",
                            {userId, words, visibility});
}

void PostgresStore::keepStatusId(std::int64_t userId, std::int64_t postId, const std::string& statusId)
{
    m_pool.acquire()->query("INSERT INTO mastodon_statuses (post_id, user_id, status_id) VALUES ($1, $2, $3) "
                            "ON CONFLICT (post_id) DO UPDATE SET status_id = excluded.status_id",
                            {postId, userId, statusId});
}

void PostgresStore::forgetStatusId(std::int64_t postId)
{
    m_pool.acquire()->query("DELETE FROM mastodon_statuses WHERE post_id = $1", {postId});
}

void PostgresStore::ping()
{
    m_pool.acquire()->script("SELECT 1");
}

} // namespace tunalo::service
