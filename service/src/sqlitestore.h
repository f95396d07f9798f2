#pragma once

#include "database.h"
#include "store.h"

#include <mutex>

namespace tunalo::service {

// The store in one SQLite file: one connection behind a lock.
class SqliteStore final : public Store {
public:
    explicit SqliteStore(const std::string& path);

    static constexpr int schemaVersion = 3;

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
    std::vector<Post> recentPosts(int limit, std::optional<std::int64_t> userId = std::nullopt) override;
    void ping() override;

private:
    void migrate();

    std::mutex m_mutex;
    Database m_db;
};

} // namespace tunalo::service
