#pragma once

#include "store/database.h"
#include "store/store.h"

#include <mutex>

namespace tunalo::service {

// The store in one SQLite file: one connection behind a lock.
class SqliteStore final : public Store {
public:
    explicit SqliteStore(const std::string& path);

    static constexpr int schemaVersion = 7;

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

private:
    void migrate();
    // One statement as a transaction of its own, the values bound in order from ?1; gives the rows
    // it changed.
    template <class... Values>
    int write(const char* sql, const Values&... values);
    std::optional<KeyPair> keysOf(std::int64_t userId);
    MastodonAccount mastodonAccountOf(std::int64_t userId);
    void queueUnstatus(std::int64_t userId, std::int64_t postId, std::int64_t now);
    bool removePost(std::int64_t userId, std::int64_t postId, std::int64_t now);
    void queueAnswer(const char* kind, std::int64_t userId, const std::string& actor, std::int64_t now);
    void queueInboxJobs(const char* kind, std::int64_t userId, std::int64_t postId, const std::string& song,
                        std::int64_t now);

    std::mutex m_mutex;
    Database m_db;
};

} // namespace tunalo::service
