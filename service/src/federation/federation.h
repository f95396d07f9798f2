#pragma once

#include "base/clock.h"
#include "federation/activities.h"
#include "federation/httpsignature.h"
#include "federation/peerclient.h"
#include "http/httpserver.h"
#include "store/store.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace tunalo::service {

// Where a page's steps run: on a database thread, or on the hashing pool (slow CPU work such as
// making a key pair). Each answers the call itself when the step cannot run.
struct Workers {
    std::function<void(const CallPtr&, std::function<void()>)> withStore;
    std::function<void(const CallPtr&, std::function<void()>)> onHashingPool;
};

// Every person as an account on the fediverse: WebFinger and NodeInfo find them, their actor
// document and collections describe them, their inbox takes the follows of accounts elsewhere.
// Requests from other servers count only when signed by their actor's key.
class Federation {
public:
    static constexpr std::size_t maxActivityBytes = 256 * 1024;
    // Signatures are checked against keys kept this long before they are fetched again.
    static constexpr std::chrono::hours keyMemory{24};
    // Keys fetched at once: each holds its request, which any well-formed signature brings about.
    static constexpr std::size_t keyFetchesAtOnce = 64;

    // site: the public address, scheme://host[:port].
    Federation(Store& store, std::string site, PeerClient& peers, Workers workers, const Clock& clock);

    void webfinger(const CallPtr& call);
    void nodeinfoLinks(const CallPtr& call);
    void nodeinfo(const CallPtr& call);
    // A person's documents: the actor itself (rest empty), "outbox", "followers", "posts/ID".
    void personDocument(const CallPtr& call, const std::string& name, const std::string& rest);
    // An activity posted to a person's inbox (name) or to the shared inbox (no name).
    void inbox(const CallPtr& call, const std::optional<std::string>& name);
    void sharedInbox(const CallPtr& call) { inbox(call, std::nullopt); }
    // The service's own actor and its (empty) outbox, readable without a signature.
    void instanceDocument(const CallPtr& call);

    const std::string& site() const { return m_site; }

    // What the fetched key says about who signed.
    struct Signer {
        std::string keyId;
        std::string owner;
        std::string publicPem;
        std::string inbox;       // known when the key came with its actor's document
        std::string sharedInbox;
        std::chrono::steady_clock::time_point fetched;
    };

private:
    using Json = activities::Json;
    // actorDeletesItself: the activity is its actor's deletion of itself, which a key that is
    // gone with its actor's document may still prove.
    void withSigner(const CallPtr& call, const SignatureHeader& header, const std::string& actor,
                    bool actorDeletesItself, std::function<void(const Signer&)> next);
    void fetchKey(const KeyPair& instance, const std::string& keyId,
                  std::function<void(std::optional<Signer>, unsigned status)> done);
    // The instance actor's key pair, read from the store the first time, then kept.
    void withInstanceKeys(const CallPtr& call, std::function<void(const KeyPair&)> next);
    void handleActivity(const CallPtr& call, const Json& activity, const Signer& signer,
                        const std::optional<std::string>& inboxOwner);
    void follow(const CallPtr& call, const Json& activity, const Signer& signer);
    void acceptFollow(const CallPtr& call, const Json& activity, const std::string& name, const Follower& follower);
    void undo(const CallPtr& call, const Json& activity, const Signer& signer,
              const std::optional<std::string>& inboxOwner);
    void deleteActor(const CallPtr& call, const std::string& actor);
    // The local person an actor address names; empty for another site's address.
    std::optional<std::string> localName(const std::string& actorId) const;
    void answerJson(const CallPtr& call, const Json& document, std::string_view type,
                    http::status status = http::status::ok);

    Store& m_store;
    const std::string m_site;
    PeerClient& m_peers;
    Workers m_workers;
    const Clock& m_clock;
    std::mutex m_keysMutex;
    std::map<std::string, Signer> m_keys; // by key id
    std::optional<KeyPair> m_instanceKeys;
    std::atomic<std::size_t> m_keyFetches{0};
};

} // namespace tunalo::service
