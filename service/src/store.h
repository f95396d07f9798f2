#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tunalo::service {

struct DatabaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The database cannot be reached, or did not answer within its time: down or late, not wrong.
struct DatabaseUnavailable : DatabaseError {
    using DatabaseError::DatabaseError;
};

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

// Users, sessions, posts and the counters that limit sign-ups and password guessing, kept where
// every instance of the service finds them. Safe to use from any thread; every write is a
// transaction of its own. Failures throw DatabaseError.
//
// A name is looked up by its key, the form names are compared in; the caller computes it
// (nameKey() in text.h) and the store keeps it unique.
class Store {
public:
    virtual ~Store() = default;

    // Empty when another account has the same name key.
    virtual std::optional<User> createUser(const std::string& name, const std::string& nameKey,
                                           const std::string& passwordHash, std::int64_t now) = 0;
    virtual std::optional<Account> findAccount(const std::string& nameKey) = 0;

    // Counts a sign-up from a client address unless the address has had `limit` since `since`;
    // false when it has.
    virtual bool takeSignUpSlot(const std::string& address, std::int64_t now, std::int64_t since,
                                int limit) = 0;
    // Wrong passwords given for a name, the last one at or after `since`; older runs are forgotten.
    virtual int loginFailures(const std::string& nameKey, std::int64_t since) = 0;
    // One more wrong password for the name; returns the count that now stands.
    virtual int recordLoginFailure(const std::string& nameKey, std::int64_t now, std::int64_t since) = 0;
    virtual void clearLoginFailures(const std::string& nameKey) = 0;

    virtual void addSession(const TokenHash& token, std::int64_t userId, std::int64_t now,
                            std::int64_t expiresAt) = 0;
    virtual std::optional<User> sessionUser(const TokenHash& token, std::int64_t now) = 0;
    virtual void removeSession(const TokenHash& token) = 0;

    // Stores a post and, in the same transaction, removes the user's own post deleteId if given.
    // With a key, a post of the user's under the same key is not made again: its id is the answer,
    // and nothing is stored or removed, also when that post has been deleted since.
    virtual std::int64_t addPost(std::int64_t userId, const std::string& song,
                                 std::optional<std::int64_t> deleteId, std::int64_t now,
                                 const std::optional<std::string>& key) = 0;
    // Newest first; only one user's posts when userId is given.
    virtual std::vector<Post> recentPosts(int limit, std::optional<std::int64_t> userId = std::nullopt) = 0;

    // Asks the database whether it takes writes again; throws DatabaseUnavailable while it does not.
    virtual void ping() = 0;

    // From now on every wait for the database gives up at once (DatabaseUnavailable): the service
    // is stopping and waits for no database.
    virtual void abandonWaits() {}
};

// True for a PostgreSQL connection address (postgresql:// or postgres://).
bool isPostgresAddress(const std::string& address);

// A PostgreSQL store for a connection address, otherwise a SQLite store in that file; the schema
// is created or brought up to date on the way.
std::unique_ptr<Store> openStore(const std::string& address);

// Refuses a database that a newer service has written, naming both versions.
[[noreturn]] void refuseNewerSchema(std::int64_t found, int known);

} // namespace tunalo::service
