#pragma once

#include "store/postgres.h"
#include "store/store.h"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace tunalo::service {

// A few connections to one server, handed out one request at a time. A connection that broke
// (the server restarted, or did not answer in time) connects again before its next use.
class ConnectionPool {
public:
    ConnectionPool(std::string address, std::size_t size, pg::Deadlines deadlines);

    class Lease {
    public:
        Lease(ConnectionPool& pool, std::unique_ptr<pg::Connection> conn)
            : m_pool(pool), m_conn(std::move(conn))
        {
        }
        ~Lease() { m_pool.giveBack(std::move(m_conn)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        pg::Connection& operator*() { return *m_conn; }
        pg::Connection* operator->() { return m_conn.get(); }

    private:
        ConnectionPool& m_pool;
        std::unique_ptr<pg::Connection> m_conn;
    };

    Lease acquire();

private:
    void giveBack(std::unique_ptr<pg::Connection> conn);

    std::unique_ptr<pg::Connection> ready(std::unique_ptr<pg::Connection> conn) const;

    std::string m_address;
    std::size_t m_size;
    pg::Deadlines m_deadlines;
    std::size_t m_opened = 0;
    std::mutex m_mutex;
    std::condition_variable m_returned;
    std::vector<std::unique_ptr<pg::Connection>> m_idle;
};

// The store in a PostgreSQL database, which any number of service instances share.
class PostgresStore final : public Store {
public:
    // Connections: as many as the service's database threads.
    explicit PostgresStore(const std::string& address, std::size_t connections = 8);

    // The most a statement may take before the database counts as late, and a connection.
    static constexpr std::chrono::milliseconds statementTime{2000};
    static constexpr std::chrono::milliseconds connectTime{2000};

    static constexpr int schemaVersion = 6;

    std::optional<User> createUser(const std::string& name, const std::string& nameKey,
                                   const std::string& passwordHash, std::int64_t now) override;
    std::optional<Account> findAccount(const std::string& nameKey) override;

    bool takeSignUpSlot(const std::string& address, std::int64_t now, std::int64_t since, int limit) override;
    int loginFailures(const std::string& nameKey, std::int64_t since) override;
    int recordLoginFailure(const std::string& nameKey, std::int64_t now, std::int64_t since) override;
    void clearLoginFailures(const std::string& nameKey) override;

    void addSession(const TokenHash& token, std::int64_t userId, std::int64_t now,
                    std::int64_t expiresAt) override;
    std::optional<User> sessionUser(const TokenHash& token, std::int64_t now) override;
    void removeSession(const TokenHash& token) override;

    std::int64_t addPost(std::int64_t userId, const std::string& song, std::optional<std::int64_t> deleteId,
                         std::int64_t now,
                         const std::optional<std::string>& key, bool federate) override;
    void keepForListen(std::int64_t userId, const std::string& key, const std::string& song,
                       std::int64_t lengthMs, const std::string& player) override;
    bool queueListen(std::int64_t userId, const std::string& key, std::int64_t heardMs, std::int64_t now) override;
    std::vector<Post> recentPosts(int limit, std::optional<std::int64_t> userId = std::nullopt,
                                  bool publicOnly = false) override;
    std::optional<PostRecord> findPost(std::int64_t postId) override;
    Counts counts() override;

    std::optional<KeyPair> keys(std::int64_t userId) override;
    KeyPair keepKeys(std::int64_t userId, const KeyPair& fresh) override;

    Destinations destinations(std::int64_t userId) override;
    void setAudience(std::int64_t userId, Audience audience) override;
    void setListenService(std::int64_t userId, const std::string& url, const std::string& token) override;
    void setListenError(std::int64_t userId, const std::string& error) override;

    std::optional<MastodonApp> mastodonApp(const std::string& server, const std::string& redirect) override;
    MastodonApp keepMastodonApp(const MastodonApp& app) override;
    void startMastodonSignIn(std::int64_t userId, const MastodonSignIn& signIn, std::int64_t now) override;
    std::optional<MastodonSignIn> takeMastodonSignIn(std::int64_t userId, const std::string& state,
                                                     std::int64_t now) override;
    MastodonAccount mastodonAccount(std::int64_t userId) override;
    void connectMastodon(std::int64_t userId, const std::string& server, const std::string& handle,
                         const std::string& token) override;
    MastodonAccount disconnectMastodon(std::int64_t userId) override;
    void setMastodonError(std::int64_t userId, const std::string& error) override;
    void setMastodonStyle(std::int64_t userId, const std::string& words, const std::string& visibility) override;
    void keepStatusId(std::int64_t userId, std::int64_t postId, const std::string& statusId) override;
    void forgetStatusId(std::int64_t postId) override;

    bool addFollower(std::int64_t userId, const Follower& follower, std::int64_t now) override;
    bool approveFollower(std::int64_t userId, const std::string& actor, std::int64_t now) override;
    bool refuseFollower(std::int64_t userId, const std::string& actor, std::int64_t now) override;
    std::vector<Follower> followers(std::int64_t userId, bool approved, int limit) override;
    bool hasFollowerOn(std::int64_t userId, const std::string& site) override;
    bool removeFollower(std::int64_t userId, const std::string& actor) override;
    int removeActor(const std::string& actor) override;
    int removeFollowersAt(const std::string& inbox) override;
    std::int64_t followerCount(std::int64_t userId) override;
    Profile profile(std::int64_t userId) override;
    void setProfile(std::int64_t userId, const Profile& profile) override;

    std::vector<Job> claimJobs(std::int64_t now, std::int64_t leaseUntil, int limit) override;
    bool renewLease(const JobLease& held, std::int64_t until) override;
    bool finishJob(const JobLease& held) override;
    bool retryJob(const JobLease& held, std::int64_t dueAt) override;
    bool deferJob(const JobLease& held, std::int64_t dueAt) override;
    std::int64_t pendingJobs() override;

    void ping() override;

    void abandonWaits() override { m_abandon = true; }

private:
    void migrate();
    void queueAnswer(pg::Connection& conn, std::string_view kind, std::int64_t userId, const std::string& actor,
                     std::int64_t now);
    bool whileHeld(const std::string& statement, const JobLease& held, std::optional<std::int64_t> value = {});
    void queueUnstatus(pg::Connection& conn, std::int64_t userId, std::int64_t postId, std::int64_t now);
    void queueInboxJobs(pg::Connection& conn, std::string_view kind, std::int64_t userId, std::int64_t postId,
                        const std::string& song, std::int64_t now);

    std::atomic<bool> m_abandon = false;
    ConnectionPool m_pool;
};

} // namespace tunalo::service
