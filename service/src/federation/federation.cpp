#include "federation/federation.h"

#include "base/links.h"
#include "base/text.h"
#include "federation/outbound.h"
#include "http/requestlog.h"


namespace tunalo::service {

namespace {

using activities::Json;

constexpr std::string_view jrdType = "application/jrd+json";
constexpr std::string_view nodeinfoType =
    "application/json; profile=\"http://nodeinfo.diaspora.software/ns/schema/2.1#\"";
constexpr std::string_view documentType = activities::activityType;
using activities::acceptActivity;
constexpr std::size_t keysKept = 10000;

Response plainAnswer(http::status status, std::string_view text = {})
{
    Response response{status, 11};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.set(http::field::cache_control, "no-store");
    response.body() = text.empty() ? std::string(response.reason()) : std::string(text);
    return response;
}

std::string withoutFragment(const std::string& address)
{
    return address.substr(0, address.find('#'));
}

// scheme://host[:port] of an address, lower case.
std::string originOf(std::string_view address)
{
    const auto scheme = address.find("://");
    if (scheme == std::string_view::npos)
        return {};
    return asciiLower(address.substr(0, address.find_first_of("/?#", scheme + 3)));
}

std::string stringField(const Json& object, const char* name)
{
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string{};
}

// The id that a field of an activity gives, as an object or as its id; empty when neither.
std::string idField(const Json& activity, const char* name)
{
    const auto found = activity.find(name);
    return found == activity.end() ? std::string{} : activities::idOf(*found);
}

// An account's deletion of itself.
bool deletesItself(const Json& activity, const std::string& actor)
{
    return stringField(activity, "type") == "Delete" && idField(activity, "object") == actor;
}

// The key that keyId names in a fetched document: the document itself when it is the key, or one
// of the publicKey entries of the actor's document, which then also says where its inboxes are.
std::optional<Federation::Signer> keyIn(const Json& document, const std::string& keyId)
{
    if (!document.is_object())
        return std::nullopt;
    Federation::Signer signer;
    signer.keyId = keyId;
    // ownerById: the actor whose document holds the key; a key that names another owner is refused.
    const auto take = [&](const Json& key, const std::string& ownerById) {
        if (!key.is_object() || stringField(key, "id") != keyId)
            return false;
        const auto owner = stringField(key, "owner");
        if (!ownerById.empty() && !owner.empty() && owner != ownerById)
            return false;
        signer.publicPem = stringField(key, "publicKeyPem");
        signer.owner = ownerById.empty() ? owner : ownerById;
        return !signer.publicPem.empty() && !signer.owner.empty();
    };
    if (take(document, {}))
        return signer;
    const auto keys = document.find("publicKey");
    if (keys == document.end())
        return std::nullopt;
    const auto actor = stringField(document, "id");
    bool found = false;
    for (const auto& key : keys->is_array() ? *keys : Json::array({*keys}))
        if ((found = take(key, actor)))
            break;
    if (!found)
        return std::nullopt;
    signer.inbox = stringField(document, "inbox");
    const auto endpoints = document.find("endpoints");
    if (endpoints != document.end() && endpoints->is_object())
        signer.sharedInbox = stringField(*endpoints, "sharedInbox");
    return signer;
}

} // namespace

Federation::Federation(Store& store, std::string site, PeerClient& peers, Workers workers, const Clock& clock)
    : m_store(store), m_site(std::move(site)), m_peers(peers), m_workers(std::move(workers)), m_clock(clock)
{
}

void Federation::answerJson(const CallPtr& call, const Json& document, std::string_view type, http::status status)
{
    Response response{status, 11};
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "max-age=60");
    response.set(http::field::vary, "Accept");
    response.set(http::field::access_control_allow_origin, "*");
    response.body() = document.dump();
    call->answer(std::move(response));
}

std::optional<std::string> Federation::localName(const std::string& actorId) const
{
    const auto prefix = m_site + std::string(personPrefix);
    if (!actorId.starts_with(prefix))
        return std::nullopt;
    const auto name = percentDecode(actorId.substr(prefix.size()));
    if (name.empty() || name.find_first_of("/?#") != std::string::npos)
        return std::nullopt;
    return name;
}

void Federation::webfinger(const CallPtr& call)
{
    auto resource = parseQuery(call->request.target())["resource"];
    const auto host = activities::handleHost(m_site);
    std::string name;
    if (resource.starts_with("acct:")) {
        resource.erase(0, 5);
        const auto at = resource.rfind('@');
        if (at == std::string::npos)
            return call->answer(plainAnswer(http::status::bad_request, "resource wants acct:NAME@HOST"));
        if (asciiLower(resource.substr(at + 1)) != host)
            return call->answer(plainAnswer(http::status::not_found));
        name = resource.substr(0, at);
        // The service itself goes by its host's name, as other servers' instance actors do.
        if (asciiLower(name) == host)
            resource = activities::instanceActor(m_site);
    } else if (auto local = localName(resource)) {
        name = *local;
    } else if (resource != activities::instanceActor(m_site)) {
        return call->answer(plainAnswer(resource.empty() ? http::status::bad_request : http::status::not_found));
    }
    if (resource == activities::instanceActor(m_site))
        return answerJson(call, activities::webfinger(host, m_site, resource), jrdType);
    m_workers.withStore(call, [this, call, name] {
        const auto account = m_store.findAccount(nameKey(name));
        if (!account)
            return call->answer(plainAnswer(http::status::not_found));
        const auto& person = account->user;
        answerJson(
            call,
            activities::webfinger(person.name, m_site, activities::Addresses::of(m_site, person.name).actor),
            jrdType);
    });
}

void Federation::nodeinfoLinks(const CallPtr& call)
{
    answerJson(call, activities::nodeinfoLinks(m_site), "application/json");
}

void Federation::nodeinfo(const CallPtr& call)
{
    m_workers.withStore(call, [this, call] { answerJson(call, activities::nodeinfo(m_store.counts()), nodeinfoType); });
}

void Federation::personDocument(const CallPtr& call, const std::string& name, const std::string& rest)
{
    m_workers.withStore(call, [this, call, name, rest] {
        const auto account = m_store.findAccount(nameKey(name));
        if (!account)
            return call->answer(plainAnswer(http::status::not_found));
        const auto& person = account->user;
        const auto at = activities::Addresses::of(m_site, person.name);
        if (rest.empty())
            return answerJson(call, activities::person(person, at, keysOf(m_store, person.id).publicPem),
                              documentType);
        const auto audience = m_store.destinations(person.id).audience;
        if (rest == "outbox")
            return answerJson(call, activities::outbox(m_store.recentPosts(20, person.id), at, audience),
                              documentType);
        if (rest == "followers")
            return answerJson(call, activities::followers(m_store.followerCount(person.id), at), documentType);
        constexpr std::string_view posts = "posts/";
        const auto id = rest.starts_with(posts) ? rest.substr(posts.size()) : std::string{};
        if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos)
            return call->answer(plainAnswer(http::status::not_found));
        const auto post = m_store.findPost(std::stoll(id));
        if (!post || post->user != person.name)
            return call->answer(plainAnswer(http::status::not_found));
        if (post->deleted)
            return answerJson(call, activities::tombstone(post->id, at), documentType, http::status::gone);
        answerJson(call,
                   activities::noteDocument({post->id, post->user, post->song, post->postedAt}, at, audience),
                   documentType);
    });
}

void Federation::instanceDocument(const CallPtr& call)
{
    const auto target = call->request.target();
    const auto path = target.substr(0, target.find('?'));
    if (path == std::string(activities::instancePath) + "/outbox")
        return answerJson(call, activities::instanceOutbox(m_site), documentType);
    if (path != activities::instancePath)
        return call->answer(plainAnswer(http::status::not_found));
    withInstanceKeys(call, [this, call](const KeyPair& keys) {
        answerJson(call, activities::instance(m_site, keys.publicPem), documentType);
    });
}

void Federation::withInstanceKeys(const CallPtr& call, std::function<void(const KeyPair&)> next)
{
    {
        std::lock_guard lock(m_keysMutex);
        if (m_instanceKeys) {
            const auto keys = *m_instanceKeys;
            return next(keys);
        }
    }
    m_workers.withStore(call, [this, next = std::move(next)] {
        const auto keys = instanceKeys(m_store, m_clock.seconds());
        {
            std::lock_guard lock(m_keysMutex);
            m_instanceKeys = keys;
        }
        next(keys);
    });
}

void Federation::inbox(const CallPtr& call, const std::optional<std::string>& name)
{
    const auto& request = call->request;
    if (request.body().size() > maxActivityBytes)
        return call->answer(plainAnswer(http::status::payload_too_large));
    const auto check = precheckSignature(request, m_clock.wall(), m_site);
    if (check.result != SignatureCheck::ok || !check.header)
        return call->answer(plainAnswer(http::status::unauthorized, "a valid HTTP signature is needed"));
    auto activity = Json::parse(request.body(), nullptr, false);
    if (activity.is_discarded() || !activity.is_object())
        return call->answer(plainAnswer(http::status::bad_request, "the body is not a JSON object"));
    const auto actor = idField(activity, "actor");
    if (actor.empty())
        return call->answer(plainAnswer(http::status::bad_request, "the activity names no actor"));
    withSigner(call, *check.header, actor, deletesItself(activity, actor),
               [this, call, activity = std::move(activity), name](const Signer& signer) {
                   handleActivity(call, activity, signer, name);
               });
}

// The signature holds when the key it names verifies it and belongs to the activity's actor. A
// key kept from before that fails is fetched once more: its owner may have made a new one.
void Federation::withSigner(const CallPtr& call, const SignatureHeader& header, const std::string& actor,
                            bool actorDeletesItself, std::function<void(const Signer&)> next)
{
    const auto refuse = [call] {
        call->answer(plainAnswer(http::status::unauthorized, "the signature does not hold"));
    };
    // A key speaks for actors of its own site only: no site can vouch for another's accounts.
    if (originOf(header.keyId) != originOf(actor) || originOf(actor).empty())
        return refuse();
    const auto holds = [call, header, actor](const Signer& signer) {
        return signer.owner == actor && signatureHolds(call->request, header, signer.publicPem);
    };
    {
        std::lock_guard lock(m_keysMutex);
        const auto kept = m_keys.find(header.keyId);
        if (kept != m_keys.end() && m_clock.steady() - kept->second.fetched < keyMemory &&
            holds(kept->second))
            return next(kept->second);
    }
    // The count is taken once the instance's key is at hand: a request that a busy database
    // answers never fetches, so it holds no place.
    withInstanceKeys(call, [this, call, header, actor, actorDeletesItself, holds, refuse,
                            next = std::move(next)](const KeyPair& instance) mutable {
        if (m_keyFetches.fetch_add(1) >= keyFetchesAtOnce) {
            --m_keyFetches;
            auto busy =
                plainAnswer(http::status::service_unavailable, "too many keys to fetch, try again later");
            busy.set(http::field::retry_after, "60");
            return call->answer(std::move(busy));
        }
        fetchKey(instance, header.keyId,
                 [this, call, header, actor, actorDeletesItself, holds, refuse,
                  next = std::move(next)](std::optional<Signer> signer, unsigned status) {
                     --m_keyFetches;
                     if (!signer) {
                         // An account that was deleted cannot sign its own deletion with a key that is gone:
                         // its site saying so of the actor's own document is the proof. Any other missing
                         // address on that site proves nothing: anyone can name one.
                         if ((status == 404 || status == 410) && withoutFragment(header.keyId) == actor &&
                             actorDeletesItself)
                             return deleteActor(call, actor);
                         return refuse();
                     }
                     if (!holds(*signer))
                         return refuse();
                     {
                         std::lock_guard lock(m_keysMutex);
                         if (m_keys.size() >= keysKept)
                             m_keys.clear();
                         m_keys[header.keyId] = *signer;
                     }
                     next(*signer);
                 });
    });
}

// The key's document, fetched signed by the instance's key. A key that is a document of its own
// names its owner; the owner's document, fetched likewise, must name the key, and says where the
// owner's inboxes are.
void Federation::fetchKey(const KeyPair& instance, const std::string& keyId,
                          std::function<void(std::optional<Signer>, unsigned status)> done)
{
    const auto fetch = [this, keyId, instance](const std::string& url, std::function<void(PeerAnswer)> then) {
        m_peers.send(signedGet(url, activities::instanceKey(m_site), instance.privatePem, m_clock),
                     [keyId, then = std::move(then)](PeerAnswer answer) {
                         if (!answer.answered())
                             logNote("cannot fetch the key " + escapeForLog(keyId) + ": " + answer.error);
                         then(std::move(answer));
                     });
    };
    fetch(withoutFragment(keyId), [this, keyId, fetch, done = std::move(done)](PeerAnswer answer) {
        const auto document = answer.status == 200 ? Json::parse(answer.body, nullptr, false) : Json();
        auto signer = keyIn(document, keyId);
        // An actor's document whose id is the key's (no fragment) says where its inboxes are already.
        if (!signer || !signer->inbox.empty() || stringField(document, "id") != keyId) {
            if (signer)
                signer->fetched = m_clock.steady();
            return done(std::move(signer), answer.status);
        }
        // A key speaks for actors of its own site only, so no other site is asked about it.
        if (originOf(signer->owner) != originOf(keyId))
            return done(std::nullopt, 0);
        fetch(signer->owner, [this, keyId, owner = signer->owner, done](PeerAnswer answer) {
            auto named =
                answer.status == 200 ? keyIn(Json::parse(answer.body, nullptr, false), keyId) : std::nullopt;
            if (!named || named->owner != owner)
                return done(std::nullopt, 0);
            named->fetched = m_clock.steady();
            done(std::move(named), answer.status);
        });
    });
}

void Federation::handleActivity(const CallPtr& call, const Json& activity, const Signer& signer,
                                const std::optional<std::string>& inboxOwner)
{
    const auto type = stringField(activity, "type");
    if (type == "Follow")
        return follow(call, activity, signer);
    if (type == "Undo")
        return undo(call, activity, signer, inboxOwner);
    if (deletesItself(activity, signer.owner))
        return deleteActor(call, signer.owner);
    call->answer(plainAnswer(http::status::accepted));
}

void Federation::follow(const CallPtr& call, const Json& activity, const Signer& signer)
{
    const auto name = localName(idField(activity, "object"));
    if (!name)
        return call->answer(plainAnswer(http::status::not_found, "no such person here"));
    if (signer.inbox.empty())
        return call->answer(plainAnswer(http::status::bad_request, "the follower's actor names no inbox"));
    acceptFollow(call, activity, *name, {signer.owner, signer.inbox, signer.sharedInbox});
}

// Stores the follower, then tells its server that the follow stands.
void Federation::acceptFollow(const CallPtr& call, const Json& activity, const std::string& name,
                              const Follower& follower)
{
    m_workers.withStore(call, [this, call, activity, name, follower] {
        const auto account = m_store.findAccount(nameKey(name));
        if (!account)
            return call->answer(plainAnswer(http::status::not_found, "no such person here"));
        m_store.addFollower(account->user.id, follower);
        const auto keys = keysOf(m_store, account->user.id);
        call->answer(plainAnswer(http::status::accepted));
        const auto at = activities::Addresses::of(m_site, account->user.name);
        m_peers.send(signedPost(follower.inbox, activities::accept(activity, at), at.key, keys.privatePem, m_clock),
                     [follower](PeerAnswer answer) {
                         if (answer.status / 100 != 2)
                             logNote("the accept of a follow did not reach " + escapeForLog(follower.inbox) +
                                     ": " + (answer.answered() ? std::to_string(answer.status) : answer.error));
                     });
    });
}

void Federation::undo(const CallPtr& call, const Json& activity, const Signer& signer,
                      const std::optional<std::string>& inboxOwner)
{
    const auto& object = activity.value("object", Json());
    std::optional<std::string> name;
    if (object.is_object()) {
        if (stringField(object, "type") != "Follow" || idField(object, "actor") != signer.owner)
            return call->answer(plainAnswer(http::status::accepted));
        name = localName(idField(object, "object"));
    } else {
        name = inboxOwner; // only the follow's id: the person whose inbox it came to
    }
    if (!name)
        return call->answer(plainAnswer(http::status::accepted));
    m_workers.withStore(call, [this, call, name = *name, actor = signer.owner] {
        if (const auto account = m_store.findAccount(nameKey(name)))
            m_store.removeFollower(account->user.id, actor);
        call->answer(plainAnswer(http::status::accepted));
    });
}

void Federation::deleteActor(const CallPtr& call, const std::string& actor)
{
    m_workers.withStore(call, [this, call, actor] {
        m_store.removeActor(actor);
        call->answer(plainAnswer(http::status::accepted));
    });
}

} // namespace tunalo::service
