#pragma once

#include "auth.h"
#include "guardedserver.h"
#include "store.h"

#include <optional>

namespace tunalo::service {

// The service's pages, wired onto a server.
class Service {
public:
    static constexpr std::size_t maxSongChars = 1000;
    static constexpr std::size_t maxNameChars = 40;
    static constexpr std::int64_t sessionSeconds = 30 * 24 * 3600;
    static constexpr int personPosts = 50; // on a person's page and in their feed

    explicit Service(Store& store) : m_store(store) {}
    void install(GuardedServer& server);

private:
    std::optional<User> sessionUser(const httplib::Request& req);
    void home(const httplib::Request& req, httplib::Response& res);
    void update(const httplib::Request& req, httplib::Response& res);
    void person(const httplib::Request& req, httplib::Response& res);
    void login(const httplib::Request& req, httplib::Response& res);
    void registerAccount(const httplib::Request& req, httplib::Response& res);
    void logout(const httplib::Request& req, httplib::Response& res);
    void startSession(const User& user, httplib::Response& res);

    Store& m_store;
    PasswordHasher m_hasher;
    AttemptLimiter m_attempts{10, std::chrono::minutes(1)};
};

} // namespace tunalo::service
