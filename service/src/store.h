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

// Users, sessions and posts in one SQLite file. Safe to use from any thread: one connection
// behind a lock, every write in a transaction of its own.
class Store {
public:
    explicit Store(const std::string& path);

    static constexpr int schemaVersion = 1;

    // Empty when the name is taken (names compare without letter case).
    std::optional<User> createUser(const std::string& name, const std::string& passwordHash,
                                   std::int64_t now);
    std::optional<Account> findAccount(const std::string& name);

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
