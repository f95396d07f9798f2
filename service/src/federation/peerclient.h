#pragma once

#include "http/httpserver.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tunalo::service {

// A request to another server: a follower's inbox, an actor document, a listening service.
struct PeerRequest {
    http::verb method = http::verb::get;
    std::string url; // https://host[:port]/path?query; http:// only while private peers are allowed
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Called once the request is complete (Host, headers, body), right before it is sent and again
    // before each redirect is followed: where the request is signed.
    std::function<void(Request&)> sign;
};

// What came back, or why nothing did.
struct PeerAnswer {
    unsigned status = 0; // 0: no answer; error says why
    std::string body;
    std::string contentType;
    std::string error; // "connection refused", "time-out", "private address", "too large", ...
    // What a server says of its rate limit: requests left, and when the window starts again, in
    // seconds from now (a listening service's X-RateLimit-Reset-In) or as a time since the epoch
    // (Mastodon's X-RateLimit-Reset, an ISO 8601 time); none when it says nothing readable.
    std::optional<std::int64_t> rateLimitRemaining;
    std::optional<std::int64_t> rateLimitResetIn;
    std::optional<std::int64_t> rateLimitResetAt;
    bool answered() const { return status != 0; }
};

// Talks to other servers over HTTPS (Boost.Beast over OpenSSL; certificates checked against the
// system's store, host name included) on a thread of its own, so no request that the service
// answers ever waits for one of them. Every request has its limits, so one slow or hostile server
// holds up nothing else: a few requests at once per host (more wait their turn), a time for the
// connection and one for the whole answer, a cap on the body. Redirects are followed for GET only,
// at most a few, and never to another host. Loopback, private, link-local and other non-public
// addresses are refused, judged on the address actually connected to; allowPrivatePeers lifts that
// and allows plain http://, for tests and closed networks.
class PeerClient {
public:
    struct Limits {
        std::chrono::milliseconds connectTime{5000};
        std::chrono::milliseconds answerTime{15000}; // from the request's start to its answer's last byte
        std::size_t bodyBytes = 1024 * 1024;
        std::size_t perHost = 4;
        int redirects = 3;
    };

    PeerClient(Limits limits, bool allowPrivatePeers);
    // Cancels what is under way (each done runs with an error) and ends the thread.
    ~PeerClient();
    PeerClient(const PeerClient&) = delete;
    PeerClient& operator=(const PeerClient&) = delete;

    // done runs exactly once, on the client's thread.
    void send(PeerRequest request, std::function<void(PeerAnswer)> done);

    struct State; // shared with the requests under way

private:
    std::shared_ptr<State> m_state;
};

} // namespace tunalo::service
