#pragma once

#include "federation/activities.h"
#include "federation/keys.h"
#include "http/httpserver.h"
#include "serviceprocess.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tunalo::service::testkit {

using Json = activities::Json;

// A free loopback port: a federating service's public address must be known before it starts.
int freePort();

// Another server on the fediverse, on loopback: accounts at /users/NAME with keys of their own (or
// one key for all, which is quicker to make), their inboxes and a shared one, which record what
// arrives and answer as the test says.
class Elsewhere {
public:
    // busyOnce: a listening service's 429, saying to come back in 30 s, then accept.
    enum class Inbox { accept, refuse, fail, gone, hold, huge, busyOnce };

    explicit Elsewhere(bool shared = true, std::optional<KeyPair> oneKeyForAll = std::nullopt);
    ~Elsewhere();
    Elsewhere(const Elsewhere&) = delete;
    Elsewhere& operator=(const Elsewhere&) = delete;

    std::string origin() const;
    std::string actor(const std::string& name) const { return origin() + "/users/" + name; }
    void answer(Inbox how);
    // Answers the requests held so far as `how` says.
    void release(Inbox how);

    struct Arrival {
        Request request;
        Json activity;
        std::chrono::steady_clock::time_point at;
    };
    // Waits until count requests have arrived (or wait has passed) and gives all so far.
    std::vector<Arrival> arrivals(std::size_t count = 0, std::chrono::milliseconds wait = std::chrono::seconds{10});

    // The headers of a request from one of this server's accounts to the service, signed by its key
    // and dated `when`.
    Fields signedBy(const std::string& name, http::verb method, const std::string& target, const std::string& body,
                    int servicePort, std::chrono::system_clock::time_point when = std::chrono::system_clock::now());
    // How often an account's document (and with it its key) has been fetched.
    int documentsFetched();
    // Serves this document at path (GET) in place of what would be there.
    void publish(const std::string& path, Json document);
    // Every GET of a document so far, as it arrived.
    std::vector<Request> fetches();
    Json follow(const std::string& name, const std::string& whom);

private:
    const KeyPair& keysOf(const std::string& name);
    void serve(const CallPtr& call);
    // What an inbox answers; nothing while it holds the request.
    std::optional<Response> answerAs(Inbox how);

    const bool m_shared;
    const std::optional<KeyPair> m_oneKey;
    asio::io_context m_io;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::map<std::string, KeyPair> m_keys;
    std::vector<Arrival> m_arrivals;
    std::vector<CallPtr> m_held; // requests left without an answer, their connections open
    Inbox m_inbox = Inbox::accept;
    int m_follows = 0;
    int m_documentsFetched = 0;
    std::map<std::string, Json> m_published;
    std::vector<Request> m_fetches;
    HttpServer m_server;
    std::thread m_thread;
};

} // namespace tunalo::service::testkit
