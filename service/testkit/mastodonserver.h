#pragma once

#include "http/httpserver.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tunalo::service::testkit {

// A server that speaks the Mastodon client API as it is documented, on loopback: apps register at
// /api/v1/apps; /oauth/authorize answers at once as though the person had approved, with a
// redirect carrying the code and the state; /oauth/token checks the PKCE verifier (S256) and gives
// a token, /oauth/revoke takes it back; verify_credentials names the account; statuses are posted
// (once per Idempotency-Key) and deleted, each answer with the X-RateLimit headers, and deletions
// beyond the limit in their window get 429.
class MastodonServer {
public:
    struct Status {
        std::string id;
        std::string text;
        std::string visibility;
        std::string account;
    };

    // Mastodon allows an account 30 deletions in 30 minutes.
    explicit MastodonServer(int deletions = 30, std::chrono::seconds window = std::chrono::minutes{30});
    ~MastodonServer();
    MastodonServer(const MastodonServer&) = delete;
    MastodonServer& operator=(const MastodonServer&) = delete;

    std::string origin() const;
    int port() const;
    // The account the next authorization signs in to.
    void signInAs(const std::string& username);
    // The person revokes every token of the account in the server's own settings.
    void revokeTokensOf(const std::string& username);

    std::vector<Status> standing();
    int deletions();
    int statusesPosted();
    // Waits until the standing statuses satisfy done, or wait has passed; gives them as they stand.
    template <class Done>
    std::vector<Status> standingOnce(Done done, std::chrono::milliseconds wait = std::chrono::seconds{20})
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, wait, [&] { return done(standingLocked()); });
        return standingLocked();
    }
    // While on, a status is made but its answer never sent, as when the poster is killed before
    // the answer arrives.
    void holdStatusAnswers(bool hold);
    // Waits until count statuses have been asked for (made or repeated under their key), or wait
    // has passed; gives how many have.
    long statusRequestsOnce(long count, std::chrono::milliseconds wait = std::chrono::seconds{20});
    // Every request so far, as it arrived.
    std::vector<Request> requests();
    // Tokens given out and not revoked.
    std::vector<std::string> liveTokens();

private:
    void serve(const CallPtr& call);
    Response answer(const Request& request);
    Response registerApp(const Request& request);
    Response authorize(const Request& request);
    Response token(const Request& request);
    Response revoke(const Request& request);
    Response credentials(const std::string& account);
    Response postStatus(const Request& request, const std::string& account);
    Response deleteStatus(const std::string& id, const std::string& account);
    std::string accountOf(const Request& request) const;
    void rateLimitHeaders(Response& response, const std::string& account);
    std::vector<Status> standingLocked() const;
    long statusRequestsLocked() const;

    struct App {
        std::string secret;
        std::string redirect;
    };
    struct Grant {
        std::string clientId;
        std::string redirect;
        std::string challenge;
        std::string account;
    };

    const int m_deletionLimit;
    const std::chrono::seconds m_window;
    asio::io_context m_io;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_signInAs = "ann";
    std::map<std::string, App> m_apps;            // by client id
    std::map<std::string, Grant> m_grants;        // by code, until exchanged
    std::map<std::string, std::string> m_tokens;  // token to account
    std::map<std::string, std::string> m_idempotent; // account and key to status id
    std::map<std::string, Status> m_statuses;     // by id
    std::map<std::string, std::deque<std::chrono::system_clock::time_point>> m_deletedAt; // by account
    std::vector<Request> m_requests;
    bool m_holdStatuses = false;
    std::vector<CallPtr> m_held; // never answered while this server lives
    int m_deletions = 0;
    int m_posted = 0;
    std::uint64_t m_next = 100;
    HttpServer m_server;
    std::thread m_thread;
};

} // namespace tunalo::service::testkit
