#pragma once

#include "base/clock.h"
#include "base/workerpool.h"
#include "federation/delivery.h"
#include "federation/federation.h"
#include "federation/peerclient.h"
#include "http/httpserver.h"
#include "site/auth.h"
#include "store/databasegate.h"
#include "store/store.h"

#include <optional>
#include <string>

namespace tunalo::service {

// The service's pages: answers each call the HTTP server hands over.
class Service {
public:
    static constexpr std::size_t maxSongChars = 1000;
    static constexpr std::size_t maxNameChars = 40;
    static constexpr std::int64_t sessionSeconds = 30 * 24 * 3600;
    static constexpr int personPosts = 50; // on a person's page and in their feed
    static constexpr int homePosts = 20;   // on the person's own home page
    static constexpr int signUpsPerMinute = 5;
    // A run of wrong passwords for a name is forgotten after this long without another.
    static constexpr std::int64_t failureMemorySeconds = 15 * 60;

    // Password hashes at once (64 MiB each) and how many may wait for them before a 503.
    static constexpr std::size_t hashThreads = 2;
    static constexpr std::size_t hashQueue = 64;
    // The database's threads (as many as a PostgreSQL store's connections) and how much work may
    // wait for them; work that waited longer than databaseLate, or finds the database down, gets
    // a 503, and a database that went down is asked again every databaseRetry.
    static constexpr std::size_t databaseThreads = 8;
    static constexpr std::size_t databaseQueue = 256;
    static constexpr std::chrono::milliseconds databaseLate{2000};
    static constexpr std::chrono::milliseconds databaseRetry{1000};

    // publicUrl: what a TLS proxy in front answers on (empty when people reach the service directly);
    // listening: the address it listens on, http://HOST:PORT, which links use without a publicUrl.
    // With a publicUrl every person is an account on the fediverse; allowPrivatePeers lets the
    // service reach other servers on private addresses and over plain http.
    // clock: the service's time, which it hands to the delivery, federation and the database gate.
    Service(Store& store, const Clock& clock, std::string publicUrl, std::string listening,
            bool allowPrivatePeers = false);
    // Finishes the work under way on the hashing and database threads.
    ~Service();

    void handle(const CallPtr& call);

    // The pages, each answering its call.
    void about(const CallPtr& call);
    void home(const CallPtr& call);
    void recent(const CallPtr& call);
    void recentScript(const CallPtr& call);
    void feed(const CallPtr& call);
    void feedAsJson(const CallPtr& call);
    void update(const CallPtr& call);
    void login(const CallPtr& call);
    void registerAccount(const CallPtr& call);
    void logout(const CallPtr& call);
    void person(const CallPtr& call);
    void personInbox(const CallPtr& call);
    // A page of the fediverse's, or 404 when the service does not federate.
    template <void (Federation::*page)(const CallPtr&)>
    void federated(const CallPtr& call);
    void saveDestinations(const CallPtr& call);
    void answerFollower(const CallPtr& call);
    void icon(const CallPtr& call);
    // The person's own Mastodon account: the sign-in there and back, the words and visibility of
    // their statuses, and the stop.
    void connectMastodon(const CallPtr& call);
    void mastodonCallback(const CallPtr& call);
    void saveMastodonStyle(const CallPtr& call);
    void disconnectMastodon(const CallPtr& call);

    // The paths where other servers post activities, which may be larger than a form.
    static bool takesActivities(std::string_view path);
    bool federates() const { return m_federation != nullptr; }
    // @NAME@HOST, the person's handle on the fediverse.
    std::string handleOf(const std::string& name) const;

    struct Route {
        http::verb verb;
        std::string_view path;
        void (Service::*page)(const CallPtr&);
        bool changesState;  // refused when another site asks for it
        bool below = false; // the path is a folder: every path under it is this page's
    };

private:
    void route(const CallPtr& call);
    bool fromAnotherSite(const Request& request) const;
    std::string clientOf(const Call& call) const;
    // Runs a step of a page and answers 500 if it throws, 503 if the database is down or late.
    void guarded(const CallPtr& call, const std::function<void()>& step);
    // Runs step on the hashing pool, guarded; a full queue is answered as busy at once.
    void onHashingPool(const CallPtr& call, std::function<void()> step);
    // Runs step on a database thread, guarded; a database known to be down or late, or a full
    // queue, is answered 503 at once.
    void withStore(const CallPtr& call, std::function<void()> step);
    void loggedOut(const CallPtr& call);

    // Answers a feed with validators; cacheControl "no-cache" lets a reader keep it but ask each time.
    void answerFeed(const CallPtr& call, const std::vector<Post>& posts, std::string_view type,
                    std::string body, std::string_view cacheControl = "no-cache");
    void checkPassword(const CallPtr& call, const std::string& key, const std::string& password);
    void createAccount(const CallPtr& call, const std::string& name, const std::string& key,
                       const std::string& password);
    std::string sessionCookie(const std::string& value, std::int64_t maxAge) const;
    void startSession(const User& user, Response& response);
    // Runs step on a database thread with the user of the call's session; answers the logged-out
    // page when there is none.
    void asUser(const CallPtr& call, std::function<void(const User&)> step);
    // On a database thread: remembers the sign-in and sends the person to their server.
    void sendToAuthorize(const CallPtr& call, const User& user, const MastodonApp& app);
    void registerAt(const CallPtr& call, const User& user, const std::string& server, bool olderScopes = false);
    void exchangeCode(const CallPtr& call, const User& user, const MastodonApp& app, const std::string& code,
                      const std::string& verifier);
    std::string mastodonRedirect() const;

    Store& m_store;
    const Clock& m_clock;
    PasswordHasher m_hasher;
    std::string m_publicOrigin; // scheme://host[:port], lower case; empty without a proxy
    // Where the links people keep or share point: the public address, or the listening one. Never
    // anything a request says, so every reader gets the same ids and no visitor can plant a host.
    std::string m_site;
    bool m_secureCookie = false;
    bool m_allowPrivatePeers = false;
    std::unique_ptr<Delivery> m_delivery;
    std::unique_ptr<Federation> m_federation; // none without a public address
    // Their jobs use everything above until their threads have ended, and each hands work to the
    // other and to the peer client (the destructor stops all three before any goes).
    DatabaseGate m_database{databaseThreads, databaseQueue, databaseLate, databaseRetry, [this] { m_store.ping(); },
                            m_clock};
    WorkerPool m_hashing{hashThreads, hashQueue};
    // Last, so that it goes first: its answers still reach the delivery and the pages above, which
    // by then only note them.
    PeerClient m_peers;
};

} // namespace tunalo::service
