#pragma once

#include "database.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tunalo::service {

using TokenHash = std::array<unsigned char, 32>;

struct User {
    std::int64_t id = 0;
    std::string name;
};

struct Account {
    User user;
    std::string passwordHash;
};

struct Post {
    std::int64_t id = 0;
    std::string user;
    std::string song;
    std::int64_t postedAt = 0; // seconds since the epoch
};

// Users, sessions, posts and the counters that limit sign-ups and password guessing, in one
// SQLite file that several service processes may share. Safe to use from any thread: one
// connection behind a lock, every write in a transaction of its own.
//
// A name is looked up by its key, the form names are compared in; the caller computes it
// (nameKey() in text.h) and the store keeps it unique.
class Store {
public:
    explicit Store(const std::string& path);

    static constexpr int schemaVersion = 2;

    // Empty when another account has the same name key.
    std::optional<User> createUser(const std::string& name, const std::string& nameKey,
                                   const std::string& passwordHash, std::int64_t now);
    std::optional<Account> findAccount(const std::string& nameKey);

    // Counts a sign-up from a client address unless the address has had `limit` since `since`;
    // false when it has.
    bool takeSignUpSlot(const std::string& address, std::int64_t now, std::int64_t since, int limit);
    // Wrong passwords given for a name, the last one at or after `since`; older runs are forgotten.
    int loginFailures(const std::string& nameKey, std::int64_t since);
    // One more wrong password for the name; returns the count that now stands.
    int recordLoginFailure(const std::string& nameKey, std::int64_t now, std::int64_t since);
    void clearLoginFailures(const std::string& nameKey);

    void addSession(const TokenHash& token, std::int64_t userId, std::int64_t now, std::int64_t expiresAt);
    std::optional<User> sessionUser(const TokenHash& token, std::int64_t now);
    void removeSession(const TokenHash& token);

    // Stores a post and, in the same transaction, removes the user's own post deleteId if given.
    std::int64_t addPost(std::int64_t userId, const std::string& song, std::optional<std::int64_t> deleteId,
                         std::int64_t now);
    // Newest first; only one user's posts when userId is given.
    std::vector<Post> recentPosts(int limit, std::optional<std::int64_t> userId = std::nullopt);

private:
    void migrate();

    std::mutex m_mutex;
    Database m_db;
};

} // namespace tunalo::service
